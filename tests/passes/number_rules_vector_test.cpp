// The vector forms of the read and store rules against the scalar rules, bit for bit, on every
// SIMD target: every stored value read, and stores of the floats where rounding is delicate
// (around every half step and every step of the 16-bit grid, and where x * 65536 is half-way
// between integers), of special values and of a sweep over the upper half of the range.
#include <gtest/gtest.h>

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

}  // namespace qv::test::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::test {
namespace {

HWY_EXPORT(ReadMismatches);
HWY_EXPORT(StoreMismatches);

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

}  // namespace
}  // namespace qv::test
#endif
