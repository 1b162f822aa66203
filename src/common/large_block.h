// Memory for frame-sized buffers: textures and the host's frames.
//
// A block of kHugePageBytes or more is mapped apart, starting on a huge-page boundary, and offered
// to the kernel for transparent huge pages (its tail past the last whole huge page takes small
// pages). A filter run first touches a few hundred megabytes of such buffers, and on a virtual
// machine each first touch of a 4 KiB page is a fault that the hypervisor serves: those faults
// alone cost a short run about a sixth of its time. Where the kernel declines the advice the
// block behaves as any other. Smaller blocks come from the heap.
//
// Every block is zeroed and aligned to kLargeBlockAlignment. Builds with AddressSanitizer keep
// every block on the heap, so that an overrun of a texture or a frame is still caught there.
#pragma once

#include <cstddef>

namespace qv {

inline constexpr size_t kHugePageBytes = size_t{2} << 20;
inline constexpr size_t kLargeBlockAlignment = 128;

// A zeroed block of `bytes` (0 gives a valid, smallest block), or nullptr when memory runs out.
void* AllocateLargeBlock(size_t bytes) noexcept;
// Frees a block from AllocateLargeBlock, given the same `bytes`; nullptr does nothing.
void FreeLargeBlock(void* block, size_t bytes) noexcept;

// Whether blocks of `bytes` are mapped apart on huge-page boundaries in this build.
bool MapsApart(size_t bytes) noexcept;

// Deleter for a std::unique_ptr that owns a block of `bytes`.
struct LargeBlockFree {
    size_t bytes = 0;
    void operator()(void* block) const noexcept { FreeLargeBlock(block, bytes); }
};

}  // namespace qv
