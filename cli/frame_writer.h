// Where the filtered frames go: a clip written frame by frame from host pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_records.h"

namespace qv::cli {

class FrameWriter {
public:
    virtual ~FrameWriter() = default;

    virtual const std::string& Name() const = 0;
    // Writes one frame of width x height pixels whose rows lie pitchSamples 16-bit samples
    // apart. The first frame fixes the clip's size; a frame of another size is refused. Throws
    // OutputError.
    virtual void Write(const YcPixel* pixels, ptrdiff_t pitchSamples, int width, int height) = 0;
    // Completes and closes the file so that it is valid with the frames written so far; a
    // stream with no frame takes width x height for its header. Throws OutputError.
    virtual void Finish(int width, int height) = 0;
    virtual int64_t FramesWritten() const = 0;
};

}  // namespace qv::cli
