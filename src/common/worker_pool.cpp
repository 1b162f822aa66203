#include "common/worker_pool.h"

#include <algorithm>
#include <array>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace qv {
namespace {

// How long a thread watches for its next job (or for the job's end) before it sleeps: longer
// than the gap between two passes of a frame, short against a frame.
constexpr auto kWatchTime = std::chrono::microseconds(100);

// Sleeping workers moved per job, at most: the move costs a system call each, and on a machine
// with this many cores an idle one near the waker is found without help.
constexpr int kMaxMoved = 8;

// Threads whose share of a ParallelBands job is their own; more take shares in turn.
constexpr int kMaxShares = 64;

// Returns once `ready` holds or the watch time is up; the caller then waits for it asleep.
template <class Ready>
void WatchFor(const Ready& ready) {
    const auto until = std::chrono::steady_clock::now() + kWatchTime;
    for (int spins = 0; !ready(); ++spins) {
#if defined(__x86_64__) || defined(__i386__)
        _mm_pause();
#endif
        if ((spins & 63) == 63 && std::chrono::steady_clock::now() >= until) return;
    }
}

}  // namespace

int WorkerPool::HardwareThreads() {
    static const int threads = [] {
        const unsigned n = std::thread::hardware_concurrency();
        return n == 0 ? 1 : static_cast<int>(n);
    }();
    return threads;
}

WorkerPool::WorkerPool(int workers)
    : size_(workers > 0 ? workers : HardwareThreads()), sleep_(std::make_unique<Sleep[]>(static_cast<size_t>(size_ - 1))) {
    threads_.reserve(static_cast<size_t>(size_ - 1));
    for (int i = 1; i < size_; ++i) threads_.emplace_back([this, i] { WorkerLoop(i); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void WorkerPool::WorkerLoop(int index) {
    uint64_t seen = 0;
    const auto ready = [&] {
        return quit_.load(std::memory_order_acquire) || generation_.load(std::memory_order_acquire) != seen;
    };
    for (;;) {
        WatchFor([&] { return ready() || resting_.load(std::memory_order_acquire); });
        const FunctionRef<void(int, int)>* job;
        bool displaced;
        bool open;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            Sleep& sleep = sleep_[static_cast<size_t>(index - 1)];
            if (!ready()) {
                sleep.asleep = true;
                wake_.wait(lock, ready);
                sleep.asleep = false;
            }
            if (quit_) return;
            seen = generation_;
            job = job_;
            open = open_;
            displaced = sleep.displaced;
            sleep.displaced = false;
        }
        if (displaced) placement_.Release();
        if (open) {
            if (JoinOpenJob(static_cast<uint32_t>(seen))) {
                (*job)(index, size_);
                LeaveOpenJob();
            }
            continue;
        }
        (*job)(index, size_);
        if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Under the mutex, so a caller that found jobs pending is already waiting.
            std::lock_guard<std::mutex> lock(mutex_);
            done_.notify_one();
        }
    }
}

bool WorkerPool::JoinOpenJob(uint32_t serial) {
    uint64_t now = attendance_.load(std::memory_order_acquire);
    do {
        if ((now >> 32) != serial || (now & kClosed) != 0) return false;
    } while (!attendance_.compare_exchange_weak(now, now + 1, std::memory_order_acq_rel));
    return true;
}

void WorkerPool::LeaveOpenJob() {
    const uint64_t left = attendance_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if ((left & (kClosed | kInside)) == kClosed) {
        // The last one out of a closed job: its caller may be waiting.
        std::lock_guard<std::mutex> lock(mutex_);
        done_.notify_one();
    }
}

void WorkerPool::RunOnEach(FunctionRef<void(int, int)> fn) { Run(fn, false); }

void WorkerPool::Run(FunctionRef<void(int, int)> fn, bool open) {
    std::lock_guard<std::mutex> run(runMutex_);
    if (size_ == 1) {
        fn(0, 1);
        return;
    }
    if (placement_.Useful()) {
        // Sleeping workers are moved off this core before the job is published, so none takes
        // it while its move is still to come.
        bool move[kMaxMoved] = {};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (int i = 1; i < size_ && i <= kMaxMoved; ++i) {
                Sleep& sleep = sleep_[static_cast<size_t>(i - 1)];
                // A worker moved for an earlier job has run it, and cleared its mark, since.
                if (sleep.asleep) move[i - 1] = sleep.displaced = true;
            }
        }
        for (int i = 1; i < size_ && i <= kMaxMoved; ++i) {
            if (move[i - 1]) placement_.KeepOffCallersCore(threads_[static_cast<size_t>(i - 1)]);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &fn;
        open_ = open;
        resting_.store(false, std::memory_order_relaxed);
        pending_.store(open ? 0 : size_ - 1, std::memory_order_relaxed);
        const uint64_t serial = static_cast<uint32_t>(generation_.load(std::memory_order_relaxed) + 1);
        attendance_.store(serial << 32, std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    fn(0, size_);
    if (open) attendance_.fetch_or(kClosed, std::memory_order_acq_rel);
    const auto finished = [&] {
        return pending_.load(std::memory_order_acquire) == 0 &&
               (attendance_.load(std::memory_order_acquire) & kInside) == 0;
    };
    WatchFor(finished);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, finished);
    job_ = nullptr;
}

void WorkerPool::Rest() { resting_.store(true, std::memory_order_release); }

void WorkerPool::ParallelBands(int rows, int grain, FunctionRef<void(int, int)> band) {
    if (rows <= 0) return;
    grain = std::max(grain, 1);
    const int chunks = (rows + grain - 1) / grain;
    if (chunks == 1 || size_ == 1) {
        for (int c = 0; c < chunks; ++c) band(c * grain, std::min(rows, (c + 1) * grain));
        return;
    }
    // Each thread first takes the chunks of its own share of the rows, in order, and then helps
    // with the others' shares: a thread draws the same part of the image pass after pass while
    // the load still balances, so one pass's rows are read by the next from the cache of the core
    // that wrote them rather than fetched from another core's.
    struct alignas(64) Share {
        std::atomic<int> next;
        int end;
    };
    const int shareCount = std::min(size_, kMaxShares);
    std::array<Share, kMaxShares> shares;
    for (int s = 0; s < shareCount; ++s) {
        shares[static_cast<size_t>(s)].next.store(chunks * s / shareCount, std::memory_order_relaxed);
        shares[static_cast<size_t>(s)].end = chunks * (s + 1) / shareCount;
    }
    Run(
        [&](int index, int) {
            for (int k = 0; k < shareCount; ++k) {
                Share& share = shares[static_cast<size_t>((index + k) % shareCount)];
                for (int c = share.next.fetch_add(1); c < share.end; c = share.next.fetch_add(1))
                    band(c * grain, std::min(rows, (c + 1) * grain));
            }
        },
        true);
}

}  // namespace qv
