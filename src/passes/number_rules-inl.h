// Vector forms of the read and store rules (number_rules.h), one lane per pixel. Included
// once per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_NUMBER_RULES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_NUMBER_RULES_INL_H_
#undef QV_PASSES_NUMBER_RULES_INL_H_
#else
#define QV_PASSES_NUMBER_RULES_INL_H_
#endif

#include <cstdint>

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Stored unorm16 values held in 32-bit lanes (0 .. 65535) to floats: v / 65535, correctly
// rounded, without a division. v / 65535 is the binary fraction that repeats v's 16 bits,
// v * (2^-16 + 2^-32 + 2^-48 + ...); the first product is exact and the sum of the two rounds to
// the same float as the division for every stored value (the tests read all of them). As the
// first product is exact, a fused multiply-add rounds the same sum once, and so does its
// emulation where a target has none.
template <class DF>
HWY_INLINE hn::Vec<DF> ReadUnormWideVec(DF df, hn::Vec<hn::Rebind<uint32_t, DF>> v) {
    const hn::Vec<DF> f = hn::ConvertTo(df, hn::BitCast(hn::Rebind<int32_t, DF>(), v));
    return hn::MulAdd(f, hn::Set(df, 0x1p-16f), hn::Mul(f, hn::Set(df, 0x1p-32f + 0x1p-48f)));
}

// Stored unorm16 values (one per lane, in a half-width u16 vector) to floats: v / 65535.
template <class DF>
HWY_INLINE hn::Vec<DF> ReadUnormVec(DF df, hn::Vec<hn::Rebind<uint16_t, DF>> v) {
    return ReadUnormWideVec(df, hn::PromoteTo(hn::Rebind<uint32_t, DF>(), v));
}

// A whole number n in 0 .. 2^23 - 1 held in a float is read from the bits of n + 2^23: those
// bits are kWholeBiasBits + n.
inline constexpr float kWholeBias = 0x1p23f;
inline constexpr int32_t kWholeBiasBits = 0x4B000000;

// Floats to stored unorm16 values in the low 16 bits of 32-bit lanes (the bits above are not
// zero): clamp to [0, 1] (NaN gives 0), then the exactly nearest step of p = x * 65535, in float
// alone. On targets without a fused multiply-add: h = x * 65536 is exact, and so are its nearest integer m (adding and taking away 2^23,
// which leaves m in the low bits of the sum) and f = h - m, |f| <= 1/2. p = m + (f - x) with
// -3/2 < f - x <= 1/2, so the step is m, or m - 1 where f - x < -1/2, that is where f + 1/2 < x;
// that sum is exact wherever the test can hold (h >= 1/2). p lies half-way between steps only
// at x = 1/2, where the test fails and leaves m = 32768, the rule's even step. kNoNaN: the
// caller knows x is not NaN, so a plain maximum clamps it on every target.
template <bool kNoNaN, class DF>
HWY_INLINE hn::Vec<hn::Rebind<uint32_t, DF>> StoreUnormBits(DF df, hn::Vec<DF> v) {
#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
    v = hn::Max(v, hn::Zero(df));  // x86's max gives its second operand, 0, for NaN
#else
    if constexpr (kNoNaN) {
        v = hn::Max(v, hn::Zero(df));
    } else {
        v = hn::IfThenElseZero(hn::Gt(v, hn::Zero(df)), v);
    }
#endif
    v = hn::Min(v, hn::Set(df, 1.0f));
#if HWY_NATIVE_FMA
    // With a fused multiply-add the exact v * 65535 + 2^23 is rounded once; between 2^23 and
    // 2^24 the floats are the whole numbers, so that is 2^23 plus the nearest step of v * 65535,
    // ties to even: the rule itself, in one instruction.
    return hn::BitCast(hn::Rebind<uint32_t, DF>(), hn::MulAdd(v, hn::Set(df, 65535.0f), hn::Set(df, kWholeBias)));
#else
    const hn::Vec<DF> shift = hn::Set(df, kWholeBias);
    const hn::Vec<DF> h = hn::Mul(v, hn::Set(df, 65536.0f));
    hn::Vec<DF> step = hn::Add(h, shift);
    const hn::Vec<DF> f = hn::Sub(h, hn::Sub(step, shift));
    step = hn::IfThenElse(hn::Lt(hn::Add(f, hn::Set(df, 0.5f)), v), hn::Sub(step, hn::Set(df, 1.0f)), step);
    return hn::BitCast(hn::Rebind<uint32_t, DF>(), step);
#endif
}

// Floats to stored unorm16 values held in 32-bit lanes (0 .. 65535).
template <class DF>
HWY_INLINE hn::Vec<hn::Rebind<uint32_t, DF>> StoreUnormWideVec(DF df, hn::Vec<DF> v) {
    return hn::And(StoreUnormBits<false>(df, v), hn::Set(hn::Rebind<uint32_t, DF>(), 0xFFFFu));
}

// Floats to stored unorm16 values, one per lane of a half-width u16 vector.
template <class DF>
HWY_INLINE hn::Vec<hn::Rebind<uint16_t, DF>> StoreUnormVec(DF df, hn::Vec<DF> v) {
    const hn::Rebind<int32_t, DF> di32;
    return hn::DemoteTo(hn::Rebind<uint16_t, DF>(), hn::BitCast(di32, StoreUnormWideVec(df, v)));
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
