// Optimised variants of warp_h and warp_v: row kernels, one lane per pixel.
//
// Per output row the kernels first compute the phase f and texel i of every pixel in both rows of
// its 2x2 blocks (the helper column W and row H included, read with clamping as the quads'
// helper pixels do), so each lane can take the weight table's point-or-linear choice of its block
// from the block's top-left pixel and its right and lower neighbours. The shifted texel i lies a
// few columns (or rows) from the pixel, within a range the strength bounds, so the six tap
// weights are placed per lane onto the fixed columns around the pixel that the range covers (0
// on the columns a lane's taps miss) and every channel is summed over those columns, read from
// rows converted once per band: one multiply and add per column instead of a choice among
// texels per tap. The inserted terms are +0 and leave the tap-ordered sums unchanged (a sum that
// starts at +0 never becomes -0). Strengths beyond that small reach (never set by the slider)
// fetch every tap texel by texel instead.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/warp_optimised.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "effect/constant_blocks.h"
#include "passes/detail_rows-inl.h"
#include "passes/program_names.h"
#include "passes/warp.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

using namespace detail_rows;  // NOLINT: the row helpers of this stage
using MF = hn::Mask<DF>;

// The weight table as the generic sampler reads it. Outside the scalar target each channel is
// also laid out as pairs of entries, so that one 64-bit gather fetches both entries a read
// blends: pair j (0 .. n) holds entries clamp(j - 1) and clamp(j), the two a linear read at
// floor(a) = j - 1 blends; pair n + 1 + e holds entry e twice, what a point read of entry e
// blends with fraction 0. Half the loads of gathering every entry on its own.
struct TableReader {
    const float* entries;  // four floats an entry
    VF width;              // entries, as the float the sampler scales by
    float last;
    MF minIsPoint;
    MF magIsPoint;
#if HWY_TARGET != HWY_SCALAR
    int count;              // entries
    const double* pairs[3];  // per channel: 2 * count + 1 pairs of floats
#endif

    explicit TableReader(const gfx::SamplerBinding& s) {
        const DF df;
        entries = s.texture.RowF(0);
        width = hn::Set(df, static_cast<float>(s.texture.width));
        last = static_cast<float>(s.texture.width - 1);
        const MF yes = hn::Eq(hn::Zero(df), hn::Zero(df));
        const MF no = hn::Not(yes);
        minIsPoint = s.state.minFilter == gfx::Filter::Point ? yes : no;
        magIsPoint = s.state.magFilter == gfx::Filter::Point ? yes : no;
#if HWY_TARGET != HWY_SCALAR
        count = s.texture.width;
        // Rebuilt for every band (a few microseconds) in storage that each thread keeps.
        thread_local std::vector<double> storage;
        const size_t perChannel = static_cast<size_t>(2 * count + 1);
        storage.resize(3 * perChannel);
        for (int c = 0; c < 3; ++c) {
            float* out = reinterpret_cast<float*>(storage.data() + static_cast<size_t>(c) * perChannel);
            for (int j = 0; j <= count; ++j) {
                out[2 * j] = entries[4 * std::clamp(j - 1, 0, count - 1) + c];
                out[2 * j + 1] = entries[4 * std::min(j, count - 1) + c];
            }
            for (int e = 0; e < count; ++e) {
                out[2 * (count + 1 + e)] = entries[4 * e + c];
                out[2 * (count + 1 + e) + 1] = entries[4 * e + c];
            }
            pairs[c] = storage.data() + static_cast<size_t>(c) * perChannel;
        }
#endif
    }

    // The filter of a 2x2 block's read from the coordinates of its top-left pixel and of that
    // pixel's right and lower neighbours: the minifying filter exactly when the larger rate of
    // change exceeds one entry a pixel.
    MF PointFilter(VF topLeft, VF right, VF below) const {
        const VF rateX = hn::Mul(hn::Abs(hn::Sub(right, topLeft)), width);
        const VF rateY = hn::Mul(hn::Abs(hn::Sub(below, topLeft)), width);
        const VF rate = hn::IfThenElse(hn::Gt(rateX, rateY), rateX, rateY);
        const MF minified = hn::Gt(rate, hn::Set(DF(), 1.0f));
        return hn::Or(hn::And(minified, minIsPoint), hn::AndNot(minified, magIsPoint));
    }

