// The weight exponential: correctly rounded 2^z, and the vector form equal to the scalar form
// on every SIMD target.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "passes/exp2.h"
#include "support/pass_harness.h"

namespace qv::passes {
namespace {

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

// Values of z whose 2^z lies within 3e-15 (relative) of the midpoint between two floats, found by
// an exhaustive search over every float in [-151, 0]; the expected results were confirmed with
// 300-bit arithmetic. The first two defeat any evaluation in plain double precision.
struct HardCase {
    float z;
    float expected;
};
constexpr HardCase kHardCases[] = {
    {-0x1.5a3f34p-21f, 0x1.fffffp-1f},  {-0x1.e7526ep-6f, 0x1.f58d62p-1f},
    {-0x1.a7a04cp-14f, 0x1.fff6d2p-1f}, {-0x1.d8568p-10f, 0x1.ff5c68p-1f},
    {-0x1.3e53bcp-3f, 0x1.cbb4acp-1f},  {-0x1.cda996p-23f, 0x1.fffffcp-1f},
    {-0x1.715476p-25f, 0x1p+0f},        {-0x1.77a744p-14f, 0x1.fff7dcp-1f},
    {-0x1.2c14a4p-21f, 0x1.fffff2p-1f}, {-0x1.5e9a04p-6f, 0x1.f87632p-1f},
    {-0x1.c6de7p-10f, 0x1.ff6274p-1f},
};

// The float nearest 2^z from a long double evaluation, or nothing when that evaluation lies too
// close to a midpoint to decide (the hard cases above cover those).
bool Reference(float z, float* out) {
    const long double v = std::exp2l(static_cast<long double>(z));
    const float nearest = static_cast<float>(v);
    if (v == 0.0L || std::isinf(nearest)) {
        *out = nearest;
        return true;
    }
    const float other = static_cast<long double>(nearest) < v ? std::nextafter(nearest, 1e30f)
                                                              : std::nextafter(nearest, 0.0f);
    const long double midpoint = (static_cast<long double>(nearest) + other) / 2;
    if (std::fabs(v - midpoint) < 1e-17L * v) return false;
    *out = nearest;
    return true;
}

std::vector<float> Vector(const std::vector<float>& z) {
    std::vector<float> out(z.size());
    Exp2ToFloatVector(z.data(), out.data(), z.size());
    return out;
}

// Every `step`-th float between a and b (bit patterns, same sign), both ends included.
std::vector<float> Sweep(float a, float b, uint32_t step) {
    std::vector<float> z;
    uint32_t lo = Bits(a), hi = Bits(b);
    if (lo > hi) std::swap(lo, hi);
    for (uint64_t bits = lo; bits <= hi; bits += step) z.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits)));
    z.push_back(std::bit_cast<float>(hi));
    return z;
}

TEST(Exp2, SpecialValues) {
    const float inf = std::numeric_limits<float>::infinity();
    const float denormMin = std::numeric_limits<float>::denorm_min();
    const struct {
        float z;
        float expected;
    } cases[] = {
        {-0.0f, 1.0f},         {0.0f, 1.0f},
        {-1.0f, 0.5f},         {-126.0f, 0x1p-126f},
        {-149.0f, denormMin},  {-149.5f, denormMin},  // 2^-149.5 is 0.707 of the smallest denormal
        {-150.0f, 0.0f},       // exactly halfway between 0 and the smallest denormal: ties to even
        {-150.25f, 0.0f},      {-160.0f, 0.0f},
        {-1e30f, 0.0f},        {-inf, 0.0f},
        {127.0f, 0x1p127f},    {128.0f, inf},
        {1e30f, inf},          {inf, inf},
        {-0x1p-40f, 1.0f},     {-0x1p-24f, 0x1.fffffep-1f},
    };
    std::vector<float> zs;
    for (const auto& c : cases) {
        EXPECT_EQ(Bits(Exp2ToFloat(c.z)), Bits(c.expected)) << "z = " << c.z;
        zs.push_back(c.z);
    }
    test::ForEachSimdTarget([&](const std::string& target) {
        const std::vector<float> v = Vector(zs);
        for (size_t k = 0; k < zs.size(); ++k)
            EXPECT_EQ(Bits(v[k]), Bits(cases[k].expected)) << target << " z = " << zs[k];
    });
}

