// Optimised variants of mask_blur_h and mask_blur_v: row kernels, one lane per pixel; taps summed
// from -4 up to +4 as the reference does.
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

void LoadWeights(const gfx::DrawContext& ctx, VF* gw) {
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    for (int k = 0; k <= kMaskBlurRadius; ++k) gw[k] = hn::Set(DF(), weight.gw_r4[k]);
}

void MaskBlurHRows(const gfx::DrawContext& ctx, int y0, int y1) {
    VF gw[kMaskBlurRadius + 1];
    LoadWeights(ctx, gw);
    BlurAlongRows<3, kMaskBlurRadius>(ctx.samplers[kMaskBlurHSampler].texture, ctx.target, ctx.width, gw, y0, y1);
}

// Output rows drawn in one sweep along the columns: each converted row is loaded once a sweep
// for all of them, a third of the loads of drawing a row at a time.
constexpr int kSweepRows = 4;

// Rows y0 .. y1 - 1, kSweepRows at a time. Each output's taps are summed from row - 4 down to
// row + 4, as the input rows stream past in order.
void MaskBlurVRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const size_t N = hn::Lanes(DF());
    const gfx::TextureView& input = ctx.samplers[kMaskBlurVSampler].texture;
    const size_t width = static_cast<size_t>(ctx.width);
    VF gw[kMaskBlurRadius + 1];
    LoadWeights(ctx, gw);
    constexpr int kInputRows = kSweepRows + 2 * kMaskBlurRadius;
    const ChannelRows<1> cache(input, y0 - kMaskBlurRadius, y1 + kMaskBlurRadius + kSweepRows, ctx.width, 0,
                               kInputRows);
    const VU32 zero = hn::Zero(DU32());
    for (int y = y0; y < y1; y += kSweepRows) {
        const float* rows[kInputRows];
        for (int j = 0; j < kInputRows; ++j) rows[j] = cache.Row(y - kMaskBlurRadius + j);
        // The texels of the rows the next sweep adds, asked for while this one draws.
        const uint16_t* next[kSweepRows];
        for (int r = 0; r < kSweepRows; ++r)
            next[r] = input.Row16(std::clamp(y + kSweepRows + kMaskBlurRadius + r, 0, input.height - 1));
        const int drawn = std::min(kSweepRows, y1 - y);
        uint16_t* out[kSweepRows];
        for (int r = 0; r < kSweepRows; ++r) out[r] = ctx.target.Row(y + std::min(r, drawn - 1));
        for (size_t x = 0; x < width; x += N) {
            for (const uint16_t* row : next) PrefetchTexels(row, input.width, x);
            VF sum[kSweepRows];
            for (VF& v : sum) v = hn::Zero(DF());
            HWY_UNROLL(16)
            for (int j = 0; j < kInputRows; ++j) {
                const VF v = hn::LoadU(DF(), rows[j] + x);
                HWY_UNROLL(8)
                for (int r = 0; r < kSweepRows; ++r) {
                    const int k = j - r - kMaskBlurRadius;  // the tap input row j is for output row r
                    if (k >= -kMaskBlurRadius && k <= kMaskBlurRadius)
                        sum[r] = hn::Add(sum[r], hn::Mul(gw[k < 0 ? -k : k], v));
                }
            }
            const size_t count = std::min(N, width - x);
            for (int r = 0; r < drawn; ++r)
                StoreTexelPairs(StoreUnormWideVec(DF(), sum[r]), zero, out[r] + 4 * x, count);
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
