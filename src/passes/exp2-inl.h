// Vector form of Exp2ToFloat (exp2.h): one float lane per value, computed in double lanes by the
// scalar form's fast path (the same operations on the same values, in the same order, its
// multiply-adds fused where the target has them), so both round it only where that gives the
// correctly rounded result; lanes it cannot settle go to the scalar form.
// Included once per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_EXP2_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_EXP2_INL_H_
#undef QV_PASSES_EXP2_INL_H_
#else
#define QV_PASSES_EXP2_INL_H_
#endif

#include <cstdint>

#include <hwy/highway.h>

#include "passes/exp2.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#include "passes/exp2_polynomial-inl.h"

// a * b + c in double lanes. Where the target has a fused multiply-add it rounds once: the
// approximation then takes fewer roundings than the scalar form's, stays within the error bound
// the window tests assume (exp2.h), and so rounds to float only where that is the correct
// rounding, as the scalar form does.
template <class V>
HWY_INLINE V LaneMulAdd(V a, V b, V c) {
#if HWY_NATIVE_FMA
    return hn::MulAdd(a, b, c);
#else
    return hn::Add(c, hn::Mul(a, b));
#endif
}

template <class DD>
struct LaneOps {
    DD dd;
    HWY_INLINE hn::Vec<DD> Mul(hn::Vec<DD> a, hn::Vec<DD> b) const { return hn::Mul(a, b); }
    HWY_INLINE hn::Vec<DD> MulAdd(hn::Vec<DD> a, hn::Vec<DD> b, hn::Vec<DD> c) const { return LaneMulAdd(a, b, c); }
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
    return LaneMulAdd(t, Exp2Polynomial(r, LaneOps<DD>{dd}), t);
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
    const auto moved = hn::Add(hn::BitCast(di, r), hn::Set(di, kMidpointBits + kMidpointWindow));
    return hn::Eq(hn::And(moved, hn::Set(di, kUnsureBits)), hn::Zero(di));
}

// Every lane of z by the scalar form.
template <class DF>
HWY_NOINLINE hn::Vec<DF> Exp2ToFloatByScalar(DF df, hn::Vec<DF> z) {
    HWY_ALIGN float lanes[hn::MaxLanes(df)];
    hn::Store(z, df, lanes);
    for (size_t i = 0; i < hn::Lanes(df); ++i) lanes[i] = Exp2ToFloat(lanes[i]);
    return hn::Load(df, lanes);
}

// 2^z rounded to float for one vector of any z: the fast approximation where z is raised to
// kLowest, the window test by multiplication, and the scalar form for vectors it cannot settle.
template <class DF>
HWY_INLINE hn::Vec<DF> Exp2ToFloatAnyRange(DF df, hn::Vec<DF> z) {
    using namespace exp2_detail;
    const auto belowOverflow = hn::Lt(z, hn::Set(df, kOverflow));  // false for NaN
    const auto clamped = hn::Max(z, hn::Set(df, kLowest));
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    const auto fast = Exp2Fast(dd, hn::PromoteTo(dd, clamped));
    const auto result = hn::DemoteTo(df, fast);
    const bool settled = hn::AllTrue(df, belowOverflow) && hn::AllFalse(df, UnsureByProducts(dd, df, fast));
#else
    const hn::Half<DF> dh;
    const hn::Repartition<double, DF> dd;
    const auto lower = Exp2Fast(dd, hn::PromoteTo(dd, hn::LowerHalf(dh, clamped)));
    const auto upper = Exp2Fast(dd, hn::PromoteTo(dd, hn::UpperHalf(dh, clamped)));
    const auto result = hn::Combine(df, hn::DemoteTo(dh, upper), hn::DemoteTo(dh, lower));
    const bool settled = hn::AllTrue(df, belowOverflow) &&
                         hn::AllFalse(dh, hn::Or(UnsureByProducts(dd, dh, lower), UnsureByProducts(dd, dh, upper)));
#endif
    // The scalar form settles the whole vector: it gives the correctly rounded result on every
    // lane, which is what this one gives on every lane it settles.
    return HWY_LIKELY(settled) ? result : Exp2ToFloatByScalar(df, z);
}

