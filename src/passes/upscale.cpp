// Row kernels of the enlargement programs. The plan (resample_plan.h) fixes, per output column
// (upscale_h) or row (upscale_v), the six input texels, their weights and sum, and the range
// window; the kernels apply it one lane per output pixel along the row, keeping the programs'
// order of every product, sum and division.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/upscale.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>

#include "passes/resample_rows-inl.h"
#include "passes/resample_rows.h"
#include "passes/scratch_memory.h"
#include "passes/upscale.h"
#include "passes/upscale_lanes.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

constexpr int kTaps = 6;
constexpr int kWindow = 3;

int FloatLanes() { return static_cast<int>(hn::Lanes(hn::ScalableTag<float>())); }

// Weighted sum of the six taps of one channel. It starts from the first product rather than
// from 0: the two differ only in the sign of a zero sum, which the store makes 0 either way.
template <class DF, class V, class Tap>
HWY_INLINE V WeighTaps(DF /*df*/, const V* w, const Tap& tap) {
    V sum = hn::Mul(w[0], tap(0));
    for (int k = 1; k < kTaps; ++k) sum = hn::Add(sum, hn::Mul(w[k], tap(k)));
    return sum;
}

// Prefetches of an input row that a band converts soon, a vector of texels at a time.
class RowAhead {
public:
    RowAhead(const gfx::TextureView& input, int row, int lanes)
        : texels_(input.Row16(row)), width_(input.width), lanes_(lanes) {}

    // Texels first .. first + lanes - 1 (those within the row).
    void Fetch(int first) const {
        constexpr int kTexelsPerLine = 64 / (4 * sizeof(uint16_t));
        const int end = std::min(first + lanes_, width_);
        for (int t = first; t < end; t += kTexelsPerLine) hwy::Prefetch(texels_ + 4 * t);
    }

private:
    const uint16_t* texels_;
    int width_;
    int lanes_;
};

