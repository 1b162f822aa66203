// Row kernels of the enlargement programs. The plan (resample_plan.h) fixes, per output column
// (upscale_h) or row (upscale_v), the six input texels, their weights and sum, and the range
// window; the kernels apply it one lane per output pixel, keeping the programs' order of every
// product, sum and division.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/upscale.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <vector>

#include "passes/resample_rows-inl.h"
#include "passes/resample_rows.h"
#include "passes/upscale.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

constexpr int kTaps = 6;
constexpr int kWindow = 3;

// upscale_h: lanes are output rows. A group of rows is laid side by side with the row above
// and the row below it (lanes 0 and N + 1), so a tap is one vector load and the range
// window's rows y-1, y, y+1 are the loads one lane to either side.
void UpscaleHBand(const ResampleJob& job, int y0, int y1) {
    const hn::ScalableTag<float> df;
    const int N = static_cast<int>(hn::Lanes(df));
    const int lanes = N + 2;
    const ResamplePlan& plan = *job.plan;
    ColumnMajorRows block(job.input, lanes);
    const size_t ps = block.PlaneStride();
    const float* planes[4] = {block.Planes(), block.Planes() + ps, block.Planes() + 2 * ps, block.Planes() + 3 * ps};
    std::vector<int> rows(static_cast<size_t>(lanes));

    for (int g = y0; g < y1; g += N) {
        for (int l = 0; l < lanes; ++l) {
            rows[static_cast<size_t>(l)] = TexelIndex(static_cast<float>(g + l - 1), job.rows);
        }
        block.Load(rows.data());
        const size_t valid = static_cast<size_t>(std::min(N, y1 - g));
        for (int x = 0; x < job.width; ++x) {
            auto A0 = hn::Zero(df), A1 = hn::Zero(df), A2 = hn::Zero(df), A3 = hn::Zero(df);
            for (int k = 0; k < kTaps; ++k) {
                const size_t at = static_cast<size_t>(plan.TapIndex(k)[x]) * lanes + 1;
                const auto w = hn::Set(df, plan.TapWeight(k)[x]);
                A0 = hn::Add(A0, hn::Mul(w, hn::LoadU(df, planes[0] + at)));
                A1 = hn::Add(A1, hn::Mul(w, hn::LoadU(df, planes[1] + at)));
                A2 = hn::Add(A2, hn::Mul(w, hn::LoadU(df, planes[2] + at)));
                A3 = hn::Add(A3, hn::Mul(w, hn::LoadU(df, planes[3] + at)));
            }
            const auto sum = hn::Set(df, plan.weightSum[static_cast<size_t>(x)]);
            auto lo = hn::LoadU(df, planes[0] + static_cast<size_t>(plan.WindowIndex(0)[x]) * lanes);
            auto hi = lo;
            for (int k = 0; k < kWindow; ++k) {
                const float* column = planes[0] + static_cast<size_t>(plan.WindowIndex(k)[x]) * lanes;
                for (int dy = 0; dy < 3; ++dy) {
                    const auto v = hn::LoadU(df, column + dy);
                    lo = hn::Min(lo, v);
                    hi = hn::Max(hi, v);
                }
            }
            const auto luma = hn::Min(hi, hn::Max(hn::Div(A0, sum), lo));
            StoreTexelColumn(df, luma, hn::Div(A1, sum), hn::Div(A2, sum), hn::Div(A3, sum), job.target, g, x, valid);
        }
    }
}