#if HWY_TARGET != HWY_SCALAR
// The double lanes of N float vectors as one value: chain 2n is the lower half of vector n,
// chain 2n + 1 its upper half.
template <class DF, size_t N>
struct Exp2Chains {
    using DD = hn::Repartition<double, DF>;
    static constexpr size_t kCount = 2 * N;
    hn::Vec<DD> v[kCount];
};

// Exp2Polynomial's operations, each applied to every chain in turn: the chains are independent,
// and interleaved their latencies overlap. Left to itself the compiler orders the operations
// chain after chain, and the processor, whose queue of waiting operations fills with one long
// chain, then runs them barely overlapped; with 16 lanes an empty statement after each step,
// which the compiler must assume reads and changes every chain, keeps them interleaved step by
// step (on the narrower targets the compiler answers it by moving the chains through memory).
template <class DF, size_t N>
struct ChainOps {
    using Chains = Exp2Chains<DF, N>;
    HWY_INLINE static void KeepInterleaved(Chains& c) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3 && (defined(__GNUC__) || defined(__clang__))
        for (size_t i = 0; i < Chains::kCount; ++i) asm volatile("" : "+v"(c.v[i].raw));
#else
        (void)c;
#endif
    }
    HWY_INLINE Chains Mul(const Chains& a, const Chains& b) const {
        Chains r;
        for (size_t i = 0; i < Chains::kCount; ++i) r.v[i] = hn::Mul(a.v[i], b.v[i]);
        KeepInterleaved(r);
        return r;
    }
    HWY_INLINE Chains MulAdd(const Chains& a, const Chains& b, const Chains& c) const {
        Chains r;
        for (size_t i = 0; i < Chains::kCount; ++i) r.v[i] = LaneMulAdd(a.v[i], b.v[i], c.v[i]);
        KeepInterleaved(r);
        return r;
    }
    HWY_INLINE Chains Const(double c) const {
        Chains r;
        const auto v = hn::Set(typename Chains::DD(), c);
        for (size_t i = 0; i < Chains::kCount; ++i) r.v[i] = v;
        return r;
    }
};

template <size_t N, class DF>
HWY_INLINE Exp2Chains<DF, N> PromoteChains(DF /* tag */, const hn::Vec<DF>* z) {
    const hn::Half<DF> dh;
    const typename Exp2Chains<DF, N>::DD dd;
    Exp2Chains<DF, N> c;
    for (size_t n = 0; n < N; ++n) {
        c.v[2 * n] = hn::PromoteTo(dd, hn::LowerHalf(dh, z[n]));
        c.v[2 * n + 1] = hn::PromoteTo(dd, hn::UpperHalf(dh, z[n]));
    }
    return c;
}

// Where every |z| <= kNearZero: 1 + q(z), which is what Exp2Fast forms there.
template <size_t N, class DF>
HWY_INLINE Exp2Chains<DF, N> Exp2NearZero(DF df, const hn::Vec<DF>* z) {
    const ChainOps<DF, N> ops;
    return ops.MulAdd(ops.Const(1.0), Exp2Polynomial(PromoteChains<N>(df, z), ops), ops.Const(1.0));
}

