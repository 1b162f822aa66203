// Optimised variants of warp_h and warp_v: row kernels, one lane per pixel, a row of 2x2 blocks
// at a time.
//
// For each block row the kernels first compute the phase f and the texel offset of every pixel
// in both its rows (the helper column W and row H included, read with clamping as the quads'
// helper pixels do). Each vector of blocks then takes the weight table's point-or-linear choice
// of both reads once, from the block's top-left pixel and its right and lower neighbours, and
// draws the pixels of both rows that lie in the band (its table reads made while the vector
// before is drawn, so that their latency is hidden). The shifted texel lies a few columns (or
// rows) from the pixel, within a range the strength bounds, so the six tap weights are placed
// per lane onto the fixed columns around the pixel that the range covers (+0 on the columns a
// lane's taps miss) and every channel is summed over those columns, read from rows converted
// once: one multiply and add per column instead of a choice among texels per tap. The channel
// sums start from their first term instead of +0 and take the inserted +0 terms; neither changes
// more than the sign of a zero sum, which divides to a zero that stores as 0. Strengths beyond
// that small reach (never set by the slider) fetch every tap texel by texel instead.
//
// Rows are converted and pixels stored by the division-free forms of the read and store rules
// (number_rules-inl.h), and the texels of the next block row are fetched into the cache while the
// current one is drawn. warp_h also converts the image rows of the next block row while it draws
// the current one, so that their loads and stores overlap its arithmetic.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/warp_optimised.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "effect/constant_blocks.h"
#include "passes/detail_rows-inl.h"
#include "passes/number_rules-inl.h"
#include "passes/program_names.h"
#include "passes/scratch_memory.h"
#include "passes/warp.h"
#include "passes/warp_rows-inl.h"
#include "passes/warp_table-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

using namespace detail_rows;  // NOLINT: the row helpers of this stage
using warp_rows::RowsAhead;
using warp_table::WeightTable;
using MF = hn::Mask<DF>;

// Phase f and texel offset (the shifted position's texel minus the pixel's own column or row) of
// every pixel in the two rows of a block row.
class BlockRowPhases {
public:
    explicit BlockRowPhases(size_t columns) : storage_(sizeof(float) * 4 * columns), columns_(columns) {}

    float* Phase(int r) const { return storage_.As<float>() + static_cast<size_t>(2 * r) * columns_; }
    float* Offset(int r) const { return storage_.As<float>() + static_cast<size_t>(2 * r + 1) * columns_; }

private:
    ScratchBlock storage_;
    size_t columns_;
};

// Columns the phase rows cover: every pixel's block, the helper column included, rounded up to
// whole vectors, and one vector more for the pair loads of the scalar target.
size_t PhaseColumns(int width) {
    const size_t N = hn::Lanes(DF());
    const size_t blocks = static_cast<size_t>(width + (width & 1));
    return (blocks + N - 1) / N * N + N;
}

// The shifted position's texel and phase from the map's slope, as the programs compute them.
struct Shift {
    VF gain;  // kWarpSlopeGain * sharp
    VF lo;
    VF hi;

    explicit Shift(float sharp)
        : gain(hn::Set(DF(), kWarpSlopeGain * sharp)), lo(hn::Set(DF(), -sharp)), hi(hn::Set(DF(), sharp)) {}

    // kFinite: a finite strength, so no NaN reaches the clamp and plain minimum and maximum
    // give the programs' result.
    template <bool kFinite>
    void Store(VF along, VF slope, float* phase, float* offset) const {
        const DF df;
        const VF scaled = hn::Mul(gain, slope);
        const VF shift = kFinite ? hn::Min(hn::Max(scaled, lo), hi) : ShaderMin(ShaderMax(scaled, lo), hi);
        const VF position = hn::Add(along, shift);
        const VF i = hn::Floor(position);
        hn::StoreU(hn::Sub(position, i), df, phase);
        hn::StoreU(hn::Sub(i, along), df, offset);
    }
};

// The read choices of one vector of blocks: the table at f and at 1 - f.
struct BlockFilters {
    MF atPhase;
    MF atRest;
};

