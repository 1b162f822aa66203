// Frame-sized pixel buffers. They come zeroed from calloc: a block this large is fresh memory
// whose pages the kernel zeroes when first touched, so a buffer costs only the rows that are
// used (the edit buffer holds the largest frame the host edits, the filter writes one frame).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#include "host/host_records.h"

namespace qv::cli {

class PixelBuffer {
public:
    PixelBuffer() = default;
    explicit PixelBuffer(size_t count)
        : pixels_(static_cast<YcPixel*>(std::calloc(count > 0 ? count : 1, sizeof(YcPixel)))) {
        if (!pixels_) throw std::bad_alloc();
    }

    YcPixel* data() { return pixels_.get(); }
    const YcPixel* data() const { return pixels_.get(); }

private:
    struct Free {
        void operator()(YcPixel* p) const { std::free(p); }
    };
    std::unique_ptr<YcPixel, Free> pixels_;
};

}  // namespace qv::cli
