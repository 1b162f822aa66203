// The constant blocks the passes read: every worked value of the filter's constants.
#include "gpu/filter_constants.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <hwy/highway.h>

#include "gpu/spline36-inl.h"
#include "gpu/weight_table.h"
#include "host/sliders.h"

namespace qv::gpu {
namespace {

// `value` equals `printed` to the precision printed: within half a unit of its last digit.
::testing::AssertionResult RoundsTo(float value, const std::string& printed) {
    const size_t point = printed.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(printed.size() - point - 1);
    const double halfUnit = 0.5 * std::pow(10.0, -decimals);
    const double difference = std::fabs(static_cast<double>(value) - std::stod(printed));
    if (difference <= halfUnit * (1.0 + 1e-9)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << value << " is not " << printed << " to " << decimals << " decimals";
}

std::array<int32_t, host::kSliderCount> DefaultSliders() {
    std::array<int32_t, host::kSliderCount> v{};
    for (int i = 0; i < host::kSliderCount; ++i) v[i] = host::kSliderSpecs[i].defaultValue;
    return v;
}

TEST(ParamsBlock, DefaultSlidersGiveTheirStrengths) {
    const auto sliders = DefaultSliders();
    const effect::ParamsBlock p = ComputeParams(sliders.data(), WorkingSizes::For(1280, 720, 1280, 720));
    EXPECT_EQ(p.usm, 1.0f);
    EXPECT_EQ(p.max, 0.0f);
    EXPECT_EQ(p.min, 1.0f);
    EXPECT_EQ(p.denoise, 0.75f);
    EXPECT_EQ(p.recovery, 0.75f);
    EXPECT_EQ(p.sharp, 0.25f);
    EXPECT_TRUE(RoundsTo(p.H2, "0.00197531"));
    EXPECT_FLOAT_EQ(p.H2, 1.0f / (22.5f * 22.5f));
    EXPECT_EQ(p.radius, 3);
}

TEST(ParamsBlock, StrengthIsTheSliderTimesOneHundredthRoundedOnce) {
    // 0.01 is not a float: the product is formed in double and rounded once, so slider 1 gives
    // the float nearest 0.01, and 30 the float nearest 0.3 (not 30 x 0.01f).
    EXPECT_EQ(Percent(1), 0.01f);
    EXPECT_EQ(Percent(30), 0.3f);
    EXPECT_EQ(Percent(300), 3.0f);
    EXPECT_EQ(Percent(0), 0.0f);
    EXPECT_EQ(Percent(-50), -0.5f);
}

TEST(ParamsBlock, H2FollowsTheDenoiseStrength) {
    EXPECT_EQ(ComputeH2(Percent(0)), 0.0f);
    EXPECT_EQ(ComputeH2(Percent(100)), 0.000625f);
    EXPECT_FLOAT_EQ(ComputeH2(Percent(1)), 62500.0f);
    EXPECT_TRUE(RoundsTo(ComputeH2(Percent(75)), "0.00197531"));
    // Any strength whose 40 d^2 is 0 in float gives 0, not an infinity.
    EXPECT_EQ(ComputeH2(1e-30f), 0.0f);
}

TEST(ParamsBlock, TapCountsRoundTheRatiosUp) {
    const auto sliders = DefaultSliders();
    const effect::ParamsBlock up = ComputeParams(sliders.data(), WorkingSizes::For(1280, 720, 1920, 1080));
    EXPECT_EQ(up.htap, 4);
    EXPECT_EQ(up.htap2, 2);
    EXPECT_EQ(up.vtap, 4);
    EXPECT_EQ(up.vtap2, 2);
    const effect::ParamsBlock down = ComputeParams(sliders.data(), WorkingSizes::For(1920, 1080, 1280, 720));
    EXPECT_EQ(down.htap, 9);
    EXPECT_EQ(down.htap2, 3);
    EXPECT_EQ(down.vtap, 9);
    EXPECT_EQ(down.vtap2, 3);
    const effect::ParamsBlock same = ComputeParams(sliders.data(), WorkingSizes::For(1000, 600, 1000, 600));
    EXPECT_EQ(same.htap, 6);
    EXPECT_EQ(same.htap2, 2);
    EXPECT_EQ(same.vtap, 6);
    EXPECT_EQ(same.vtap2, 2);
    // Horizontal and vertical are independent: 1919 -> 640 is 17.99.. and 5.99.. taps.
    const effect::ParamsBlock mixed = ComputeParams(sliders.data(), WorkingSizes::For(1919, 100, 640, 100));
    EXPECT_EQ(mixed.htap, 18);
    EXPECT_EQ(mixed.htap2, 6);
    EXPECT_EQ(mixed.vtap, 6);
    EXPECT_EQ(mixed.vtap2, 2);
}

TEST(ParamsBlock, NoTargetSizeGivesNoTapsInsteadOfDividingByZero) {
    const auto sliders = DefaultSliders();
    const effect::ParamsBlock p = ComputeParams(sliders.data(), WorkingSizes{});
    EXPECT_EQ(p.htap, 0);
    EXPECT_EQ(p.vtap, 0);
    EXPECT_EQ(p.htap2, 0);
    EXPECT_EQ(p.vtap2, 0);
}

TEST(WeightBlock, FixedGaussianOfSigmaFour) {
    const std::array<float, 5> g = ComputeGwR4Table();
    EXPECT_TRUE(RoundsTo(g[0], "0.134658"));
    EXPECT_TRUE(RoundsTo(g[1], "0.130515"));
    EXPECT_TRUE(RoundsTo(g[2], "0.118836"));
    EXPECT_TRUE(RoundsTo(g[3], "0.101645"));
    EXPECT_TRUE(RoundsTo(g[4], "0.0816744"));
    EXPECT_NEAR(g[0] + 2.0f * (g[1] + g[2] + g[3] + g[4]), 1.0f, 1e-6f);
}

TEST(WeightBlock, RadiusGaussianCutsOffBeyondTheRadius) {
    const std::array<float, 4> r15 = ComputeGwR3(15);  // sigma 1.5, cut 2
    EXPECT_TRUE(RoundsTo(r15[0], "0.292082"));
    EXPECT_TRUE(RoundsTo(r15[1], "0.233881"));
    EXPECT_TRUE(RoundsTo(r15[2], "0.120078"));
    EXPECT_EQ(r15[3], 0.0f);

    const std::array<float, 4> r10 = ComputeGwR3(10);  // sigma 1, cut 1
    EXPECT_TRUE(RoundsTo(r10[0], "0.451863"));
    EXPECT_TRUE(RoundsTo(r10[1], "0.274069"));
    EXPECT_EQ(r10[2], 0.0f);
    EXPECT_EQ(r10[3], 0.0f);

    const std::array<float, 4> r30 = ComputeGwR3(30);  // sigma 3, cut 3
    EXPECT_TRUE(RoundsTo(r30[0], "0.175240"));
    EXPECT_TRUE(RoundsTo(r30[1], "0.165770"));
    EXPECT_TRUE(RoundsTo(r30[2], "0.140321"));
    EXPECT_TRUE(RoundsTo(r30[3], "0.106289"));

    // The cut moves at each multiple of ten: 11 already keeps the tap at distance 2.
    EXPECT_GT(ComputeGwR3(11)[2], 0.0f);
    EXPECT_EQ(ComputeGwR3(11)[3], 0.0f);
    EXPECT_GT(ComputeGwR3(21)[3], 0.0f);

    for (const int radius : {1, 7, 15, 23, 30}) {
        const std::array<float, 4> g = ComputeGwR3(radius);
        EXPECT_NEAR(g[0] + 2.0f * (g[1] + g[2] + g[3]), 1.0f, 1e-6f) << "radius " << radius;
    }
}

TEST(WeightBlock, RadiusOutsideTheSliderRangeGivesTheIdentityNotNaN) {
    for (const int radius : {0, -5}) {
        const std::array<float, 4> g = ComputeGwR3(radius);
        EXPECT_EQ(g[0], 1.0f) << "radius " << radius;
        EXPECT_EQ(g[1], 0.0f);
        EXPECT_EQ(g[2], 0.0f);
        EXPECT_EQ(g[3], 0.0f);
    }
}

TEST(WeightTable, Spline36TexelsAtTheStartMiddleAndEnd) {
    std::vector<float> texels(4 * kWeightTableEntries, -7.0f);
    FillWeightTable(texels.data());
    const float* t0 = &texels[0];
    EXPECT_EQ(t0[0], 1.0f);
    EXPECT_EQ(t0[1], 0.0f);
    EXPECT_EQ(t0[2], 0.0f);
    EXPECT_EQ(t0[3], 0.0f);
    const float* t256 = &texels[4 * 256];
    EXPECT_TRUE(RoundsTo(t256[0], "0.598684"));
    EXPECT_TRUE(RoundsTo(t256[1], "-0.118421"));
    EXPECT_TRUE(RoundsTo(t256[2], "0.0197368"));
    EXPECT_EQ(t256[3], 0.0f);
    const float* t512 = &texels[4 * 512];
    EXPECT_EQ(t512[0], 0.0f);
    EXPECT_EQ(t512[1], 0.0f);
    EXPECT_EQ(t512[2], 0.0f);
    EXPECT_EQ(t512[3], 0.0f);
}

TEST(WeightTable, IsRecognisedBitForBitAndNothingElseIs) {
    std::vector<float> texels(4 * kWeightTableEntries);
    FillWeightTable(texels.data());
    EXPECT_TRUE(HoldsWeightTable(texels.data(), kWeightTableEntries));
    EXPECT_FALSE(HoldsWeightTable(texels.data(), kWeightTableEntries - 1));
    // Entry 0's k(x + 1) is a negative zero: a positive one is a different table to the warps,
    // which reproduce the sign of zero sums.
    ASSERT_TRUE(std::signbit(texels[1]) && texels[1] == 0.0f);
    std::vector<float> other = texels;
    other[1] = 0.0f;
    EXPECT_FALSE(HoldsWeightTable(other.data(), kWeightTableEntries));
    other = texels;
    other[4 * 300 + 2] = std::nextafter(other[4 * 300 + 2], 1.0f);
    EXPECT_FALSE(HoldsWeightTable(other.data(), kWeightTableEntries));
    other = texels;
    other[4 * 512 + 3] = 1.0f;
    EXPECT_FALSE(HoldsWeightTable(other.data(), kWeightTableEntries));
}

// The warps rebuild every entry but the last from the single-precision pieces and these
// corrections, unpacked as the layout says; a correction that did not fit would send them back to
// gathering the table.
TEST(WeightTable, FloatPiecesPlusTheirCorrectionsGiveEveryEntryButTheLast) {
    std::vector<float> texels(4 * kWeightTableEntries);
    FillWeightTable(texels.data());
    const WeightTableCorrections& corrections = FilterTableCorrections();
    ASSERT_TRUE(corrections.complete);
    const auto same = [](float c) { return c; };
    int corrected = 0;
    for (int i = 0; i < kCorrectedEntries; ++i) {
        const float t = static_cast<float>(i) * kWeightTableStep;
        const float u = 1.0f - t;
        const float p = t * u;
        const float pieces[3] = {HWY_NAMESPACE::Spline36PieceFloat<0>(t, u, p, same),
                                 HWY_NAMESPACE::Spline36PieceFloat<1>(t, u, p, same),
                                 HWY_NAMESPACE::Spline36PieceFloat<2>(t, u, p, same)};
        for (int c = 0; c < 3; ++c) {
            const uint32_t word = corrections.words[c][i / kCorrectionsPerWord];
            const uint32_t correction =
                (word >> (kCorrectionBits * (i % kCorrectionsPerWord))) & ((1u << kCorrectionBits) - 1);
            uint32_t bits;
            std::memcpy(&bits, &pieces[c], sizeof(bits));
            bits += correction;
            uint32_t expected;
            std::memcpy(&expected, &texels[static_cast<size_t>(4 * i + c)], sizeof(expected));
            ASSERT_EQ(bits, expected) << "entry " << i << " channel " << c;
            corrected += correction != 0;
        }
    }
    // The pieces alone are not the table: the corrections carry information.
    EXPECT_GT(corrected, kCorrectedEntries);
}

TEST(ScaleBlock, ReciprocalSizesOfEachWorkingTexture) {
    const effect::ScaleBlock s = ComputeScale(1280, 720, 1920, 540);
    EXPECT_FLOAT_EQ(s.hscale, 1.5f);
    EXPECT_FLOAT_EQ(s.vscale, 0.75f);
    EXPECT_FLOAT_EQ(s.hscaleInverse, 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(s.vscaleInverse, 4.0f / 3.0f);
    EXPECT_EQ(s.inputTexSizeInverse.x, 1.0f / 960.0f);  // Tex: (3 x 1280 + 3) / 4 = 960
    EXPECT_EQ(s.inputTexSizeInverse.y, 1.0f / 720.0f);
    EXPECT_EQ(s.srcTexSizeInverse.x, 1.0f / 1280.0f);
    EXPECT_EQ(s.srcTexSizeInverse.y, 1.0f / 720.0f);
    EXPECT_EQ(s.tmpTexSizeInverse.x, 1.0f / 1920.0f);   // maxW x srcH
    EXPECT_EQ(s.tmpTexSizeInverse.y, 1.0f / 720.0f);
    EXPECT_EQ(s.tmpTex2SizeInverse.x, 1.0f / 1920.0f);  // dstW x maxH
    EXPECT_EQ(s.tmpTex2SizeInverse.y, 1.0f / 720.0f);
    EXPECT_EQ(s.workTexSizeInverse.x, 1.0f / 1920.0f);  // maxW x maxH
    EXPECT_EQ(s.workTexSizeInverse.y, 1.0f / 720.0f);
    EXPECT_EQ(s.destTexSizeInverse.x, 1.0f / 1920.0f);
    EXPECT_EQ(s.destTexSizeInverse.y, 1.0f / 540.0f);
}

TEST(ScaleBlock, RatiosAreTheNumeratorTimesTheSingleReciprocal) {
    // Formed from the float reciprocal, 7 x (1/3) and 3 x (1/7) are one step off the nearest
    // floats to 7/3 and 3/7; the passes were tuned with the former.
    const effect::ScaleBlock s = ComputeScale(3, 7, 7, 3);
    EXPECT_EQ(s.hscale, 2.3333334922790527f);
    EXPECT_NE(s.hscale, static_cast<float>(7.0 / 3.0));
    EXPECT_EQ(s.vscale, 0.4285714626312256f);
    EXPECT_NE(s.vscale, static_cast<float>(3.0 / 7.0));
    EXPECT_EQ(s.hscaleInverse, 3.0f * (1.0f / 7.0f));
    EXPECT_EQ(s.vscaleInverse, 7.0f * (1.0f / 3.0f));
}

TEST(ScaleBlock, PackedInputWidthRoundsUp) {
    EXPECT_EQ(ComputeScale(1919, 1080, 1919, 1080).inputTexSizeInverse.x, 1.0f / 1440.0f);
    EXPECT_EQ(ComputeScale(1, 1, 1, 1).inputTexSizeInverse.x, 1.0f);
    EXPECT_EQ(ComputeScale(5, 1, 5, 1).inputTexSizeInverse.x, 1.0f / 4.0f);
}

}  // namespace
}  // namespace qv::gpu
