// Row kernels of the reduction programs. The plan (resample_plan.h) fixes, per output column
// (downscale_h) or row (downscale_v), the input texel and weight of every tap, the weight sum
// and the range window; the kernels apply it one lane per output pixel, keeping the programs'
// order of every product, sum and division, over the full tap count.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/downscale.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <vector>

#include "passes/downscale.h"
#include "passes/resample_rows-inl.h"
#include "passes/resample_rows.h"
#include "passes/scratch_memory.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

// downscale_h: lanes are output rows. A group of rows is laid side by side, so each tap and
// each window texel is one vector load.
void DownscaleHBand(const ResampleJob& job, int y0, int y1) {
    const hn::ScalableTag<float> df;
    const int N = static_cast<int>(hn::Lanes(df));
    const ResamplePlan& plan = *job.plan;
    ColumnMajorRows block(job.input, N);
    const size_t ps = block.PlaneStride();
    const float* planes[4] = {block.Planes(), block.Planes() + ps, block.Planes() + 2 * ps, block.Planes() + 3 * ps};
    int rows[hn::MaxLanes(df)] = {};

    for (int g = y0; g < y1; g += N) {
        for (int l = 0; l < N; ++l) rows[l] = TexelIndex(static_cast<float>(g + l), job.rows);
        block.Load(rows);
        const size_t valid = static_cast<size_t>(std::min(N, y1 - g));
        for (int x = 0; x < job.width; ++x) {
            auto A0 = hn::Zero(df), A1 = hn::Zero(df), A2 = hn::Zero(df), A3 = hn::Zero(df);
            for (int k = 0; k < plan.taps; ++k) {
                const size_t at = static_cast<size_t>(plan.TapIndex(k)[x]) * static_cast<size_t>(N);
                const auto w = hn::Set(df, plan.TapWeight(k)[x]);
                A0 = hn::Add(A0, hn::Mul(w, hn::Load(df, planes[0] + at)));
                A1 = hn::Add(A1, hn::Mul(w, hn::Load(df, planes[1] + at)));
                A2 = hn::Add(A2, hn::Mul(w, hn::Load(df, planes[2] + at)));
                A3 = hn::Add(A3, hn::Mul(w, hn::Load(df, planes[3] + at)));
            }
            const auto sum = hn::Set(df, plan.weightSum[static_cast<size_t>(x)]);
            auto lo0 = hn::Set(df, 1.0f), lo1 = lo0, lo2 = lo0, lo3 = lo0;
            auto hi0 = hn::Zero(df), hi1 = hi0, hi2 = hi0, hi3 = hi0;
            for (int k = 0; k < plan.window; ++k) {
                const size_t at = static_cast<size_t>(plan.WindowIndex(k)[x]) * static_cast<size_t>(N);
                const auto v0 = hn::Load(df, planes[0] + at);
                const auto v1 = hn::Load(df, planes[1] + at);
                const auto v2 = hn::Load(df, planes[2] + at);
                const auto v3 = hn::Load(df, planes[3] + at);
                lo0 = hn::Min(lo0, v0), hi0 = hn::Max(hi0, v0);
                lo1 = hn::Min(lo1, v1), hi1 = hn::Max(hi1, v1);
                lo2 = hn::Min(lo2, v2), hi2 = hn::Max(hi2, v2);
                lo3 = hn::Min(lo3, v3), hi3 = hn::Max(hi3, v3);
            }
            StoreTexelColumn(df, hn::Max(lo0, hn::Min(hn::Div(A0, sum), hi0)),
                             hn::Max(lo1, hn::Min(hn::Div(A1, sum), hi1)),
                             hn::Max(lo2, hn::Min(hn::Div(A2, sum), hi2)),
                             hn::Max(lo3, hn::Min(hn::Div(A3, sum), hi3)), job.target, g, x, valid);
        }
    }
}

