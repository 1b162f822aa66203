#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "common/core_placement.h"
#include "common/worker_pool.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace {

using qv::WorkerPool;

// Jobs back to back (threads still watching for the next) and jobs after a pause (threads
// asleep): every index runs exactly once per job, and the caller returns only after all have.
TEST(WorkerPool, RunsEachIndexOnceWhetherItsThreadsWatchOrSleep) {
    WorkerPool pool(3);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::atomic<int>> calls(3);
        std::atomic<int> finished{0};
        pool.RunOnEach([&](int index, int count) {
            ASSERT_EQ(count, 3);
            calls[static_cast<size_t>(index)].fetch_add(1);
            if (round % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            finished.fetch_add(1);
        });
        EXPECT_EQ(finished.load(), 3) << "round " << round;
        for (auto& c : calls) EXPECT_EQ(c.load(), 1) << "round " << round;
        if (round % 40 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let them sleep
    }
}

// Rest sends watching workers to sleep; whether it comes between jobs or from another thread
// while jobs are handed out, no job goes unserved.
TEST(WorkerPool, RestingNeverCostsAJob) {
    WorkerPool pool(3);
    std::atomic<bool> stop{false};
    std::thread rester([&] {
        while (!stop.load()) {
            pool.Rest();
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 300; ++round) {
        std::vector<std::atomic<int>> calls(3);
        pool.RunOnEach([&](int index, int) { calls[static_cast<size_t>(index)].fetch_add(1); });
        for (auto& c : calls) EXPECT_EQ(c.load(), 1) << "round " << round;
        if (round % 3 == 0) pool.Rest();
    }
    stop.store(true);
    rester.join();
}

TEST(WorkerPool, BandsCoverEveryRowOnceForAnyGrain) {
    WorkerPool pool(2);
    for (int rows : {0, 1, 7, 64, 1081}) {
        for (int grain : {0, 1, 5, 64, 5000}) {
            std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
            pool.ParallelBands(rows, grain, [&](int y0, int y1) {
                for (int y = y0; y < y1; ++y) seen[static_cast<size_t>(y)].fetch_add(1);
            });
            for (int y = 0; y < rows; ++y) EXPECT_EQ(seen[static_cast<size_t>(y)].load(), 1) << rows << " " << grain;
        }
    }
}

// Each thread starts on its own share of the rows and goes through it in order, so that it draws
// the same part of the image in every pass: the caller from the top, the worker from the middle.
// The bands take long enough for the worker to join; a job it missed is tried again.
TEST(WorkerPool, EachThreadTakesItsOwnShareOfTheBandsFirstAndInOrder) {
    WorkerPool pool(2);
    constexpr int kRows = 40;
    // A thread's rows: its own share in order, then, once that is gone, the rest of the other's in
    // order. A thread held off its core long enough may find its share taken by the other.
    const auto check = [](const std::vector<int>& rows, int ownFirst, const char* who) {
        const auto own = [ownFirst](int row) { return row >= ownFirst && row < ownFirst + kRows / 2; };
        EXPECT_TRUE(own(rows.front())) << who << " started at row " << rows.front();
        size_t i = 1;
        for (; i < rows.size() && own(rows[i]); ++i) EXPECT_GT(rows[i], rows[i - 1]) << who;
        for (size_t j = i; j < rows.size(); ++j) {
            EXPECT_FALSE(own(rows[j])) << who << " came back to its own share at row " << rows[j];
            if (j > i) {
                EXPECT_GT(rows[j], rows[j - 1]) << who;
            }
        }
    };
    bool bothTookPart = false;
    for (int attempt = 0; attempt < 50 && !bothTookPart; ++attempt) {
        const std::thread::id caller = std::this_thread::get_id();
        std::mutex mutex;
        std::vector<int> callerRows, workerRows;
        pool.ParallelBands(kRows, 1, [&](int y0, int) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::lock_guard<std::mutex> lock(mutex);
            (std::this_thread::get_id() == caller ? callerRows : workerRows).push_back(y0);
        });
        ASSERT_EQ(callerRows.size() + workerRows.size(), static_cast<size_t>(kRows));
        if (callerRows.empty() || workerRows.empty()) continue;
        bothTookPart = true;
        check(callerRows, 0, "the caller");          // share 0: rows 0 .. 19
        check(workerRows, kRows / 2, "the worker");  // share 1: rows 20 .. 39
    }
    EXPECT_TRUE(bothTookPart);
}

// A worker that wakes after the caller has taken every band finds the job closed and leaves
// it: no band runs twice or after ParallelBands returns, whether the workers were asleep (the
// caller then usually finishes alone) or watching (they take part).
TEST(WorkerPool, BandsLeftToLateWorkersRunOnceAndNeverAfterTheReturn) {
    WorkerPool pool(3);
    for (int round = 0; round < 400; ++round) {
        const int rows = round % 2 == 0 ? 6 : 300;
        std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
        std::atomic<bool> returned{false};
        std::atomic<int> late{0};
        if (round % 4 < 2) pool.Rest();  // the workers sleep and wake late
        pool.ParallelBands(rows, 1, [&](int y0, int y1) {
            if (returned.load()) late.fetch_add(1);
            for (int y = y0; y < y1; ++y) seen[static_cast<size_t>(y)].fetch_add(1);
        });
        returned.store(true);
        if (round % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));  // late wakers arrive
        for (int y = 0; y < rows; ++y) ASSERT_EQ(seen[static_cast<size_t>(y)].load(), 1) << "round " << round;
        ASSERT_EQ(late.load(), 0) << "round " << round;
        // Jobs of the other kind still run on every thread in between.
        std::atomic<int> each{0};
        pool.RunOnEach([&](int, int) { each.fetch_add(1); });
        ASSERT_EQ(each.load(), 3) << "round " << round;
    }
}

TEST(WorkerPool, ShutsDownWhileItsThreadsWatchAndWhileTheySleep) {
    for (int pause_ms : {0, 5}) {
        WorkerPool pool(4);
        std::atomic<int> calls{0};
        pool.RunOnEach([&](int, int) { calls.fetch_add(1); });
        if (pause_ms) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        EXPECT_EQ(calls.load(), 4);
    }  // the destructor joins every thread or the test hangs
}

#if defined(__linux__)
cpu_set_t OwnCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    EXPECT_EQ(sched_getaffinity(0, sizeof(cores), &cores), 0);
    return cores;
}