TEST(Exp2, NanComesBackAsItCame) {
    const float nans[] = {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                          std::bit_cast<float>(0x7fc12345u)};
    const std::vector<float> zs(std::begin(nans), std::end(nans));
    for (float z : zs) EXPECT_EQ(Bits(Exp2ToFloat(z)), Bits(z));
    test::ForEachSimdTarget([&](const std::string& target) {
        const std::vector<float> v = Vector(zs);
        for (size_t k = 0; k < zs.size(); ++k) EXPECT_EQ(Bits(v[k]), Bits(zs[k])) << target;
    });
}

TEST(Exp2, HardCasesRoundCorrectly) {
    std::vector<float> zs;
    for (const HardCase& c : kHardCases) {
        EXPECT_EQ(Bits(Exp2ToFloat(c.z)), Bits(c.expected)) << "z = " << c.z;
        zs.push_back(c.z);
    }
    test::ForEachSimdTarget([&](const std::string& target) {
        const std::vector<float> v = Vector(zs);
        for (size_t k = 0; k < zs.size(); ++k)
            EXPECT_EQ(Bits(v[k]), Bits(kHardCases[k].expected)) << target << " z = " << zs[k];
    });
}

// The scalar form is correctly rounded for every z in `zs` (where the reference can decide), and
// every target's vector form gives its bits.
void ExpectCorrectlyRoundedEverywhere(const std::vector<float>& zs, const std::string& what) {
    std::vector<float> scalar(zs.size());
    long mismatches = 0, undecided = 0;
    for (size_t k = 0; k < zs.size(); ++k) {
        scalar[k] = Exp2ToFloat(zs[k]);
        float expected;
        if (!Reference(zs[k], &expected)) {
            ++undecided;
            continue;
        }
        if (Bits(scalar[k]) != Bits(expected) && ++mismatches <= 5)
            ADD_FAILURE() << what << ": z = " << std::hexfloat << zs[k] << ": " << scalar[k] << ", nearest is " << expected;
    }
    EXPECT_EQ(mismatches, 0) << "over " << zs.size() << " values, " << what;
    EXPECT_LE(undecided, 2) << "reference undecided too often, " << what;

    test::ForEachSimdTarget([&](const std::string& target) {
        const std::vector<float> v = Vector(zs);
        long differ = 0;
        for (size_t k = 0; k < zs.size(); ++k) differ += Bits(v[k]) != Bits(scalar[k]);
        EXPECT_EQ(differ, 0) << target << ", " << what;
    });
}

// A dense sweep of the weights the pass can meet (z from -160 to 0), every denormal result, and
// a coarser one of positive z.
TEST(Exp2, CorrectlyRoundedAndSameOnEveryTarget) {
    struct Range {
        float from, to;
        uint32_t step;
    };
    const Range ranges[] = {
        {-0.0f, -160.0f, 193},   // ~5.8 million values
        {-126.0f, -150.0f, 1},   // every value with a denormal (or zero) result
        {0.0f, 128.0f, 4099},
    };
    for (const Range& range : ranges)
        ExpectCorrectlyRoundedEverywhere(Sweep(range.from, range.to, range.step), "sweep from " + std::to_string(range.from));
}

// The fast path splits z at the nearest sixteenth: every sixteenth (r = 0, each table entry with
// each power of two), every point halfway between two (where the split's rounding ties), and
// their neighbours on either side.
TEST(Exp2, SixteenthsAndTheirMidpointsRoundCorrectly) {
    std::vector<float> zs;
    for (int m = -151 * 32; m < 128 * 32; ++m) {
        const float z = static_cast<float>(m) / 32.0f;
        zs.push_back(z);
        zs.push_back(std::nextafter(z, -1e30f));
        zs.push_back(std::nextafter(z, 1e30f));
    }
    ExpectCorrectlyRoundedEverywhere(zs, "sixteenths and thirty-seconds");
}