// Exp2Fast of every lane, for z with |z| < kNormalBound.
template <size_t N, class DF>
HWY_INLINE Exp2Chains<DF, N> Exp2Normal(DF df, const hn::Vec<DF>* z) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // The split of z and the table entries are formed for all 16 float lanes at once, in float
    // and in 32-bit lanes (exp2.h): the same r, the same j and the same bits of t as Exp2Fast
    // forms half by half.
    using namespace exp2_detail;
    static_assert(hn::MaxLanes(DF()) == 16 && kTableSize == 16, "one register holds each half of the table");
    const hn::RebindToSigned<DF> di;
    const hn::RebindToUnsigned<DF> du;
    const typename Exp2Chains<DF, N>::DD dd;
    // Halves paired into 64-bit entries, lanes 0..7 and 8..15.
    alignas(64) static constexpr int32_t kPairLower[16] = {0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23};
    alignas(64) static constexpr int32_t kPairUpper[16] = {8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31};
    const auto tableLow = hn::Load(du, kScaledTableLow);
    const auto tableHigh = hn::Load(du, kScaledTableHigh);
    const auto pairLower = hn::Load(di, kPairLower);
    const auto pairUpper = hn::Load(di, kPairUpper);
    hn::Vec<DF> r[N];
    Exp2Chains<DF, N> t;
    for (size_t n = 0; n < N; ++n) {
        // z less its nearest sixteenth, exactly.
        r[n] = hn::Vec<DF>{_mm512_reduce_ps(z[n].raw, (kTableBits << 4) | _MM_FROUND_TO_NEAREST_INT)};
        const auto bits = hn::BitCast(di, hn::Add(z[n], hn::Set(df, kTableBiasFloat)));
        // The permutes read the low four bits of each index: k.
        const __m512i low = _mm512_permutexvar_epi32(bits.raw, tableLow.raw);
        const __m512i high = _mm512_add_epi32(_mm512_permutexvar_epi32(bits.raw, tableHigh.raw),
                                              hn::ShiftLeft<kScaleShift - 32>(bits).raw);
        t.v[2 * n] = hn::Vec<decltype(dd)>{_mm512_castsi512_pd(_mm512_permutex2var_epi32(low, pairLower.raw, high))};
        t.v[2 * n + 1] = hn::Vec<decltype(dd)>{_mm512_castsi512_pd(_mm512_permutex2var_epi32(low, pairUpper.raw, high))};
    }
    const ChainOps<DF, N> ops;
    return ops.MulAdd(t, Exp2Polynomial(PromoteChains<N>(df, r), ops), t);
#else
    const hn::Half<DF> dh;
    const typename Exp2Chains<DF, N>::DD dd;
    Exp2Chains<DF, N> c;
    for (size_t n = 0; n < N; ++n) {
        c.v[2 * n] = Exp2Fast(dd, hn::PromoteTo(dd, hn::LowerHalf(dh, z[n])));
        c.v[2 * n + 1] = Exp2Fast(dd, hn::PromoteTo(dd, hn::UpperHalf(dh, z[n])));
    }
    return c;
#endif
}

