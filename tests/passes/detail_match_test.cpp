// The detail stage's optimised programs against their references, bit for bit, on every SIMD
// target and under every scheduler: each pass on random inputs over many sizes and slider sets
// (the warps also on gentle, steep, evenly sloped and level-between-steep maps, at the edges of
// the strength ranges the kernels pick their reach from and beyond the slider's range), and the
// whole stage p4, p5, p7, p8, p9, p10 (and p6) fed forward on random and real
// images, each pass reading what the one before it stored.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <string>
#include <vector>

#include "gpu/weight_table.h"
#include "passes/detail_setup.h"
#include "passes/program_names.h"
#include "support/pass_harness.h"

namespace qv::test {
namespace {

using detail::DetailSetup;
using detail::DetailSliders;
using detail::ForEachScheduler;

struct Size {
    int width;
    int height;
};

std::vector<Size> PassSizes() {
    std::vector<Size> sizes;
    for (int w = 1; w <= 40; ++w)
        for (int h : {1, 2, 3, 6}) sizes.push_back({w, h});
    for (Size s : {Size{31, 17}, Size{64, 33}, Size{67, 45}, Size{5, 70}, Size{1920, 3}}) sizes.push_back(s);
    return sizes;
}

// One pass to compare: its setup (pointing into `images`) and the reference's result.
struct Case {
    std::string program;
    std::string what;
    std::vector<Image> images;
    PassSetup setup;
    Image expected;
};

// Binds each input slot to its image once the case's images have their final addresses.
void Bind(Case& c, const std::vector<int>& slots) {
    for (size_t i = 0; i < slots.size(); ++i) c.setup.inputs[static_cast<size_t>(slots[i])] = &c.images[i];
    c.expected = RunReference(c.program, c.setup);
}

void CompareOnEveryTarget(std::vector<Case>& cases) {
    ForEachSimdTarget([&](const std::string& target) {
        for (Case& c : cases) {
            ForEachScheduler([&](gfx::RowScheduler& scheduler, const std::string& name) {
                const Image opt = RunOptimised(c.program, c.setup, scheduler);
                std::string diff;
                ASSERT_TRUE(opt.SameAs(c.expected, &diff))
                    << c.program << " " << c.what << " on " << target << ", " << name << ": " << diff;
                ASSERT_TRUE(opt.GuardsIntact()) << c.program << " " << c.what << " on " << target << ", " << name;
            });
            if (::testing::Test::HasFatalFailure()) return;
        }
    });
}

std::string Describe(Size s, const std::string& more) {
    return std::to_string(s.width) + "x" + std::to_string(s.height) + " " + more;
}

TEST(DetailMatch, UnsharpMaskAndRecoveryPassesMatchOnRandomInputs) {
    std::vector<Case> cases;
    uint32_t seed = 100;
    for (Size size : PassSizes()) {
        for (const auto& [sliders, name] : {std::pair{detail::DefaultSliders(), "default sliders"},
                                            std::pair{detail::StrongSliders(), "strong sliders"}}) {
            const Image frame = Image::Random(size.width, size.height, ++seed);
            const Image other = Image::Random(size.width, size.height, ++seed);
            for (const char* program : {passes::kUsmBlurProgram, passes::kUsmLimitProgram, passes::kRecoveryProgram}) {
                Case c{program, Describe(size, name), {frame, other}, DetailSetup(frame, sliders), Image()};
                Bind(c, {5, 6});
                cases.push_back(std::move(c));
            }
        }
    }
    CompareOnEveryTarget(cases);
}

TEST(DetailMatch, EdgeMaskBlursMatchOnRandomInputs) {
    std::vector<Case> cases;
    uint32_t seed = 200;
    for (Size size : PassSizes()) {
        const Image input = Image::Random(size.width, size.height, ++seed);
        for (const auto& [program, slot] : {std::pair{passes::kMaskBlurHProgram, 7}, std::pair{passes::kMaskBlurVProgram, 6}}) {
            Case c{program, Describe(size, ""), {input}, DetailSetup(input, detail::DefaultSliders()), Image()};
            Bind(c, {slot});
            cases.push_back(std::move(c));
        }
    }
    CompareOnEveryTarget(cases);
}

// Warp maps: steep (random over the whole range, shifts at the limit and changing sign from pixel
// to pixel), gentle (small random slopes: tiny shifts of either sign), an even slope (the same
// shift everywhere, so the weight table is read linearly) and level between steep (a flat
// level on odd columns and odd rows, random elsewhere: no shift at the pixels between level
// texels beside steep shifts at their neighbours, so the table's far end is read by point).
Image WarpMap(int kind, Size size, uint32_t seed) {
    if (kind == 0) return Image::Random(size.width, size.height, seed);
    if (kind == 1) return Image::Random(size.width, size.height, seed, 30000, 30300);
    Image m = Image::Flat(size.width, size.height, 0, 0, 0, 0);
    if (kind == 2) {
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) m.Texel(x, y)[0] = static_cast<uint16_t>(20000 + 97 * (x + y));
        return m;
    }
    const Image steep = Image::Random(size.width, size.height, seed);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            m.Texel(x, y)[0] = (x % 2 == 1 || y % 2 == 1) ? uint16_t{30000} : steep.Texel(x, y)[0];
    return m;
}

// Both warps of `image` along `map` with `setup`.
void AddWarpCases(std::vector<Case>& cases, const std::string& what, const Image& map, const Image& image,
                  const PassSetup& setup) {
    Case h{passes::kWarpHProgram, what, {map, image}, setup, Image()};
    Bind(h, {5, 7});
    cases.push_back(std::move(h));
    Case v{passes::kWarpVProgram, what, {map, image}, setup, Image()};
    Bind(v, {5, 6});
    cases.push_back(std::move(v));
}

TEST(DetailMatch, WarpsMatchOnRandomImagesAndMaps) {
    struct Strength {
        float sharp;
        const char* name;
        bool edge;  // at an edge of the strength ranges the kernels pick their reach from
    };
    // The kernels pick their reach from |sharp|: 0, up to 0.5, up to 1, up to 2, and beyond
    // (texel by texel).
    const Strength strengths[] = {{0.25f, "sharp 0.25", false},
                                  {1.0f, "sharp 1", false},
                                  {0.0f, "sharp 0", true},
                                  {0.5f, "sharp 0.5", true},
                                  {0.51f, "sharp 0.51", true},
                                  {1.5f, "sharp 1.5", false},
                                  {2.0f, "sharp 2", true},
                                  {2.01f, "sharp 2.01", true},
                                  {6.0f, "sharp 6", false},
                                  {-0.5f, "sharp -0.5", true},
                                  {-2.0f, "sharp -2", true},
                                  {std::numeric_limits<float>::infinity(), "sharp infinity", false},
                                  {std::numeric_limits<float>::quiet_NaN(), "sharp NaN", false}};
    std::vector<Case> cases;
    uint32_t seed = 300;
    for (Size size : PassSizes()) {
        const Image image = Image::Random(size.width, size.height, ++seed);
        for (int kind = 0; kind < 4; ++kind) {
            const Image map = WarpMap(kind, size, ++seed);
            for (const Strength& s : strengths) {
                // Strengths other than the slider's default and top on a few sizes only.
                if (s.sharp != 0.25f && s.sharp != 1.0f && size.height != 3 && size.width < 31) continue;
                // The edges on the steep maps; the level-between-steep map where the table's far
                // end is read (a finite reach, sharp not 0).
                if (s.edge && kind != 0 && kind != 3) continue;
                if (kind == 3 && !(std::fabs(s.sharp) > 0.0f && std::fabs(s.sharp) <= 2.0f)) continue;
                PassSetup setup = DetailSetup(image, detail::StrongSliders());
                setup.params.sharp = s.sharp;
                AddWarpCases(cases, Describe(size, std::string(s.name) + " map " + std::to_string(kind)), map, image,
                             setup);
            }
        }
    }
    CompareOnEveryTarget(cases);
}

TEST(DetailMatch, WarpsMatchWithAWeightTableOtherThanTheFilters) {
    // The kernels compute the filter's own table instead of reading it; any other table is read.
    // Here the centre taps weigh three quarters of the filter's, which changes every shifted
    // pixel's blend, so computing the filter's entries instead would show.
    std::vector<float> table(static_cast<size_t>(gpu::kWeightTableEntries) * 4);
    gpu::FillWeightTable(table.data());
    for (size_t e = 0; e < table.size(); e += 4) table[e] *= 0.75f;
    ASSERT_FALSE(gpu::HoldsWeightTable(table.data(), gpu::kWeightTableEntries));
    std::vector<Case> cases;
    uint32_t seed = 900;
    for (Size size : {Size{1, 1}, Size{17, 3}, Size{40, 9}, Size{300, 6}}) {
        const Image image = Image::Random(size.width, size.height, ++seed);
        for (int kind : {0, 1, 3}) {
            const Image map = WarpMap(kind, size, ++seed);
            for (float sharp : {0.25f, 1.0f, 2.0f}) {
                PassSetup setup = DetailSetup(image, detail::StrongSliders());
                setup.params.sharp = sharp;
                setup.weightTable = table.data();
                AddWarpCases(cases, Describe(size, "sharp " + std::to_string(sharp) + " map " + std::to_string(kind)),
                             map, image, setup);
            }
        }
    }
    CompareOnEveryTarget(cases);
}

TEST(DetailMatch, ProgramsDrawOnlyTheirRectangle) {
    // Inputs and target 9x7; the drawn rectangle smaller, so the texels right of and below it
    // keep what the target held, and reads past the rectangle see the inputs' real texels.
    std::vector<Case> cases;
    const Image image = Image::Random(9, 7, 500);
    const Image other = Image::Random(9, 7, 501);
    for (Size drawn : {Size{5, 3}, Size{4, 4}, Size{1, 7}}) {
        const std::pair<const char*, std::vector<int>> programs[] = {
            {passes::kUsmBlurProgram, {5}},        {passes::kUsmLimitProgram, {5, 6}},
            {passes::kRecoveryProgram, {5}},       {passes::kMaskBlurHProgram, {7}},
            {passes::kMaskBlurVProgram, {6}},      {passes::kWarpHProgram, {5, 7}},
            {passes::kWarpVProgram, {5, 6}}};
        for (const auto& [program, slots] : programs) {
            Case c{program, Describe(drawn, "drawn in 9x7"), {image, other}, DetailSetup(image, detail::StrongSliders()),
                   Image()};
            c.setup.width = drawn.width;
            c.setup.height = drawn.height;
            c.setup.targetWidth = 9;
            c.setup.targetHeight = 7;
            Bind(c, slots);
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x) {
                    if (x >= drawn.width || y >= drawn.height) {
                        ASSERT_EQ(c.expected.Texel(x, y)[0], kSentinel) << program << " at " << x << ", " << y;
                    }
                }
            cases.push_back(std::move(c));
        }
    }
    CompareOnEveryTarget(cases);
}