// upscale_v: the six input rows are weighed down the column; the range window is rows
// m-1 .. m+1 and columns x-1 .. x+1, the columns read as neighbouring lanes.
void UpscaleVBand(const ResampleJob& job, int y0, int y1) {
    const hn::ScalableTag<float> df;
    const size_t N = hn::Lanes(df);
    const ResamplePlan& plan = *job.plan;
    const int vectorColumns = static_cast<int>((static_cast<size_t>(job.width) + N - 1) / N * N);
    PlanarRowCache cache(job.input, 0, vectorColumns + 1, job.cachedRows);
    const size_t ps = cache.PlaneStride();

    for (int y = y0; y < y1; ++y) {
        // Every row this output row reads lies within six consecutive input rows, fewer than the
        // cache holds, so fetching one does not evict another.
        const float* tap[kTaps];
        hn::Vec<decltype(df)> w[kTaps];
        for (int k = 0; k < kTaps; ++k) {
            tap[k] = cache.Row(plan.TapIndex(k)[y]);
            w[k] = hn::Set(df, plan.TapWeight(k)[y]);
        }
        const float* window[kWindow];
        for (int k = 0; k < kWindow; ++k) window[k] = cache.Row(plan.WindowIndex(k)[y]);
        const auto sum = hn::Set(df, plan.weightSum[static_cast<size_t>(y)]);
        uint16_t* out = job.target.Row(y);
        for (int x = 0; x < job.width; x += static_cast<int>(N)) {
            auto A0 = hn::Zero(df), A1 = hn::Zero(df), A2 = hn::Zero(df), A3 = hn::Zero(df);
            for (int k = 0; k < kTaps; ++k) {
                const float* p = tap[k] + x;
                A0 = hn::Add(A0, hn::Mul(w[k], hn::LoadU(df, p)));
                A1 = hn::Add(A1, hn::Mul(w[k], hn::LoadU(df, p + ps)));
                A2 = hn::Add(A2, hn::Mul(w[k], hn::LoadU(df, p + 2 * ps)));
                A3 = hn::Add(A3, hn::Mul(w[k], hn::LoadU(df, p + 3 * ps)));
            }
            auto lo = hn::LoadU(df, window[0] + x - 1);
            auto hi = lo;
            for (int k = 0; k < kWindow; ++k) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const auto v = hn::LoadU(df, window[k] + x + dx);
                    lo = hn::Min(lo, v);
                    hi = hn::Max(hi, v);
                }
            }
            const auto luma = hn::Min(hi, hn::Max(hn::Div(A0, sum), lo));
            StoreTexels(df, luma, hn::Div(A1, sum), hn::Div(A2, sum), hn::Div(A3, sum), out + 4 * x,
                        std::min(N, static_cast<size_t>(job.width - x)));
        }
    }
}

}  // namespace
}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "effect/constant_blocks.h"
#include "passes/program_names.h"

namespace qv::passes {

HWY_EXPORT(UpscaleHBand);
HWY_EXPORT(UpscaleVBand);

namespace {

// Horizontal bands run in groups of as many rows as a vector has lanes.
constexpr int kHorizontalGrain = 32;
constexpr int kVerticalGrain = 32;
// Rows a band of the vertical pass keeps converted: an output row's six taps (its range rows
// lie among them) with room for the next output row's.
constexpr int kVerticalCachedRows = 8;

}  // namespace

void UpscaleHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::SamplerBinding& image = ctx.samplers[kUpscaleHInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || ctx.width <= 0 || ctx.height <= 0) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const effect::Float2 inv = scale.srcTexSizeInverse;
    const ResamplePlan plan = PlanEnlargement(table, Axis::Horizontal, scale.hscaleInverse,
                                              ImageAxis{image.texture.width, inv.x}, ctx.width);
    ResampleJob job = MakeResampleJob(plan, image.texture, ctx);
    job.rows = ImageAxis{image.texture.height, inv.y};
    scheduler.Run(ctx.height, kHorizontalGrain,
                  [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(UpscaleHBand)(job, y0, y1); });
}

void UpscaleVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::SamplerBinding& image = ctx.samplers[kUpscaleVInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || ctx.width <= 0 || ctx.height <= 0) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const effect::Float2 inv = scale.tmpTexSizeInverse;
    const ResamplePlan plan = PlanEnlargement(table, Axis::Vertical, scale.vscaleInverse,
                                              ImageAxis{image.texture.height, inv.y}, ctx.height);
    ResampleJob job = MakeResampleJob(plan, image.texture, ctx);
    job.cachedRows = kVerticalCachedRows;
    scheduler.Run(ctx.height, kVerticalGrain,
                  [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(UpscaleVBand)(job, y0, y1); });
}

QV_REGISTER_PIXEL_PROGRAM(kUpscaleHProgram, UpscaleHReference, UpscaleHOptimised);
QV_REGISTER_PIXEL_PROGRAM(kUpscaleVProgram, UpscaleVReference, UpscaleVOptimised);

}  // namespace qv::passes
#endif  // HWY_ONCE
