// Optimised variants of mask_blur_h and mask_blur_v: row kernels, one lane per pixel, each input
// row converted to floats once per band; taps summed from -4 up to +4 as the reference does.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/mask_blur_optimised.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "effect/constant_blocks.h"
#include "passes/detail_rows-inl.h"
#include "passes/mask_blur.h"
#include "passes/program_names.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

using namespace detail_rows;  // NOLINT: the row helpers of this stage

// The 9-tap sum over rows[0 .. 8] at columns x + step * (k + 4), k = -4 .. 4.
HWY_INLINE VF Blur9(const VF* gw, const float* const* rows, size_t x, int step) {
    const DF df;
    VF m = hn::Zero(df);
    for (int k = -kMaskBlurRadius; k <= kMaskBlurRadius; ++k) {
        const float* p = rows[k + kMaskBlurRadius] + x;
        m = hn::Add(m, hn::Mul(gw[k < 0 ? -k : k], hn::LoadU(df, p + step * k)));
    }
    return m;
}

void LoadWeights(const gfx::DrawContext& ctx, VF* gw) {
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    for (int k = 0; k <= kMaskBlurRadius; ++k) gw[k] = hn::Set(DF(), weight.gw_r4[k]);
}

void MaskBlurHRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const size_t N = hn::Lanes(DF());
    const gfx::TextureView& mask = ctx.samplers[kMaskBlurHSampler].texture;
    const size_t width = static_cast<size_t>(ctx.width);
    VF gw[kMaskBlurRadius + 1];
    LoadWeights(ctx, gw);
    // Two rows of channel w: the one drawn from, and the next, converted while this one is drawn.
    ChannelRows<1, 3> planes(mask, y0, y1, ctx.width, kMaskBlurRadius, 2);
    const auto texels = [&](int y) { return mask.Row16(std::clamp(y, 0, mask.height - 1)); };
    const VU32 zero = hn::Zero(DU32());
    for (int y = y0; y < y1; ++y) {
        const float* row = planes.Row(y);
        const float* rows[2 * kMaskBlurRadius + 1];
        for (const float*& r : rows) r = row;
        PendingRow pending = y + 1 < y1 ? planes.Start(y + 1) : PendingRow();
        const uint16_t* next = texels(y + 2);
        uint16_t* out = ctx.target.Row(y);
        for (size_t x = 0; x < width; x += N) {
            PrefetchTexels(next, mask.width, x);
            pending.Advance(x + N);
            const VF m = Blur9(gw, rows, x, 1);
            StoreTexelPairs(StoreUnormWideVec(DF(), m), zero, out + 4 * x, std::min(N, width - x));
        }
        pending.Finish();
    }
}

void MaskBlurVRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const size_t N = hn::Lanes(DF());
    const gfx::TextureView& input = ctx.samplers[kMaskBlurVSampler].texture;
    const size_t width = static_cast<size_t>(ctx.width);
    VF gw[kMaskBlurRadius + 1];
    LoadWeights(ctx, gw);
    const ChannelRows<1> cache(input, y0 - kMaskBlurRadius, y1 + kMaskBlurRadius, ctx.width, 0);
    const VU32 zero = hn::Zero(DU32());
    for (int y = y0; y < y1; ++y) {
        const float* rows[2 * kMaskBlurRadius + 1];
        for (int k = -kMaskBlurRadius; k <= kMaskBlurRadius; ++k) rows[k + kMaskBlurRadius] = cache.Row(y + k);
        const uint16_t* next = input.Row16(std::clamp(y + kMaskBlurRadius + 1, 0, input.height - 1));
        uint16_t* out = ctx.target.Row(y);
        for (size_t x = 0; x < width; x += N) {
            PrefetchTexels(next, input.width, x);
            const VF m = Blur9(gw, rows, x, 0);
            StoreTexelPairs(StoreUnormWideVec(DF(), m), zero, out + 4 * x, std::min(N, width - x));
        }
    }
}

}  // namespace

void MaskBlurHBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    if (ctx.width <= 0 || ctx.height <= 0) return;
    scheduler.Run(ctx.height, detail_rows::BandRows(ctx.height, scheduler.Workers()),
                  [&](int y0, int y1) { MaskBlurHRows(ctx, y0, y1); });
}

void MaskBlurVBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    if (ctx.width <= 0 || ctx.height <= 0) return;
    scheduler.Run(ctx.height, detail_rows::BandRows(ctx.height, scheduler.Workers()),
                  [&](int y0, int y1) { MaskBlurVRows(ctx, y0, y1); });
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::passes {

HWY_EXPORT(MaskBlurHBands);
HWY_EXPORT(MaskBlurVBands);

void MaskBlurHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    HWY_DYNAMIC_DISPATCH(MaskBlurHBands)(ctx, scheduler);
}

void MaskBlurVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    HWY_DYNAMIC_DISPATCH(MaskBlurVBands)(ctx, scheduler);
}

QV_REGISTER_PIXEL_PROGRAM(kMaskBlurHProgram, MaskBlurHReference, MaskBlurHOptimised, gfx::Samplers(kMaskBlurHSampler));
QV_REGISTER_PIXEL_PROGRAM(kMaskBlurVProgram, MaskBlurVReference, MaskBlurVOptimised, gfx::Samplers(kMaskBlurVSampler));

}  // namespace qv::passes
#endif
