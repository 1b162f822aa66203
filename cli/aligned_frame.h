// A planar frame's bytes at the alignment zimg reads and writes, so that a frame whose rows are
// whole multiples of it is converted in place rather than row by row through a small buffer. A
// few bytes just before the frame (a Y4M frame header) can share the block, so that header and
// samples still go out in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "common/large_block.h"

namespace qv::cli {

inline constexpr size_t kZimgAlignment = 64;  // zimg's buffer and stride alignment
static_assert(kLargeBlockAlignment % kZimgAlignment == 0, "frames start where zimg can read them");

inline size_t AlignUp(size_t n) { return (n + kZimgAlignment - 1) / kZimgAlignment * kZimgAlignment; }

class AlignedFrame {
public:
    AlignedFrame() = default;
    explicit AlignedFrame(size_t bytes, size_t leadIn = 0)
        : block_(static_cast<uint8_t*>(AllocateLargeBlock(AlignUp(leadIn) + AlignUp(bytes))),
                 LargeBlockFree{AlignUp(leadIn) + AlignUp(bytes)}),
          offset_(AlignUp(leadIn)),
          leadIn_(leadIn),
          bytes_(bytes) {
        if (!block_) throw std::bad_alloc();
    }

    bool empty() const { return !block_; }
    uint8_t* Frame() { return block_.get() + offset_; }
    // The lead-in bytes, then the frame.
    uint8_t* LeadIn() { return Frame() - leadIn_; }
    size_t LeadInAndFrameBytes() const { return leadIn_ + bytes_; }

private:
    std::unique_ptr<uint8_t, LargeBlockFree> block_;
    size_t offset_ = 0;
    size_t leadIn_ = 0;
    size_t bytes_ = 0;
};

}  // namespace qv::cli
