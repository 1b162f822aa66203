// Render-ahead while saving: which frames are fetched, uploaded and started, and when a frame
// in flight is dropped.
#include "frame/frame_fixture.h"
#include "frame/render_pipeline.h"

namespace qv::test {
namespace {

TEST_F(FrameTest, SavingThreeFramesRendersEachOnceAndLeavesNothingInFlight) {
    ScriptedHost& h = MakeHost(30, 10, 3);
    ASSERT_EQ(h.Process(0), 1);
    // Size query, upload of 0, upload of 1 started ahead.
    EXPECT_EQ(h.fetched, (std::vector<int32_t>{0, 0, 1}));
    EXPECT_EQ(frame::Pipeline().prefetched.load(), 1);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(0)));

    h.ClearRecords();
    ASSERT_EQ(h.Process(1), 1);
    // Size query, look-ahead of 2 while 1 renders (no second upload of 1), upload of 2.
    EXPECT_EQ(h.fetched, (std::vector<int32_t>{1, 2, 2}));
    EXPECT_EQ(frame::Pipeline().prefetched.load(), 2);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(1)));

    h.ClearRecords();
    ASSERT_EQ(h.Process(2), 1);  // the last frame: no look-ahead, nothing started
    EXPECT_EQ(h.fetched, (std::vector<int32_t>{2}));
    EXPECT_EQ(frame::Pipeline().prefetched.load(), -1);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(2)));
}

TEST_F(FrameTest, NotSavingRendersEveryFrameInItsOwnCall) {
    ScriptedHost& h = MakeHost(30, 10, 3);
    h.saving = 0;
    for (int n = 0; n < 3; ++n) {
        h.ClearRecords();
        ASSERT_EQ(h.Process(n), 1);
        EXPECT_EQ(h.fetched, (std::vector<int32_t>{n, n}));
        EXPECT_EQ(frame::Pipeline().prefetched.load(), -1);
    }
}

TEST_F(FrameTest, AJumpWhileSavingDropsTheFrameInFlight) {
    ScriptedHost& h = MakeHost(30, 10, 12);
    ASSERT_EQ(h.Process(4), 1);
    EXPECT_EQ(frame::Pipeline().prefetched.load(), 5);
    h.ClearRecords();
    ASSERT_EQ(h.Process(9), 1);
    EXPECT_EQ(h.fetched, (std::vector<int32_t>{9, 9, 10}));
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(9)));
    EXPECT_EQ(frame::Pipeline().prefetched.load(), 10);
}

TEST_F(FrameTest, ASliderMovedWithAFrameInFlightRendersThatFrameAgain) {
    // What frame 1 looks like with the new slider value, rendered fresh.
    std::vector<YcPixel> expected;
    {
        ScriptedHost& fresh = MakeHost(40, 24, 3);
        fresh.saving = 0;
        fresh.SetSlider(host::kDenoise, 60);
        ASSERT_EQ(fresh.Process(1), 1);
        expected = fresh.Output();
        EXPECT_FALSE(SamePixels(expected, fresh.Source(1)));
    }
    ScriptedHost& h = MakeHost(40, 24, 3);
    ASSERT_EQ(h.Process(0), 1);
    ASSERT_EQ(frame::Pipeline().prefetched.load(), 1);
    h.SetSlider(host::kDenoise, 60);
    EXPECT_EQ(frame::Pipeline().stale.load(), 1);
    h.ClearRecords();
    ASSERT_EQ(h.Process(1), 1);
    EXPECT_EQ(h.fetched, (std::vector<int32_t>{1, 1, 2}));  // uploaded again, then 2 ahead
    EXPECT_TRUE(SamePixels(h.Output(), expected));
}

TEST_F(FrameTest, InvalidateMessageMarksOnlyAPrefetchedFrameStale) {
    ScriptedHost& h = MakeHost(20, 10, 3);
    h.WindowMessage(host::kMessageInvalidate);
    EXPECT_EQ(frame::Pipeline().stale.load(), 0);
    ASSERT_EQ(h.Process(0), 1);
    h.WindowMessage(host::kMessageInvalidate);
    EXPECT_EQ(frame::Pipeline().stale.load(), 1);
    h.ClearRecords();
    ASSERT_EQ(h.Process(1), 1);
    EXPECT_EQ(h.fetched, (std::vector<int32_t>{1, 1, 2}));
}

TEST_F(FrameTest, SwitchingTheFilterOffReleasesEverythingAndTheNextFrameStartsOver) {
    ScriptedHost& h = MakeHost(20, 10, 4);
    ASSERT_EQ(h.Process(0), 1);
    h.filterActive = 0;
    h.WindowMessage(host::kMessageFilterSwitched);
    EXPECT_EQ(frame::Pipeline().prefetched.load(), -1);
    EXPECT_EQ(frame::Pipeline().stale.load(), 0);
    EXPECT_EQ(frame::Pipeline().renderThread, nullptr);
    EXPECT_EQ(gpu::Context().ready.load(), 0);
    // A stale flag raised now has no frame to wait for: the next call must not hang.
    h.WindowMessage(host::kMessageInvalidate);
    h.filterActive = 1;
    ASSERT_EQ(h.Process(1), 1);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(1)));
}

TEST_F(FrameTest, StopOnAnIdleThreadEndsItAndLeavesNoSignalBehind) {
    ScriptedHost& h = MakeHost(20, 10, 3);
    h.saving = 0;
    ASSERT_EQ(h.Process(0), 1);
    ASSERT_NE(frame::Pipeline().renderThread, nullptr);
    frame::Stop();
    EXPECT_EQ(frame::Pipeline().renderThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(frame::Pipeline().doneEvent, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(frame::Pipeline().startEvent, 0), WAIT_TIMEOUT);
    ASSERT_EQ(h.Process(1), 1);  // a new render thread
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(1)));
}

TEST_F(FrameTest, StopWithAFrameInFlightLeavesNoSignalForTheNextThread) {
    ScriptedHost& h = MakeHost(64, 48, 4);
    ASSERT_EQ(h.Process(0), 1);  // frame 1 in flight
    frame::Stop();
    frame::ForgetPrefetchedFrame();
    EXPECT_EQ(WaitForSingleObject(frame::Pipeline().doneEvent, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(frame::Pipeline().startEvent, 0), WAIT_TIMEOUT);
    h.MutableSource(2)[5].y = 3333;
    ASSERT_EQ(h.Process(2), 1);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(2)));
}

TEST_F(FrameTest, TheRenderThreadRunsOnePriorityAboveTheCaller) {
    ScriptedHost& h = MakeHost(20, 10, 2);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    ASSERT_EQ(h.Process(0), 1);
    EXPECT_EQ(win32::ThreadPriorityOf(frame::Pipeline().renderThread), THREAD_PRIORITY_NORMAL);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

}  // namespace
}  // namespace qv::test