// The rounding checks assume the fast path's double result is within 2^-46 of 2^z, relative:
// verified over a sweep of every input range the fast path meets (every 251st float from -151
// to 128) and at the split points above, against the 64-bit-mantissa long double exp2l.
TEST(Exp2, FastPathWithinItsErrorBound) {
    std::vector<float> zs = Sweep(-0.0f, exp2_detail::kLowest, 251);
    const std::vector<float> positive = Sweep(0.0f, std::nextafter(exp2_detail::kOverflow, 0.0f), 251);
    zs.insert(zs.end(), positive.begin(), positive.end());
    for (int m = -151 * 32; m < 128 * 32; ++m) zs.push_back(static_cast<float>(m) / 32.0f);
    long double worst = 0.0L;
    float worstZ = 0.0f;
    for (float z : zs) {
        const long double exact = std::exp2l(static_cast<long double>(z));
        const long double fast = exp2_detail::Exp2Fast(static_cast<double>(z));
        const long double error = std::fabs(fast - exact) / exact;
        if (error > worst) {
            worst = error;
            worstZ = z;
        }
    }
    EXPECT_LT(worst, 0x1p-46L) << "worst at z = " << std::hexfloat << worstZ;
}

// Values next to a float midpoint are caught by either of the vector form's checks and settled
// on the accurate path: the bit test (vectors whose every 2^z is a normal float, as in the test
// above) and the product test (vectors that also hold a denormal result, here 2^-140).
TEST(Exp2, HardCasesSettleBesideDenormalResults) {
    std::vector<float> zs, expected;
    for (const HardCase& c : kHardCases) {
        zs.insert(zs.end(), {c.z, -140.0f});
        expected.insert(expected.end(), {c.expected, 0x1p-140f});
    }
    test::ForEachSimdTarget([&](const std::string& target) {
        const std::vector<float> v = Vector(zs);
        for (size_t k = 0; k < zs.size(); ++k)
            EXPECT_EQ(Bits(v[k]), Bits(expected[k])) << target << " z = " << std::hexfloat << zs[k];
    });
}

// The vector form takes vectors two at a time down one of three paths, by the largest |z| of the
// pair: near zero (no table), below kNormalBound (table and bit test), or any other. A hard case
// in every lane of a pair whose other lanes keep it on the first or the second path is still
// caught and settled, and its neighbours keep their own results.
TEST(Exp2, HardCasesSettleOnTheNearZeroAndNormalPaths) {
    constexpr size_t kPair = 32;  // two vectors of the widest target
    const float fillers[] = {-0x1p-10f, -1.0f};
    for (float filler : fillers) {
        const float fillerResult = Exp2ToFloat(filler);
        for (const HardCase& c : kHardCases) {
            std::vector<float> zs;
            for (size_t at = 0; at < kPair; ++at)
                for (size_t lane = 0; lane < kPair; ++lane) zs.push_back(lane == at ? c.z : filler);
            test::ForEachSimdTarget([&](const std::string& target) {
                const std::vector<float> v = Vector(zs);
                for (size_t k = 0; k < zs.size(); ++k)
                    EXPECT_EQ(Bits(v[k]), Bits(zs[k] == c.z ? c.expected : fillerResult))
                        << target << " filler " << filler << " z = " << std::hexfloat << zs[k] << " at " << k;
            });
        }
    }
}

// The near-zero path takes |z| <= 1/32, where z rounds to the sixteenth 0 (ties to even): whole
// pairs of values at that bound and on either side of it.
TEST(Exp2, NearZeroBoundRoundsCorrectly) {
    std::vector<float> zs;
    for (float bound : {exp2_detail::kNearZero, -exp2_detail::kNearZero}) {
        for (float z : {std::nextafter(bound, 0.0f), bound, std::nextafter(bound, 2 * bound)})
            zs.insert(zs.end(), 32, z);
    }
    ExpectCorrectlyRoundedEverywhere(zs, "near-zero bound");
}

}  // namespace
}  // namespace qv::passes