template <bool kInRange>
HWY_INLINE BlockFilters FiltersOfBlocks(const WeightTable& table, const float* topRow, const float* bottomRow,
                                        size_t x) {
    const DF df;
    const VF one = hn::Set(df, 1.0f);
    const VF topLeft = EvenOfPair(df, topRow, x);
    const VF right = OddOfPair(df, topRow, x);
    const VF below = EvenOfPair(df, bottomRow, x);
    return {table.PointFilter<kInRange>(topLeft, right, below),
            table.PointFilter<kInRange>(hn::Sub(one, topLeft), hn::Sub(one, right), hn::Sub(one, below))};
}

// Weights of the six taps: k(2 + f), k(1 + f), k(f), k(1 - f), k(2 - f), k(3 - f), from the
// table at f and at 1 - f.
template <bool kInRange>
HWY_INLINE void TapWeights(const WeightTable& table, VF f, const BlockFilters& filters, VF weights[kWarpTaps]) {
    VF a[3], b[3];
    table.Read<kInRange>(f, filters.atPhase, a);
    table.Read<kInRange>(hn::Sub(hn::Set(DF(), 1.0f), f), filters.atRest, b);
    weights[0] = a[2];
    weights[1] = a[1];
    weights[2] = a[0];
    weights[3] = b[0];
    weights[4] = b[1];
    weights[5] = b[2];
}

// The tap weights of both rows of a vector of blocks (those of a row not drawn left as +0). The
// loops over a block's two rows are unrolled, so that these stay in registers.
struct BlockWeights {
    VF row[2][kWarpTaps] = {};
};

// The tap weights of the vector of blocks at x. The row kernels take them one vector ahead of
// the pixels they draw, so that the table's gathers overlap the sums, divisions and stores of
// the vector before.
template <bool kInRange>
HWY_INLINE BlockWeights WeightsOfBlocks(const WeightTable& table, const BlockRowPhases& phases, const bool draw[2],
                                        size_t x) {
    const BlockFilters filters = FiltersOfBlocks<kInRange>(table, phases.Phase(0), phases.Phase(1), x);
    BlockWeights w;
#pragma GCC unroll 2
    for (int r = 0; r < 2; ++r)
        if (draw[r]) TapWeights<kInRange>(table, hn::LoadU(DF(), phases.Phase(r) + x), filters, w.row[r]);
    return w;
}

// The sum of the six weights, in tap order from +0 as the taps are summed.
HWY_INLINE VF WeightSum(const VF weights[kWarpTaps]) {
    VF sum = hn::Zero(DF());
    for (int k = 0; k < kWarpTaps; ++k) sum = hn::Add(sum, weights[k]);
    return sum;
}

// Weights of the columns (or rows) kLow + kWarpFirstTap .. kHigh + kWarpFirstTap + kWarpTaps - 1
// around the lanes' pixels: a lane whose texel lies o away carries tap k's weight at column
// o - kLow + k and +0 at the others.
template <int kLow, int kHigh>
HWY_INLINE void ColumnWeights(VF offset, const VF weights[kWarpTaps], VF columns[kHigh - kLow + kWarpTaps]) {
    constexpr int kSpan = kHigh - kLow;
    const DF df;
    MF at[kSpan + 1];
    for (int o = 0; o < kSpan; ++o) at[o] = hn::Eq(offset, hn::Set(df, static_cast<float>(kLow + o)));
#pragma GCC unroll 16
    for (int c = 0; c < kSpan + kWarpTaps; ++c) {
        // Lanes at offset kHigh first; those at each lower offset override.
        int k = c - kSpan;
        bool zero = k < 0 || k >= kWarpTaps;
        VF w = zero ? hn::Zero(df) : weights[k];
#pragma GCC unroll 8
        for (int o = kSpan - 1; o >= 0; --o) {
            k = c - o;
            if (k >= 0 && k < kWarpTaps) {
                w = zero ? hn::IfThenElseZero(at[o], weights[k]) : hn::IfThenElse(at[o], weights[k], w);
                zero = false;
            } else if (!zero) {
                w = hn::IfThenZeroElse(at[o], w);
            }
        }
        columns[c] = w;
    }
}

// Sum over `count` columns (or rows) of weight times value, from the first term.
template <int kCount, class Value>
HWY_INLINE VF WeightedSum(const VF weights[kCount], const Value& value) {
    VF sum = hn::Mul(weights[0], value(0));
#pragma GCC unroll 16
    for (int k = 1; k < kCount; ++k) sum = hn::Add(sum, hn::Mul(weights[k], value(k)));
    return sum;
}