// Every stored result of the stage for one input, in pass order.
struct StageResults {
    Image blurred;    // p4
    Image limited;    // p5
    Image rowBlur;    // p7
    Image map;        // p8
    Image warpedH;    // p9
    Image warped;     // p10
    Image recovered;  // p6, instead of the others
};

template <class Run>
StageResults RunStage(const Image& frame, const DetailSliders& sliders, Run&& run) {
    StageResults r;
    PassSetup s = DetailSetup(frame, sliders);
    s.inputs[5] = &frame;
    r.blurred = run(passes::kUsmBlurProgram, s);
    s.inputs[6] = &r.blurred;
    r.limited = run(passes::kUsmLimitProgram, s);
    s.inputs[7] = &r.limited;
    r.rowBlur = run(passes::kMaskBlurHProgram, s);
    s.inputs[6] = &r.rowBlur;
    r.map = run(passes::kMaskBlurVProgram, s);
    s.inputs[5] = &r.map;
    r.warpedH = run(passes::kWarpHProgram, s);
    s.inputs[6] = &r.warpedH;
    r.warped = run(passes::kWarpVProgram, s);
    s.inputs[5] = &frame;
    r.recovered = run(passes::kRecoveryProgram, s);
    return r;
}

void ExpectSameStage(const StageResults& opt, const StageResults& ref, const std::string& what) {
    const std::pair<const Image StageResults::*, const char*> stages[] = {
        {&StageResults::blurred, passes::kUsmBlurProgram},    {&StageResults::limited, passes::kUsmLimitProgram},
        {&StageResults::rowBlur, passes::kMaskBlurHProgram},  {&StageResults::map, passes::kMaskBlurVProgram},
        {&StageResults::warpedH, passes::kWarpHProgram},      {&StageResults::warped, passes::kWarpVProgram},
        {&StageResults::recovered, passes::kRecoveryProgram}};
    for (const auto& [member, program] : stages) {
        std::string diff;
        ASSERT_TRUE((opt.*member).SameAs(ref.*member, &diff)) << program << " " << what << ": " << diff;
        ASSERT_TRUE((opt.*member).GuardsIntact()) << program << " " << what;
    }
}

