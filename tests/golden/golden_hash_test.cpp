// Golden hashes of whole-chain outputs: fixed frames through the module (a scripted host saving
// three frames, so the render-ahead path runs), for several slider sets and source/target sizes,
// each frame's host pixels hashed with XXH64. The pinned values were taken once from outputs
// on which the optimised rasteriser and the reference rasteriser agreed bit for bit; any change
// of a result by a single step changes a hash. The optimised rasteriser must give the pinned
// hash on all cores, on one worker and with its row bands in shuffled order; the reference
// rasteriser is held to the same hashes (the frames are small enough for it).
#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "frame/render_pipeline.h"
#include "gpu/gpu_context.h"
#include "host/sliders.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"
#include "support/scripted_host.h"

namespace qv::test {
namespace {

constexpr int kFrames = 3;
constexpr int kOptimisedAdapter = 0;
constexpr int kReferenceAdapter = 1;

enum class Content { kSynthetic, kSampleCrop };

// Strength sliders: usm, radius, max, min, denoise, recovery, sharp.
struct Strengths {
    int32_t usm, radius, max, min, denoise, recovery, sharp;
};
constexpr Strengths kDefaults{100, 15, 0, 100, 75, 75, 25};
constexpr Strengths kStrong{300, 30, 300, 0, 100, 100, 100};
constexpr Strengths kRecoveryOnly{0, 15, 0, 100, 60, 90, 0};
constexpr Strengths kAllOff{0, 15, 0, 100, 0, 0, 0};

struct GoldenCase {
    const char* name;
    Content content;
    int srcW, srcH, dstW, dstH;
    Strengths strengths;
    uint64_t hash;  // XXH64 (seed 0) of the three output frames' host pixels, back to back
};

// The 640x360 sample clip, frame `frame`, cropped at (left, top) to w x h, in host pixels:
// luma 16..235 to 0..4096 and chroma 16..240 to -2048..2048 in integers, chroma taken from the
// 4:2:0 sample covering the pixel. Empty when the clip cannot be read.
std::vector<YcPixel> SampleCrop(int frame, int left, int top, int w, int h) {
    constexpr int kW = 640, kH = 360;
    constexpr size_t kLuma = static_cast<size_t>(kW) * kH, kChroma = kLuma / 4;
    std::ifstream in(std::string(QV_SAMPLES_DIR) + "/ladybird_640x360.y4m", std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line.find("W640 H360") == std::string::npos) return {};
    std::vector<uint8_t> planes(kLuma + 2 * kChroma);
    for (int f = 0; f <= frame; ++f) {
        if (!std::getline(in, line) || line.rfind("FRAME", 0) != 0) return {};
        if (!in.read(reinterpret_cast<char*>(planes.data()), static_cast<std::streamsize>(planes.size()))) return {};
    }
    std::vector<YcPixel> out(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int sx = left + x, sy = top + y;
            const size_t c = static_cast<size_t>(sy / 2) * (kW / 2) + static_cast<size_t>(sx / 2);
            const int luma = planes[static_cast<size_t>(sy) * kW + sx];
            const int cb = planes[kLuma + c], cr = planes[kLuma + kChroma + c];
            YcPixel& p = out[static_cast<size_t>(y) * w + x];
            p.y = static_cast<int16_t>(std::clamp((luma - 16) * 4096 / 219, 0, 4096));
            p.cb = static_cast<int16_t>(std::clamp((cb - 128) * 4096 / 224, -2048, 2048));
            p.cr = static_cast<int16_t>(std::clamp((cr - 128) * 4096 / 224, -2048, 2048));
        }
    return out;
}

// Little-endian bytes of host pixels, so a hash means the same on any machine.
void AppendBytes(const std::vector<YcPixel>& pixels, std::vector<uint8_t>& bytes) {
    for (const YcPixel& p : pixels)
        for (int16_t v : {p.y, p.cb, p.cr}) {
            const auto u = static_cast<uint16_t>(v);
            bytes.push_back(static_cast<uint8_t>(u & 0xFF));
            bytes.push_back(static_cast<uint8_t>(u >> 8));
        }
}

class GoldenHashTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d9::testing::ClearFaults();
        gpu::Context().disabled.store(0);
        frame::ForgetPrefetchedFrame();
    }
    void TearDown() override { d3d9::testing::SetRowScheduling(0, false); }

