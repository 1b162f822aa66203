#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/large_block.h"

namespace {

using qv::AllocateLargeBlock;
using qv::FreeLargeBlock;
using qv::kHugePageBytes;
using qv::kLargeBlockAlignment;

// Whether the page holding `address` is mapped in this process.
bool PageMapped(const void* address) {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    unsigned char resident = 0;
    void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address) / page * page);
    if (mincore(start, page, &resident) == 0) return true;
    EXPECT_EQ(errno, ENOMEM);
    return false;
}

// Sizes around the point where blocks start to be mapped apart, from the empty block to one
// that ends a few bytes into a third huge page. Each comes zeroed and aligned, holds every byte
// written to its whole length, and the blocks mapped apart start on a huge-page boundary (what
// lets the kernel back them with huge pages). A second round finds no byte of the first.
TEST(LargeBlock, EverySizeComesZeroedAlignedAndWholeRoundAfterRound) {
    const size_t sizes[] = {0, 1, 4097, kHugePageBytes - 1, kHugePageBytes, 2 * kHugePageBytes + 5};
    for (int round = 0; round < 2; ++round) {
        for (const size_t bytes : sizes) {
            SCOPED_TRACE(bytes);
            auto* block = static_cast<uint8_t*>(AllocateLargeBlock(bytes));
            ASSERT_NE(block, nullptr);
            const auto address = reinterpret_cast<uintptr_t>(block);
            EXPECT_EQ(address % kLargeBlockAlignment, 0u);
            if (qv::MapsApart(bytes)) {
                EXPECT_EQ(address % kHugePageBytes, 0u);
            }
            size_t nonZero = 0;
            for (size_t i = 0; i < bytes; ++i) nonZero += block[i] != 0;
            EXPECT_EQ(nonZero, 0u);
            for (size_t i = 0; i < bytes; ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
            size_t wrong = 0;
            for (size_t i = 0; i < bytes; ++i) wrong += block[i] != static_cast<uint8_t>(i * 7 + 1);
            EXPECT_EQ(wrong, 0u);
            FreeLargeBlock(block, bytes);
        }
    }
    FreeLargeBlock(nullptr, kHugePageBytes);  // as free(nullptr): nothing
}

// A block mapped apart gives back every page it took, its rounding up to a whole page included; a
// size mistaken on the way back would leave the tail mapped for the rest of the run.
TEST(LargeBlock, AFreedBlockLeavesNoPageMapped) {
    const size_t bytes = 3 * kHugePageBytes + 100;
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (!qv::MapsApart(bytes)) GTEST_SKIP() << "this build keeps every block on the heap";
    std::vector<uint8_t*> blocks;
    for (int i = 0; i < 4; ++i) {
        auto* block = static_cast<uint8_t*>(AllocateLargeBlock(bytes));
        ASSERT_NE(block, nullptr);
        block[bytes - 1] = 1;
        blocks.push_back(block);
    }
    for (uint8_t* block : blocks) {
        const uint8_t* lastPage = block + (bytes + page - 1) / page * page - 1;
        EXPECT_TRUE(PageMapped(block));
        EXPECT_TRUE(PageMapped(lastPage));
        FreeLargeBlock(block, bytes);
        EXPECT_FALSE(PageMapped(block));
        EXPECT_FALSE(PageMapped(block + bytes));
        EXPECT_FALSE(PageMapped(lastPage));
    }
}

// A size so large that rounding it up would wrap around to a small one is refused, not served by
// a block far smaller than asked for.
TEST(LargeBlock, ASizeNoMemoryHoldsIsRefused) {
    for (const size_t bytes : {SIZE_MAX, SIZE_MAX - 100, SIZE_MAX - kHugePageBytes}) {
        void* block = AllocateLargeBlock(bytes);
        EXPECT_EQ(block, nullptr) << bytes;
        FreeLargeBlock(block, bytes);
    }
}

}  // namespace