// out[n] = the chains of vector n rounded to float, and true, where the bit test vouches for
// every lane; false where it cannot.
template <size_t N, class DF>
HWY_INLINE bool RoundWhereSure(DF df, const Exp2Chains<DF, N>& c, hn::Vec<DF>* out) {
    using namespace exp2_detail;
    const typename Exp2Chains<DF, N>::DD dd;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // The test and the rounding share one addition. With v = bits + 2^28 + W, a lane is unsure
    // when v's low 29 bits lie below 2W; on every other lane the dropped bits lie at least W
    // units from 2^28, so v >> 29 is what bits + 2^28 >> 29 is: the bits of r rounded to the
    // nearest float, a carry into the exponent included. The addition also takes the
    // difference of the exponent biases off the exponent field (every result here is a
    // normal float), so the low 32 bits of v >> 29 are the float's bits. Shifted left by 3, v
    // holds those in its upper 32 bits and its dropped bits at the top of its lower 32 bits:
    // two lane permutes gather both for 16 lanes.
    (void)dd;
    constexpr int kSpare = 32 - kDroppedBits;
    constexpr int64_t kMove = kMidpointBits + kMidpointWindow - static_cast<int64_t>((kExponentBias - 127) << kMantissaBits);
    const hn::Repartition<int64_t, DF> di64;
    const hn::RebindToSigned<DF> di32;
    alignas(64) static constexpr int32_t kLowHalves[16] = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
    alignas(64) static constexpr int32_t kHighHalves[16] = {1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31};
    const auto lowHalves = hn::Load(di32, kLowHalves);
    const auto highHalves = hn::Load(di32, kHighHalves);
    const auto move = hn::Set(di64, kMove);
    const auto unsureBits = hn::Set(di32, static_cast<int32_t>(kUnsureBits << kSpare));
    __mmask16 unsure = 0;
    for (size_t n = 0; n < N; ++n) {
        const auto lower = hn::ShiftLeft<kSpare>(hn::Add(hn::BitCast(di64, c.v[2 * n]), move));
        const auto upper = hn::ShiftLeft<kSpare>(hn::Add(hn::BitCast(di64, c.v[2 * n + 1]), move));
        const __m512i dropped = _mm512_permutex2var_epi32(lower.raw, lowHalves.raw, upper.raw);
        unsure = _kor_mask16(unsure, _mm512_testn_epi32_mask(dropped, unsureBits.raw));
        out[n] = hn::Vec<DF>{_mm512_castsi512_ps(_mm512_permutex2var_epi32(lower.raw, highHalves.raw, upper.raw))};
    }
    return _kortestz_mask16_u8(unsure, unsure) != 0;
#else
    const hn::Half<DF> dh;
    auto unsure = UnsureByBits(dd, c.v[0]);
    for (size_t i = 1; i < Exp2Chains<DF, N>::kCount; ++i) unsure = hn::Or(unsure, UnsureByBits(dd, c.v[i]));
    for (size_t n = 0; n < N; ++n) out[n] = hn::Combine(df, hn::DemoteTo(dh, c.v[2 * n + 1]), hn::DemoteTo(dh, c.v[2 * n]));
    return hn::AllFalse(hn::RebindToSigned<decltype(dd)>(), unsure);
#endif
}
#endif  // HWY_TARGET != HWY_SCALAR

// 2^z rounded to float, lane by lane, for N vectors, with the scalar form's results for every
// input. When every |z| of the N vectors is at most kNearZero, or else below kNormalBound (both
// false for NaN), they take the fast approximation (the first without the table) and the bit
// test together; otherwise each goes its own way.
template <size_t N, class DF>
HWY_INLINE void Exp2ToFloatVecs(DF df, const hn::Vec<DF>* z, hn::Vec<DF>* out) {
    using namespace exp2_detail;
#if HWY_TARGET == HWY_SCALAR
    for (size_t n = 0; n < N; ++n) out[n] = Exp2ToFloatAnyRange(df, z[n]);
#else
    auto nearZero = hn::Le(hn::Abs(z[0]), hn::Set(df, kNearZero));
    for (size_t n = 1; n < N; ++n) nearZero = hn::And(nearZero, hn::Le(hn::Abs(z[n]), hn::Set(df, kNearZero)));
    Exp2Chains<DF, N> fast;
    if (HWY_LIKELY(hn::AllTrue(df, nearZero))) {
        fast = Exp2NearZero<N>(df, z);
    } else {
        auto normal = hn::Lt(hn::Abs(z[0]), hn::Set(df, kNormalBound));
        for (size_t n = 1; n < N; ++n) normal = hn::And(normal, hn::Lt(hn::Abs(z[n]), hn::Set(df, kNormalBound)));
        if (HWY_UNLIKELY(!hn::AllTrue(df, normal))) {
            for (size_t n = 0; n < N; ++n) out[n] = Exp2ToFloatAnyRange(df, z[n]);
            return;
        }
        fast = Exp2Normal<N>(df, z);
    }
    if (HWY_UNLIKELY(!RoundWhereSure<N>(df, fast, out))) {
        // Rare: the scalar form settles them, as above.
        for (size_t n = 0; n < N; ++n) out[n] = Exp2ToFloatByScalar(df, z[n]);
    }
#endif
}

template <class DF>
HWY_INLINE hn::Vec<DF> Exp2ToFloatVec(DF df, hn::Vec<DF> z) {
    hn::Vec<DF> out;
    Exp2ToFloatVecs<1>(df, &z, &out);
    return out;
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
