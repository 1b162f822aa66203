// Memory a row kernel borrows for one band (converted rows, ring buffers). Each thread keeps the
// blocks it has used between bands and draws, so that once a frame has run, later frames map no
// fresh pages: a band's rows take megabytes, and every fresh page costs a fault and its zeroing.
#pragma once

#include <cstddef>

namespace qv::passes {

class ScratchBlock {
public:
    // At least `bytes`, aligned for any vector load; the contents are whatever the thread's last
    // use left there.
    explicit ScratchBlock(size_t bytes);
    // Gives the block back to the thread that took it (blocks never change threads).
    ~ScratchBlock();
    ScratchBlock(const ScratchBlock&) = delete;
    ScratchBlock& operator=(const ScratchBlock&) = delete;

    template <class T>
    T* As() const {
        return static_cast<T*>(data_);
    }

private:
    void* data_;
    size_t slot_;
};

}  // namespace qv::passes