    // Runs the case's three frames while saving on `adapter` and hashes the outputs. Fails the
    // test (and returns 0) when a frame is refused, a box is shown or the size is wrong.
    uint64_t RunCase(const GoldenCase& c, int adapter) {
        ScriptedHost host(c.srcW, c.srcH, kFrames);
        if (c.content == Content::kSampleCrop) {
            for (int f = 0; f < kFrames; ++f) {
                std::vector<YcPixel> crop = SampleCrop(f, 200 + 7 * f, 110 + 3 * f, c.srcW, c.srcH);
                if (crop.empty()) {
                    ADD_FAILURE() << "the sample clip cannot be read";
                    return 0;
                }
                host.MutableSource(f) = std::move(crop);
            }
        }
        host.Init();
        host.sliders[host::kWidth] = c.dstW;
        host.sliders[host::kHeight] = c.dstH;
        host.sliders[host::kUsm] = c.strengths.usm;
        host.sliders[host::kRadius] = c.strengths.radius;
        host.sliders[host::kMax] = c.strengths.max;
        host.sliders[host::kMin] = c.strengths.min;
        host.sliders[host::kDenoise] = c.strengths.denoise;
        host.sliders[host::kRecovery] = c.strengths.recovery;
        host.sliders[host::kSharp] = c.strengths.sharp;
        host.sliders[host::kAdapter] = adapter;
        host.Update();
        host.saving.store(1);
        std::vector<uint8_t> bytes;
        for (int f = 0; f < kFrames; ++f) {
            if (host.Process(f) != 1) {
                ADD_FAILURE() << c.name << ": frame " << f << " refused";
                return 0;
            }
            if (host.outputWidth() != c.dstW || host.outputHeight() != c.dstH) {
                ADD_FAILURE() << c.name << ": frame " << f << " came back " << host.outputWidth() << "x"
                              << host.outputHeight();
                return 0;
            }
            AppendBytes(host.Output(), bytes);
        }
        for (const ShownBox& box : host.boxes) ADD_FAILURE() << c.name << ": box shown: " << box.text;
        return XXH64(bytes.data(), bytes.size(), 0);
    }
};

// Sizes equal, up, down and mixed (one direction up, the other down), odd sizes and integer
// ratios (whose table reads blend linearly) among them.
const GoldenCase kCases[] = {
    {"synthetic_equal_defaults", Content::kSynthetic, 120, 72, 120, 72, kDefaults, 0x592777bf117843d9ull},
    {"synthetic_equal_all_off", Content::kSynthetic, 77, 33, 77, 33, kAllOff, 0xcee43c9bbfa18f61ull},
    {"synthetic_up_defaults", Content::kSynthetic, 96, 54, 161, 97, kDefaults, 0x8592908aa5973277ull},
    {"synthetic_down_defaults", Content::kSynthetic, 200, 120, 117, 65, kDefaults, 0xc15240e1e2da2784ull},
    {"synthetic_mixed_strong", Content::kSynthetic, 120, 90, 190, 61, kStrong, 0xb19e229abf5dc1d3ull},
    {"sample_equal_defaults", Content::kSampleCrop, 160, 96, 160, 96, kDefaults, 0x3b9a704675a63dc0ull},
    {"sample_up_double_defaults", Content::kSampleCrop, 128, 72, 256, 144, kDefaults, 0x642fce6429ee043bull},
    {"sample_down_integer_strong", Content::kSampleCrop, 240, 136, 80, 68, kStrong, 0x0b82eb44f61c5640ull},
    {"sample_mixed_recovery_only", Content::kSampleCrop, 150, 100, 100, 151, kRecoveryOnly, 0x8046e3df0e78ed6aull},
};

// Small frames at the sizes of the pass equality tests.
const GoldenCase kSmallCases[] = {
    {"synthetic_small_up_defaults", Content::kSynthetic, 64, 40, 96, 60, kDefaults, 0x178311411e6f2bb6ull},
    {"sample_small_up_strong", Content::kSampleCrop, 64, 40, 96, 60, kStrong, 0xb503995e25a92755ull},
    {"sample_small_down_defaults", Content::kSampleCrop, 64, 40, 41, 30, kDefaults, 0xff64cb23f1e4dd56ull},
};

TEST_F(GoldenHashTest, OptimisedOnAllCoresGivesThePinnedHashes) {
    for (const GoldenCase& c : kCases) EXPECT_EQ(RunCase(c, kOptimisedAdapter), c.hash) << c.name;
    for (const GoldenCase& c : kSmallCases) EXPECT_EQ(RunCase(c, kOptimisedAdapter), c.hash) << c.name;
}

TEST_F(GoldenHashTest, OptimisedOnOneWorkerAndInShuffledBandsGivesThePinnedHashes) {
    d3d9::testing::SetRowScheduling(1, false);
    for (const GoldenCase& c : kCases) EXPECT_EQ(RunCase(c, kOptimisedAdapter), c.hash) << c.name << " (1 worker)";
    d3d9::testing::SetRowScheduling(0, true);
    for (const GoldenCase& c : kCases) EXPECT_EQ(RunCase(c, kOptimisedAdapter), c.hash) << c.name << " (shuffled)";
}

TEST_F(GoldenHashTest, ReferenceGivesThePinnedHashes) {
    for (const GoldenCase& c : kCases) EXPECT_EQ(RunCase(c, kReferenceAdapter), c.hash) << c.name;
    for (const GoldenCase& c : kSmallCases) EXPECT_EQ(RunCase(c, kReferenceAdapter), c.hash) << c.name;
}

}  // namespace
}  // namespace qv::test
