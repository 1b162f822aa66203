// Vector form of Exp2ToFloat (exp2.h): one float lane per value, computed in double lanes with
// the same operations in the same order as the scalar form, so both give the same bits.
// Included once per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_EXP2_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_EXP2_INL_H_
#undef QV_PASSES_EXP2_INL_H_
#else
#define QV_PASSES_EXP2_INL_H_
#endif

#include <hwy/highway.h>

#include "passes/exp2.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "passes/exp2_polynomial-inl.h"

template <class DD>
struct LaneOps {
    DD dd;
    HWY_INLINE hn::Vec<DD> Mul(hn::Vec<DD> a, hn::Vec<DD> b) const { return hn::Mul(a, b); }
    HWY_INLINE hn::Vec<DD> Add(hn::Vec<DD> a, hn::Vec<DD> b) const { return hn::Add(a, b); }
    HWY_INLINE hn::Vec<DD> Const(double c) const { return hn::Set(dd, c); }
};

// The fast path for float values held in double lanes: 2^x in double, and the lanes whose
// rounding to float the fast path cannot vouch for. NaN lanes give unspecified values.
template <class DD>
HWY_INLINE hn::Vec<DD> Exp2Fast(DD dd, hn::Vec<DD> x, hn::Mask<DD>& unsure) {
    using namespace exp2_detail;
    const hn::RebindToUnsigned<DD> du;
    x = hn::Max(x, hn::Set(dd, kLowest));
    x = hn::Min(x, hn::Set(dd, kHighest));

    const auto bias = hn::Set(dd, kRoundingBias);
    const auto biased = hn::Add(x, bias);
    const auto n = hn::Sub(biased, bias);
    const auto f = hn::Sub(x, n);

    const auto p = Exp2Polynomial(f, LaneOps<DD>{dd});

    const auto scale = hn::BitCast(
        dd, hn::ShiftLeft<kMantissaBits>(hn::Add(hn::BitCast(du, biased), hn::Set(du, kExponentBias))));
    const auto r = hn::Mul(p, scale);

    auto gridExponent = hn::And(hn::BitCast(du, r), hn::Set(du, kExponentMask));
    gridExponent = hn::Max(gridExponent, hn::Set(du, kSmallestNormalFloatExponent));
    const auto grid = hn::BitCast(dd, hn::Add(gridExponent, hn::Set(du, kGridShift)));
    const auto halfStep = hn::Mul(grid, hn::Set(dd, kGridToHalfStep));
    const auto residue = hn::Sub(r, hn::Sub(hn::Add(r, grid), grid));
    const auto fromMidpoint = hn::Sub(halfStep, hn::Abs(residue));
    unsure = hn::Le(fromMidpoint, hn::Mul(r, hn::Set(dd, kMidpointTolerance)));
    return r;
}

// 2^z rounded to float, lane by lane, with the scalar form's results for every input.
template <class DF>
HWY_INLINE hn::Vec<DF> Exp2ToFloatVec(DF df, hn::Vec<DF> z) {
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    hn::Mask<decltype(dd)> unsure;
    auto r = hn::DemoteTo(df, Exp2Fast(dd, hn::PromoteTo(dd, z), unsure));
    const bool anyUnsure = !hn::AllFalse(dd, unsure);
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    hn::Mask<decltype(dd)> unsureLo, unsureHi;
    const auto lo = hn::DemoteTo(dh, Exp2Fast(dd, hn::PromoteTo(dd, hn::LowerHalf(dh, z)), unsureLo));
    const auto hi = hn::DemoteTo(dh, Exp2Fast(dd, hn::PromoteTo(dd, hn::UpperHalf(dh, z)), unsureHi));
    auto r = hn::Combine(df, hi, lo);
    const bool anyUnsure = !hn::AllFalse(dd, hn::Or(unsureLo, unsureHi));
#endif
    if (HWY_UNLIKELY(anyUnsure)) {
        // Rare: the scalar form settles the whole vector (its fast path gives the same bits as
        // this one on every lane, and its accurate path the correct rounding on the rest).
        HWY_ALIGN float lanes[hn::MaxLanes(df)];
        hn::Store(z, df, lanes);
        for (size_t i = 0; i < hn::Lanes(df); ++i) lanes[i] = Exp2ToFloat(lanes[i]);
        r = hn::Load(df, lanes);
    }
    // Overflow is named outright, as in the scalar form: some targets' conversions saturate.
    r = hn::IfThenElse(hn::Ge(z, hn::Set(df, 128.0f)), hn::Inf(df), r);
    return hn::IfThenElse(hn::IsNaN(z), z, r);
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
