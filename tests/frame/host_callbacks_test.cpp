// Init, update and window-message callbacks: slider ranges, presets, clamps, adapters.
#include "frame/frame_fixture.h"
#include "host/filter_table.h"
#include "host/resize_list.h"

#include <fstream>

namespace qv::test {
namespace {

TEST_F(FrameTest, InitTakesTheWidthAndHeightRangesFromTheHost) {
    host_ = std::make_unique<ScriptedHost>(16, 16, 1);
    host_->systemInfo.minWidth = 48;
    host_->systemInfo.maxWidth = 2000;
    host_->systemInfo.minHeight = 40;
    host_->systemInfo.maxHeight = 1000;
    EXPECT_EQ(host_->Init(), 1);
    const FilterDescriptor* d = host::GetFilterTable();
    EXPECT_EQ(d->sliderMinimums[host::kWidth], 48);
    EXPECT_EQ(d->sliderMaximums[host::kWidth], 2000);
    EXPECT_EQ(d->sliderMinimums[host::kHeight], 40);
    EXPECT_EQ(d->sliderMaximums[host::kHeight], 1000);
    EXPECT_EQ(host_->refreshCount, 1);
    EXPECT_NE(frame::Pipeline().startEvent, nullptr);
    EXPECT_NE(frame::Pipeline().doneEvent, nullptr);
}

TEST_F(FrameTest, AWidthAboveTheHostMaximumIsPulledBackAndBelowTheMinimumLeftAlone) {
    host_ = std::make_unique<ScriptedHost>(16, 16, 1);
    host_->systemInfo.maxWidth = 1000;
    host_->systemInfo.maxHeight = 600;
    host_->Init();
    host_->ClearRecords();
    EXPECT_EQ(host_->SetSlider(host::kWidth, 1200), 1);
    EXPECT_EQ(host_->sliders[host::kWidth], 1000);
    EXPECT_EQ(host_->refreshCount, 1);
    host_->ClearRecords();
    EXPECT_EQ(host_->SetSlider(host::kWidth, 8), 1);
    EXPECT_EQ(host_->sliders[host::kWidth], 8);
    EXPECT_EQ(host_->refreshCount, 0);
    EXPECT_EQ(host_->SetSlider(host::kHeight, 700), 1);
    EXPECT_EQ(host_->sliders[host::kHeight], 600);
}

TEST_F(FrameTest, TheSizeSliderSetsWidthAndHeightFromItsPreset) {
    // A host executable with a settings file beside it.
    const std::string dir = ::testing::TempDir();
    const std::string exe = dir + "/editor_with_presets";
    {
        std::ofstream ini(exe + ".ini");
        ini << "[System]\nResizeList = 1280x720,4000x3000\n";
    }
    win32::OverrideModuleFileName(exe);
    host::ReloadFilterTable();
    win32::OverrideModuleFileName("");
    ScriptedHost& h = MakeHost(16, 16, 1);
    ASSERT_EQ(host::Presets().count, 2);
    h.sliders[host::kSize] = 0;
    EXPECT_EQ(h.Update(host::kSizeSliderMoved), 1);
    EXPECT_EQ(h.sliders[host::kWidth], 1280);
    EXPECT_EQ(h.sliders[host::kHeight], 720);
    EXPECT_EQ(h.refreshCount, 1);
    h.sliders[host::kSize] = 1;  // larger than the host allows: clamped to 4096 x 2304
    EXPECT_EQ(h.Update(host::kSizeSliderMoved), 1);
    EXPECT_EQ(h.sliders[host::kWidth], 4000);
    EXPECT_EQ(h.sliders[host::kHeight], 2304);
    host::ReloadFilterTable();
}

TEST_F(FrameTest, TheSizeSliderWithoutPresetsLeavesWidthAndHeightAlone) {
    ScriptedHost& h = MakeHost(16, 16, 1);
    h.sliders[host::kSize] = host::Presets().count;  // names no preset
    h.sliders[host::kWidth] = 640;
    h.sliders[host::kHeight] = 360;
    EXPECT_EQ(h.Update(host::kSizeSliderMoved), 1);
    EXPECT_EQ(h.sliders[host::kWidth], 640);
    EXPECT_EQ(h.sliders[host::kHeight], 360);
}

TEST_F(FrameTest, ChoosingAnotherAdapterRebuildsTheDeviceThereAndRetitlesTheWindow) {
    ScriptedHost& h = MakeHost(20, 12, 2, false);
    h.saving = 0;
    ASSERT_EQ(h.Process(0), 1);
    const std::vector<YcPixel> optimised = h.Output();
    h.ClearRecords();
    EXPECT_EQ(h.SetSlider(host::kAdapter, d3d9::kReferenceAdapter), 1);
    ASSERT_FALSE(h.titles.empty());
    D3DADAPTER_IDENTIFIER9 id{};
    ASSERT_EQ(gpu::Context().d3d->GetAdapterIdentifier(d3d9::kReferenceAdapter, 0, &id), D3D_OK);
    EXPECT_EQ(h.titles.back(), std::string("Quillervantis[") + id.Description + "]");
    EXPECT_EQ(gpu::Context().adapter, static_cast<int32_t>(d3d9::kReferenceAdapter));
    ASSERT_EQ(h.Process(0), 1);
    EXPECT_TRUE(SamePixels(h.Output(), optimised));  // both rasterisers agree bit for bit
}

TEST_F(FrameTest, UpdateFailsWhenTheDeviceCannotBeCreated) {
    ScriptedHost& h = MakeHost(20, 12, 1);
    h.Exit();
    const int32_t width = h.sliders[host::kWidth];
    d3d9::testing::FailOperation("CreateDevice", 1, D3DERR_NOTAVAILABLE);
    h.ClearRecords();
    EXPECT_EQ(h.SetSlider(host::kWidth, width), 0);
    EXPECT_EQ(h.boxes.size(), 1u);
}

}  // namespace
}  // namespace qv::test
