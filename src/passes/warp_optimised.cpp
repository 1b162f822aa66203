// Optimised variants of warp_h and warp_v: row kernels, one lane per pixel.
//
// Per output row the kernels first compute the phase f and texel i of every pixel in both rows of
// its 2x2 blocks (the helper column W and row H included, read with clamping as the quads'
// helper pixels do), so each lane can take the weight table's point-or-linear choice of its block
// from the block's top-left pixel and its right and lower neighbours. The six taps around i are
// picked from rows converted once per band: i lies within ceil(|sharp|) of the pixel, so each tap
// is one of a few neighbouring columns (or rows), chosen per lane. Strengths beyond that small
// reach (never set by the slider) fetch every tap texel by texel instead.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/warp_optimised.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>

#include "effect/constant_blocks.h"
#include "passes/detail_rows-inl.h"
#include "passes/program_names.h"
#include "passes/warp.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

using namespace detail_rows;  // NOLINT: the row helpers of this stage
using MF = hn::Mask<DF>;

// Largest shift reach (ceil |sharp|) the kernels serve by picking among neighbouring texels.
constexpr int kFastReach = 2;

// The weight table as the generic sampler reads it.
struct TableReader {
    const float* entries;  // four floats an entry
    VF width;              // entries, as the float the sampler scales by
    float last;
    MF minIsPoint;
    MF magIsPoint;

