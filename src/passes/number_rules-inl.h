// Vector forms of the read and store rules (number_rules.h), one lane per pixel. Included
// once per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_NUMBER_RULES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_NUMBER_RULES_INL_H_
#undef QV_PASSES_NUMBER_RULES_INL_H_
#else
#define QV_PASSES_NUMBER_RULES_INL_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Stored unorm16 values (one per lane, in a half-width u16 vector) to floats: v / 65535.
template <class DF>
HWY_INLINE hn::Vec<DF> ReadUnormVec(DF df, hn::Vec<hn::Rebind<uint16_t, DF>> v) {
    const hn::Rebind<uint32_t, DF> du32;
    const auto f = hn::ConvertTo(df, hn::BitCast(hn::Rebind<int32_t, DF>(), hn::PromoteTo(du32, v)));
    return hn::Div(f, hn::Set(df, 65535.0f));
}

// Floats to stored unorm16 values: clamp to [0, 1] (NaN gives 0), then the exactly nearest
// step, formed in double as the scalar rule does.
template <class DF>
HWY_INLINE hn::Vec<hn::Rebind<uint16_t, DF>> StoreUnormVec(DF df, hn::Vec<DF> v) {
    v = hn::IfThenElseZero(hn::Gt(v, hn::Zero(df)), v);
    v = hn::Min(v, hn::Set(df, 1.0f));
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    const auto r = hn::Round(hn::Mul(hn::PromoteTo(dd, v), hn::Set(dd, 65535.0)));
    return hn::DemoteTo(hn::Rebind<uint16_t, DF>(), hn::DemoteTo(hn::Rebind<int32_t, DF>(), r));
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    const hn::Rebind<int32_t, decltype(dd)> di32h;
    const auto scale = hn::Set(dd, 65535.0);
    const auto lo = hn::Round(hn::Mul(hn::PromoteTo(dd, hn::LowerHalf(dh, v)), scale));
    const auto hi = hn::Round(hn::Mul(hn::PromoteTo(dd, hn::UpperHalf(dh, v)), scale));
    const hn::Rebind<int32_t, DF> di32;
    const auto both = hn::Combine(di32, hn::DemoteTo(di32h, hi), hn::DemoteTo(di32h, lo));
    return hn::DemoteTo(hn::Rebind<uint16_t, DF>(), both);
#endif
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
