// The vector form's double approximations of 2^z stay within the error bound that its rounding
// checks assume (exp2.h), on every SIMD target: with fused multiply-adds they take other
// roundings than the scalar form's, so the bound is checked for them in their own right.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/exp2_vector_bound_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "passes/exp2-inl.h"
#include "support/pass_harness.h"

HWY_BEFORE_NAMESPACE();
namespace qv::test::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The largest relative error against exp2l of the approximations the vector form rounds: the
// near-zero one for |z| <= kNearZero, the table one for |z| < kNormalBound and the one for any
// range, each over the values of `zs` it takes.
double WorstApproximationError(const float* zs, size_t count) {
    using namespace passes::exp2_detail;
    const hn::ScalableTag<float> df;
    const size_t lanes = hn::Lanes(df);
    HWY_ALIGN float in[hn::MaxLanes(df)];
    long double worst = 0.0L;
    const auto note = [&](float z, double approx) {
        const long double exact = std::exp2l(static_cast<long double>(z));
        worst = std::max(worst, std::fabs(static_cast<long double>(approx) - exact) / exact);
    };
    for (size_t i = 0; i < count; i += lanes) {
        for (size_t l = 0; l < lanes; ++l) in[l] = zs[std::min(i + l, count - 1)];
#if HWY_TARGET == HWY_SCALAR
        const hn::Rebind<double, decltype(df)> dd;
        note(in[0], hn::GetLane(passes::HWY_NAMESPACE::Exp2Fast(dd, hn::PromoteTo(dd, hn::Load(df, in)))));
#else
        const hn::Vec<decltype(df)> z = hn::Load(df, in);
        bool nearZero = true, normal = true;
        for (size_t l = 0; l < lanes; ++l) {
            nearZero = nearZero && std::fabs(in[l]) <= kNearZero;
            normal = normal && std::fabs(in[l]) < kNormalBound;
        }
        using Chains = passes::HWY_NAMESPACE::Exp2Chains<hn::ScalableTag<float>, 1>;
        const typename Chains::DD dd;
        HWY_ALIGN double out[2 * hn::MaxLanes(dd)];
        const auto check = [&](const Chains& c) {
            hn::Store(c.v[0], dd, out);
            hn::Store(c.v[1], dd, out + hn::Lanes(dd));
            for (size_t l = 0; l < lanes; ++l) note(in[l], out[l]);
        };
        if (nearZero) check(passes::HWY_NAMESPACE::Exp2NearZero<1>(df, &z));
        if (normal) check(passes::HWY_NAMESPACE::Exp2Normal<1>(df, &z));
        const hn::Half<decltype(df)> dh;
        Chains any;
        any.v[0] = passes::HWY_NAMESPACE::Exp2Fast(dd, hn::PromoteTo(dd, hn::LowerHalf(dh, z)));
        any.v[1] = passes::HWY_NAMESPACE::Exp2Fast(dd, hn::PromoteTo(dd, hn::UpperHalf(dh, z)));
        check(any);
#endif
    }
    return static_cast<double>(worst);
}

}  // namespace qv::test::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::test {
namespace {

HWY_EXPORT(WorstApproximationError);

// Every 1021st float from -151 to 128 (the fast paths' whole range), every z near zero at a
// coarser step, and every sixteenth and thirty-second, where the table split rounds.
TEST(Exp2Vector, ApproximationsStayWithinTheBoundTheRoundingChecksAssume) {
    using namespace passes::exp2_detail;
    std::vector<float> zs;
    const auto sweep = [&](float a, float b, uint32_t step) {
        uint32_t lo = std::bit_cast<uint32_t>(a), hi = std::bit_cast<uint32_t>(b);
        if (lo > hi) std::swap(lo, hi);
        for (uint64_t bits = lo; bits <= hi; bits += step) zs.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits)));
    };
    sweep(-0.0f, kLowest, 1021);
    sweep(0.0f, std::nextafter(kOverflow, 0.0f), 1021);
    sweep(-0.0f, -kNearZero, 4093);
    sweep(0.0f, kNearZero, 4093);
    for (int m = -151 * 32; m < 128 * 32; ++m) zs.push_back(static_cast<float>(m) / 32.0f);
    ForEachSimdTarget([&](const std::string& target) {
        EXPECT_LT(HWY_DYNAMIC_DISPATCH(WorstApproximationError)(zs.data(), zs.size()), 0x1p-46) << target;
    });
}

}  // namespace
}  // namespace qv::test
#endif
