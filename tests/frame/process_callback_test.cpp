// The process callback as the host sees it: size gate, pass-through, device loss, failures.
#include "frame/frame_fixture.h"
#include "host/callbacks.h"

namespace qv::test {
namespace {

TEST_F(FrameTest, EqualSizesWithEveryStrengthZeroReturnTheSourceUnchanged) {
    ScriptedHost& h = MakeHost(67, 35, 3);
    h.saving = 0;
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(h.Process(n), 1);
        EXPECT_EQ(h.outputWidth(), 67);
        EXPECT_EQ(h.outputHeight(), 35);
        EXPECT_TRUE(SamePixels(h.Output(), h.Source(n))) << "frame " << n;
    }
    EXPECT_TRUE(h.boxes.empty());
}

TEST_F(FrameTest, SizeGateRefusesRequestsAbove1920By1088WithoutTouchingAnything) {
    ScriptedHost& h = MakeHost(64, 32, 1);
    for (auto [w, hgt] : {std::pair{1921, 1080}, std::pair{1920, 1089}}) {
        h.ClearRecords();
        FrameRequest& r = h.request();
        r = FrameRequest{};
        std::vector<YcPixel> buffer(16, YcPixel{7, 7, 7});
        r.editBuffer = buffer.data();
        r.width = w;
        r.height = hgt;
        r.rowLength = 4;
        r.frameCount = 1;
        EXPECT_EQ(host::ProcessCallback(&h.instance(), &r), 0);
        EXPECT_TRUE(h.fetched.empty());
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(r.height, hgt);
        for (const YcPixel& p : buffer) EXPECT_EQ(p.y, 7);
    }
}

TEST_F(FrameTest, AFrameOf1920By1088IsProcessed) {
    ScriptedHost& h = MakeHost(1920, 1088, 1);
    h.saving = 0;
    ASSERT_EQ(h.Process(0), 1);
    EXPECT_EQ(h.outputWidth(), 1920);
    EXPECT_EQ(h.outputHeight(), 1088);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(0)));
}

TEST_F(FrameTest, WithoutDirect3DEveryFramePassesThroughUntilSwitchedOnAgain) {
    ScriptedHost& h = MakeHost(700, 400, 3);
    h.sliders[host::kWidth] = 1280;
    h.sliders[host::kHeight] = 720;
    h.Exit();  // drop the Direct3D object GetFilterTable made
    d3d9::testing::FailDirect3DCreate(true);
    h.ClearRecords();
    EXPECT_EQ(h.Process(0), 0);
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].text, "Direct3DCreate9に失敗");
    EXPECT_EQ(h.boxes[0].caption, "warning");
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(0)));

    h.ClearRecords();
    EXPECT_EQ(h.Process(1), 1);
    EXPECT_EQ(h.outputWidth(), 700);
    EXPECT_EQ(h.outputHeight(), 400);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(1)));
    EXPECT_TRUE(h.boxes.empty());

    d3d9::testing::FailDirect3DCreate(false);
    h.WindowMessage(host::kMessageFilterSwitched);  // the host reports the filter switched on
    EXPECT_EQ(h.Process(2), 1);
    EXPECT_EQ(h.outputWidth(), 1280);
    EXPECT_EQ(h.outputHeight(), 720);
}

TEST_F(FrameTest, CancelledDeviceCreationDisablesTheGpuPathAndRetryStartsOver) {
    ScriptedHost& h = MakeHost(40, 30, 3);
    h.Exit();  // no device yet: the first frame creates it
    d3d9::testing::FailOperation("CreateDevice", 1, D3DERR_NOTAVAILABLE);
    h.answers = {IDRETRY};
    h.saving = 0;
    EXPECT_EQ(h.Process(0), 1);  // the retry succeeds
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].text, "CreateDeviceに失敗");
    EXPECT_EQ(h.boxes[0].caption, "Quillervantis");
    EXPECT_EQ(h.boxes[0].type, MB_RETRYCANCEL | MB_ICONWARNING);

    h.Exit();
    h.ClearRecords();
    d3d9::testing::FailOperation("CreateDevice", 1, D3DERR_NOTAVAILABLE);
    EXPECT_EQ(h.Process(1), 0);  // answered Cancel
    EXPECT_EQ(h.boxes.size(), 1u);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(1)));
    EXPECT_EQ(h.Process(2), 1);  // disabled: passed through
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(2)));
}

