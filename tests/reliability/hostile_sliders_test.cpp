// Slider values no well-behaved host would send, reaching the module directly: sizes of zero,
// below zero or beyond what the edit buffer holds, strengths and radii far outside their
// ranges, adapters that do not exist, preset indexes that name no preset. The module guards
// its own arithmetic: each frame ends with a sane result (0 after a box, or a processed or
// passed-through frame inside the host's range), and a good frame afterwards is exactly what
// it would have been without the bad ones. Run under ASan+UBSan, any stray write or undefined
// operation on the way fails the suite.
#include <climits>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "frame/frame_fixture.h"
#include "host/filter_table.h"
#include "host/resize_list.h"

namespace qv::test {
namespace {

constexpr int kSourceW = 20;
constexpr int kSourceH = 12;
// The edit buffer of the scripted host: 4096 pixels a row, 2304 rows.
constexpr int kEditRowLength = 4096;
constexpr int kEditRows = 2304;

bool InHostRange(const std::vector<YcPixel>& frame) {
    for (const YcPixel& p : frame) {
        if (p.y < 0 || p.y > 4096 || p.cb < -2048 || p.cb > 2048 || p.cr < -2048 || p.cr > 2048) return false;
    }
    return true;
}

bool ShowedBox(const ScriptedHost& h, const std::string& text) {
    for (const ShownBox& b : h.boxes) {
        if (b.text == text && b.caption == "warning") return true;
    }
    return false;
}

class HostileSliders : public FrameTest {
protected:
    // The host with every strength at its default (each strength's passes in the chain) and the
    // target a little larger than the source.
    ScriptedHost& Host() {
        ScriptedHost& h = MakeHost(kSourceW, kSourceH, 3, false);
        h.saving = 0;
        h.sliders[host::kWidth] = 28;
        h.sliders[host::kHeight] = 18;
        h.Update();
        return h;
    }

    // Frame 2 with good sliders, from a clean start: what every recovery must give again.
    std::vector<YcPixel> GoodFrame() {
        ScriptedHost& h = Host();
        EXPECT_EQ(h.Process(2), 1);
        return h.Output();
    }

    // After a bad frame: the default sliders back, told to the module, and frame 2 processed.
    void ExpectRecovery(ScriptedHost& h, const std::vector<YcPixel>& good, const std::string& what, int32_t adapter = 0) {
        for (int i = 0; i < host::kSliderCount; ++i) h.sliders[i] = host::GetFilterTable()->sliderDefaults[i];
        h.sliders[host::kAdapter] = adapter;
        h.sliders[host::kWidth] = 28;
        h.sliders[host::kHeight] = 18;
        h.sliders[host::kSize] = 0;
        h.Update();
        h.filterActive = 1;
        h.WindowMessage(host::kMessageFilterSwitched);  // a disabled GPU path comes back on
        ASSERT_EQ(h.Process(2), 1) << what;
        EXPECT_EQ(h.outputWidth(), 28) << what;
        EXPECT_EQ(h.outputHeight(), 18) << what;
        EXPECT_TRUE(SamePixels(h.Output(), good)) << what << ": the frame after recovery differs";
    }
};

TEST_F(HostileSliders, TargetSizesOutsideWhatTheModuleCanBuildAreRefusedWithABox) {
    const std::vector<YcPixel> good = GoodFrame();
    struct Case {
        int32_t width, height;
    };
    // Zero, negative, beyond any texture, wider than an edit-buffer row, taller than the edit
    // buffer: none may divide by zero or write outside the host's buffer.
    const Case cases[] = {
        {0, 18},           {28, 0},          {0, 0},           {-1, 18},           {28, -7},
        {INT32_MIN, 18},   {28, INT32_MIN},  {INT32_MAX, 18},  {28, INT32_MAX},    {16385, 18},
        {28, 16385},       {kEditRowLength + 1, 18},           {28, kEditRows + 1}, {8, 9000},
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height);
        for (const bool told : {false, true}) {
            ScriptedHost& h = Host();
            h.sliders[host::kWidth] = c.width;
            h.sliders[host::kHeight] = c.height;
            // A host may skip the update callback, or send it (which pulls values above the
            // host's maximum back into range).
            if (told) h.Update();
            h.ClearRecords();
            const int32_t result = h.Process(1);
            const bool inRange = h.sliders[host::kWidth] >= 1 && h.sliders[host::kHeight] >= 1 &&
                                 h.sliders[host::kWidth] <= kEditRowLength && h.sliders[host::kHeight] <= kEditRows;
            if (inRange) {
                // The update pulled the size back to the host's largest: a real frame.
                EXPECT_EQ(result, 1) << what;
                EXPECT_EQ(h.outputWidth(), h.sliders[host::kWidth]) << what;
                EXPECT_TRUE(InHostRange(h.Output())) << what;
            } else {
                EXPECT_EQ(result, 0) << what << (told ? " (told)" : "");
                EXPECT_TRUE(ShowedBox(h, "initTextureに失敗")) << what;
                EXPECT_TRUE(ShowedBox(h, "Renderに失敗")) << what;
                // A refused frame keeps the source size.
                EXPECT_EQ(h.outputWidth(), kSourceW) << what;
                EXPECT_EQ(h.outputHeight(), kSourceH) << what;
            }
            ExpectRecovery(h, good, what);
        }
    }
}

TEST_F(HostileSliders, TheSmallestTargetsAreProcessed) {
    struct Case {
        int32_t width, height;
    };
    for (const Case c : {Case{1, 1}, Case{1, 40}, Case{40, 1}, Case{2, 3}, Case{kSourceW * 8, 2}}) {
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height);
        std::vector<YcPixel> outputs[2];
        for (int adapter = 0; adapter < 2; ++adapter) {
            ScriptedHost& h = Host();
            h.sliders[host::kAdapter] = adapter;
            h.sliders[host::kWidth] = c.width;
            h.sliders[host::kHeight] = c.height;
            h.Update();
            ASSERT_EQ(h.Process(1), 1) << what;
            EXPECT_EQ(h.outputWidth(), c.width) << what;
            EXPECT_EQ(h.outputHeight(), c.height) << what;
            outputs[adapter] = h.Output();
            EXPECT_TRUE(InHostRange(outputs[adapter])) << what;
        }
        EXPECT_TRUE(SamePixels(outputs[0], outputs[1])) << what << ": the adapters disagree";
    }
}