// A thread kept off its waker's core may run on every usable core but that one, and once it
// releases itself, on all of them again.
TEST(CorePlacement, KeepsAThreadOffTheCallersCoreUntilItReleasesItself) {
    const qv::CorePlacement placement;
    const cpu_set_t usable = OwnCores();
    EXPECT_EQ(placement.Useful(), CPU_COUNT(&usable) > 1);
    std::atomic<int> step{0};
    cpu_set_t kept, released;
    std::thread thread([&] {
        while (step.load() == 0) std::this_thread::yield();
        kept = OwnCores();
        placement.Release();
        released = OwnCores();
    });
    placement.KeepOffCallersCore(thread);
    step.store(1);
    thread.join();
    EXPECT_TRUE(CPU_EQUAL(&released, &usable));
    if (!placement.Useful()) return;
    cpu_set_t outside;
    CPU_XOR(&outside, &kept, &usable);
    EXPECT_EQ(CPU_COUNT(&kept), CPU_COUNT(&usable) - 1);
    EXPECT_EQ(CPU_COUNT(&outside), 1);  // one usable core left out, none added
}

// Workers woken from sleep by a job run it, and every job after, free to use every core the
// pool was given: the move off the waker's core lasts only until they run.
TEST(WorkerPool, WorkersWokenFromSleepRunOnAllTheirCores) {
    const cpu_set_t usable = OwnCores();
    WorkerPool pool(3);
    for (int round = 0; round < 12; ++round) {
        if (round % 2 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(3));  // asleep
        std::vector<std::atomic<int>> calls(3);
        std::vector<int> sameCores(3, 0);
        pool.RunOnEach([&](int index, int) {
            const cpu_set_t cores = OwnCores();
            sameCores[static_cast<size_t>(index)] = CPU_EQUAL(&cores, &usable) ? 1 : 0;
            calls[static_cast<size_t>(index)].fetch_add(1);
        });
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(calls[static_cast<size_t>(i)].load(), 1) << "round " << round;
            EXPECT_EQ(sameCores[static_cast<size_t>(i)], 1) << "worker " << i << " round " << round;
        }
    }
}
#endif

}  // namespace
