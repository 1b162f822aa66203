// Optimised variants of usm_blur and usm_limit: row kernels, one lane per pixel, each input row
// converted to floats once per band; products, sums and min/max in the reference's order.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/usm_optimised.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "effect/constant_blocks.h"
#include "passes/detail_rows-inl.h"
#include "passes/program_names.h"
#include "passes/usm.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

using namespace detail_rows;  // NOLINT: the row helpers of this stage

// The texture row that the samplers' clamped reads of row `row` see.
const uint16_t* TexelRow(const gfx::TextureView& texture, int row) {
    return texture.Row16(std::clamp(row, 0, texture.height - 1));
}

void UsmBlurRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    VF gw[kUsmBlurRadius + 1];
    for (int k = 0; k <= kUsmBlurRadius; ++k) gw[k] = hn::Set(DF(), weight.gw_r3[k]);
    BlurAlongRows<0, kUsmBlurRadius>(ctx.samplers[kUsmImageSampler].texture, ctx.target, ctx.width, gw, y0, y1);
}

void UsmLimitRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    const gfx::TextureView& image = ctx.samplers[kUsmImageSampler].texture;
    const gfx::TextureView& blurredTexture = ctx.samplers[kUsmBlurSampler].texture;
    const size_t width = static_cast<size_t>(ctx.width);
    const ChannelRows<1> blurred(blurredTexture, y0 - kUsmBlurRadius, y1 + kUsmBlurRadius, ctx.width, 0);
    const ChannelRows<1> luma(image, y0 - kUsmRangeRadius, y1 + kUsmRangeRadius, ctx.width, kUsmRangeRadius);
    // The 3x3 range in two steps: down the columns into these rows (columns -1 .. width), then
    // along them, so each pixel takes four min/max instead of sixteen.
    const RowPlanes columnRange(std::max(ctx.width, image.width), kUsmRangeRadius, 2);
    float* const columnLo = columnRange.Plane(0);
    float* const columnHi = columnRange.Plane(1);
    const ptrdiff_t rangeEnd = static_cast<ptrdiff_t>((width + N - 1) / N * N) + kUsmRangeRadius;

    const VF usm = hn::Set(df, params.usm);
    const VF maxStrength = hn::Set(df, params.max);
    const VF minStrength = hn::Set(df, params.min);
    const VF recovery = hn::Set(df, params.recovery);
    const VF gain = hn::Set(df, -kEdgeMaskGain);
    VF gw[kUsmBlurRadius + 1];
    for (int k = 0; k <= kUsmBlurRadius; ++k) gw[k] = hn::Set(df, weight.gw_r3[k]);

    for (int y = y0; y < y1; ++y) {
        const float* blurredRows[2 * kUsmBlurRadius + 1];
        for (int k = -kUsmBlurRadius; k <= kUsmBlurRadius; ++k) blurredRows[k + kUsmBlurRadius] = blurred.Row(y + k);
        const float* lumaRows[2 * kUsmRangeRadius + 1];
        for (int j = -kUsmRangeRadius; j <= kUsmRangeRadius; ++j) lumaRows[j + kUsmRangeRadius] = luma.Row(y + j);
        const float* here = lumaRows[kUsmRangeRadius];
        const uint16_t* texels = TexelRow(image, y);
        const uint16_t* nextLuma = TexelRow(image, y + kUsmRangeRadius + 1);
        const uint16_t* nextBlurred = TexelRow(blurredTexture, y + kUsmBlurRadius + 1);
        uint16_t* out = ctx.target.Row(y);

        // Stored values read as finite floats of one sign (never NaN, never -0), so min and max
        // give the same value in any order: down the columns, then along the row.
        for (ptrdiff_t x = -kUsmRangeRadius; x < rangeEnd; x += static_cast<ptrdiff_t>(N)) {
            VF lo = hn::LoadU(df, lumaRows[0] + x);
            VF hi = lo;
            for (int j = 1; j <= 2 * kUsmRangeRadius; ++j) {
                const VF v = hn::LoadU(df, lumaRows[j] + x);
                lo = hn::Min(lo, v);
                hi = hn::Max(hi, v);
            }
            hn::StoreU(lo, df, columnLo + x);
            hn::StoreU(hi, df, columnHi + x);
        }

        for (size_t x = 0; x < width; x += N) {
            PrefetchTexels(nextLuma, image.width, x);
            PrefetchTexels(nextBlurred, blurredTexture.width, x);
            VF b = hn::Zero(df);
            for (int k = -kUsmBlurRadius; k <= kUsmBlurRadius; ++k) {
                b = hn::Add(b, hn::Mul(gw[k < 0 ? -k : k], hn::LoadU(df, blurredRows[k + kUsmBlurRadius] + x)));
            }
            const VF sx = hn::LoadU(df, here + x);
            const VF d = hn::Sub(sx, b);

            VF lo = hn::LoadU(df, columnLo + x - kUsmRangeRadius);
            VF hi = hn::LoadU(df, columnHi + x - kUsmRangeRadius);
            for (int i = 1 - kUsmRangeRadius; i <= kUsmRangeRadius; ++i) {
                lo = hn::Min(lo, hn::LoadU(df, columnLo + x + i));
                hi = hn::Max(hi, hn::LoadU(df, columnHi + x + i));
            }

            const VF sharpened = hn::Add(sx, hn::Mul(usm, d));
            const VF lower = ShaderMin(hn::Add(sx, hn::Mul(minStrength, d)), lo);
            const VF upper = ShaderMax(hn::Add(sx, hn::Mul(maxStrength, d)), hi);
            const VF limited = ShaderMin(ShaderMax(sharpened, lower), upper);
            // The edge mask's clamp to [0, 1] is the store rule's own.
            const VF edge = hn::Mul(gain, d);

            // Chroma passes through: a stored value read and stored again is the same value.
            VU32 low, high;
            LoadTexelPairs(texels, image.width, x, low, high);
            const VF sw = ReadUnormWideVec(df, HighChannel(high));
            const VF result = hn::Add(limited, hn::Mul(recovery, sw));
            StoreTexelPairs(PairOf(StoreUnormWideVec(df, result), HighChannel(low)),
                            PairOf(LowChannel(high), StoreUnormWideVec(df, edge)), out + 4 * x,
                            std::min(N, width - x));
        }
    }
}

}  // namespace

void UsmBlurBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    if (ctx.width <= 0 || ctx.height <= 0) return;
    scheduler.Run(ctx.height, detail_rows::BandRows(ctx.height, scheduler.Workers()),
                  [&](int y0, int y1) { UsmBlurRows(ctx, y0, y1); });
}

void UsmLimitBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    if (ctx.width <= 0 || ctx.height <= 0) return;
    scheduler.Run(ctx.height, detail_rows::BandRows(ctx.height, scheduler.Workers()),
                  [&](int y0, int y1) { UsmLimitRows(ctx, y0, y1); });
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::passes {

HWY_EXPORT(UsmBlurBands);
HWY_EXPORT(UsmLimitBands);

void UsmBlurOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    HWY_DYNAMIC_DISPATCH(UsmBlurBands)(ctx, scheduler);
}

void UsmLimitOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    HWY_DYNAMIC_DISPATCH(UsmLimitBands)(ctx, scheduler);
}

QV_REGISTER_PIXEL_PROGRAM(kUsmBlurProgram, UsmBlurReference, UsmBlurOptimised, gfx::Samplers(kUsmImageSampler));
QV_REGISTER_PIXEL_PROGRAM(kUsmLimitProgram, UsmLimitReference, UsmLimitOptimised,
                          gfx::Samplers(kUsmImageSampler, kUsmBlurSampler));

}  // namespace qv::passes
#endif