// One channel's tap values for `count` lanes fetched texel by texel: columns (or rows) `index`
// of the image, at the lanes' own row (or column).
template <class Texel>
VF FetchEach(const float* index, size_t count, const Texel& texel) {
    HWY_ALIGN float values[hn::MaxLanes(DF())] = {};
    for (size_t l = 0; l < count; ++l) values[l] = texel(l, static_cast<int>(index[l]));
    return hn::Load(DF(), values);
}

// Sums of `kChannels` channels over the six taps at texels texel + kWarpFirstTap .. fetched one
// by one, each clamped to 0 .. last.
template <int kChannels, class Texel>
void FetchedSums(VF texel, const VF weights[kWarpTaps], size_t count, float last, const Texel& read,
                 VF sum[kChannels]) {
    const DF df;
    for (int c = 0; c < kChannels; ++c) sum[c] = hn::Zero(df);
    for (int k = 0; k < kWarpTaps; ++k) {
        HWY_ALIGN float index[hn::MaxLanes(DF())];
        const VF tap = hn::Add(texel, hn::Set(df, static_cast<float>(k + kWarpFirstTap)));
        hn::Store(ClampedIndexVec(df, tap, last), df, index);
        for (int c = 0; c < kChannels; ++c) {
            const VF t = FetchEach(index, count, [&](size_t l, int at) { return read(l, at, c); });
            sum[c] = hn::Add(sum[c], hn::Mul(weights[k], t));
        }
    }
}

// Stores channels x, y, z and w as `count` (1 .. N) consecutive texels, from lanes whose low 16
// bits are the stored values (zw: channel z there, w above): two channels a 32-bit word, the
// lower first.
using VU32 = hn::Vec<hn::RebindToUnsigned<DF>>;
HWY_INLINE void StoreTexelWords(VU32 x, VU32 y, VU32 zw, uint16_t* HWY_RESTRICT dst, size_t count) {
    const hn::RebindToUnsigned<DF> du32;
    const auto xy = hn::Or(hn::And(x, hn::Set(du32, 0xFFFFu)), hn::ShiftLeft<16>(y));
    if (count == hn::Lanes(du32)) {
        hn::StoreInterleaved2(xy, zw, du32, reinterpret_cast<uint32_t*>(dst));
        return;
    }
    HWY_ALIGN uint32_t part[2 * hn::MaxLanes(du32)];
    hn::StoreInterleaved2(xy, zw, du32, part);
    std::memcpy(dst, part, count * 4 * sizeof(uint16_t));
}

// The stored values of the four channels' sums divided by the weight sum. kNoNaN: the quotients
// are not NaN (a finite strength within the picked reach: finite taps, the table's finite
// weights and a weight sum near 1).
template <bool kNoNaN>
HWY_INLINE void StoreQuotients(const VF sum[4], VF weightSum, uint16_t* HWY_RESTRICT dst, size_t count) {
    const DF df;
    const hn::RebindToUnsigned<DF> du32;
    const VU32 z = hn::And(StoreUnormBits<kNoNaN>(df, hn::Div(sum[2], weightSum)), hn::Set(du32, 0xFFFFu));
    const VU32 w = hn::ShiftLeft<16>(StoreUnormBits<kNoNaN>(df, hn::Div(sum[3], weightSum)));
    StoreTexelWords(StoreUnormBits<kNoNaN>(df, hn::Div(sum[0], weightSum)),
                    StoreUnormBits<kNoNaN>(df, hn::Div(sum[1], weightSum)), hn::Or(z, w), dst, count);
}

// The same for three channels and w = 0.
template <bool kNoNaN>
HWY_INLINE void StoreQuotientsNoW(const VF sum[3], VF weightSum, uint16_t* HWY_RESTRICT dst, size_t count) {
    const DF df;
    const hn::RebindToUnsigned<DF> du32;
    const VU32 z = hn::And(StoreUnormBits<kNoNaN>(df, hn::Div(sum[2], weightSum)), hn::Set(du32, 0xFFFFu));
    StoreTexelWords(StoreUnormBits<kNoNaN>(df, hn::Div(sum[0], weightSum)),
                    StoreUnormBits<kNoNaN>(df, hn::Div(sum[1], weightSum)), z, dst, count);
}

