#include "common/large_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qv {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapOnly = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kHeapOnly = true;
#else
constexpr bool kHeapOnly = false;
#endif
#else
constexpr bool kHeapOnly = false;
#endif

// Above this, rounding a size up to a huge page (or to the page and huge page a mapping reserves)
// could wrap around.
constexpr size_t kLargestBlock = SIZE_MAX - 2 * kHugePageBytes;

size_t RoundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// Bytes mapped for a block mapped apart: whole small pages. The huge pages within back it and its
// tail past the last of them takes small pages, rather than a huge page mostly unused.
size_t MappedBytes(size_t bytes) { return RoundUp(bytes, static_cast<size_t>(sysconf(_SC_PAGESIZE))); }

void* MapOnHugePages(size_t bytes) {
    const size_t mapped = MappedBytes(bytes);
    // One huge page more than needed, so that a huge-page boundary lies within; the ends are given
    // back.
    const size_t reserved = mapped + kHugePageBytes;
    void* raw = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = RoundUp(start, kHugePageBytes);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t tail = aligned + mapped;
    if (start + reserved > tail) munmap(reinterpret_cast<void*>(tail), start + reserved - tail);
    // Advice only: a kernel without transparent huge pages maps small pages as usual.
    madvise(reinterpret_cast<void*>(aligned), mapped, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

}  // namespace

bool MapsApart(size_t bytes) noexcept { return !kHeapOnly && bytes >= kHugePageBytes; }

void* AllocateLargeBlock(size_t bytes) noexcept {
    // A size whose rounding up would wrap around is more than any memory holds.
    if (bytes > kLargestBlock) return nullptr;
    if (MapsApart(bytes)) return MapOnHugePages(bytes);  // fresh mappings read as zeros
    const size_t rounded = RoundUp(bytes == 0 ? 1 : bytes, kLargeBlockAlignment);
    void* block = std::aligned_alloc(kLargeBlockAlignment, rounded);
    if (block) std::memset(block, 0, rounded);
    return block;
}

void FreeLargeBlock(void* block, size_t bytes) noexcept {
    if (!block) return;
    if (MapsApart(bytes)) {
        munmap(block, MappedBytes(bytes));
    } else {
        std::free(block);
    }
}

}  // namespace qv
