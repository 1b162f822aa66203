// Frame-sized pixel buffers. They come zeroed as large blocks: fresh memory whose pages the
// kernel zeroes when first touched, so a buffer costs only the rows that are used (the edit
// buffer holds the largest frame the host edits, the filter writes one frame).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "common/large_block.h"
#include "host/host_records.h"

namespace qv::cli {

class PixelBuffer {
public:
    PixelBuffer() = default;
    explicit PixelBuffer(size_t count) : pixels_(nullptr, LargeBlockFree{count * sizeof(YcPixel)}) {
        if (count > SIZE_MAX / sizeof(YcPixel)) throw std::bad_alloc();
        pixels_.reset(static_cast<YcPixel*>(AllocateLargeBlock(count * sizeof(YcPixel))));
        if (!pixels_) throw std::bad_alloc();
    }

    YcPixel* data() { return pixels_.get(); }
    const YcPixel* data() const { return pixels_.get(); }

private:
    std::unique_ptr<YcPixel, LargeBlockFree> pixels_;
};

}  // namespace qv::cli