TEST_F(HostileSliders, StrengthsAndRadiusFarOutsideTheirRangesGiveASaneFrameOnBothAdapters) {
    const std::vector<YcPixel> good = GoodFrame();
    const int sliders[] = {host::kUsm, host::kRadius, host::kMax, host::kMin,
                           host::kDenoise, host::kRecovery, host::kSharp};
    const int32_t values[] = {0, -1, -1000, INT32_MIN, 301, 1000, 100000, INT32_MAX};
    std::map<std::string, std::vector<YcPixel>> outputs[2];
    for (int adapter = 0; adapter < 2; ++adapter) {
        ScriptedHost& h = Host();
        for (const int slider : sliders) {
            for (const int32_t value : values) {
                const std::string what = std::string(host::kSliderSpecs[slider].name) + " " + std::to_string(value) +
                                         " on adapter " + std::to_string(adapter);
                h.sliders[host::kAdapter] = adapter;
                h.sliders[slider] = value;
                h.Update();
                h.ClearRecords();
                ASSERT_EQ(h.Process(1), 1) << what;
                EXPECT_TRUE(h.boxes.empty()) << what;
                EXPECT_EQ(h.outputWidth(), 28) << what;
                outputs[adapter][what.substr(0, what.find(" on "))] = h.Output();
                EXPECT_TRUE(InHostRange(h.Output())) << what;
                ExpectRecovery(h, good, what, adapter);
            }
        }
    }
    // Whatever a wild strength makes of the frame, both rasterisers make the same.
    for (const auto& [what, frame] : outputs[0]) {
        EXPECT_TRUE(SamePixels(frame, outputs[1][what])) << what << ": the adapters disagree";
    }
}

TEST_F(HostileSliders, AnAdapterThatDoesNotExistDisablesTheGpuPathUntilSwitchedBackOn) {
    const std::vector<YcPixel> good = GoodFrame();
    for (const int32_t adapter : {7, -1, INT32_MIN, INT32_MAX}) {
        const std::string what = "adapter " + std::to_string(adapter);
        for (const bool told : {false, true}) {
            ScriptedHost& h = Host();
            if (told) {
                // The update finds the device on the old adapter and rebuilds it on the new one.
                h.sliders[host::kAdapter] = adapter;
                EXPECT_EQ(h.Update(), 0) << what;
            } else {
                // A host that never says so: the next frame builds the device from nothing.
                gpu::ReleaseAll();
                h.sliders[host::kAdapter] = adapter;
            }
            h.ClearRecords();
            const int32_t result = h.Process(1);
            // Refused at creation (Cancel on the Retry box) and passed through unchanged,
            // either in this call (0) or, already disabled, as a pass-through frame (1).
            EXPECT_EQ(gpu::Context().disabled.load(), 1) << what;
            EXPECT_EQ(result, told ? 1 : 0) << what;
            EXPECT_EQ(h.outputWidth(), kSourceW) << what;
            EXPECT_TRUE(SamePixels(h.Output(), h.Source(1))) << what;
            ExpectRecovery(h, good, what);
        }
    }
}

TEST_F(HostileSliders, SizeIndexesThatNameNoUsablePresetLeaveNothingBroken) {
    const std::string exe = ::testing::TempDir() + "/editor_with_odd_presets";
    {
        // A zero preset, an absurd one, and one the host's maximum pulls back.
        std::ofstream ini(exe + ".ini");
        ini << "[system]\nresizelist=0x0,99999999999x5,5000x3\n";
    }
    win32::OverrideModuleFileName(exe);
    host::ReloadFilterTable();
    win32::OverrideModuleFileName("");
    ASSERT_EQ(host::Presets().count, 3);
    const std::vector<YcPixel> good = GoodFrame();
    struct Case {
        int32_t index;
        bool refused;  // the preset's size cannot be built
    };
    for (const Case c : {Case{0, true}, Case{1, false}, Case{2, false}, Case{3, false}, Case{-1, false},
                         Case{INT32_MIN, false}, Case{INT32_MAX, false}}) {
        const std::string what = "size index " + std::to_string(c.index);
        ScriptedHost& h = Host();
        h.sliders[host::kSize] = c.index;
        EXPECT_EQ(h.Update(host::kSizeSliderMoved), 1) << what;
        h.ClearRecords();
        const int32_t result = h.Process(1);
        EXPECT_EQ(result, c.refused ? 0 : 1) << what;
        if (c.refused) {
            EXPECT_TRUE(ShowedBox(h, "initTextureに失敗")) << what;
        } else {
            EXPECT_EQ(h.outputWidth(), h.sliders[host::kWidth]) << what;
            EXPECT_EQ(h.outputHeight(), h.sliders[host::kHeight]) << what;
            EXPECT_TRUE(InHostRange(h.Output())) << what;
        }
        ExpectRecovery(h, good, what);
    }
    host::ReloadFilterTable();
}

}  // namespace
}  // namespace qv::test
