// The vector forms of the read and store rules against the scalar rules, bit for bit, on every
// SIMD target: every stored value read; stores of the floats where rounding is delicate (around
// every half step and every step of the 16-bit grid, and where x * 65536 is half-way between
// integers), of special values and of a sweep over the upper half of the range; and every float
// in [0, 1] stored by both clamps of the bit form (on the best target with a fused multiply-add
// and on the best without, which store by different operations; on the others the floats around
// every step and a sample), with the clamping of values outside [0, 1].
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/number_rules_vector_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "passes/number_rules-inl.h"
#include "platform/d3d9/number_rules.h"
#include "support/pass_harness.h"

HWY_BEFORE_NAMESPACE();
namespace qv::test::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Stored values 0 .. 65535 whose vector reading differs (in bits) from the scalar rule.
size_t ReadMismatches() {
    const hn::ScalableTag<float> df;
    const hn::Rebind<uint16_t, decltype(df)> du16;
    const size_t N = hn::Lanes(df);
    HWY_ALIGN uint16_t in[hn::MaxLanes(du16)];
    HWY_ALIGN float out[hn::MaxLanes(df)];
    size_t mismatches = 0;
    for (uint32_t first = 0; first < 65536; first += static_cast<uint32_t>(N)) {
        for (size_t l = 0; l < N; ++l) in[l] = static_cast<uint16_t>((first + l) & 0xFFFF);
        hn::Store(passes::HWY_NAMESPACE::ReadUnormVec(df, hn::Load(du16, in)), df, out);
        for (size_t l = 0; l < N; ++l) {
            const float expected = gfx::ReadUnorm(in[l]);
            if (std::memcmp(&expected, &out[l], sizeof(float)) != 0) ++mismatches;
        }
    }
    return mismatches;
}

// Values whose vector store differs from the scalar rule.
size_t StoreMismatches(const float* values, size_t count) {
    const hn::ScalableTag<float> df;
    const hn::Rebind<uint16_t, decltype(df)> du16;
    const size_t N = hn::Lanes(df);
    HWY_ALIGN float in[hn::MaxLanes(df)];
    HWY_ALIGN uint16_t out[hn::MaxLanes(du16)];
    size_t mismatches = 0;
    for (size_t first = 0; first < count; first += N) {
        for (size_t l = 0; l < N; ++l) in[l] = values[std::min(first + l, count - 1)];
        hn::Store(passes::HWY_NAMESPACE::StoreUnormVec(df, hn::Load(df, in)), du16, out);
        for (size_t l = 0; l < N; ++l)
            if (out[l] != gfx::StoreUnorm(in[l])) ++mismatches;
    }
    return mismatches;
}

// Floats in [0, 1] with bits `begin` .. `end` (a vector of consecutive ones every `stride`)
// whose store by either clamp differs from the rule's step.
size_t BitStoreMismatchesInRange(const uint32_t* first, uint32_t begin, uint32_t end, uint32_t stride) {
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;  // float bits of [0, 1] are positive int32s
    const size_t N = hn::Lanes(df);
    const auto low = hn::Set(di, 0xFFFF);
    size_t mismatches = 0;
    // The step of the vector's first float.
    uint32_t n = static_cast<uint32_t>(std::upper_bound(first, first + 65536, begin) - first - 1);
    for (uint64_t at = begin; at <= end; at += std::max<uint64_t>(stride, N)) {
        const uint32_t lead = static_cast<uint32_t>(at);
        while (n < 65535 && first[n + 1] <= lead) ++n;
        // Lanes past `end` repeat it. A vector spans fewer floats than a step, so it reaches at
        // most the next step.
        const auto bits = hn::Min(hn::Iota(di, static_cast<int32_t>(lead)), hn::Set(di, static_cast<int32_t>(end)));
        const auto next = hn::Set(di, n < 65535 ? static_cast<int32_t>(first[n + 1]) : INT32_MAX);
        const auto step = hn::Set(di, static_cast<int32_t>(n));
        const auto expected = hn::IfThenElse(hn::Lt(bits, next), step, hn::Add(step, hn::Set(di, 1)));
        const auto q = hn::BitCast(df, bits);
        const auto plain = hn::And(hn::BitCast(di, passes::HWY_NAMESPACE::StoreUnormBits<false>(df, q)), low);
        const auto noNaN = hn::And(hn::BitCast(di, passes::HWY_NAMESPACE::StoreUnormBits<true>(df, q)), low);
        mismatches += hn::CountTrue(di, hn::Or(hn::Ne(plain, expected), hn::Ne(noNaN, expected)));
    }
    return mismatches;
}