// upscale_h: lanes are output columns of one row. Each output row converts its input row (and
// the rows above and below, for the range window) once, with the row's edge texels repeated past
// both ends; the luma range of every input column over the three rows, and then over its two
// neighbours, is formed once per row. A regular group of columns then reads each tap and its
// range with one load and one lane permutation (upscale_lanes.h); other groups gather.
void UpscaleHBand(const ResampleJob& job, const LaneGroups& groups, int y0, int y1) {
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    using V = hn::Vec<decltype(df)>;
    const int N = static_cast<int>(hn::Lanes(df));
    const ResamplePlan& plan = *job.plan;
    HWY_DASSERT(groups.lanes == N);  // both dispatched to the same target
    const int inputWidth = job.input.width;
    const int padAfter = LaneRowPadAfter(N);
    PlanarRowCache cache(job.input, -kLaneRowPadBefore, kLaneRowPadBefore + inputWidth + padAfter, job.cachedRows);
    const size_t ps = cache.PlaneStride();

    // Luma ranges: per column over the window's three rows on [-pad, width + 2N - 1), then also
    // over each column's neighbours on [0, width + N - 1), where a group's window load (centre
    // column <= width - 1, N lanes) stays. Forming the first a vector at a time reads converted
    // columns up to width + 3N - 3, within the row's padding. Both start on a vector boundary
    // of the rows they read or write, so no load or store straddles cache lines: the column
    // ranges lie kLaneRowPadBefore columns past one, as the converted rows do.
    constexpr size_t kAlign = 16;
    constexpr size_t kColumnLead = kAlign + kLaneRowPadBefore;
    const size_t rangeStride = (kColumnLead + static_cast<size_t>(inputWidth + 3 * N) + kAlign - 1) / kAlign * kAlign;
    ScratchBlock rangeBlock(sizeof(float) * 4 * rangeStride);
    float* const columnLo = rangeBlock.As<float>() + kColumnLead;
    float* const columnHi = columnLo + rangeStride;
    float* const windowLo = rangeBlock.As<float>() + 2 * rangeStride + kAlign;
    float* const windowHi = windowLo + rangeStride;
    const int columnEnd = inputWidth + 2 * N - 1;
    const int windowEnd = inputWidth + N - 1;

    for (int y = y0; y < y1; ++y) {
        const float* above = cache.Row(TexelIndex(static_cast<float>(y - 1), job.rows)) + kLaneRowPadBefore;
        const float* below = cache.Row(TexelIndex(static_cast<float>(y + 1), job.rows)) + kLaneRowPadBefore;
        const float* row = cache.Row(TexelIndex(static_cast<float>(y), job.rows)) + kLaneRowPadBefore;
        for (int i = -kLaneRowPadBefore; i < columnEnd; i += N) {
            const V a = hn::LoadU(df, above + i), b = hn::LoadU(df, row + i), c = hn::LoadU(df, below + i);
            hn::StoreU(hn::Min(hn::Min(a, b), c), df, columnLo + i);
            hn::StoreU(hn::Max(hn::Max(a, b), c), df, columnHi + i);
        }
        for (int i = 0; i < windowEnd; i += N) {
            hn::StoreU(hn::Min(hn::Min(hn::LoadU(df, columnLo + i - 1), hn::LoadU(df, columnLo + i)),
                               hn::LoadU(df, columnLo + i + 1)),
                       df, windowLo + i);
            hn::StoreU(hn::Max(hn::Max(hn::LoadU(df, columnHi + i - 1), hn::LoadU(df, columnHi + i)),
                               hn::LoadU(df, columnHi + i + 1)),
                       df, windowHi + i);
        }

        // The input row that the next output row converts is fetched meanwhile, a group's share
        // (a vector of texels; the row is shorter than the output) at a time.
        const RowAhead ahead(job.input, TexelIndex(static_cast<float>(y + 2), job.rows), N);
        uint16_t* out = job.target.Row(y);
        for (int g = 0; g < groups.groups; ++g) {
            const int x0 = g * N;
            ahead.Fetch(x0);
            V w[kTaps];
            for (int k = 0; k < kTaps; ++k) w[k] = hn::LoadU(df, plan.TapWeight(k) + x0);
            V A[4], lo, hi;
            if (groups.regular[static_cast<size_t>(g)]) {
                const auto lanes = hn::IndicesFromVec(df, hn::LoadU(di, groups.tapLane.data() + x0));
                const float* first = row + groups.tapStart[static_cast<size_t>(g)];
                for (int c = 0; c < 4; ++c) {
                    const float* p = first + static_cast<size_t>(c) * ps;
                    A[c] = WeighTaps(df, w, [&](int k) { return hn::TableLookupLanes(hn::LoadU(df, p + k), lanes); });
                }
                const auto centre = hn::IndicesFromVec(df, hn::LoadU(di, groups.windowLane.data() + x0));
                const size_t at = static_cast<size_t>(groups.windowStart[static_cast<size_t>(g)]);
                lo = hn::TableLookupLanes(hn::LoadU(df, windowLo + at), centre);
                hi = hn::TableLookupLanes(hn::LoadU(df, windowHi + at), centre);
            } else {
                for (int c = 0; c < 4; ++c) {
                    const float* p = row + static_cast<size_t>(c) * ps;
                    A[c] = WeighTaps(df, w, [&](int k) {
                        return hn::GatherIndex(df, p, hn::LoadU(di, plan.TapIndex(k) + x0));
                    });
                }
                const auto at0 = hn::LoadU(di, plan.WindowIndex(0) + x0);
                lo = hn::GatherIndex(df, columnLo, at0);
                hi = hn::GatherIndex(df, columnHi, at0);
                for (int k = 1; k < kWindow; ++k) {
                    const auto at = hn::LoadU(di, plan.WindowIndex(k) + x0);
                    lo = hn::Min(lo, hn::GatherIndex(df, columnLo, at));
                    hi = hn::Max(hi, hn::GatherIndex(df, columnHi, at));
                }
            }
            const V sum = hn::LoadU(df, plan.weightSum.data() + x0);
            const V luma = hn::Min(hi, hn::Max(hn::Div(A[0], sum), lo));
            StoreTexels(df, luma, hn::Div(A[1], sum), hn::Div(A[2], sum), hn::Div(A[3], sum), out + 4 * x0,
                        static_cast<size_t>(std::min(N, job.width - x0)));
        }
    }
}