// The row kernel for a strength: the offsets i - x (or i - y) its shift can give pick the
// instantiation. The position x + shift is rounded, but x +- 1/2 are floats for every pixel the
// filter draws, so a bound |sharp| of 1/2 keeps it within [x - 1/2, x + 1/2] (offsets -1 and 0),
// and a bound of 1 (or 2) within one (or two) texels either way. Within those bounds the phase
// is finite and the table is read at coordinates in [0, 1].
using RowKernel = void (*)(const gfx::DrawContext&, int, int);

// warp_h over rows y0 .. y1 - 1. kLow <= kHigh: the texel's offsets from the pixel lie in
// [kLow, kHigh] and the taps are summed over the columns they can reach; kLow > kHigh: fetched
// texel by texel.
template <int kLow, int kHigh>
void WarpHRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    constexpr bool kPicked = kLow <= kHigh;
    constexpr int kColumns = kPicked ? kHigh - kLow + kWarpTaps : 1;
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const gfx::TextureView& image = ctx.samplers[kWarpHImageSampler].texture;
    const WeightTable table(ctx.samplers[kWarpTableSampler], kPicked);
    const Shift shifter(params.sharp);
    const size_t width = static_cast<size_t>(ctx.width);
    const size_t columns = PhaseColumns(ctx.width);
    const int span = static_cast<int>(columns);

    // The two rows of a block row at a time: the map's (the lower may be the helper row H) and
    // the image's.
    const gfx::TextureView& mapTexture = ctx.samplers[kWarpMapSampler].texture;
    ChannelRows<1> warpMap(mapTexture, 0, mapTexture.height, span, 1, 2);
    // The image's rows of a block row, and those of the next, converted ahead while this one is
    // drawn: four consecutive rows, so the two kinds never share a slot.
    ChannelRows<kPicked ? 4 : 0> texels(image, 0, image.height, span,
                                        kPicked ? std::max(-kLow, kHigh) - kWarpFirstTap + 1 : 0, 4);
    BlockRowPhases phases(columns);
    RowsAhead ahead;
    const float lastColumn = static_cast<float>(image.width - 1);

    for (int top = y0 & ~1; top < y1; top += 2) {
        for (int r = 0; r < 2; ++r) {
            const float* m = warpMap.Row(top + r, 0);
            for (size_t x = 0; x < columns; x += N) {
                const VF slope = hn::Sub(hn::LoadU(df, m + x - 1), hn::LoadU(df, m + x + 1));
                shifter.Store<kPicked>(Positions(df, static_cast<int>(x)), slope, phases.Phase(r) + x,
                                       phases.Offset(r) + x);
            }
        }
        ahead.Clear();
        for (int r = top + 2; r < std::min(top + 4, y1); ++r) {
            ahead.AddRead(warpMap.Texels(r), 8 * static_cast<size_t>(mapTexture.width));
            if constexpr (kPicked) ahead.AddRead(texels.Texels(r), 8 * static_cast<size_t>(image.width));
            ahead.AddWrite(ctx.target.Row(r), 8 * width);
        }
        const bool draw[2] = {top >= y0, top + 1 < y1};
        const float* planes[2][4] = {};
        const uint16_t* rowTexels[2] = {};
        uint16_t* out[2] = {};
        for (int r = 0; r < 2; ++r) {
            if (!draw[r]) continue;
            if constexpr (kPicked)
                for (int c = 0; c < 4; ++c) planes[r][c] = texels.Row(top + r, c);
            rowTexels[r] = image.Row16(std::clamp(top + r, 0, image.height - 1));
            out[r] = ctx.target.Row(top + r);
        }
        PendingRow nextRows[2];
        if constexpr (kPicked)
            for (int r = top + 2; r < std::min(top + 4, y1); ++r) nextRows[r - top - 2] = texels.Start(r);

        BlockWeights current = WeightsOfBlocks<kPicked>(table, phases, draw, 0);
        for (size_t x = 0; x < width; x += N) {
            const size_t count = std::min(N, width - x);
            ahead.Fetch(x);
            if constexpr (kPicked)
                for (PendingRow& a : nextRows) a.Advance(x + N);
            const BlockWeights next =
                x + N < width ? WeightsOfBlocks<kPicked>(table, phases, draw, x + N) : BlockWeights();
#pragma GCC unroll 2
            for (int r = 0; r < 2; ++r) {
                if (!draw[r]) continue;
                const VF* weights = current.row[r];
                const VF offset = hn::LoadU(df, phases.Offset(r) + x);
                VF sum[4];
                if constexpr (kPicked) {
                    VF columnWeights[kColumns];
                    ColumnWeights<kLow, kHigh>(offset, weights, columnWeights);
                    const ptrdiff_t first = static_cast<ptrdiff_t>(x) + kLow + kWarpFirstTap;
                    for (int c = 0; c < 4; ++c) {
                        const float* plane = planes[r][c] + first;
                        sum[c] = WeightedSum<kColumns>(columnWeights, [&](int k) { return hn::LoadU(df, plane + k); });
                    }
                } else {
                    const uint16_t* row = rowTexels[r];
                    FetchedSums<4>(hn::Add(Positions(df, static_cast<int>(x)), offset), weights, count, lastColumn,
                                   [&](size_t, int column, int c) {
                                       const size_t at = 4 * static_cast<size_t>(column) + static_cast<size_t>(c);
                                       return gfx::ReadUnorm(row[at]);
                                   },
                                   sum);
                }
                StoreQuotients<kPicked>(sum, WeightSum(weights), out[r] + 4 * x, count);
            }
            current = next;
        }
        if constexpr (kPicked)
            for (PendingRow& a : nextRows) a.Finish();
    }
}

