// Reference variants of usm_blur and usm_limit: the algorithm per pixel, on 2x2 quads, every read
// through the generic sampler a quarter texel into the texel it names.
#include "effect/constant_blocks.h"
#include "passes/usm.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {

using gfx::QFloat;
using gfx::QFloat4;
using gfx::QuadPosition;

namespace {

// The texel `dx` columns and `dy` rows from the pixel, read through `sampler`.
QFloat4 ReadAt(const gfx::SamplerBinding& sampler, const effect::Float2& inverseSize, const QuadPosition& p, int dx,
               int dy) {
    const QFloat u = (p.x + static_cast<float>(dx) + 0.25f) * inverseSize.x;
    const QFloat v = (p.y + static_cast<float>(dy) + 0.25f) * inverseSize.y;
    return gfx::Tex2D(sampler, u, v);
}

}  // namespace

void UsmBlurReference(const gfx::DrawContext& ctx) {
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    const gfx::SamplerBinding& image = ctx.samplers[kUsmImageSampler];
    gfx::RunOnQuads(ctx, [&](const QuadPosition& p) {
        QFloat h(0.0f);
        for (int k = -kUsmBlurRadius; k <= kUsmBlurRadius; ++k) {
            h += weight.gw_r3[k < 0 ? -k : k] * ReadAt(image, scale.workTexSizeInverse, p, k, 0).x;
        }
        return QFloat4{h, 0.0f, 0.0f, 0.0f};
    });
}

void UsmLimitReference(const gfx::DrawContext& ctx) {
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    const gfx::SamplerBinding& image = ctx.samplers[kUsmImageSampler];
    const gfx::SamplerBinding& blurred = ctx.samplers[kUsmBlurSampler];
    const effect::Float2 inv = scale.workTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const QuadPosition& p) {
        QFloat b(0.0f);
        for (int k = -kUsmBlurRadius; k <= kUsmBlurRadius; ++k) {
            b += weight.gw_r3[k < 0 ? -k : k] * ReadAt(blurred, inv, p, 0, k).x;
        }
        const QFloat4 s = ReadAt(image, inv, p, 0, 0);
        const QFloat d = s.x - b;

        QFloat lo = ReadAt(image, inv, p, -kUsmRangeRadius, -kUsmRangeRadius).x;
        QFloat hi = lo;
        for (int j = -kUsmRangeRadius; j <= kUsmRangeRadius; ++j) {
            for (int i = -kUsmRangeRadius; i <= kUsmRangeRadius; ++i) {
                if (i == -kUsmRangeRadius && j == -kUsmRangeRadius) continue;
                const QFloat y = ReadAt(image, inv, p, i, j).x;
                lo = gfx::Min(lo, y);
                hi = gfx::Max(hi, y);
            }
        }

        const QFloat sharpened = s.x + params.usm * d;
        const QFloat lower = gfx::Min(s.x + params.min * d, lo);
        const QFloat upper = gfx::Max(s.x + params.max * d, hi);
        const QFloat limited = gfx::Min(gfx::Max(sharpened, lower), upper);
        const QFloat edge = gfx::Clamp(-kEdgeMaskGain * d, 0.0f, 1.0f);
        return QFloat4{limited + params.recovery * s.w, s.y, s.z, edge};
    });
}

}  // namespace qv::passes
