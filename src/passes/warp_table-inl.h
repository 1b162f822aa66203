// The weight table (Tex11) as the warps' row kernels read it: the sampler's point-or-linear
// choice for a 2x2 block, and reads of channels x, y and z for one lane per pixel. Included once
// per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_WARP_TABLE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_WARP_TABLE_INL_H_
#undef QV_PASSES_WARP_TABLE_INL_H_
#else
#define QV_PASSES_WARP_TABLE_INL_H_
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

#include "gpu/spline36-inl.h"
#include "gpu/weight_table.h"
#include "passes/detail_rows-inl.h"
#include "passes/scratch_memory.h"
#include "passes/number_rules-inl.h"
#include "platform/d3d9/pixel_program.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace warp_table {

using detail_rows::DF;
using detail_rows::DI;
using detail_rows::VF;
using MF = hn::Mask<DF>;

#if HWY_TARGET != HWY_SCALAR
using DD = hn::Repartition<double, DF>;

// The 64-bit words base[index] for 32-bit indices, one word a lane of half the float lanes.
// x86 gathers take the 32-bit indices as they are; elsewhere they are widened first.
HWY_INLINE hn::Vec<DD> GatherPairs(const double* base, hn::Vec<hn::Half<DI>> index) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    return hn::Vec<DD>{_mm512_i32gather_pd(index.raw, base, 8)};
#elif HWY_ARCH_X86 && HWY_TARGET == HWY_AVX2
    return hn::Vec<DD>{_mm256_i32gather_pd(base, index.raw, 8)};
#else
    const DD dd;
    return hn::GatherIndex(dd, base, hn::PromoteTo(hn::Rebind<int64_t, DD>(), index));
#endif
}
#endif

// The table as the generic sampler reads it. Outside the scalar target each channel is also laid
// out as pairs of entries, so that one 64-bit gather fetches both entries a read blends: pair
// i + 1 (i = -1 .. n - 1) holds entries clamp(i) and clamp(i + 1), the two a linear read with
// floor(a) = i blends; pair n + 1 + e holds entry min(e, n - 1) twice, what a point read of
// entry e blends with fraction 0 (e = n, from u = 1, being the last entry). Half the loads of
// gathering every entry on its own.
//
// When the table is the filter's own (gpu::HoldsWeightTable), reads at coordinates in [0, 1]
// compute their two entries instead: piece c of the kernel at e / (n - 1) in single precision,
// plus the entry's correction (gpu::FilterTableCorrections), picked from registers by a permute.
// A few float operations instead of the gathers, whose loads are the warps' bottleneck, and the
// same bits; the last entry, which belongs to the next piece, comes from the table.
class WeightTable {
public:
    // readsInRange: every read the caller makes has its coordinate in [0, 1] (Read<true>).
    WeightTable(const gfx::SamplerBinding& s, bool readsInRange)
        : entries_(s.texture.RowF(0)),
          count_(s.texture.width),
          width_(hn::Set(DF(), static_cast<float>(s.texture.width))),
          last_(static_cast<float>(s.texture.width - 1)),
          changeLimit_(hn::Set(DF(), ChangeLimit(static_cast<float>(s.texture.width))))
#if HWY_TARGET != HWY_SCALAR
          ,
          storage_(sizeof(double) * 3 * PerChannel())
#endif
    {
        const DF df;
        const MF yes = hn::Eq(hn::Zero(df), hn::Zero(df));
        const MF no = hn::Not(yes);
        minIsPoint_ = s.state.minFilter == gfx::Filter::Point ? yes : no;
        magIsPoint_ = s.state.magFilter == gfx::Filter::Point ? yes : no;
#if HWY_TARGET != HWY_SCALAR
        const gpu::WeightTableCorrections& corrections = gpu::FilterTableCorrections();
        computed_ = corrections.complete && gpu::HoldsWeightTable(entries_, count_);
        for (int c = 0; c < 3; ++c) {
            lastEntry_[c] = hn::Set(df, Entry(count_ - 1, c));
            for (size_t k = 0; k < kCorrectionVectors; ++k)
                corrections_[c][k] =
                    hn::LoadU(DI(), reinterpret_cast<const int32_t*>(corrections.words[c]) + k * kLanes);
        }
        // Rebuilt for every band (a few microseconds) in memory that each thread keeps, unless
        // no read will gather from it.
        for (int c = 0; c < 3 && !(computed_ && readsInRange); ++c) {
            double* channel = storage_.As<double>() + static_cast<size_t>(c) * PerChannel();
            float* out = reinterpret_cast<float*>(channel);
            for (int j = 0; j <= count_; ++j) {
                out[2 * j] = Entry(std::clamp(j - 1, 0, count_ - 1), c);
                out[2 * j + 1] = Entry(std::min(j, count_ - 1), c);
            }
            for (int e = 0; e <= count_; ++e) {
                out[2 * (count_ + 1 + e)] = Entry(std::min(e, count_ - 1), c);
                out[2 * (count_ + 1 + e) + 1] = Entry(std::min(e, count_ - 1), c);
            }
            pairs_[c] = channel;
        }
#else
        (void)readsInRange;
#endif
    }

