// Frame-sized pixel buffers. They come zeroed as large blocks: fresh memory whose pages the
// kernel zeroes when first touched, so a buffer costs only the rows that are used (the edit
// buffer holds the largest frame the host edits, the filter writes one frame).
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "common/large_block.h"
#include "host/host_records.h"

namespace qv::cli {

class PixelBuffer {
public:
    PixelBuffer() = default;
    explicit PixelBuffer(size_t count) : pixels_(nullptr, LargeBlockFree{Bytes(count)}) {
        if (count > kMaxCount) throw std::bad_alloc();
        pixels_.reset(static_cast<YcPixel*>(AllocateLargeBlock(Bytes(count))));
        if (!pixels_) throw std::bad_alloc();
    }

    YcPixel* data() { return pixels_.get(); }
    const YcPixel* data() const { return pixels_.get(); }

private:
    static constexpr size_t kMaxCount = ~size_t{0} / 2 / sizeof(YcPixel);
    static size_t Bytes(size_t count) { return count <= kMaxCount ? count * sizeof(YcPixel) : 0; }

    std::unique_ptr<YcPixel, LargeBlockFree> pixels_;
};

}  // namespace qv::cli