TEST_F(FrameTest, ALostDeviceIsRebuiltAndTheFrameRenderedInTheSameCall) {
    ScriptedHost& h = MakeHost(48, 20, 4);
    ASSERT_EQ(h.Process(0), 1);  // leaves frame 1 in flight
    d3d9::testing::FailOperation("TestCooperativeLevel", 1, D3DERR_DEVICELOST);
    h.ClearRecords();
    // Make the prefetched frame differ from what a fresh render gives: if it were used, the
    // output would show the old content.
    h.MutableSource(1)[0].y = 4000;
    EXPECT_EQ(h.Process(1), 1);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(1)));
    EXPECT_TRUE(h.boxes.empty());
}

TEST_F(FrameTest, RenderThreadFailureReturnsZeroWithoutABoxAndTheNextCallStartsOver) {
    ScriptedHost& h = MakeHost(33, 17, 3);
    h.saving = 0;
    d3d9::testing::FailOperation("EndScene", 1, E_FAIL);
    EXPECT_EQ(h.Process(0), 0);
    EXPECT_TRUE(h.boxes.empty());
    EXPECT_EQ(h.outputWidth(), 33);  // the request keeps the source size
    EXPECT_EQ(h.Process(1), 1);
    EXPECT_TRUE(SamePixels(h.Output(), h.Source(1)));
}

TEST_F(FrameTest, EachGetRenderTargetDataFailureEndsTheFrame) {
    for (HRESULT code : {D3DERR_DRIVERINTERNALERROR, D3DERR_DEVICELOST, D3DERR_INVALIDCALL, E_FAIL}) {
        ScriptedHost& h = MakeHost(16, 8, 2);
        h.saving = 0;
        d3d9::testing::FailOperation("GetRenderTargetData", 1, code);
        EXPECT_EQ(h.Process(0), 0);
        EXPECT_TRUE(h.boxes.empty());
        EXPECT_EQ(h.Process(1), 1);
    }
}

TEST_F(FrameTest, UploadLockFailureShowsItsBoxThenRender) {
    ScriptedHost& h = MakeHost(24, 12, 2);
    h.saving = 0;
    d3d9::testing::FailOperation("LockRect", 1, D3DERR_INVALIDCALL);
    EXPECT_EQ(h.Process(0), 0);
    ASSERT_EQ(h.boxes.size(), 2u);
    EXPECT_EQ(h.boxes[0].text, "LockRectに失敗");
    EXPECT_EQ(h.boxes[1].text, "Renderに失敗");
    EXPECT_EQ(h.Process(1), 1);
}

TEST_F(FrameTest, InitTextureFailureShowsTheCauseThenInitTextureThenRender) {
    ScriptedHost& h = MakeHost(24, 12, 2);
    h.saving = 0;
    d3d9::testing::FailOperation("D3DXCreateTexture", 3, E_OUTOFMEMORY);
    EXPECT_EQ(h.Process(0), 0);
    ASSERT_EQ(h.boxes.size(), 3u);
    EXPECT_EQ(h.boxes[0].text, "D3DXCreateTextureに失敗");
    EXPECT_EQ(h.boxes[1].text, "initTextureに失敗");
    EXPECT_EQ(h.boxes[2].text, "Renderに失敗");
    EXPECT_EQ(h.Process(1), 1);
}

TEST_F(FrameTest, ReadBackLockAndUnlockFailuresShowTheirBox) {
    const std::pair<const char*, const char*> cases[] = {{"LockRect", "LockRectに失敗"},
                                                         {"UnlockRect", "UnlockRectに失敗"}};
    for (auto [operation, text] : cases) {
        ScriptedHost& h = MakeHost(24, 12, 2);
        h.saving = 0;
        d3d9::testing::FailOperation(operation, 2, D3DERR_INVALIDCALL);  // 1 = upload, 2 = read-back
        EXPECT_EQ(h.Process(0), 0) << operation;
        ASSERT_EQ(h.boxes.size(), 1u) << operation;
        EXPECT_EQ(h.boxes[0].text, text);
        EXPECT_EQ(h.outputWidth(), 24);
        EXPECT_EQ(h.Process(1), 1);
    }
}

TEST_F(FrameTest, RenderAheadFailureShowsOnlyTheCauseAndKeepsFrameN) {
    ScriptedHost& h = MakeHost(24, 12, 3);
    h.sliders[host::kWidth] = 36;
    h.Update();
    d3d9::testing::FailOperation("LockRect", 3, D3DERR_INVALIDCALL);  // the upload of frame 1
    EXPECT_EQ(h.Process(0), 0);
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].text, "LockRectに失敗");
    EXPECT_EQ(h.outputWidth(), 24);  // the request keeps the source size
    EXPECT_EQ(h.Process(1), 1);
    EXPECT_EQ(h.outputWidth(), 36);
}

}  // namespace
}  // namespace qv::test