// Values whose store (either clamp; NaN only for the one that admits it) differs from the rule.
size_t BitStoreMismatchesOnSpecials(const float* values, size_t count) {
    const hn::ScalableTag<float> df;
    const hn::RebindToUnsigned<decltype(df)> du32;
    const size_t N = hn::Lanes(df);
    HWY_ALIGN float in[hn::MaxLanes(df)];
    HWY_ALIGN uint32_t plain[hn::MaxLanes(du32)];
    HWY_ALIGN uint32_t noNaN[hn::MaxLanes(du32)];
    size_t mismatches = 0;
    for (size_t first = 0; first < count; first += N) {
        for (size_t l = 0; l < N; ++l) in[l] = values[std::min(first + l, count - 1)];
        const auto v = hn::Load(df, in);
        hn::Store(passes::HWY_NAMESPACE::StoreUnormBits<false>(df, v), du32, plain);
        hn::Store(passes::HWY_NAMESPACE::StoreUnormBits<true>(df, hn::IfThenZeroElse(hn::IsNaN(v), v)), du32, noNaN);
        for (size_t l = 0; l < N; ++l) {
            if ((plain[l] & 0xFFFFu) != gfx::StoreUnorm(in[l])) ++mismatches;
            const float finite = std::isnan(in[l]) ? 0.0f : in[l];
            if ((noNaN[l] & 0xFFFFu) != gfx::StoreUnorm(finite)) ++mismatches;
        }
    }
    return mismatches;
}

