// The resampling kernels' conversion of texel rows to float planes against the scalar read rule,
// bit for bit, on every SIMD target: every stored value in every channel of a texel, so that
// both the separation of the four interleaved channels and the division-free read are checked.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

}  // namespace qv::test::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::test {
namespace {

HWY_EXPORT(ConversionMismatches);

TEST(ResampleRows, ConversionFollowsTheReadRuleForEveryStoredValue) {
    ForEachSimdTarget([](const std::string& target) {
        EXPECT_EQ(HWY_DYNAMIC_DISPATCH(ConversionMismatches)(), 0u) << target;
    });
}

}  // namespace
}  // namespace qv::test
#endif  // HWY_ONCE
