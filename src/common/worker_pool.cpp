#include "common/worker_pool.h"

#include <algorithm>

namespace qv {

int WorkerPool::HardwareThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

WorkerPool::WorkerPool(int workers) : size_(workers > 0 ? workers : HardwareThreads()) {
    threads_.reserve(static_cast<size_t>(size_ - 1));
    for (int i = 1; i < size_; ++i) threads_.emplace_back([this, i] { WorkerLoop(i); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void WorkerPool::WorkerLoop(int index) {
    uint64_t seen = 0;
    for (;;) {
        const std::function<void(int, int)>* job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
            if (quit_) return;
            seen = generation_;
            job = job_;
        }
        (*job)(index, size_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (--pending_ == 0) done_.notify_one();
        }
    }
}

void WorkerPool::RunOnEach(const std::function<void(int, int)>& fn) {
    std::lock_guard<std::mutex> run(runMutex_);
    if (size_ == 1) {
        fn(0, 1);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &fn;
        pending_ = size_ - 1;
        ++generation_;
    }
    wake_.notify_all();
    fn(0, size_);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return pending_ == 0; });
    job_ = nullptr;
}

void WorkerPool::ParallelBands(int rows, int grain, const std::function<void(int, int)>& band) {
    if (rows <= 0) return;
    grain = std::max(grain, 1);
    const int chunks = (rows + grain - 1) / grain;
    if (chunks == 1 || size_ == 1) {
        for (int c = 0; c < chunks; ++c) band(c * grain, std::min(rows, (c + 1) * grain));
        return;
    }
    std::atomic<int> next{0};
    RunOnEach([&](int, int) {
        for (int c = next.fetch_add(1); c < chunks; c = next.fetch_add(1)) {
            band(c * grain, std::min(rows, (c + 1) * grain));
        }
    });
}

}  // namespace qv
