// The resampling kernels' conversion of texel rows to float planes against the scalar read rule,
// bit for bit, on every SIMD target: every stored value in every channel of a texel, so that
// both the separation of the four interleaved channels and the division-free read are checked.
// Likewise their interleaved stores of four channel vectors against the scalar store rule, for
// every count of texels a row's last vector stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/resample_rows_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "passes/resample_rows-inl.h"
#include "platform/d3d9/number_rules.h"
#include "support/pass_harness.h"

HWY_BEFORE_NAMESPACE();
namespace qv::test::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Converted channel values that differ (in bits) from the scalar rule, over texels whose
// channels run through all 65536 stored values, each channel from a different start.
size_t ConversionMismatches() {
    const hn::ScalableTag<float> df;
    const size_t N = hn::Lanes(df);
    constexpr uint32_t kStarts[4] = {0, 40000, 12345, 65535};
    std::vector<uint16_t> texels(4 * N);
    std::vector<float> planes(4 * N);
    float* const plane[4] = {planes.data(), planes.data() + N, planes.data() + 2 * N, planes.data() + 3 * N};
    size_t mismatches = 0;
    for (uint32_t first = 0; first < 65536; first += static_cast<uint32_t>(N)) {
        for (size_t t = 0; t < N; ++t) {
            for (size_t c = 0; c < 4; ++c) texels[4 * t + c] = static_cast<uint16_t>((first + t + kStarts[c]) & 0xFFFF);
        }
        passes::HWY_NAMESPACE::ConvertTexels(df, texels.data(), plane, 0);
        for (size_t t = 0; t < N; ++t) {
            for (size_t c = 0; c < 4; ++c) {
                const float expected = gfx::ReadUnorm(texels[4 * t + c]);
                if (std::memcmp(&expected, &plane[c][t], sizeof(float)) != 0) ++mismatches;
            }
        }
    }
    return mismatches;
}

// Stored texels that differ from the scalar rule applied to each channel, or texels written past
// the count, over vectors of channel values that include those the rule clamps (NaN, below 0,
// above 1), values half-way between steps and values that round to the top step. Each channel
// takes different values, so a swapped or shifted channel shows.
size_t StoreMismatches() {
    const hn::ScalableTag<float> df;
    const size_t N = hn::Lanes(df);
    const float special[] = {std::numeric_limits<float>::quiet_NaN(), -0.0f, 0.0f, -1.0f, 2.0f,
                             std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                             0.5f, 1.0f, 0.5f / 65535.0f, 65534.5f / 65535.0f, std::nextafter(1.0f, 0.0f),
                             1e-30f, 1.5f / 65535.0f};
    constexpr size_t kSpecial = sizeof(special) / sizeof(special[0]);
    constexpr uint16_t kUntouched = 0xA5A5;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(-0.25f, 1.25f);
    std::vector<float> channel(4 * N);
    std::vector<uint16_t> out(4 * N + 4);
    size_t mismatches = 0;
    for (size_t round = 0; round < 64; ++round) {
        for (size_t i = 0; i < 4 * N; ++i) {
            channel[i] = (i + round) % 3 == 0 ? special[(i * 7 + round) % kSpecial] : value(rng);
        }
        for (size_t count = 1; count <= N; ++count) {
            std::fill(out.begin(), out.end(), kUntouched);
            passes::HWY_NAMESPACE::StoreTexels(df, hn::LoadU(df, channel.data()), hn::LoadU(df, channel.data() + N),
                                               hn::LoadU(df, channel.data() + 2 * N),
                                               hn::LoadU(df, channel.data() + 3 * N), out.data(), count);
            for (size_t t = 0; t < count; ++t) {
                for (size_t c = 0; c < 4; ++c) {
                    if (out[4 * t + c] != gfx::StoreUnorm(channel[c * N + t])) ++mismatches;
                }
            }
            for (size_t i = 4 * count; i < out.size(); ++i) {
                if (out[i] != kUntouched) ++mismatches;
            }
        }
    }
    return mismatches;
}

}  // namespace qv::test::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::test {
namespace {

HWY_EXPORT(ConversionMismatches);
HWY_EXPORT(StoreMismatches);

TEST(ResampleRows, ConversionFollowsTheReadRuleForEveryStoredValue) {
    ForEachSimdTarget([](const std::string& target) {
        EXPECT_EQ(HWY_DYNAMIC_DISPATCH(ConversionMismatches)(), 0u) << target;
    });
}

TEST(ResampleRows, StoresFollowTheStoreRuleForEveryTexelCount) {
    ForEachSimdTarget([](const std::string& target) {
        EXPECT_EQ(HWY_DYNAMIC_DISPATCH(StoreMismatches)(), 0u) << target;
    });
}

}  // namespace
}  // namespace qv::test
#endif  // HWY_ONCE
