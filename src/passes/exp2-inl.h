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

// The fast path on float values held in double lanes (already raised to kLowest): 2^x rounded
// to float from above and from below its double approximation; the two agree exactly where the
// result is the correctly rounded one.
template <class DD, class DH>
HWY_INLINE void Exp2Fast(DD dd, DH dh, hn::Vec<DD> x, hn::Vec<DH>& raised, hn::Vec<DH>& lowered) {
    using namespace exp2_detail;
    const hn::RebindToUnsigned<DD> du;
    const auto bias = hn::Set(dd, kRoundingBias);
    const auto biased = hn::Add(x, bias);
    const auto n = hn::Sub(biased, bias);
    const auto f = hn::Sub(x, n);

    const auto p = Exp2Polynomial(f, LaneOps<DD>{dd});

    const auto scale = hn::BitCast(
        dd, hn::ShiftLeft<kMantissaBits>(hn::Add(hn::BitCast(du, biased), hn::Set(du, kExponentBias))));
    const auto r = hn::Mul(p, scale);
    raised = hn::DemoteTo(dh, hn::Mul(r, hn::Set(dd, kRaise)));
    lowered = hn::DemoteTo(dh, hn::Mul(r, hn::Set(dd, kLower)));
}

// 2^z rounded to float, lane by lane, with the scalar form's results for every input.
template <class DF>
HWY_INLINE hn::Vec<DF> Exp2ToFloatVec(DF df, hn::Vec<DF> z) {
    using namespace exp2_detail;
    // NaN and overflowing lanes are left to the scalar form, as are the rare unsure ones.
    const auto special = hn::Not(hn::Lt(z, hn::Set(df, kOverflow)));
    const auto zc = hn::Max(z, hn::Set(df, kLowest));
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    hn::Vec<DF> r, lowered;
    Exp2Fast(dd, df, hn::PromoteTo(dd, zc), r, lowered);
    const bool settled = hn::AllFalse(df, hn::Or(special, hn::Ne(r, lowered)));
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    hn::Vec<decltype(dh)> raisedLo, loweredLo, raisedHi, loweredHi;
    Exp2Fast(dd, dh, hn::PromoteTo(dd, hn::LowerHalf(dh, zc)), raisedLo, loweredLo);
    Exp2Fast(dd, dh, hn::PromoteTo(dd, hn::UpperHalf(dh, zc)), raisedHi, loweredHi);
    auto r = hn::Combine(df, raisedHi, raisedLo);
    const bool settled = hn::AllFalse(df, special) &&
                         hn::AllFalse(dh, hn::Or(hn::Ne(raisedLo, loweredLo), hn::Ne(raisedHi, loweredHi)));
#endif
    if (HWY_UNLIKELY(!settled)) {
        // The scalar form settles the whole vector: its fast path gives the same bits as this one
        // on every ordinary lane, and its other paths the right result on the rest.
        HWY_ALIGN float lanes[hn::MaxLanes(df)];
        hn::Store(z, df, lanes);
        for (size_t i = 0; i < hn::Lanes(df); ++i) lanes[i] = Exp2ToFloat(lanes[i]);
        r = hn::Load(df, lanes);
    }
    return r;
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