// warp_v over rows y0 .. y1 - 1; kLow and kHigh as for warp_h, along the column.
template <int kLow, int kHigh>
void WarpVRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    constexpr bool kPicked = kLow <= kHigh;
    // Image rows the taps of a pixel in row y reach: y + kFirst .. y + kFirst + kRows - 1.
    constexpr int kFirst = kPicked ? kLow + kWarpFirstTap : 0;
    constexpr int kRows = kPicked ? kHigh - kLow + kWarpTaps : 1;
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const gfx::TextureView& image = ctx.samplers[kWarpVImageSampler].texture;
    const WeightTable table(ctx.samplers[kWarpTableSampler], kPicked);
    const Shift shifter(params.sharp);
    const size_t width = static_cast<size_t>(ctx.width);
    const size_t columns = PhaseColumns(ctx.width);
    const int span = static_cast<int>(columns);

    // A block row reads the map's rows above and below its two rows (the lower may be the helper
    // row H), and the image rows that both its rows' taps reach.
    const gfx::TextureView& mapTexture = ctx.samplers[kWarpMapSampler].texture;
    ChannelRows<1> warpMap(mapTexture, 0, mapTexture.height, span, 0, 4);
    ChannelRows<kPicked ? 3 : 0> texels(image, 0, image.height, span, 0, kRows + 1);
    BlockRowPhases phases(columns);
    RowsAhead ahead;
    const int lastColumn = image.width - 1;
    const float lastRow = static_cast<float>(image.height - 1);

    for (int top = y0 & ~1; top < y1; top += 2) {
        for (int r = 0; r < 2; ++r) {
            const int row = top + r;
            const float* above = warpMap.Row(row - 1, 0);
            const float* below = warpMap.Row(row + 1, 0);
            const VF along = hn::Set(df, static_cast<float>(row));
            for (size_t x = 0; x < columns; x += N) {
                const VF slope = hn::Sub(hn::LoadU(df, above + x), hn::LoadU(df, below + x));
                shifter.Store<kPicked>(along, slope, phases.Phase(r) + x, phases.Offset(r) + x);
            }
        }
        // The rows the next block row reads that this one does not.
        ahead.Clear();
        if (top + 2 < y1) {
            for (int r = top + 3; r <= top + 4; ++r)
                ahead.AddRead(warpMap.Texels(r), 8 * static_cast<size_t>(mapTexture.width));
            if constexpr (kPicked)
                for (int r = top + kFirst + kRows + 1; r <= top + kFirst + kRows + 2; ++r)
                    ahead.AddRead(texels.Texels(r), 8 * static_cast<size_t>(image.width));
        }
        for (int r = top + 2; r < std::min(top + 4, y1); ++r) ahead.AddWrite(ctx.target.Row(r), 8 * width);
        const bool draw[2] = {top >= y0, top + 1 < y1};
        const float* tapRows[2][3][kRows] = {};
        uint16_t* out[2] = {};
        for (int r = 0; r < 2; ++r) {
            if (!draw[r]) continue;
            if constexpr (kPicked)
                for (int c = 0; c < 3; ++c)
                    for (int k = 0; k < kRows; ++k) tapRows[r][c][k] = texels.Row(top + r + kFirst + k, c);
            out[r] = ctx.target.Row(top + r);
        }

        BlockWeights current = WeightsOfBlocks<kPicked>(table, phases, draw, 0);
        for (size_t x = 0; x < width; x += N) {
            const size_t count = std::min(N, width - x);
            ahead.Fetch(x);
            const BlockWeights next =
                x + N < width ? WeightsOfBlocks<kPicked>(table, phases, draw, x + N) : BlockWeights();
#pragma GCC unroll 2
            for (int r = 0; r < 2; ++r) {
                if (!draw[r]) continue;
                const VF* weights = current.row[r];
                const VF offset = hn::LoadU(df, phases.Offset(r) + x);
                VF sum[3];
                if constexpr (kPicked) {
                    VF rowWeights[kRows];
                    ColumnWeights<kLow, kHigh>(offset, weights, rowWeights);
                    for (int c = 0; c < 3; ++c) {
                        const float* const* rows = tapRows[r][c];
                        sum[c] = WeightedSum<kRows>(rowWeights, [&](int k) { return hn::LoadU(df, rows[k] + x); });
                    }
                } else {
                    const VF here = hn::Set(df, static_cast<float>(top + r));
                    FetchedSums<3>(hn::Add(here, offset), weights, count, lastRow,
                                   [&](size_t l, int row, int c) {
                                       const int column = std::min(static_cast<int>(x + l), lastColumn);
                                       return gfx::ReadUnorm(image.Row16(row)[4 * column + c]);
                                   },
                                   sum);
                }
                StoreQuotientsNoW<kPicked>(sum, WeightSum(weights), out[r] + 4 * x, count);
            }
            current = next;
        }
    }
}

