// The read and store rules without division or double precision, for the warps' row kernels:
// the same bits as ReadUnorm and StoreUnorm (number_rules.h) for every stored value and every
// float, at a fraction of the cost of a vector division or of rounding in double. Included
// once per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_WARP_UNORM_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_WARP_UNORM_INL_H_
#undef QV_PASSES_WARP_UNORM_INL_H_
#else
#define QV_PASSES_WARP_UNORM_INL_H_
#endif

#include <cstdint>

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// v / 65535 = v * 2^-16 * (1 + 2^-16 + 2^-32 + ...). The first term is exact; the rest, taken
// as one rounded product with the float 2^-32 + 2^-48, lies so far below it that the sum's one
// rounding gives the correctly rounded quotient for every v in 0 .. 65535 (each checked in the
// tests; a single product with the float 1 / 65535 misses 512 of them, all at ties).
inline constexpr float kUnormHigh = 0x1p-16f;
inline constexpr float kUnormLow = 0x1.0001p-32f;

// A whole number n in 0 .. 2^23 - 1 held in a float is read from the bits of n + 2^23: those
// bits are kWholeBiasBits + n.
inline constexpr float kWholeBias = 0x1p23f;
inline constexpr int32_t kWholeBiasBits = 0x4B000000;

// Stored values v (0 .. 65535, one per 32-bit lane) to floats: v / 65535.
template <class DF>
HWY_INLINE hn::Vec<DF> ReadUnormLanes(DF df, hn::Vec<hn::RebindToSigned<DF>> v) {
    const auto f = hn::ConvertTo(df, v);
    return hn::Add(hn::Mul(f, hn::Set(df, kUnormHigh)), hn::Mul(f, hn::Set(df, kUnormLow)));
}

// Floats to stored values, in the low 16 bits of 32-bit lanes (the bits above are not zero):
// clamp to [0, 1] (NaN gives 0), then the nearest step of the exact product q * 65535 = h - q,
// h = q * 65536 exact. Rounding h to a whole r (h + 2^23 rounds it, and holds r in its bits),
// part = h - r lies in [-1/2, 1/2], and rounding half up gives
// r + floor(part + 1/2 - q): -1 exactly when part + 1/2 < q, else 0. That sum is exact
// wherever the comparison can go either way. Half up agrees with the rule's half to even, as
// the only tie, q = 1/2, rounds up to the even 32768. kNoNaN: the caller knows q is not NaN,
// so a plain maximum clamps it.
template <bool kNoNaN, class DF>
HWY_INLINE hn::Vec<hn::RebindToUnsigned<DF>> StoreUnormBits(DF df, hn::Vec<DF> q) {
    if constexpr (kNoNaN) {
        q = hn::Max(q, hn::Zero(df));
    } else {
        q = hn::IfThenElseZero(hn::Gt(q, hn::Zero(df)), q);
    }
    q = hn::Min(q, hn::Set(df, 1.0f));
    const auto bias = hn::Set(df, kWholeBias);
    const auto h = hn::Mul(q, hn::Set(df, 65536.0f));
    const auto biased = hn::Add(h, bias);
    const auto part = hn::Sub(h, hn::Sub(biased, bias));
    const auto down = hn::Lt(hn::Add(part, hn::Set(df, 0.5f)), q);
    return hn::BitCast(hn::RebindToUnsigned<DF>(), hn::IfThenElse(down, hn::Sub(biased, hn::Set(df, 1.0f)), biased));
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