    // Channels x, y, z at coordinate u. A point read takes entry floor(u * width) through the
    // linear formula with both entries the same and fraction 0, which gives that entry exactly
    // (1 * e + 0 * e is e for every finite e, signed zeros included).
    void Read(VF u, MF point, VF out[3]) const {
        const DF df;
        const DI di;
        const VF s = hn::Mul(u, width);
        const VF a = hn::Sub(s, hn::Set(df, 0.5f));
        const VF i0f = hn::Floor(a);
        const VF fraction = hn::IfThenZeroElse(point, hn::Sub(a, i0f));
        const VF keep = hn::Sub(hn::Set(df, 1.0f), fraction);
#if HWY_TARGET == HWY_SCALAR
        const VF nearest = ClampedIndexVec(df, s, last);
        const VF i0 = hn::IfThenElse(point, nearest, ClampedIndexVec(df, i0f, last));
        const VF i1 = hn::IfThenElse(point, nearest, ClampedIndexVec(df, hn::Add(i0f, hn::Set(df, 1.0f)), last));
        const auto e0 = hn::ShiftLeft<2>(hn::ConvertTo(di, i0));
        const auto e1 = hn::ShiftLeft<2>(hn::ConvertTo(di, i1));
        for (int c = 0; c < 3; ++c) {
            const VF v0 = hn::GatherIndex(df, entries + c, e0);
            const VF v1 = hn::GatherIndex(df, entries + c, e1);
            out[c] = hn::Add(hn::Mul(keep, v0), hn::Mul(fraction, v1));
        }
#else
        // Entry floor(s) and the blend's lower entry floor(a), clamped in float as the scalar
        // target does (NaN takes the lowest), the lower one to -1 .. n - 1: its pair then holds
        // both clamped entries.
        const VF lastEntry = hn::Set(df, last);
        const VF below = hn::Set(df, -1.0f);
        VF lower = hn::IfThenElse(hn::Gt(i0f, below), i0f, below);
        lower = hn::IfThenElse(hn::Gt(lower, lastEntry), lastEntry, lower);
        const auto pair = hn::IfThenElse(hn::RebindMask(di, point),
                                         hn::Add(hn::ConvertTo(di, ClampedIndexVec(df, s, last)), hn::Set(di, count + 1)),
                                         hn::Add(hn::ConvertTo(di, lower), hn::Set(di, 1)));
        const hn::Repartition<double, DF> dd;
        const hn::Rebind<int64_t, decltype(dd)> di64;
        const hn::Half<DI> dih;
        const auto pairLo = hn::PromoteTo(di64, hn::LowerHalf(dih, pair));
        const auto pairHi = hn::PromoteTo(di64, hn::UpperHalf(dih, pair));
        for (int c = 0; c < 3; ++c) {
            const VF lo = hn::BitCast(df, hn::GatherIndex(dd, pairs[c], pairLo));
            const VF hi = hn::BitCast(df, hn::GatherIndex(dd, pairs[c], pairHi));
            const VF v0 = hn::ConcatEven(df, hi, lo);
            const VF v1 = hn::ConcatOdd(df, hi, lo);
            out[c] = hn::Add(hn::Mul(keep, v0), hn::Mul(fraction, v1));
        }
#endif
    }
};

// Phase f and texel i of the shifted position for the pixels of one row of blocks.
struct PhaseRow {
    hwy::AlignedFreeUniquePtr<float[]> phase;
    hwy::AlignedFreeUniquePtr<float[]> texel;

    explicit PhaseRow(size_t columns)
        : phase(hwy::AllocateAligned<float>(columns)), texel(hwy::AllocateAligned<float>(columns)) {}
};

// The shifted position's texel and phase from the map's slope, as the programs compute them.
struct Shift {
    VF gain;  // kWarpSlopeGain * sharp
    VF lo;
    VF hi;

    explicit Shift(float sharp)
        : gain(hn::Set(DF(), kWarpSlopeGain * sharp)), lo(hn::Set(DF(), -sharp)), hi(hn::Set(DF(), sharp)) {}

    void Store(VF along, VF slope, PhaseRow& row, size_t x) const {
        const DF df;
        const VF shift = ShaderMin(ShaderMax(hn::Mul(gain, slope), lo), hi);
        const VF position = hn::Add(along, shift);
        const VF i = hn::Floor(position);
        hn::StoreU(hn::Sub(position, i), df, row.phase.get() + x);
        hn::StoreU(i, df, row.texel.get() + x);
    }
};

