// A small persistent pool of worker threads. It serves both the host's RunOnWorkerThreads
// (one call per worker) and the optimised rasteriser's row bands. Threads are created once, so
// a frame costs no thread creation. Between jobs a thread first watches for the next one for a
// short while and only then sleeps on a condition variable: a frame's passes come back to back,
// and a thread woken for each of them tends to be placed on its waker's core while the other
// core idles. A worker that does sleep is kept off its waker's core when a job wakes it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/core_placement.h"
#include "common/function_ref.h"

namespace qv {

class WorkerPool {
public:
    // workers <= 0: one per hardware thread.
    explicit WorkerPool(int workers = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int Size() const { return size_; }

    // Calls fn(i, Size()) once for each i in [0, Size()), worker 0 on the calling thread,
    // and returns when all calls have returned. Not reentrant: one job at a time per pool.
    void RunOnEach(FunctionRef<void(int index, int count)> fn);

    // Runs band(y0, y1) over consecutive chunks of [0, rows) of `grain` rows (the last may be
    // shorter). The rows are cut into Size() equal shares (64 at most, taken in turn past that);
    // thread i first takes the chunks of share i in order, then those left in the other shares.
    // The calling thread takes chunks too, and once no chunk is left it waits only for the
    // workers that have taken part: one still queued behind another thread's time on its core
    // takes no part, instead of holding the caller (and the core the caller would leave idle)
    // until it gets to run.
    void ParallelBands(int rows, int grain, FunctionRef<void(int y0, int y1)> band);

    // Tells the workers that no job follows soon (the end of a frame's work): a worker watching
    // for the next job sleeps at once instead of holding its core for the rest of its watch, so
    // that the threads that run next are placed on that core instead of beside it.
    void Rest();

    // The machine's hardware threads, asked of the system once: the device asks at every draw, and
    // the system answers by reading a file.
    static int HardwareThreads();

private:
    void WorkerLoop(int index);
    // Publishes fn to the workers and runs fn(0, size_) here. open: the job's calls share out
    // its work among themselves, so a worker that finds it closed skips it (see ParallelBands).
    void Run(FunctionRef<void(int, int)> fn, bool open);
    // Joins the open job of `serial`: false once the caller has closed it (or a later job has
    // replaced it), and the worker must not call it.
    bool JoinOpenJob(uint32_t serial);
    void LeaveOpenJob();

    // A worker's sleep, under mutex_: whether it waits for a job asleep, and whether the job
    // that wakes it moved it off its waker's core.
    struct Sleep {
        bool asleep = false;
        bool displaced = false;
    };

    int size_;
    CorePlacement placement_;  // before threads_: the workers read it from their start
    std::unique_ptr<Sleep[]> sleep_;  // one per worker thread, index - 1
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const FunctionRef<void(int, int)>* job_ = nullptr;  // the running job, for its duration
    std::atomic<uint64_t> generation_{0};  // written under mutex_, watched without it
    std::atomic<int> pending_{0};          // workers still running the current job
    bool open_ = false;                    // the current job's kind, under mutex_
    // An open job's attendance: its serial (the low bits of its generation) above kClosed and
    // the count of workers inside it.
    static constexpr uint64_t kClosed = uint64_t{1} << 31;
    static constexpr uint64_t kInside = kClosed - 1;
    std::atomic<uint64_t> attendance_{0};
    std::atomic<bool> quit_{false};
    std::atomic<bool> resting_{false};  // set by Rest, cleared by the next job
    std::mutex runMutex_;  // serialises callers
};

}  // namespace qv
