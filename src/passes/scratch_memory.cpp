#include "passes/scratch_memory.h"

#include <array>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace qv::passes {

namespace {

constexpr size_t kAlignment = 128;  // two cache lines: any vector, no false sharing

// One thread's blocks; a block is taken by at most one ScratchBlock at a time. The slots are a
// fixed array rather than a growing list: with open band jobs a worker may take its first band
// of a pass only after the frames that warmed the others, and its first blocks must then not
// allocate from the heap beyond their own storage.
class ThreadBlocks {
public:
    ~ThreadBlocks() {
        for (Block& b : blocks_) std::free(b.data);
    }

    // The smallest free block that is large enough; else the largest free block, grown; else a
    // new one.
    size_t Take(size_t bytes) {
        bytes = (bytes + kAlignment - 1) / kAlignment * kAlignment;
        size_t best = kSlots;
        size_t largest = kSlots;
        for (size_t i = 0; i < used_; ++i) {
            const Block& b = blocks_[i];
            if (b.taken) continue;
            if (b.bytes >= bytes && (best == kSlots || b.bytes < blocks_[best].bytes)) best = i;
            if (largest == kSlots || b.bytes > blocks_[largest].bytes) largest = i;
        }
        if (best == kSlots) {
            if (largest == kSlots) {
                // More blocks held at once than any kernel takes: a fault in the kernel.
                if (used_ == kSlots) throw std::length_error("scratch memory: too many blocks held by one thread");
                largest = used_++;
            }
            Block& grown = blocks_[largest];
            std::free(grown.data);
            grown.data = std::aligned_alloc(kAlignment, bytes == 0 ? kAlignment : bytes);
            if (grown.data == nullptr) {
                grown.bytes = 0;
                throw std::bad_alloc();
            }
            grown.bytes = bytes;
            best = largest;
        }
        blocks_[best].taken = true;
        return best;
    }
    void* Data(size_t slot) const { return blocks_[slot].data; }
    void Give(size_t slot) { blocks_[slot].taken = false; }

private:
    static constexpr size_t kSlots = 16;
    struct Block {
        void* data = nullptr;
        size_t bytes = 0;
        bool taken = false;
    };
    std::array<Block, kSlots> blocks_{};
    size_t used_ = 0;
};

ThreadBlocks& Blocks() {
    thread_local ThreadBlocks blocks;
    return blocks;
}

}  // namespace

ScratchBlock::ScratchBlock(size_t bytes) : slot_(Blocks().Take(bytes)) { data_ = Blocks().Data(slot_); }

ScratchBlock::~ScratchBlock() { Blocks().Give(slot_); }

}  // namespace qv::passes
