#include "passes/scratch_memory.h"

#include <cstdlib>
#include <new>
#include <vector>

namespace qv::passes {

namespace {

constexpr size_t kAlignment = 128;  // two cache lines: any vector, no false sharing

// One thread's blocks; a block is taken by at most one ScratchBlock at a time.
class ThreadBlocks {
public:
    ~ThreadBlocks() {
        for (Block& b : blocks_) std::free(b.data);
    }

    // The smallest free block that is large enough; else the largest free block, grown; else a
    // new one.
    size_t Take(size_t bytes) {
        bytes = (bytes + kAlignment - 1) / kAlignment * kAlignment;
        size_t best = blocks_.size();
        size_t largest = blocks_.size();
        for (size_t i = 0; i < blocks_.size(); ++i) {
            const Block& b = blocks_[i];
            if (b.taken) continue;
            if (b.bytes >= bytes && (best == blocks_.size() || b.bytes < blocks_[best].bytes)) best = i;
            if (largest == blocks_.size() || b.bytes > blocks_[largest].bytes) largest = i;
        }
        if (best == blocks_.size()) {
            if (largest == blocks_.size()) {
                blocks_.push_back(Block{});
                largest = blocks_.size() - 1;
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
    struct Block {
        void* data = nullptr;
        size_t bytes = 0;
        bool taken = false;
    };
    std::vector<Block> blocks_;
};

ThreadBlocks& Blocks() {
    thread_local ThreadBlocks blocks;
    return blocks;
}

}  // namespace

ScratchBlock::ScratchBlock(size_t bytes) : slot_(Blocks().Take(bytes)) { data_ = Blocks().Data(slot_); }

ScratchBlock::~ScratchBlock() { Blocks().Give(slot_); }

}  // namespace qv::passes
