// The row kernels' shader min and max against the reference's, bit for bit, on every SIMD target:
// the second operand wins whenever the first is not strictly smaller (or larger), so NaN in
// either place and zeros of either sign must come out as the reference's.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/detail_rows_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "passes/detail_rows-inl.h"
#include "platform/d3d9/shader_quad.h"
#include "support/pass_harness.h"

HWY_BEFORE_NAMESPACE();
namespace qv::test::HWY_NAMESPACE {
namespace rows = passes::HWY_NAMESPACE::detail_rows;
namespace hn = hwy::HWY_NAMESPACE;

// Pairs (a[i], b[i]) whose vector min or max differs in bits from the reference's.
size_t MinMaxMismatches(const float* a, const float* b, size_t count) {
    const rows::DF df;
    const size_t N = hn::Lanes(df);
    HWY_ALIGN float inA[hn::MaxLanes(df)];
    HWY_ALIGN float inB[hn::MaxLanes(df)];
    HWY_ALIGN float lo[hn::MaxLanes(df)];
    HWY_ALIGN float hi[hn::MaxLanes(df)];
    size_t mismatches = 0;
    for (size_t first = 0; first < count; first += N) {
        for (size_t l = 0; l < N; ++l) {
            inA[l] = a[std::min(first + l, count - 1)];
            inB[l] = b[std::min(first + l, count - 1)];
        }
        const rows::VF va = hn::Load(df, inA);
        const rows::VF vb = hn::Load(df, inB);
        hn::Store(rows::ShaderMin(va, vb), df, lo);
        hn::Store(rows::ShaderMax(va, vb), df, hi);
        for (size_t l = 0; l < N; ++l) {
            const gfx::QFloat x(inA[l]), y(inB[l]);
            const float expectedLo = gfx::Min(x, y).v[0];
            const float expectedHi = gfx::Max(x, y).v[0];
            if (std::memcmp(&expectedLo, &lo[l], sizeof(float)) != 0) ++mismatches;
            if (std::memcmp(&expectedHi, &hi[l], sizeof(float)) != 0) ++mismatches;
        }
    }
    return mismatches;
}

}  // namespace qv::test::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::test {
namespace {

HWY_EXPORT(MinMaxMismatches);

TEST(DetailRows, ShaderMinAndMaxMatchTheReferenceOnNaNAndSignedZeros) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float specials[] = {nan, -nan, 0.0f, -0.0f, 1.0f, -1.0f, 0.5f, inf, -inf,
                              std::numeric_limits<float>::denorm_min()};
    std::vector<float> a, b;
    for (float x : specials)
        for (float y : specials) {
            a.push_back(x);
            b.push_back(y);
        }
    ForEachSimdTarget([&](const std::string& target) {
        EXPECT_EQ(HWY_DYNAMIC_DISPATCH(MinMaxMismatches)(a.data(), b.data(), a.size()), 0u) << target;
    });
}

}  // namespace
}  // namespace qv::test
#endif
