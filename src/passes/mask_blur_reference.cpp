// Reference variants of mask_blur_h and mask_blur_v: per pixel on 2x2 quads through the generic
// sampler, taps summed from -4 up to +4.
#include "effect/constant_blocks.h"
#include "passes/mask_blur.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {

using gfx::QFloat;
using gfx::QFloat4;
using gfx::QuadPosition;

void MaskBlurHReference(const gfx::DrawContext& ctx) {
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    const gfx::SamplerBinding& mask = ctx.samplers[kMaskBlurHSampler];
    const effect::Float2 inv = scale.workTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const QuadPosition& p) {
        QFloat m(0.0f);
        for (int k = -kMaskBlurRadius; k <= kMaskBlurRadius; ++k) {
            const QFloat u = (p.x + static_cast<float>(k) + 0.25f) * inv.x;
            m += weight.gw_r4[k < 0 ? -k : k] * gfx::Tex2D(mask, u, (p.y + 0.25f) * inv.y).w;
        }
        return QFloat4{m, 0.0f, 0.0f, 0.0f};
    });
}

void MaskBlurVReference(const gfx::DrawContext& ctx) {
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto weight = effect::ReadBlock<effect::WeightBlock>(ctx.weight);
    const gfx::SamplerBinding& rows = ctx.samplers[kMaskBlurVSampler];
    const effect::Float2 inv = scale.workTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const QuadPosition& p) {
        QFloat m(0.0f);
        for (int k = -kMaskBlurRadius; k <= kMaskBlurRadius; ++k) {
            const QFloat v = (p.y + static_cast<float>(k) + 0.25f) * inv.y;
            m += weight.gw_r4[k < 0 ? -k : k] * gfx::Tex2D(rows, (p.x + 0.25f) * inv.x, v).x;
        }
        return QFloat4{m, 0.0f, 0.0f, 0.0f};
    });
}

}  // namespace qv::passes