template <template <int, int> class Kernel>
RowKernel ForStrength(float sharp) {
    const float s = std::fabs(sharp);
    if (!(s <= 2.0f)) return Kernel<1, 0>::Run;
    if (s == 0.0f) return Kernel<0, 0>::Run;
    if (s <= 0.5f) return Kernel<-1, 0>::Run;
    if (s <= 1.0f) return Kernel<-1, 1>::Run;
    return Kernel<-2, 2>::Run;
}

template <int kLow, int kHigh>
struct WarpHKernel {
    static void Run(const gfx::DrawContext& ctx, int y0, int y1) { WarpHRows<kLow, kHigh>(ctx, y0, y1); }
};
template <int kLow, int kHigh>
struct WarpVKernel {
    static void Run(const gfx::DrawContext& ctx, int y0, int y1) { WarpVRows<kLow, kHigh>(ctx, y0, y1); }
};

void RunBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler, RowKernel kernel) {
    if (ctx.width <= 0 || ctx.height <= 0) return;
    scheduler.Run(ctx.height, detail_rows::BandRows(ctx.height, scheduler.Workers()),
                  [&](int y0, int y1) { kernel(ctx, y0, y1); });
}

}  // namespace

void WarpHBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    RunBands(ctx, scheduler, ForStrength<WarpHKernel>(effect::ReadBlock<effect::ParamsBlock>(ctx.params).sharp));
}

void WarpVBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    RunBands(ctx, scheduler, ForStrength<WarpVKernel>(effect::ReadBlock<effect::ParamsBlock>(ctx.params).sharp));
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::passes {

HWY_EXPORT(WarpHBands);
HWY_EXPORT(WarpVBands);

void WarpHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    HWY_DYNAMIC_DISPATCH(WarpHBands)(ctx, scheduler);
}

void WarpVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    HWY_DYNAMIC_DISPATCH(WarpVBands)(ctx, scheduler);
}

QV_REGISTER_PIXEL_PROGRAM(kWarpHProgram, WarpHReference, WarpHOptimised,
                          gfx::Samplers(kWarpMapSampler, kWarpHImageSampler, kWarpTableSampler));
QV_REGISTER_PIXEL_PROGRAM(kWarpVProgram, WarpVReference, WarpVOptimised,
                          gfx::Samplers(kWarpMapSampler, kWarpVImageSampler, kWarpTableSampler));

}  // namespace qv::passes
#endif
