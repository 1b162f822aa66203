// Threads: they run at once, their handles signal at their end, closing a running thread's
// handle leaves it running, and priority values are recorded per thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/win32/win32.h"

namespace {

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        qv::win32::ClearInjectedFailures();
        handlesBefore_ = qv::win32::LiveHandleCount();
    }
    void TearDown() override {
        qv::win32::ClearInjectedFailures();
        EXPECT_EQ(qv::win32::LiveHandleCount(), handlesBefore_) << "a handle was left open";
    }
    size_t handlesBefore_ = 0;
};

struct Gate {
    HANDLE release = CreateEventA(nullptr, 1, 0, nullptr);
    HANDLE reached = CreateEventA(nullptr, 1, 0, nullptr);
    std::atomic<int> prioritySeenInside{THREAD_PRIORITY_ERROR_RETURN};
    ~Gate() {
        CloseHandle(release);
        CloseHandle(reached);
    }
};

// Signals `reached`, waits for `release`, returns 42.
DWORD GatedRoutine(LPVOID param) {
    auto* gate = static_cast<Gate*>(param);
    SetEvent(gate->reached);
    WaitForSingleObject(gate->release, INFINITE);
    return 42;
}

TEST_F(ThreadTest, ThreadRunsAtOnceAndItsHandleSignalsWhenItEnds) {
    Gate gate;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, GatedRoutine, &gate, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(gate.reached, 5000), WAIT_OBJECT_0) << "the thread did not start";
    EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT) << "signalled while still running";
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    SetEvent(gate.release);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
}

struct Detached {
    HANDLE release;
    HANDLE finished;
};

DWORD SignalAfterRelease(LPVOID param) {
    auto* d = static_cast<Detached*>(param);
    WaitForSingleObject(d->release, INFINITE);
    SetEvent(d->finished);
    return 0;
}

TEST_F(ThreadTest, ClosingARunningThreadsHandleLeavesItRunning) {
    Detached d{CreateEventA(nullptr, 0, 0, nullptr), CreateEventA(nullptr, 0, 0, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, SignalAfterRelease, &d, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    SetEvent(d.release);
    EXPECT_EQ(WaitForSingleObject(d.finished, 5000), WAIT_OBJECT_0) << "the detached thread did not go on";
    CloseHandle(d.release);
    CloseHandle(d.finished);
}

DWORD RecordOwnPriority(LPVOID param) {
    auto* gate = static_cast<Gate*>(param);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    SetEvent(gate->reached);
    WaitForSingleObject(gate->release, INFINITE);
    gate->prioritySeenInside = GetThreadPriority(GetCurrentThread());
    return 0;
}

TEST_F(ThreadTest, PrioritiesAreRecordedPerThreadAndSeenThroughEveryHandle) {
    Gate gate;
    HANDLE thread = CreateThread(nullptr, 0, RecordOwnPriority, &gate, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(gate.reached, 5000), WAIT_OBJECT_0);
    // What the thread set on itself shows through its handle.
    EXPECT_EQ(qv::win32::ThreadPriorityOf(thread), THREAD_PRIORITY_LOWEST);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_LOWEST);

    // The render thread's rule: one step above the calling thread.
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));
    ASSERT_TRUE(SetThreadPriority(thread, GetThreadPriority(GetCurrentThread()) + 1));
    EXPECT_EQ(qv::win32::ThreadPriorityOf(thread), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_BELOW_NORMAL)
        << "setting another thread changed the caller";

    SetEvent(gate.release);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(gate.prioritySeenInside.load(), THREAD_PRIORITY_NORMAL) << "the thread sees what its handle set";
    EXPECT_EQ(qv::win32::ThreadPriorityOf(thread), THREAD_PRIORITY_NORMAL) << "kept after the end";
    CloseHandle(thread);
    EXPECT_EQ(qv::win32::ThreadPriorityOf(thread), THREAD_PRIORITY_ERROR_RETURN);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

TEST_F(ThreadTest, ThreadsNotStartedHereHaveTheirOwnRecordStartingAtNormal) {
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST));
    std::atomic<int> other{THREAD_PRIORITY_ERROR_RETURN};
    std::thread([&] { other = GetThreadPriority(GetCurrentThread()); }).join();
    EXPECT_EQ(other.load(), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_HIGHEST);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

TEST_F(ThreadTest, PriorityValuesOutsideWindowsRangeAreRefused) {
    Gate gate;
    SetEvent(gate.release);
    HANDLE thread = CreateThread(nullptr, 0, GatedRoutine, &gate, 0, nullptr);
    ASSERT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST));
    // Highest plus one is no priority value: refused, the record unchanged.
    EXPECT_FALSE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST + 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetThreadPriority(thread, THREAD_PRIORITY_LOWEST - 1));
    EXPECT_EQ(qv::win32::ThreadPriorityOf(thread), THREAD_PRIORITY_HIGHEST);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
    EXPECT_EQ(qv::win32::ThreadPriorityOf(thread), THREAD_PRIORITY_IDLE);

    HANDLE event = CreateEventA(nullptr, 0, 0, nullptr);
    EXPECT_FALSE(SetThreadPriority(event, THREAD_PRIORITY_NORMAL)) << "an event has no priority";
    EXPECT_EQ(GetThreadPriority(event), THREAD_PRIORITY_ERROR_RETURN);
    CloseHandle(event);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

TEST_F(ThreadTest, FailedCreationsLeaveNoHandle) {
    Gate gate;
    SetEvent(gate.release);
    qv::win32::InjectFailure("CreateThread", 1);
    EXPECT_EQ(CreateThread(nullptr, 0, GatedRoutine, &gate, 0, nullptr), nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    // No ResumeThread here: a suspended thread could never run.
    EXPECT_EQ(CreateThread(nullptr, 0, GatedRoutine, &gate, CREATE_SUSPENDED, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(qv::win32::LiveHandleCount(), handlesBefore_ + 2) << "only the gate's two events";

    qv::win32::InjectFailure("SetThreadPriority", 1);
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
}

DWORD Quick(LPVOID param) {
    static_cast<std::atomic<int>*>(param)->fetch_add(1);
    return 0;
}

// Threads created, waited for and closed from several threads at once: the handle table under
// contention (and, in the TSan build, free of races).
TEST_F(ThreadTest, ManyThreadsCreatedAndClosedConcurrently) {
    std::atomic<int> ran{0};
    std::vector<std::thread> creators;
    for (int c = 0; c < 4; ++c) {
        creators.emplace_back([&ran] {
            for (int i = 0; i < 50; ++i) {
                HANDLE t = CreateThread(nullptr, 0, Quick, &ran, 0, nullptr);
                SetThreadPriority(t, THREAD_PRIORITY_ABOVE_NORMAL);
                if (i % 2 == 0) WaitForSingleObject(t, INFINITE);
                CloseHandle(t);
            }
        });
    }
    for (std::thread& t : creators) t.join();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ran.load() < 200 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(ran.load(), 200);
}

}  // namespace
