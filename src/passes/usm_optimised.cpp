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

void UsmBlurRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    const gfx::TextureView& image = ctx.samplers[kUsmImageSampler].texture;
    const size_t width = static_cast<size_t>(ctx.width);
    RowPlanes planes(std::max(ctx.width, image.width), kUsmBlurRadius, 1);
    float* luma = planes.Plane(0);
    float* const expand[4] = {luma, nullptr, nullptr, nullptr};
    const VU16 zero = hn::Zero(DU16());
    for (int y = y0; y < y1; ++y) {
        ExpandRow(image.Row16(std::clamp(y, 0, image.height - 1)), image.width, planes.Layout(), expand);
        uint16_t* out = ctx.target.Row(y);
        for (size_t x = 0; x < width; x += N) {
            VF h = hn::Zero(df);
            for (int k = -kUsmBlurRadius; k <= kUsmBlurRadius; ++k) {
                h = hn::Add(h, hn::Mul(hn::Set(df, weight.gw_r3[k < 0 ? -k : k]), hn::LoadU(df, luma + x + k)));
            }
            StoreTexelBits(StoreUnormVec(df, h), zero, zero, zero, out + 4 * x, std::min(N, width - x));
        }
    }
}

void UsmLimitRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    const gfx::TextureView& image = ctx.samplers[kUsmImageSampler].texture;
    const gfx::TextureView& blurredTexture = ctx.samplers[kUsmBlurSampler].texture;
    const size_t width = static_cast<size_t>(ctx.width);
    const ChannelRows blurred(blurredTexture, {0}, y0 - kUsmBlurRadius, y1 + kUsmBlurRadius, ctx.width, 0);
    const ChannelRows luma(image, {0}, y0 - kUsmRangeRadius, y1 + kUsmRangeRadius, ctx.width, kUsmRangeRadius);

    const VF usm = hn::Set(df, params.usm);
    const VF maxStrength = hn::Set(df, params.max);
    const VF minStrength = hn::Set(df, params.min);
    const VF recovery = hn::Set(df, params.recovery);
    const VF gain = hn::Set(df, -kEdgeMaskGain);
    const VF zero = hn::Zero(df);
    const VF one = hn::Set(df, 1.0f);
    VF gw[kUsmBlurRadius + 1];
    for (int k = 0; k <= kUsmBlurRadius; ++k) gw[k] = hn::Set(df, weight.gw_r3[k]);

    for (int y = y0; y < y1; ++y) {
        const float* blurredRows[2 * kUsmBlurRadius + 1];
        for (int k = -kUsmBlurRadius; k <= kUsmBlurRadius; ++k) blurredRows[k + kUsmBlurRadius] = blurred.Row(y + k);
        const float* lumaRows[2 * kUsmRangeRadius + 1];
        for (int j = -kUsmRangeRadius; j <= kUsmRangeRadius; ++j) lumaRows[j + kUsmRangeRadius] = luma.Row(y + j);
        const float* here = lumaRows[kUsmRangeRadius];
        const uint16_t* texels = image.Row16(std::clamp(y, 0, image.height - 1));
        uint16_t* out = ctx.target.Row(y);

        for (size_t x = 0; x < width; x += N) {
            VF b = hn::Zero(df);
            for (int k = -kUsmBlurRadius; k <= kUsmBlurRadius; ++k) {
                b = hn::Add(b, hn::Mul(gw[k < 0 ? -k : k], hn::LoadU(df, blurredRows[k + kUsmBlurRadius] + x)));
            }
            const VF sx = hn::LoadU(df, here + x);
            const VF d = hn::Sub(sx, b);

            // The range of the 3x3 neighbourhood. Stored values read as finite floats of one sign
            // (never NaN, never -0), so the shader's min and max are the plain ones and give the
            // same value in any order: row by row, then across the rows.
            VF lo, hi;
            for (int j = 0; j <= 2 * kUsmRangeRadius; ++j) {
                const float* row = lumaRows[j] + x;
                VF rowLo = hn::LoadU(df, row - kUsmRangeRadius);
                VF rowHi = rowLo;
                for (int i = 1 - kUsmRangeRadius; i <= kUsmRangeRadius; ++i) {
                    const VF v = hn::LoadU(df, row + i);
                    rowLo = hn::Min(rowLo, v);
                    rowHi = hn::Max(rowHi, v);
                }
                lo = j == 0 ? rowLo : hn::Min(lo, rowLo);
                hi = j == 0 ? rowHi : hn::Max(hi, rowHi);
            }

            const VF sharpened = hn::Add(sx, hn::Mul(usm, d));
            const VF lower = ShaderMin(hn::Add(sx, hn::Mul(minStrength, d)), lo);
            const VF upper = ShaderMax(hn::Add(sx, hn::Mul(maxStrength, d)), hi);
            const VF limited = ShaderMin(ShaderMax(sharpened, lower), upper);
            const VF edge = ShaderMin(ShaderMax(hn::Mul(gain, d), zero), one);

            // Chroma passes through: a stored value read and stored again is the same value.
            VU16 s0, s1, s2, s3;
            LoadTexels(texels, image.width, x, s0, s1, s2, s3);
            const VF sw = ReadUnormVec(df, s3);
            const VF result = hn::Add(limited, hn::Mul(recovery, sw));
            StoreTexelBits(StoreUnormVec(df, result), s1, s2, StoreUnormVec(df, edge), out + 4 * x,
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

QV_REGISTER_PIXEL_PROGRAM(kUsmBlurProgram, UsmBlurReference, UsmBlurOptimised);
QV_REGISTER_PIXEL_PROGRAM(kUsmLimitProgram, UsmLimitReference, UsmLimitOptimised);

}  // namespace qv::passes
#endif