// Whether this target stores through a fused multiply-add.
bool StoresFused() { return HWY_NATIVE_FMA != 0; }

}  // namespace qv::test::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::test {
namespace {

HWY_EXPORT(ReadMismatches);
HWY_EXPORT(StoreMismatches);
HWY_EXPORT(BitStoreMismatchesInRange);
HWY_EXPORT(BitStoreMismatchesOnSpecials);
HWY_EXPORT(StoresFused);

// Floats within `ulps` steps of x either way.
void AddAround(float x, int ulps, std::vector<float>& out) {
    float lo = x, hi = x;
    for (int i = 0; i < ulps; ++i) {
        lo = std::nextafter(lo, -1.0f);
        hi = std::nextafter(hi, 2.0f);
    }
    for (float v = lo; v <= hi; v = std::nextafter(v, 2.0f)) out.push_back(v);
}

std::vector<float> DelicateStores() {
    std::vector<float> v;
    const float inf = std::numeric_limits<float>::infinity();
    for (float s : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(), inf, -inf, 0.0f,
                    -0.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::min(), -1e-30f, -0.5f,
                    0.5f, 1.0f, std::nextafter(1.0f, 2.0f), 2.0f, 65535.0f, 1e30f})
        v.push_back(s);
    for (int n = 0; n <= 65535; ++n) {
        AddAround(static_cast<float>((n + 0.5) / 65535.0), 8, v);  // a half step away from two steps
        AddAround(static_cast<float>(n / 65535.0), 2, v);
        AddAround(static_cast<float>((n + 0.5) / 65536.0), 2, v);  // x * 65536 half-way between integers
    }
    for (float x = 0.5f; x < 1.0f; x = std::nextafter(x, 2.0f)) {
        v.push_back(x);
        for (int i = 0; i < 96 && x < 1.0f; ++i) x = std::nextafter(x, 2.0f);
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> any(-0.25f, 1.25f);
    for (int i = 0; i < 200000; ++i) v.push_back(any(rng));
    return v;
}

// The rule's steps as the bits of the least float in [0, 1] that stores as each step n
// (first[0] = 0), found from the scalar rule; the rule is monotonic, so a float stores as the
// last step whose first float it reaches. Steps lie hundreds of floats apart.
std::vector<uint32_t> FirstFloatOfEachStep() {
    std::vector<uint32_t> first(65536, 0);
    const auto stores = [](uint32_t bits) {
        float q;
        std::memcpy(&q, &bits, sizeof(q));
        return gfx::StoreUnorm(q);
    };
    for (uint32_t n = 1; n < 65536; ++n) {
        const float guess = static_cast<float>((n - 0.5) / 65535.0);
        uint32_t bits;
        std::memcpy(&bits, &guess, sizeof(bits));
        while (stores(bits) >= n) --bits;
        while (stores(bits) < n) ++bits;
        first[n] = bits;
    }
    return first;
}

TEST(NumberRulesVector, ReadingEveryStoredValueMatchesTheScalarRule) {
    ForEachSimdTarget([](const std::string& target) {
        EXPECT_EQ(HWY_DYNAMIC_DISPATCH(ReadMismatches)(), 0u) << target;
    });
}

TEST(NumberRulesVector, StoringMatchesTheScalarRuleAroundEveryStepAndOnSpecialValues) {
    const std::vector<float> values = DelicateStores();
    ForEachSimdTarget([&](const std::string& target) {
        EXPECT_EQ(HWY_DYNAMIC_DISPATCH(StoreMismatches)(values.data(), values.size()), 0u) << target;
    });
}

// Every float of [0, 1] on the best target of each form of the store (with and without a fused
// multiply-add); on the others the 64 floats around every step's first float and a sample of
// the rest (the same operations as the best target of their form).
TEST(NumberRulesVector, StoringEveryFloatOfTheUnitRangeMatchesTheRule) {
    constexpr uint32_t kOne = 0x3F800000u;  // the bits of 1.0f; the floats in [0, 1] are 0 .. kOne
    const std::vector<uint32_t> first = FirstFloatOfEachStep();
    bool sweptForm[2] = {false, false};
    ForEachSimdTarget([&](const std::string& target) {
        const auto run = HWY_DYNAMIC_DISPATCH(BitStoreMismatchesInRange);
        bool& swept = sweptForm[HWY_DYNAMIC_DISPATCH(StoresFused)() ? 1 : 0];
        if (!swept) {
            EXPECT_EQ(run(first.data(), 0, kOne, 1), 0u) << target << ", every float";
            swept = true;
            return;
        }
        size_t atSteps = 0;
        for (uint32_t n = 1; n < 65536; ++n) atSteps += run(first.data(), first[n] - 32, first[n] + 31, 1);
        EXPECT_EQ(atSteps, 0u) << target << ", around the steps";
        EXPECT_EQ(run(first.data(), 0, kOne, 997), 0u) << target << ", a sample";
    });
}

TEST(NumberRulesVector, StoringClampsSpecialAndOutOfRangeValuesAsTheRuleDoes) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {std::numeric_limits<float>::quiet_NaN(),
                                 -std::numeric_limits<float>::quiet_NaN(),
                                 inf,
                                 -inf,
                                 -0.0f,
                                 -std::numeric_limits<float>::denorm_min(),
                                 -1e-30f,
                                 -0.5f,
                                 -1.0f,
                                 std::nextafter(1.0f, 2.0f),
                                 1.5f,
                                 65535.0f,
                                 std::numeric_limits<float>::max()};
    for (float x = 1.0f; x < 1e30f; x *= 1.37f) values.push_back(x);
    for (float x = -1e30f; x < -1e-30f; x /= 1.37f) values.push_back(x);
    ForEachSimdTarget([&](const std::string& target) {
        const auto run = HWY_DYNAMIC_DISPATCH(BitStoreMismatchesOnSpecials);
        EXPECT_EQ(run(values.data(), values.size()), 0u) << target;
    });
}

}  // namespace
}  // namespace qv::test
#endif