    // The filter of a 2x2 block's read from the coordinates of its top-left pixel and of that
    // pixel's right and lower neighbours: the minifying filter exactly when the larger rate of
    // change exceeds one entry a pixel. kInRange: no coordinate is NaN, so the larger change can
    // be taken first and compared with the largest change whose rate is at most one entry.
    template <bool kInRange>
    HWY_INLINE MF PointFilter(VF topLeft, VF right, VF below) const {
        MF minified;
        if constexpr (kInRange) {
            const VF change = hn::Max(hn::Abs(hn::Sub(right, topLeft)), hn::Abs(hn::Sub(below, topLeft)));
            minified = hn::Gt(change, changeLimit_);
        } else {
            const VF rateX = hn::Mul(hn::Abs(hn::Sub(right, topLeft)), width_);
            const VF rateY = hn::Mul(hn::Abs(hn::Sub(below, topLeft)), width_);
            const VF rate = hn::IfThenElse(hn::Gt(rateX, rateY), rateX, rateY);
            minified = hn::Gt(rate, hn::Set(DF(), 1.0f));
        }
        return hn::Or(hn::And(minified, minIsPoint_), hn::AndNot(minified, magIsPoint_));
    }

    // Channels x, y, z at coordinate u. A point read takes entry floor(u * n) through the
    // linear formula with both entries the same and fraction 0, which gives that entry exactly
    // (1 * e + 0 * e is e for every finite e, signed zeros included). kInRange: u lies in
    // [0, 1], so no index needs clamping.
    template <bool kInRange>
    HWY_INLINE void Read(VF u, MF point, VF out[3]) const {
        const DF df;
        const DI di;
        const VF s = hn::Mul(u, width_);
        const VF a = hn::Sub(s, hn::Set(df, 0.5f));
        const VF lowerF = hn::Floor(a);
        const VF fraction = hn::IfThenZeroElse(point, hn::Sub(a, lowerF));
        const VF keep = hn::Sub(hn::Set(df, 1.0f), fraction);
#if HWY_TARGET == HWY_SCALAR
        const VF nearest = detail_rows::ClampedIndexVec(df, s, last_);
        const VF i0 = hn::IfThenElse(point, nearest, detail_rows::ClampedIndexVec(df, lowerF, last_));
        const VF i1 = hn::IfThenElse(
            point, nearest, detail_rows::ClampedIndexVec(df, hn::Add(lowerF, hn::Set(df, 1.0f)), last_));
        const auto e0 = hn::ShiftLeft<2>(hn::ConvertTo(di, i0));
        const auto e1 = hn::ShiftLeft<2>(hn::ConvertTo(di, i1));
        for (int c = 0; c < 3; ++c) {
            const VF v0 = hn::GatherIndex(df, entries_ + c, e0);
            const VF v1 = hn::GatherIndex(df, entries_ + c, e1);
            out[c] = hn::Add(hn::Mul(keep, v0), hn::Mul(fraction, v1));
        }
#else
        VF nearest, lower;
        if constexpr (kInRange) {
            nearest = hn::Floor(s);
            lower = lowerF;
        } else {
            // Clamped in float as the scalar target does (NaN takes the lowest), the blend's
            // lower entry to -1 .. n - 1: its pair then holds both clamped entries.
            nearest = detail_rows::ClampedIndexVec(df, s, last_);
            const VF lastEntry = hn::Set(df, last_);
            const VF below = hn::Set(df, -1.0f);
            lower = hn::IfThenElse(hn::Gt(lowerF, below), lowerF, below);
            lower = hn::IfThenElse(hn::Gt(lower, lastEntry), lastEntry, lower);
        }
        if constexpr (kInRange) {
            if (computed_) {
                ComputedRead(point, nearest, lower, keep, fraction, out);
                return;
            }
        }
        // The pair, one past pairF >= -1: a small whole number, read from the bits of pair + 2^23.
        const VF pairF = hn::IfThenElse(point, hn::Add(nearest, hn::Set(df, static_cast<float>(count_))), lower);
        const auto pair = hn::Sub(hn::BitCast(di, hn::Add(pairF, hn::Set(df, kWholeBias + 1.0f))),
                                  hn::Set(di, kWholeBiasBits));
        const hn::Half<DI> dih;
        const auto pairLo = hn::LowerHalf(dih, pair);
        const auto pairHi = hn::UpperHalf(dih, pair);
        for (int c = 0; c < 3; ++c) {
            const VF lo = hn::BitCast(df, GatherPairs(pairs_[c], pairLo));
            const VF hi = hn::BitCast(df, GatherPairs(pairs_[c], pairHi));
            const VF v0 = hn::ConcatEven(df, hi, lo);
            const VF v1 = hn::ConcatOdd(df, hi, lo);
            out[c] = hn::Add(hn::Mul(keep, v0), hn::Mul(fraction, v1));
        }
#endif
    }

private:
#if HWY_TARGET != HWY_SCALAR
    using VI = hn::Vec<DI>;
    static constexpr size_t kLanes = hn::MaxLanes(DI());
    static constexpr size_t kCorrectionVectors = (gpu::kCorrectionWords + kLanes - 1) / kLanes;