// upscale_v: lanes are output columns of one row; the six input rows are weighed down the
// column. The window's range is formed as the row is weighed, from the luma of its three rows:
// these are normally among the six rows being read, so that costs a few loads from lines at
// hand, where range planes kept per converted row would be streams of their own.
void UpscaleVBand(const ResampleJob& job, int y0, int y1) {
    const hn::ScalableTag<float> df;
    using V = hn::Vec<decltype(df)>;
    const int N = static_cast<int>(hn::Lanes(df));
    const ResamplePlan& plan = *job.plan;
    const int vectorColumns = (job.width + N - 1) / N * N;
    PlanarRowCache cache(job.input, 0, vectorColumns + 1, job.cachedRows);
    const size_t ps = cache.PlaneStride();

    for (int y = y0; y < y1; ++y) {
        // The rows this output row reads span fewer rows than the cache holds, so fetching one
        // does not evict another.
        const float* tap[kTaps];
        V w[kTaps];
        for (int k = 0; k < kTaps; ++k) {
            tap[k] = cache.Row(plan.TapIndex(k)[y]);
            w[k] = hn::Set(df, plan.TapWeight(k)[y]);
        }
        const float* window[kWindow];
        for (int k = 0; k < kWindow; ++k) window[k] = cache.Row(plan.WindowIndex(k)[y]);
        const V sum = hn::Set(df, plan.weightSum[static_cast<size_t>(y)]);
        // The next input row the band converts is fetched meanwhile.
        const RowAhead ahead(job.input, std::min(plan.TapIndex(kTaps - 1)[y] + 1, job.input.height - 1), N);
        uint16_t* out = job.target.Row(y);
        for (int x = 0; x < job.width; x += N) {
            ahead.Fetch(x);
            const size_t at = static_cast<size_t>(x);
            V A[4];
            for (size_t c = 0; c < 4; ++c) {
                A[c] = WeighTaps(df, w, [&](int k) { return hn::Load(df, tap[k] + c * ps + at); });
            }
            // Each window row's luma over the column and its two neighbours (the converted rows
            // hold columns -1 .. vectorColumns).
            V lo, hi;
            for (int k = 0; k < kWindow; ++k) {
                const V l = hn::LoadU(df, window[k] + at - 1), c = hn::Load(df, window[k] + at),
                        r = hn::LoadU(df, window[k] + at + 1);
                const V rowLo = hn::Min(hn::Min(l, c), r), rowHi = hn::Max(hn::Max(l, c), r);
                lo = k == 0 ? rowLo : hn::Min(lo, rowLo);
                hi = k == 0 ? rowHi : hn::Max(hi, rowHi);
            }
            const V luma = hn::Min(hi, hn::Max(hn::Div(A[0], sum), lo));
            StoreTexels(df, luma, hn::Div(A[1], sum), hn::Div(A[2], sum), hn::Div(A[3], sum), out + 4 * x,
                        static_cast<size_t>(std::min(N, job.width - x)));
        }
    }
}

}  // namespace
}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "effect/constant_blocks.h"
#include "passes/plan_cache.h"
#include "passes/program_names.h"

