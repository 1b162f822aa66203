// Vector form of Exp2ToFloat (exp2.h): one float lane per value, computed in double lanes with
// the same operations in the same order as the scalar form's fast path, so both form the same
// approximation and round it only where that gives the correctly rounded result; lanes it cannot
// settle go to the scalar form.
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

// kScaledTable[bits mod 16], lane by lane.
template <class DU>
HWY_INLINE hn::Vec<DU> ScaledTableEntry(DU du, hn::Vec<DU> bits) {
    using exp2_detail::kScaledTable;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // The whole table fits two registers; the permute reads the low four bits of each index.
    static_assert(hn::MaxLanes(DU()) == 8, "two registers of eight entries");
    const auto lo = hn::Load(du, kScaledTable);
    const auto hi = hn::Load(du, kScaledTable + 8);
    return hn::Vec<DU>{_mm512_permutex2var_epi64(lo.raw, bits.raw, hi.raw)};
#else
    const hn::RebindToSigned<DU> di;
    const auto index = hn::BitCast(di, hn::And(bits, hn::Set(du, exp2_detail::kTableSize - 1)));
    return hn::GatherIndex(du, kScaledTable, index);
#endif
}

// The fast path's approximation of 2^x on float values in [kLowest, kOverflow) held in double
// lanes.
template <class DD>
HWY_INLINE hn::Vec<DD> Exp2Fast(DD dd, hn::Vec<DD> x) {
    using namespace exp2_detail;
    const hn::RebindToUnsigned<DD> du;
    const auto bias = hn::Set(dd, kTableBias);
    const auto biased = hn::Add(x, bias);
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // x less its nearest sixteenth (ties to even, as the bias rounds) in one exact instruction:
    // the scalar form's r, except that an r of zero may come out as -0, which t + t * q ignores.
    const auto r = hn::Vec<DD>{_mm512_reduce_pd(x.raw, (kTableBits << 4) | _MM_FROUND_TO_NEAREST_INT)};
#else
    const auto r = hn::Sub(x, hn::Sub(biased, bias));
#endif
    const auto bits = hn::BitCast(du, biased);
    const auto t = hn::BitCast(dd, hn::Add(ScaledTableEntry(du, bits), hn::ShiftLeft<kScaleShift>(bits)));
    return hn::Add(t, hn::Mul(t, Exp2Polynomial(r, LaneOps<DD>{dd})));
}

// Lanes of r whose rounding to float the window test by multiplication cannot vouch for.
template <class DD, class DH>
HWY_INLINE hn::Mask<DH> UnsureByProducts(DD dd, DH dh, hn::Vec<DD> r) {
    using namespace exp2_detail;
    return hn::Ne(hn::DemoteTo(dh, hn::Mul(r, hn::Set(dd, kRaise))), hn::DemoteTo(dh, hn::Mul(r, hn::Set(dd, kLower))));
}

// Lanes of r with the dropped bits near a float midpoint; valid where 2^z is a normal float.
template <class DD>
HWY_INLINE hn::Mask<hn::RebindToSigned<DD>> UnsureByBits(DD /* tag */, hn::Vec<DD> r) {
    using namespace exp2_detail;
    const hn::RebindToSigned<DD> di;
    const auto offset = hn::Sub(hn::BitCast(di, r), hn::Set(di, kMidpointBits - kMidpointWindow));
    return hn::Lt(hn::And(offset, hn::Set(di, kDroppedMask)), hn::Set(di, 2 * kMidpointWindow + 1));
}

// 2^z rounded to float, lane by lane, with the scalar form's results for every input.
template <class DF>
HWY_INLINE hn::Vec<DF> Exp2ToFloatVec(DF df, hn::Vec<DF> z) {
    using namespace exp2_detail;
#if HWY_TARGET == HWY_SCALAR
    const auto belowOverflow = hn::Lt(z, hn::Set(df, kOverflow));  // false for NaN
    const hn::Rebind<double, DF> dd;
    const auto fast = Exp2Fast(dd, hn::PromoteTo(dd, hn::Max(z, hn::Set(df, kLowest))));
    auto result = hn::DemoteTo(df, fast);
    const bool settled = hn::AllTrue(df, belowOverflow) && hn::AllFalse(df, UnsureByProducts(dd, df, fast));
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    hn::Vec<decltype(dd)> lo, hi;
    bool settled;
    if (HWY_LIKELY(hn::AllTrue(df, hn::Lt(hn::Abs(z), hn::Set(df, kNormalBound))))) {  // false for NaN
        // No lane needs raising to kLowest.
        lo = Exp2Fast(dd, hn::PromoteTo(dd, hn::LowerHalf(dh, z)));
        hi = Exp2Fast(dd, hn::PromoteTo(dd, hn::UpperHalf(dh, z)));
        const hn::RebindToSigned<decltype(dd)> di;
        settled = hn::AllFalse(di, hn::Or(UnsureByBits(dd, lo), UnsureByBits(dd, hi)));
    } else {
        const auto belowOverflow = hn::Lt(z, hn::Set(df, kOverflow));  // false for NaN
        const auto zc = hn::Max(z, hn::Set(df, kLowest));
        lo = Exp2Fast(dd, hn::PromoteTo(dd, hn::LowerHalf(dh, zc)));
        hi = Exp2Fast(dd, hn::PromoteTo(dd, hn::UpperHalf(dh, zc)));
        settled = hn::AllTrue(df, belowOverflow) &&
                  hn::AllFalse(dh, hn::Or(UnsureByProducts(dd, dh, lo), UnsureByProducts(dd, dh, hi)));
    }
    auto result = hn::Combine(df, hn::DemoteTo(dh, hi), hn::DemoteTo(dh, lo));
#endif
    if (HWY_UNLIKELY(!settled)) {
        // The scalar form settles the whole vector: its fast path forms the same approximation
        // as this one on every ordinary lane, and its other paths the right result on the rest.
        HWY_ALIGN float lanes[hn::MaxLanes(df)];
        hn::Store(z, df, lanes);
        for (size_t i = 0; i < hn::Lanes(df); ++i) lanes[i] = Exp2ToFloat(lanes[i]);
        result = hn::Load(df, lanes);
    }
    return result;
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