    explicit TableReader(const gfx::SamplerBinding& s) {
        const DF df;
        entries = s.texture.RowF(0);
        width = hn::Set(df, static_cast<float>(s.texture.width));
        last = static_cast<float>(s.texture.width - 1);
        const MF yes = hn::Eq(hn::Zero(df), hn::Zero(df));
        const MF no = hn::Not(yes);
        minIsPoint = s.state.minFilter == gfx::Filter::Point ? yes : no;
        magIsPoint = s.state.magFilter == gfx::Filter::Point ? yes : no;
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
        const VF nearest = ClampedIndexVec(df, s, last);
        const VF a = hn::Sub(s, hn::Set(df, 0.5f));
        const VF i0f = hn::Floor(a);
        const VF fraction = hn::IfThenZeroElse(point, hn::Sub(a, i0f));
        const VF i0 = hn::IfThenElse(point, nearest, ClampedIndexVec(df, i0f, last));
        const VF i1 = hn::IfThenElse(point, nearest, ClampedIndexVec(df, hn::Add(i0f, hn::Set(df, 1.0f)), last));
        const auto e0 = hn::ShiftLeft<2>(hn::ConvertTo(di, i0));
        const auto e1 = hn::ShiftLeft<2>(hn::ConvertTo(di, i1));
        const VF keep = hn::Sub(hn::Set(df, 1.0f), fraction);
        for (int c = 0; c < 3; ++c) {
            const VF v0 = hn::GatherIndex(df, entries + c, e0);
            const VF v1 = hn::GatherIndex(df, entries + c, e1);
            out[c] = hn::Add(hn::Mul(keep, v0), hn::Mul(fraction, v1));
        }
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

// warp_h over rows y0 .. y1 - 1. kReach >= 0: taps picked among neighbouring columns of the row
// converted once; kReach < 0: fetched texel by texel.
template <int kReach>
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
    RowPlanes planes(std::max(span, image.width), std::max(kReach, 0) - kWarpFirstTap + 1, 4);
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
        if constexpr (kReach >= 0) ExpandRow(texels, image.width, planes.Layout(), channel);
        uint16_t* out = ctx.target.Row(y);

        for (size_t x = 0; x < width; x += N) {
            const size_t count = std::min(N, width - x);
            VF weights[kWarpTaps];
            TapWeights(rowContext, x, weights);
            const VF i = hn::LoadU(df, rowContext.own->texel.get() + x);
            VF sum[4] = {hn::Zero(df), hn::Zero(df), hn::Zero(df), hn::Zero(df)};
            VF weightSum = hn::Zero(df);
            if constexpr (kReach >= 0) {
                // Each lane's texel i lies kReach or fewer columns from its own.
                const VF offset = hn::Sub(i, Positions(df, static_cast<int>(x)));
                MF at[2 * kReach + 1];
                for (int o = -kReach; o <= kReach; ++o) at[o + kReach] = hn::Eq(offset, hn::Set(df, static_cast<float>(o)));
#pragma GCC unroll 6
                for (int k = 0; k < kWarpTaps; ++k) {
                    const ptrdiff_t tap = static_cast<ptrdiff_t>(x) + k + kWarpFirstTap - kReach;
#pragma GCC unroll 4
                    for (int c = 0; c < 4; ++c) {
                        VF t = hn::LoadU(df, channel[c] + tap);
#pragma GCC unroll 4
                        for (int o = 1; o <= 2 * kReach; ++o) t = hn::IfThenElse(at[o], hn::LoadU(df, channel[c] + tap + o), t);
                        sum[c] = hn::Add(sum[c], hn::Mul(weights[k], t));
                    }
                    weightSum = hn::Add(weightSum, weights[k]);
                }
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

// warp_v over rows y0 .. y1 - 1; kReach as for warp_h, the taps picked among neighbouring rows.
template <int kReach>
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
    // Image rows the taps reach: rows i - 2 .. i + 3 with i within kReach rows of the pixel.
    constexpr int kFirst = -std::max(kReach, 0) + kWarpFirstTap;
    constexpr int kRows = 2 * std::max(kReach, 0) + kWarpTaps;
    const ChannelRows imageRows(image, {0, 1, 2}, kReach >= 0 ? y0 + kFirst : 0,
                                kReach >= 0 ? y1 + kFirst + kRows : 1, span, 0);
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
            if constexpr (kReach >= 0) {
                // Each lane's texel i lies kReach or fewer rows from its own.
                const VF offset = hn::Sub(i, here);
                MF at[2 * kReach + 1];
                for (int o = -kReach; o <= kReach; ++o) at[o + kReach] = hn::Eq(offset, hn::Set(df, static_cast<float>(o)));
#pragma GCC unroll 6
                for (int k = 0; k < kWarpTaps; ++k) {
#pragma GCC unroll 3
                    for (int c = 0; c < 3; ++c) {
                        VF t = hn::LoadU(df, tapRows[c][k] + x);
#pragma GCC unroll 4
                        for (int o = 1; o <= 2 * kReach; ++o) t = hn::IfThenElse(at[o], hn::LoadU(df, tapRows[c][k + o] + x), t);
                        sum[c] = hn::Add(sum[c], hn::Mul(weights[k], t));
                    }
                    weightSum = hn::Add(weightSum, weights[k]);
                }
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
            StoreTexels(hn::Div(sum[0], weightSum), hn::Div(sum[1], weightSum), hn::Div(sum[2], weightSum),
                        hn::Zero(df), out + 4 * x, count);
        }
    }
}

// The row kernel for a strength: the shift's reach in whole texels picks the instantiation.
using RowKernel = void (*)(const gfx::DrawContext&, int, int);

template <template <int> class Kernel>
RowKernel ForReach(float sharp) {
    const float s = std::fabs(sharp);
    if (!(s <= static_cast<float>(kFastReach))) return Kernel<-1>::Run;
    switch (static_cast<int>(std::ceil(s))) {
        case 0: return Kernel<0>::Run;
        case 1: return Kernel<1>::Run;
        default: return Kernel<2>::Run;
    }
}

template <int kReach>
struct WarpHKernel {
    static void Run(const gfx::DrawContext& ctx, int y0, int y1) { WarpHRows<kReach>(ctx, y0, y1); }
};
template <int kReach>
struct WarpVKernel {
    static void Run(const gfx::DrawContext& ctx, int y0, int y1) { WarpVRows<kReach>(ctx, y0, y1); }
};

void RunBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler, RowKernel kernel) {
    if (ctx.width <= 0 || ctx.height <= 0) return;
    scheduler.Run(ctx.height, detail_rows::BandRows(ctx.height, scheduler.Workers()),
                  [&](int y0, int y1) { kernel(ctx, y0, y1); });
}

}  // namespace

void WarpHBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    RunBands(ctx, scheduler, ForReach<WarpHKernel>(effect::ReadBlock<effect::ParamsBlock>(ctx.params).sharp));
}

void WarpVBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    RunBands(ctx, scheduler, ForReach<WarpVKernel>(effect::ReadBlock<effect::ParamsBlock>(ctx.params).sharp));
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