// One channel's tap values for `count` lanes fetched texel by texel: columns (or rows) `index`
// of the image, at the lanes' own row (or column).
template <class Texel>
VF FetchEach(const float* index, size_t count, const Texel& texel) {
    HWY_ALIGN float values[hn::MaxLanes(DF())] = {};
    for (size_t l = 0; l < count; ++l) values[l] = texel(l, static_cast<int>(index[l]));
    return hn::Load(DF(), values);
}

// The phase rows a row of pixels takes its tap weights from.
struct WarpRowContext {
    const TableReader* table;
    const PhaseRow* top;     // the block's upper row
    const PhaseRow* bottom;  // the block's lower row
    const PhaseRow* own;     // the pixel's own row
};

// Weights of the six taps for the lanes at x: k(2 + f), k(1 + f), k(f), k(1 - f), k(2 - f),
// k(3 - f), from the table at f and at 1 - f.
HWY_INLINE void TapWeights(const WarpRowContext& r, size_t x, VF weights[kWarpTaps]) {
    const DF df;
    const VF one = hn::Set(df, 1.0f);
    const VF f = hn::LoadU(df, r.own->phase.get() + x);
    const VF topLeft = EvenOfPair(df, r.top->phase.get(), x);
    const VF right = OddOfPair(df, r.top->phase.get(), x);
    const VF below = EvenOfPair(df, r.bottom->phase.get(), x);
    VF a[3], b[3];
    r.table->Read(f, r.table->PointFilter(topLeft, right, below), a);
    r.table->Read(hn::Sub(one, f),
                  r.table->PointFilter(hn::Sub(one, topLeft), hn::Sub(one, right), hn::Sub(one, below)), b);
    weights[0] = a[2];
    weights[1] = a[1];
    weights[2] = a[0];
    weights[3] = b[0];
    weights[4] = b[1];
    weights[5] = b[2];
}

// Columns the phase rows cover: every pixel's block, the helper column included, rounded up to
// whole vectors, and one vector more for the pair loads of the scalar target.
size_t PhaseColumns(int width) {
    const size_t N = hn::Lanes(DF());
    const size_t blocks = static_cast<size_t>(width + (width & 1));
    return (blocks + N - 1) / N * N + N;
}

// Phases of the block row whose top row is `top`, computed when the band enters it.
struct BlockPhases {
    PhaseRow rows[2];
    int top = -1;

    explicit BlockPhases(size_t columns) : rows{PhaseRow(columns), PhaseRow(columns)} {}

    WarpRowContext For(const TableReader& table, int y) const { return {&table, &rows[0], &rows[1], &rows[y & 1]}; }
};

// Weights of the columns (or rows) kLow + kWarpFirstTap .. kHigh + kWarpFirstTap + kWarpTaps - 1
// around the lanes' pixels: a lane whose texel lies o away carries tap k's weight at column
// o + k + kWarpFirstTap and +0 at the others.
template <int kLow, int kHigh>
HWY_INLINE void ColumnWeights(VF offset, const VF weights[kWarpTaps], VF columns[kHigh - kLow + kWarpTaps]) {
    const DF df;
    MF at[kHigh - kLow + 1];
    for (int o = kLow; o <= kHigh; ++o) at[o - kLow] = hn::Eq(offset, hn::Set(df, static_cast<float>(o)));
#pragma GCC unroll 12
    for (int c = 0; c < kHigh - kLow + kWarpTaps; ++c) {
        VF w = hn::Zero(df);
#pragma GCC unroll 5
        for (int o = kLow; o <= kHigh; ++o) {
            const int k = c - (o - kLow);
            if (k >= 0 && k < kWarpTaps) w = hn::IfThenElse(at[o - kLow], weights[k], w);
        }
        columns[c] = w;
    }
}

// The sum of the six weights, in tap order from +0 as the taps are summed.
HWY_INLINE VF WeightSum(const VF weights[kWarpTaps]) {
    VF sum = hn::Zero(DF());
    for (int k = 0; k < kWarpTaps; ++k) sum = hn::Add(sum, weights[k]);
    return sum;
}

