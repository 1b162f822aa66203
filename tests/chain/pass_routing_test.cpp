// Which passes run for a frame, where each writes and which quad it draws, decided without
// rendering.
#include "passes/pass_routing.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace qv::passes {
namespace {

struct Strengths {
    float usm = 0, denoise = 0, recovery = 0, sharp = 0;
};

effect::ParamsBlock ParamsWith(const Strengths& s) {
    effect::ParamsBlock p{};
    p.usm = s.usm;
    p.denoise = s.denoise;
    p.recovery = s.recovery;
    p.sharp = s.sharp;
    p.min = 1.0f;
    return p;
}

const char* TargetName(RenderTarget t) {
    static const char* const kNames[] = {"Tex2", "Tex3", "Tex4", "Tex5",  "Tex6",
                                         "Tex7", "Tex8", "Tex9", "Tex10", "packed"};
    return kNames[t - kTargetTex2];
}

// "0>Tex2 1>Tex5 ... 13>packed"
std::string Route(const PassPlan& plan) {
    std::ostringstream out;
    for (const PassStep& step : plan) {
        if (out.tellp() > 0) out << ' ';
        out << step.pass << '>' << TargetName(step.target);
    }
    return out.str();
}

std::string RouteFor(int srcW, int srcH, int dstW, int dstH, const Strengths& s) {
    return Route(PlanPasses(ParamsWith(s), gpu::WorkingSizes::For(srcW, srcH, dstW, dstH)));
}

const Strengths kOff{};
const Strengths kDefaults{1.0f, 0.75f, 0.75f, 0.25f};

TEST(PassRouting, EqualSizesAndNoStrengthUnpackStraightIntoThePackInput) {
    EXPECT_EQ(RouteFor(1280, 720, 1280, 720, kOff), "0>Tex10 13>packed");
}

TEST(PassRouting, EqualSizesWithTheDefaultSlidersRunTheWholeDetailStage) {
    EXPECT_EQ(RouteFor(1280, 720, 1280, 720, kDefaults),
              "0>Tex2 1>Tex5 4>Tex6 5>Tex7 7>Tex6 8>Tex5 9>Tex6 10>Tex10 13>packed");
}

TEST(PassRouting, UpscaleAndDownscaleStagesFollowTheSizes) {
    EXPECT_EQ(RouteFor(1280, 720, 1920, 1080, kOff), "0>Tex3 2>Tex4 3>Tex10 13>packed");
    EXPECT_EQ(RouteFor(1920, 1080, 1280, 720, kOff), "0>Tex8 11>Tex9 12>Tex10 13>packed");
    // Wider and lower: the horizontal upscale feeds the vertical downscale directly.
    EXPECT_EQ(RouteFor(1280, 720, 1920, 540, kOff), "0>Tex3 2>Tex9 12>Tex10 13>packed");
    // Narrower and higher: the vertical upscale feeds the horizontal downscale, which then
    // writes the pack input because no vertical reduction follows.
    EXPECT_EQ(RouteFor(1920, 540, 1280, 720, kOff), "0>Tex4 3>Tex8 11>Tex10 13>packed");
    EXPECT_EQ(RouteFor(1280, 720, 1280, 1080, kOff), "0>Tex4 3>Tex10 13>packed");
    EXPECT_EQ(RouteFor(1280, 720, 1280, 540, kOff), "0>Tex9 12>Tex10 13>packed");
}

TEST(PassRouting, RecoveryRunsAloneWithoutUnsharpMaskOrSharpening) {
    EXPECT_EQ(RouteFor(640, 480, 640, 480, {0, 0.75f, 0.75f, 0}), "0>Tex2 1>Tex5 6>Tex10 13>packed");
    EXPECT_EQ(RouteFor(640, 480, 640, 480, {0, 0.75f, 0, 0}), "0>Tex2 1>Tex10 13>packed");
    // Recovery gives back what the denoise removed: without denoise there is nothing to recover.
    EXPECT_EQ(RouteFor(640, 480, 640, 480, {0, 0, 0.75f, 0}), "0>Tex10 13>packed");
}

TEST(PassRouting, UnsharpMaskReplacesRecoveryOnlyPass) {
    EXPECT_EQ(RouteFor(640, 480, 640, 480, {1.0f, 0.75f, 0.75f, 0}), "0>Tex2 1>Tex5 4>Tex6 5>Tex10 13>packed");
    EXPECT_EQ(RouteFor(640, 480, 640, 480, {0, 0, 0, 0.25f}),
              "0>Tex5 4>Tex6 5>Tex7 7>Tex6 8>Tex5 9>Tex6 10>Tex10 13>packed");
}

TEST(PassRouting, DetailStageHandsOnToTheDownscaleInput) {
    EXPECT_EQ(RouteFor(1920, 1080, 1280, 720, {1.0f, 0, 0, 0}), "0>Tex5 4>Tex6 5>Tex8 11>Tex9 12>Tex10 13>packed");
    EXPECT_EQ(RouteFor(1920, 1080, 1920, 720, kDefaults),
              "0>Tex2 1>Tex5 4>Tex6 5>Tex7 7>Tex6 8>Tex5 9>Tex6 10>Tex9 12>Tex10 13>packed");
    EXPECT_EQ(RouteFor(1280, 720, 1920, 1080, {0, 0.5f, 0, 0}), "0>Tex2 1>Tex3 2>Tex4 3>Tex10 13>packed");
}

TEST(PassRouting, StrengthsCountOnlyAboveZero) {
    EXPECT_EQ(RouteFor(64, 64, 64, 64, {-1.0f, -0.5f, 1.0f, -0.25f}), "0>Tex10 13>packed");
    EXPECT_EQ(RouteFor(64, 64, 64, 64, {1e-7f, 0, 0, 0}), "0>Tex5 4>Tex6 5>Tex10 13>packed");
}

TEST(PassRouting, EveryPassDrawsTheQuadOfItsTarget) {
    const gpu::WorkingSizes sizes = gpu::WorkingSizes::For(1280, 720, 1920, 540);
    const PassPlan plan = PlanPasses(ParamsWith(kOff), sizes);
    ASSERT_EQ(plan.count, 4);
    const int expectedFirstVertex[] = {0, 4, 16, 20};
    const gpu::QuadSize expectedSize[] = {{1280, 720}, {1920, 720}, {1920, 540}, {1440, 540}};
    for (int i = 0; i < plan.count; ++i) {
        const PassStep& step = plan.steps[i];
        EXPECT_EQ(gpu::FirstVertex(step.quad), expectedFirstVertex[i]) << "pass " << step.pass;
        const gpu::QuadSize size = gpu::SizeOf(step.quad, sizes);
        EXPECT_EQ(size.width, expectedSize[i].width) << "pass " << step.pass;
        EXPECT_EQ(size.height, expectedSize[i].height) << "pass " << step.pass;
    }

    // With every stage on, each pass uses the quad of its own row of the pass table.
    const PassPlan all = PlanPasses(ParamsWith(kDefaults), gpu::WorkingSizes::For(1000, 500, 1200, 600));
    std::vector<int> passes;
    for (const PassStep& step : all) {
        passes.push_back(step.pass);
        const int expectedQuad = step.pass <= 1 ? 0 : step.pass == 2 ? 1 : step.pass <= 10 ? 2 : step.pass - 8;
        EXPECT_EQ(step.quad, expectedQuad) << "pass " << step.pass;
    }
    EXPECT_EQ(passes, (std::vector<int>{0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 13}));
}

TEST(PassRouting, NoPassReadsTheTextureItWrites) {
    // Inputs per pass, from the effect's pass table (slots 1..10; -1 is the weight table, never a target).
    const std::vector<std::vector<int>> reads = {{1},    {2},    {3, -1},    {4, -1},    {5},       {5, 6}, {5},
                                                 {7},    {6},    {5, 7, -1}, {5, 6, -1}, {8, -1},   {9, -1}, {10}};
    for (const Strengths& s : {kOff, kDefaults, Strengths{1, 0, 0, 0}, Strengths{0, 1, 1, 0}}) {
        for (const auto& sizes : {gpu::WorkingSizes::For(100, 100, 100, 100), gpu::WorkingSizes::For(100, 50, 40, 80),
                                  gpu::WorkingSizes::For(40, 80, 100, 50)}) {
            for (const PassStep& step : PlanPasses(ParamsWith(s), sizes)) {
                for (const int slot : reads[step.pass]) EXPECT_NE(slot, static_cast<int>(step.target)) << step.pass;
            }
        }
    }
}

}  // namespace
}  // namespace qv::passes