// downscale_v: the input rows of an output row are weighed down the column, one lane per
// output column. The band runs over column chunks narrow enough that all the rows one output
// row reads fit the cache at once (the whole width, unless the tap count is very large).
void DownscaleVBand(const ResampleJob& job, int y0, int y1) {
    const hn::ScalableTag<float> df;
    const int N = static_cast<int>(hn::Lanes(df));
    const ResamplePlan& plan = *job.plan;
    // Rows and weights of one output row, in memory the thread keeps: a band allocates nothing.
    const size_t tapCount = static_cast<size_t>(plan.taps);
    const size_t windowCount = static_cast<size_t>(plan.window);
    const ScratchBlock rowPointers(sizeof(const float*) * (tapCount + windowCount));
    const ScratchBlock tapWeights(sizeof(float) * std::max<size_t>(tapCount, 1));
    const float** const taps = rowPointers.As<const float*>();
    const float** const window = taps + tapCount;
    float* const weights = tapWeights.As<float>();

    for (int x0 = 0; x0 < job.width; x0 += job.columnChunk) {
        const int width = std::min(job.columnChunk, job.width - x0);
        PlanarRowCache cache(job.input, x0, (width + N - 1) / N * N, job.cachedRows);
        const size_t ps = cache.PlaneStride();
        for (int y = y0; y < y1; ++y) {
            for (int k = 0; k < plan.taps; ++k) {
                taps[k] = cache.Row(plan.TapIndex(k)[y]);
                weights[k] = plan.TapWeight(k)[y];
            }
            for (int k = 0; k < plan.window; ++k) window[k] = cache.Row(plan.WindowIndex(k)[y]);
            const auto sum = hn::Set(df, plan.weightSum[static_cast<size_t>(y)]);
            uint16_t* out = job.target.Row(y) + 4 * x0;
            for (int i = 0; i < width; i += N) {
                auto A0 = hn::Zero(df), A1 = hn::Zero(df), A2 = hn::Zero(df), A3 = hn::Zero(df);
                for (size_t k = 0; k < tapCount; ++k) {
                    const float* p = taps[k] + i;
                    const auto w = hn::Set(df, weights[k]);
                    A0 = hn::Add(A0, hn::Mul(w, hn::LoadU(df, p)));
                    A1 = hn::Add(A1, hn::Mul(w, hn::LoadU(df, p + ps)));
                    A2 = hn::Add(A2, hn::Mul(w, hn::LoadU(df, p + 2 * ps)));
                    A3 = hn::Add(A3, hn::Mul(w, hn::LoadU(df, p + 3 * ps)));
                }
                auto lo0 = hn::Set(df, 1.0f), lo1 = lo0, lo2 = lo0, lo3 = lo0;
                auto hi0 = hn::Zero(df), hi1 = hi0, hi2 = hi0, hi3 = hi0;
                for (size_t k = 0; k < windowCount; ++k) {
                    const float* p = window[k] + i;
                    const auto v0 = hn::LoadU(df, p);
                    const auto v1 = hn::LoadU(df, p + ps);
                    const auto v2 = hn::LoadU(df, p + 2 * ps);
                    const auto v3 = hn::LoadU(df, p + 3 * ps);
                    lo0 = hn::Min(lo0, v0), hi0 = hn::Max(hi0, v0);
                    lo1 = hn::Min(lo1, v1), hi1 = hn::Max(hi1, v1);
                    lo2 = hn::Min(lo2, v2), hi2 = hn::Max(hi2, v2);
                    lo3 = hn::Min(lo3, v3), hi3 = hn::Max(hi3, v3);
                }
                StoreTexels(df, hn::Max(lo0, hn::Min(hn::Div(A0, sum), hi0)),
                            hn::Max(lo1, hn::Min(hn::Div(A1, sum), hi1)),
                            hn::Max(lo2, hn::Min(hn::Div(A2, sum), hi2)),
                            hn::Max(lo3, hn::Min(hn::Div(A3, sum), hi3)), out + 4 * i,
                            static_cast<size_t>(std::min(N, width - i)));
            }
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

HWY_EXPORT(DownscaleHBand);
HWY_EXPORT(DownscaleVBand);

namespace {

// Horizontal bands run in groups of as many rows as a vector has lanes.
constexpr int kHorizontalGrain = 32;
constexpr int kVerticalGrain = 32;
// Converted input rows a vertical band may hold; wider images run in column chunks within it.
constexpr size_t kVerticalCacheBytes = size_t{1} << 20;

// The reduction plan of a draw, from `cache` while its numbers and table stay the same.
const ResamplePlan& KeptReduction(PlanCache<ResamplePlan>& cache, const gfx::SamplerBinding& table, Axis axis,
                                  float s, float r, int radius, int taps, int window, const ImageAxis& input,
                                  int count) {
    const PlanKey key = PlanKey()
                            .Add(static_cast<int>(axis))
                            .Add(s)
                            .Add(r)
                            .Add(radius)
                            .Add(taps)
                            .Add(window)
                            .Add(input.size)
                            .Add(input.inverseSize)
                            .Add(count);
    return cache.Get(key, table, [&] {
        return PlanReduction(table, axis, s, r, static_cast<float>(radius), taps, window, input, count);
    });
}

}  // namespace

void DownscaleHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::SamplerBinding& image = ctx.samplers[kDownscaleHInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || !ctx.params) return;
    if (ctx.width <= 0 || ctx.height <= 0) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const effect::Float2 inv = scale.workTexSizeInverse;
    const ImageAxis columns{image.texture.width, inv.x};
    thread_local PlanCache<ResamplePlan> plans;
    const ResamplePlan& plan = KeptReduction(plans, table, Axis::Horizontal, scale.hscale, scale.hscaleInverse,
                                             params.radius, params.htap, params.htap2, columns, ctx.width);
    ResampleJob job = MakeResampleJob(plan, image.texture, ctx);
    job.rows = ImageAxis{image.texture.height, inv.y};
    scheduler.Run(ctx.height, kHorizontalGrain,
                  [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(DownscaleHBand)(job, y0, y1); });
}

void DownscaleVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::SamplerBinding& image = ctx.samplers[kDownscaleVInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || !ctx.params) return;
    if (ctx.width <= 0 || ctx.height <= 0) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const effect::Float2 inv = scale.tmpTex2SizeInverse;
    const ImageAxis rows{image.texture.height, inv.y};
    thread_local PlanCache<ResamplePlan> plans;
    const ResamplePlan& plan = KeptReduction(plans, table, Axis::Vertical, scale.vscale, scale.vscaleInverse,
                                             params.radius, params.vtap, params.vtap2, rows, ctx.height);
    ResampleJob job = MakeResampleJob(plan, image.texture, ctx);
    // Room for every row of an output row and for the next output row's, which start about
    // `vscaleInverse` rows on; no more rows than the input has, since then every row has a slot.
    job.cachedRows = std::min(2 * plan.Span(), image.texture.height);
    const size_t chunkBytes = static_cast<size_t>(job.cachedRows) * 4 * sizeof(float);
    const size_t chunk = std::max<size_t>(kPlanPad, kVerticalCacheBytes / chunkBytes / kPlanPad * kPlanPad);
    job.columnChunk = static_cast<int>(std::min<size_t>(chunk, static_cast<size_t>(ctx.width + kPlanPad)));
    scheduler.Run(ctx.height, kVerticalGrain,
                  [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(DownscaleVBand)(job, y0, y1); });
}

QV_REGISTER_PIXEL_PROGRAM(kDownscaleHProgram, DownscaleHReference, DownscaleHOptimised,
                          gfx::Samplers(kDownscaleHInputSampler, kWeightTableSampler));
QV_REGISTER_PIXEL_PROGRAM(kDownscaleVProgram, DownscaleVReference, DownscaleVOptimised,
                          gfx::Samplers(kDownscaleVInputSampler, kWeightTableSampler));

}  // namespace qv::passes
#endif  // HWY_ONCE