// warp_h over rows y0 .. y1 - 1. kLow <= kHigh: the texel's offsets from the pixel lie in
// [kLow, kHigh] and the taps are summed over the columns they can reach, from the row converted
// once; kLow > kHigh: fetched texel by texel.
template <int kLow, int kHigh>
void WarpHRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const gfx::TextureView& mapTexture = ctx.samplers[kWarpMapSampler].texture;
    const gfx::TextureView& image = ctx.samplers[kWarpHImageSampler].texture;
    const TableReader table(ctx.samplers[kWarpTableSampler]);
    const Shift shifter(params.sharp);
    const size_t width = static_cast<size_t>(ctx.width);
    const size_t columns = PhaseColumns(ctx.width);
    const int span = static_cast<int>(columns);

    // Map rows of every block the band touches; the block's lower row may be the helper row H.
    const ChannelRows warpMap(mapTexture, {0}, y0 & ~1, (y1 | 1) + 1, span, 1);
    BlockPhases phases(columns);
    constexpr bool kPicked = kLow <= kHigh;
    constexpr int kColumns = kPicked ? kHigh - kLow + kWarpTaps : 1;
    RowPlanes planes(std::max(span, image.width), kPicked ? std::max(-kLow, kHigh) - kWarpFirstTap + 1 : 0, 4);
    float* const channel[4] = {planes.Plane(0), planes.Plane(1), planes.Plane(2), planes.Plane(3)};

    for (int y = y0; y < y1; ++y) {
        if (phases.top != (y & ~1)) {
            phases.top = y & ~1;
            for (int r = 0; r < 2; ++r) {
                const float* m = warpMap.Row(phases.top + r);
                for (size_t x = 0; x < columns; x += N) {
                    const VF slope = hn::Sub(hn::LoadU(df, m + x - 1), hn::LoadU(df, m + x + 1));
                    shifter.Store(Positions(df, static_cast<int>(x)), slope, phases.rows[r], x);
                }
            }
        }
        const WarpRowContext rowContext = phases.For(table, y);
        const uint16_t* texels = image.Row16(std::clamp(y, 0, image.height - 1));
        if constexpr (kPicked) ExpandRow(texels, image.width, planes.Layout(), channel);
        uint16_t* out = ctx.target.Row(y);

        for (size_t x = 0; x < width; x += N) {
            const size_t count = std::min(N, width - x);
            VF weights[kWarpTaps];
            TapWeights(rowContext, x, weights);
            const VF i = hn::LoadU(df, rowContext.own->texel.get() + x);
            VF sum[4] = {hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
            VF weightSum = hn::Zero(df);
            if constexpr (kPicked) {
                VF columns[kColumns];
                ColumnWeights<kLow, kHigh>(hn::Sub(i, Positions(df, static_cast<int>(x))), weights, columns);
                const ptrdiff_t first = static_cast<ptrdiff_t>(x) + kLow + kWarpFirstTap;
#pragma GCC unroll 4
                for (int c = 0; c < 4; ++c) {
#pragma GCC unroll 12
                    for (int k = 0; k < kColumns; ++k)
                        sum[c] = hn::Add(sum[c], hn::Mul(columns[k], hn::LoadU(df, channel[c] + first + k)));
                }
                weightSum = WeightSum(weights);
            } else {
                const float lastColumn = static_cast<float>(image.width - 1);
                for (int k = 0; k < kWarpTaps; ++k) {
                    HWY_ALIGN float index[hn::MaxLanes(DF())];
                    const VF tap = hn::Add(i, hn::Set(df, static_cast<float>(k + kWarpFirstTap)));
                    hn::Store(ClampedIndexVec(df, tap, lastColumn), df, index);
                    for (int c = 0; c < 4; ++c) {
                        const VF t = FetchEach(index, count, [&](size_t, int column) {
                            return gfx::ReadUnorm(texels[4 * column + c]);
                        });
                        sum[c] = hn::Add(sum[c], hn::Mul(weights[k], t));
                    }
                    weightSum = hn::Add(weightSum, weights[k]);
                }
            }
            StoreTexels(hn::Div(sum[0], weightSum), hn::Div(sum[1], weightSum), hn::Div(sum[2], weightSum),
                        hn::Div(sum[3], weightSum), out + 4 * x, count);
        }
    }
}