    // Whole-number entries e in [0, n - 2] as the single-precision pieces take them: t = e / (n - 1),
    // 1 - t and their product, and where each entry's correction lies: its word and its bits there.
    struct Positions {
        VF t;
        VF u;
        VF p;
        VI word;
        VI shift;
    };
    static HWY_INLINE Positions PositionsOf(VF e) {
        const DF df;
        const DI di;
        const VF t = hn::Mul(e, hn::Set(df, gpu::kWeightTableStep));
        const VF u = hn::Sub(hn::Set(df, 1.0f), t);
        static_assert(gpu::kCorrectionBits == 2 && gpu::kCorrectionsPerWord == 16,
                      "entry i's correction: bits 2 * (i % 16) of word i / 16");
        const VI index = hn::ConvertTo(di, e);
        return {t, u, hn::Mul(t, u), hn::ShiftRight<4>(index), hn::ShiftLeft<1>(hn::And(index, hn::Set(di, 15)))};
    }

    // The correction words of channel kChannel at `word` (0 .. kCorrectionWords - 1; the lanes of
    // the last entry may hold anything).
    template <int kChannel>
    HWY_INLINE VI CorrectionWords(VI word) const {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
        static_assert(kCorrectionVectors == 2, "two vectors of correction words a channel");
        return VI{_mm512_permutex2var_epi32(corrections_[kChannel][0].raw, word.raw, corrections_[kChannel][1].raw)};
#else
        const DI di;
        const auto within = hn::IndicesFromVec(di, hn::And(word, hn::Set(di, static_cast<int32_t>(kLanes - 1))));
        const VI vector = hn::ShiftRight<hwy::FloorLog2(kLanes)>(word);
        VI out = hn::TableLookupLanes(corrections_[kChannel][0], within);
        for (size_t k = 1; k < kCorrectionVectors; ++k) {
            out = hn::IfThenElse(hn::Eq(vector, hn::Set(di, static_cast<int32_t>(k))),
                                 hn::TableLookupLanes(corrections_[kChannel][k], within), out);
        }
        return out;
#endif
    }

