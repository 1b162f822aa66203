// A clip has one frame size; the first frame written fixes it.
#pragma once

#include <cstdint>
#include <string>

#include "errors.h"

namespace qv::cli {

inline void CheckSameFrameSize(const std::string& name, int64_t frame, int width, int height,
                               int fixedWidth, int fixedHeight) {
    if (width != fixedWidth || height != fixedHeight) {
        throw OutputError("cannot write frame " + std::to_string(frame) + " of " + name + " at " +
                          std::to_string(width) + "x" + std::to_string(height) +
                          ": the clip's frames are " + std::to_string(fixedWidth) + "x" +
                          std::to_string(fixedHeight));
    }
}

}  // namespace qv::cli