void CompareStage(const Image& frame, const DetailSliders& sliders, const std::string& what) {
    const StageResults ref =
        RunStage(frame, sliders, [](const char* program, const PassSetup& s) { return RunReference(program, s); });
    ForEachSimdTarget([&](const std::string& target) {
        ForEachScheduler([&](gfx::RowScheduler& scheduler, const std::string& name) {
            const StageResults opt = RunStage(frame, sliders, [&](const char* program, const PassSetup& s) {
                return RunOptimised(program, s, scheduler);
            });
            ExpectSameStage(opt, ref, what + " on " + target + ", " + name);
        });
    });
}

TEST(DetailMatch, WholeStageMatchesOnRandomAndRealImages) {
    const Size sizes[] = {{1, 1}, {2, 3}, {5, 7}, {31, 17}, {64, 33}, {33, 64}, {130, 9}, {1920, 4}};
    uint32_t seed = 400;
    for (Size size : sizes) {
        const Image random = Image::RandomFrame(size.width, size.height, ++seed, true);
        const Image real = Image::FromSample(size.width, size.height, 211, 97);
        for (const auto& [sliders, name] : {std::pair{detail::DefaultSliders(), "default sliders"},
                                            std::pair{detail::StrongSliders(), "strong sliders"}}) {
            CompareStage(random, sliders, Describe(size, std::string("random frame, ") + name));
            CompareStage(real, sliders, Describe(size, std::string("sample image, ") + name));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(DetailMatch, WholeStageMatchesOnALargerPartOfTheSample) {
    const Image real = Image::FromSample(320, 181, 160, 90);
    CompareStage(real, detail::DefaultSliders(), "320x181 sample image, default sliders");
    CompareStage(real, detail::StrongSliders(), "320x181 sample image, strong sliders");
}

}  // namespace
}  // namespace qv::test