    // Channel kChannel of the entries at `e`; the lanes at the last entry take it from the table.
    template <int kChannel>
    HWY_INLINE VF ComputedEntries(const Positions& e, MF last) const {
        const DF df;
        const DI di;
        const auto k = [df](float c) { return hn::Set(df, c); };
        const VF piece = gpu::HWY_NAMESPACE::Spline36PieceFloat<kChannel>(e.t, e.u, e.p, k);
        const VI correction =
            hn::And(hn::Shr(CorrectionWords<kChannel>(e.word), e.shift), hn::Set(di, (1 << gpu::kCorrectionBits) - 1));
        const VF v = hn::BitCast(df, hn::Add(hn::BitCast(di, piece), correction));
        return hn::IfThenElse(last, lastEntry_[kChannel], v);
    }

    // Channels x, y and z of a read at coordinates in [0, 1]: the blend of entries `lower` and
    // `lower` + 1 clamped to the table, or the point read's entry `nearest` twice.
    HWY_INLINE void ComputedRead(MF point, VF nearest, VF lower, VF keep, VF fraction, VF out[3]) const {
        const DF df;
        const VF lastIndex = hn::Set(df, last_);
        const VF e0 = hn::IfThenElse(point, hn::Min(nearest, lastIndex), hn::Max(lower, hn::Zero(df)));
        const VF e1 = hn::IfThenElse(point, e0, hn::Min(hn::Add(lower, hn::Set(df, 1.0f)), lastIndex));
        const MF last0 = hn::Eq(e0, lastIndex);
        const MF last1 = hn::Eq(e1, lastIndex);
        const Positions t0 = PositionsOf(e0);
        const Positions t1 = PositionsOf(e1);
        out[0] = hn::Add(hn::Mul(keep, ComputedEntries<0>(t0, last0)), hn::Mul(fraction, ComputedEntries<0>(t1, last1)));
        out[1] = hn::Add(hn::Mul(keep, ComputedEntries<1>(t0, last0)), hn::Mul(fraction, ComputedEntries<1>(t1, last1)));
        out[2] = hn::Add(hn::Mul(keep, ComputedEntries<2>(t0, last0)), hn::Mul(fraction, ComputedEntries<2>(t1, last1)));
    }
#endif

    // The largest change m whose rate m * n (rounded as the sampler rounds it) is at most one
    // entry: rounding is monotonic, so a rate exceeds one exactly when the change exceeds m.
    static float ChangeLimit(float n) {
        float m = 1.0f / n;
        while (std::nextafter(m, 2.0f) * n <= 1.0f) m = std::nextafter(m, 2.0f);
        while (m * n > 1.0f) m = std::nextafter(m, 0.0f);
        return m;
    }

    float Entry(int e, int channel) const { return entries_[4 * e + channel]; }
#if HWY_TARGET != HWY_SCALAR
    size_t PerChannel() const { return static_cast<size_t>(2 * count_ + 2); }
#endif

    const float* entries_;  // four floats an entry
    int count_;             // entries
    VF width_;              // entries, as the float the sampler scales by
    float last_;
    VF changeLimit_;
    MF minIsPoint_;
    MF magIsPoint_;
#if HWY_TARGET != HWY_SCALAR
    ScratchBlock storage_;   // per channel: 2 * count + 2 pairs of floats
    const double* pairs_[3];
    bool computed_;          // the filter's own table: entries are computed, not gathered
    VF lastEntry_[3];
    VI corrections_[3][kCorrectionVectors];
#endif
};

}  // namespace warp_table
}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