// warp_v over rows y0 .. y1 - 1; kLow and kHigh as for warp_h, along the column.
template <int kLow, int kHigh>
void WarpVRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const gfx::TextureView& mapTexture = ctx.samplers[kWarpMapSampler].texture;
    const gfx::TextureView& image = ctx.samplers[kWarpVImageSampler].texture;
    const TableReader table(ctx.samplers[kWarpTableSampler]);
    const Shift shifter(params.sharp);
    const size_t width = static_cast<size_t>(ctx.width);
    const size_t columns = PhaseColumns(ctx.width);
    const int span = static_cast<int>(columns);

    // Map rows above and below every block row the band touches (the helper row H included).
    const ChannelRows warpMap(mapTexture, {0}, (y0 & ~1) - 1, (y1 | 1) + 2, span, 0);
    BlockPhases phases(columns);
    // Image rows the taps reach: rows i - 2 .. i + 3 with i - y in [kLow, kHigh].
    constexpr bool kPicked = kLow <= kHigh;
    constexpr int kFirst = kPicked ? kLow + kWarpFirstTap : 0;
    constexpr int kRows = kPicked ? kHigh - kLow + kWarpTaps : 1;
    const ChannelRows imageRows(image, {0, 1, 2}, kPicked ? y0 + kFirst : 0, kPicked ? y1 + kFirst + kRows : 1,
                                span, 0);
    const int lastColumn = image.width - 1;

    for (int y = y0; y < y1; ++y) {
        if (phases.top != (y & ~1)) {
            phases.top = y & ~1;
            for (int r = 0; r < 2; ++r) {
                const int row = phases.top + r;
                const float* above = warpMap.Row(row - 1);
                const float* below = warpMap.Row(row + 1);
                const VF along = hn::Set(df, static_cast<float>(row));
                for (size_t x = 0; x < columns; x += N) {
                    const VF slope = hn::Sub(hn::LoadU(df, above + x), hn::LoadU(df, below + x));
                    shifter.Store(along, slope, phases.rows[r], x);
                }
            }
        }
        const WarpRowContext rowContext = phases.For(table, y);
        const float* tapRows[3][kRows];
        for (int c = 0; c < 3; ++c)
            for (int j = 0; j < kRows; ++j) tapRows[c][j] = imageRows.Row(y + kFirst + j, c);
        const VF here = hn::Set(df, static_cast<float>(y));
        uint16_t* out = ctx.target.Row(y);

        for (size_t x = 0; x < width; x += N) {
            const size_t count = std::min(N, width - x);
            VF weights[kWarpTaps];
            TapWeights(rowContext, x, weights);
            const VF i = hn::LoadU(df, rowContext.own->texel.get() + x);
            VF sum[3] = {hn::Zero(df), hn::Zero(df), hn::Zero(df)};
            VF weightSum = hn::Zero(df);
            if constexpr (kPicked) {
                VF rows[kRows];
                ColumnWeights<kLow, kHigh>(hn::Sub(i, here), weights, rows);
#pragma GCC unroll 3
                for (int c = 0; c < 3; ++c) {
#pragma GCC unroll 12
                    for (int k = 0; k < kRows; ++k)
                        sum[c] = hn::Add(sum[c], hn::Mul(rows[k], hn::LoadU(df, tapRows[c][k] + x)));
                }
                weightSum = WeightSum(weights);
            } else {
                const float lastRow = static_cast<float>(image.height - 1);
                for (int k = 0; k < kWarpTaps; ++k) {
                    HWY_ALIGN float index[hn::MaxLanes(DF())];
                    const VF tap = hn::Add(i, hn::Set(df, static_cast<float>(k + kWarpFirstTap)));
                    hn::Store(ClampedIndexVec(df, tap, lastRow), df, index);
                    for (int c = 0; c < 3; ++c) {
                        const VF t = FetchEach(index, count, [&](size_t l, int row) {
                            const int column = std::min(static_cast<int>(x + l), lastColumn);
                            return gfx::ReadUnorm(image.Row16(row)[4 * column + c]);
                        });
                        sum[c] = hn::Add(sum[c], hn::Mul(weights[k], t));
                    }
                    weightSum = hn::Add(weightSum, weights[k]);
                }
            }
            // Channel w is 0, whose stored value is 0.
            StoreTexelBits(StoreUnormVec(df, hn::Div(sum[0], weightSum)), StoreUnormVec(df, hn::Div(sum[1], weightSum)),
                           StoreUnormVec(df, hn::Div(sum[2], weightSum)), hn::Zero(DU16()), out + 4 * x, count);
        }
    }
}

// The row kernel for a strength: the offsets i - x (or i - y) its shift can give pick the
// instantiation. The position x + shift is rounded, but x +- 1/2 are floats for every pixel the
// filter draws, so a bound |sharp| of 1/2 keeps it within [x - 1/2, x + 1/2] (offsets -1 and 0),
// and a bound of 1 (or 2) within one (or two) texels either way.
using RowKernel = void (*)(const gfx::DrawContext&, int, int);

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

QV_REGISTER_PIXEL_PROGRAM(kWarpHProgram, WarpHReference, WarpHOptimised);
QV_REGISTER_PIXEL_PROGRAM(kWarpVProgram, WarpVReference, WarpVOptimised);

}  // namespace qv::passes
#endif
