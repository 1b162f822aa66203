// Events and waits: auto-reset and manual-reset signalling, timed waits, handle validity.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

class EventTest : public ::testing::Test {
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

// Starts `count` threads that each wait without limit on `event` and count their wake-ups.
std::vector<std::thread> StartWaiters(HANDLE event, int count, std::atomic<int>& woken) {
    std::vector<std::thread> waiters;
    for (int i = 0; i < count; ++i) {
        waiters.emplace_back([event, &woken] {
            if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) woken.fetch_add(1);
        });
    }
    return waiters;
}

// Polls until `woken` reaches `expected` or two seconds pass.
bool ReachesWithin2s(const std::atomic<int>& woken, int expected) {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (woken.load() < expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return woken.load() >= expected;
}

TEST_F(EventTest, AutoResetEventReleasesOneWaiterPerSignalAndResetsItself) {
    HANDLE event = CreateEventA(nullptr, 0, 0, nullptr);
    ASSERT_NE(event, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters = StartWaiters(event, 3, woken);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(woken.load(), 0);

    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(ReachesWithin2s(woken, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(woken.load(), 1) << "one signal released more than one waiter";

    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(ReachesWithin2s(woken, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(woken.load(), 2);

    ASSERT_TRUE(SetEvent(event));
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the signal was not taken";
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(EventTest, AutoResetSignalWaitsForTheNextWaiterAndIsTakenOnce) {
    HANDLE event = CreateEventA(nullptr, 0, 1, nullptr);  // created signalled
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    SetEvent(event);  // signalling a signalled event adds nothing
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "ResetEvent left the signal";
    CloseHandle(event);
}

TEST_F(EventTest, ManualResetEventReleasesEveryWaiterAndStaysSignalledUntilReset) {
    HANDLE event = CreateEventA(nullptr, 1, 0, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters = StartWaiters(event, 4, woken);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(woken.load(), 0);
    ASSERT_TRUE(SetEvent(event));
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST_F(EventTest, TimedWaitReturnsTimeoutAfterItsTimeAndSignalWithin) {
    HANDLE event = CreateEventA(nullptr, 0, 0, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));

    std::thread signaller([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    signaller.join();
    CloseHandle(event);
}

TEST_F(EventTest, NamedEventsOpenTheSameEvent) {
    HANDLE first = CreateEventA(nullptr, 1, 0, "qv-test-named");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventA(nullptr, 0, 0, "qv-test-named");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    ASSERT_NE(first, second);
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0) << "the first creation's manual reset holds";
    CloseHandle(first);
    CloseHandle(second);
    HANDLE fresh = CreateEventA(nullptr, 0, 0, "qv-test-named");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a name whose handles are all closed is free again";
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
    CloseHandle(fresh);
}

TEST_F(EventTest, InvalidAndClosedHandlesAreRefused) {
    HANDLE event = CreateEventA(nullptr, 0, 0, nullptr);
    EXPECT_EQ(qv::win32::LiveHandleCount(), handlesBefore_ + 1);
    ASSERT_TRUE(CloseHandle(event));
    EXPECT_EQ(qv::win32::LiveHandleCount(), handlesBefore_);
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_FAILED);
    EXPECT_FALSE(CloseHandle(event)) << "closed twice";
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x7654321)));
    // A thread waiting for itself would never return.
    EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), INFINITE), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(GetCurrentThread()));
}

TEST_F(EventTest, CloseDuringAWaitLeavesTheWaiterIntact) {
    HANDLE event = CreateEventA(nullptr, 0, 0, nullptr);
    std::atomic<DWORD> result{12345};
    std::thread waiter([event, &result] { result = WaitForSingleObject(event, 100); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseHandle(event);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

TEST_F(EventTest, InjectedFailuresHitTheCountedCallOnce) {
    qv::win32::InjectFailure("CreateEventA", 2);
    HANDLE first = CreateEventA(nullptr, 0, 0, nullptr);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(CreateEventA(nullptr, 0, 0, nullptr), nullptr);
    HANDLE third = CreateEventA(nullptr, 0, 0, nullptr);
    EXPECT_NE(third, nullptr);

    qv::win32::InjectFailure("SetEvent", 1);
    qv::win32::InjectFailure("WaitForSingleObject", 1);
    EXPECT_FALSE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
    EXPECT_TRUE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);

    // Two injections for one call count independently.
    qv::win32::InjectFailure("ResetEvent", 1);
    qv::win32::InjectFailure("ResetEvent", 3);
    EXPECT_FALSE(ResetEvent(first));
    EXPECT_TRUE(ResetEvent(first));
    EXPECT_FALSE(ResetEvent(first));
    EXPECT_TRUE(ResetEvent(first));

    qv::win32::InjectFailure("CreateEventA", 1);
    qv::win32::ClearInjectedFailures();
    HANDLE fourth = CreateEventA(nullptr, 0, 0, nullptr);
    EXPECT_NE(fourth, nullptr);
    for (HANDLE h : {first, third, fourth}) CloseHandle(h);
}

TEST_F(EventTest, UnknownInjectionsAreRefusedByName) {
    try {
        qv::win32::InjectFailure("CreateMutexA", 1);
        FAIL() << "an unknown call was accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("CreateMutexA"), std::string::npos);
    }
    EXPECT_THROW(qv::win32::InjectFailure("SetEvent", 0), std::invalid_argument);
}

// The render pipeline's hand-over: two auto-reset events, many rounds, several pairs of
// threads at once. Under TSan this also checks that the stand-in itself is free of races.
TEST_F(EventTest, PingPongOverTwoAutoResetEventsLosesNoSignal) {
    constexpr int kRounds = 2000;
    constexpr int kPairs = 4;
    std::vector<std::thread> threads;
    std::atomic<int> served{0};
    std::atomic<int> answered{0};
    for (int p = 0; p < kPairs; ++p) {
        threads.emplace_back([&] {
            HANDLE start = CreateEventA(nullptr, 0, 0, nullptr);
            HANDLE done = CreateEventA(nullptr, 0, 0, nullptr);
            int shared = 0;  // ordered only by the events
            std::thread server([&] {
                for (int i = 0; i < kRounds; ++i) {
                    WaitForSingleObject(start, INFINITE);
                    shared += 1;
                    served.fetch_add(1);
                    SetEvent(done);
                }
            });
            for (int i = 0; i < kRounds; ++i) {
                SetEvent(start);
                WaitForSingleObject(done, INFINITE);
                if (shared == i + 1) answered.fetch_add(1);
            }
            server.join();
            CloseHandle(start);
            CloseHandle(done);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(served.load(), kRounds * kPairs);
    EXPECT_EQ(answered.load(), kRounds * kPairs);
}

}  // namespace