namespace qv::passes {

HWY_EXPORT(FloatLanes);
HWY_EXPORT(UpscaleHBand);
HWY_EXPORT(UpscaleVBand);

namespace {

constexpr int kHorizontalGrain = 32;
constexpr int kVerticalGrain = 32;
// Rows a band of the vertical pass keeps converted, at least: an output row's six taps (its
// range rows lie among them) with room for the next output row's.
constexpr int kVerticalCachedRows = 8;

// Input rows a horizontal band keeps converted: those of an output row's range window (rows
// y-1, y, y+1 as the reads land on them), with room for the next output row's.
int HorizontalCachedRows(const ImageAxis& rows, int height) {
    int span = 1;
    for (int y = 0; y < height; ++y) {
        span = std::max(span, TexelIndex(static_cast<float>(y + 1), rows) -
                                  TexelIndex(static_cast<float>(y - 1), rows) + 1);
    }
    return span + 1;
}

// What a horizontal draw needs besides its image, made once for a run of draws alike.
struct HorizontalEnlargement {
    ResamplePlan plan;
    LaneGroups groups;
    int cachedRows = 0;
};

}  // namespace

void UpscaleHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::SamplerBinding& image = ctx.samplers[kUpscaleHInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || ctx.width <= 0 || ctx.height <= 0) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const effect::Float2 inv = scale.srcTexSizeInverse;
    const ImageAxis columns{image.texture.width, inv.x};
    const ImageAxis rows{image.texture.height, inv.y};
    const int lanes = HWY_DYNAMIC_DISPATCH(FloatLanes)();
    thread_local PlanCache<HorizontalEnlargement> plans;
    const HorizontalEnlargement& h =
        plans.Get(PlanKey()
                      .Add(scale.hscaleInverse)
                      .Add(columns.size)
                      .Add(columns.inverseSize)
                      .Add(rows.size)
                      .Add(rows.inverseSize)
                      .Add(ctx.width)
                      .Add(ctx.height)
                      .Add(lanes),
                  table, [&] {
                      HorizontalEnlargement made;
                      made.plan = PlanEnlargement(table, Axis::Horizontal, scale.hscaleInverse, columns, ctx.width);
                      made.groups = GroupEnlargementLanes(made.plan, lanes, columns.size);
                      made.cachedRows = HorizontalCachedRows(rows, ctx.height);
                      return made;
                  });
    ResampleJob job = MakeResampleJob(h.plan, image.texture, ctx);
    job.rows = rows;
    job.cachedRows = h.cachedRows;
    scheduler.Run(ctx.height, kHorizontalGrain,
                  [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(UpscaleHBand)(job, h.groups, y0, y1); });
}

void UpscaleVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::SamplerBinding& image = ctx.samplers[kUpscaleVInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || ctx.width <= 0 || ctx.height <= 0) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const effect::Float2 inv = scale.tmpTexSizeInverse;
    const ImageAxis rows{image.texture.height, inv.y};
    thread_local PlanCache<ResamplePlan> plans;
    const ResamplePlan& plan =
        plans.Get(PlanKey().Add(scale.vscaleInverse).Add(rows.size).Add(rows.inverseSize).Add(ctx.height), table,
                  [&] { return PlanEnlargement(table, Axis::Vertical, scale.vscaleInverse, rows, ctx.height); });
    ResampleJob job = MakeResampleJob(plan, image.texture, ctx);
    // Reads that skip rows (texel reciprocals that do not match the image) spread further.
    job.cachedRows = std::max(kVerticalCachedRows, plan.Span() + 2);
    scheduler.Run(ctx.height, kVerticalGrain,
                  [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(UpscaleVBand)(job, y0, y1); });
}

QV_REGISTER_PIXEL_PROGRAM(kUpscaleHProgram, UpscaleHReference, UpscaleHOptimised,
                          gfx::Samplers(kUpscaleHInputSampler, kWeightTableSampler));
QV_REGISTER_PIXEL_PROGRAM(kUpscaleVProgram, UpscaleVReference, UpscaleVOptimised,
                          gfx::Samplers(kUpscaleVInputSampler, kWeightTableSampler));

}  // namespace qv::passes
#endif  // HWY_ONCE
