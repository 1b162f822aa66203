// Reference variant of recovery: per pixel on 2x2 quads through the generic sampler.
#include "effect/constant_blocks.h"
#include "passes/recovery.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {

void RecoveryReference(const gfx::DrawContext& ctx) {
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const gfx::SamplerBinding& image = ctx.samplers[kRecoveryImageSampler];
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& p) {
        const gfx::QFloat4 s = gfx::Tex2D(image, (p.x + 0.25f) * scale.workTexSizeInverse.x,
                                          (p.y + 0.25f) * scale.workTexSizeInverse.y);
        return gfx::QFloat4{s.x + params.recovery * s.w, s.y, s.z, 0.0f};
    });
}

}  // namespace qv::passes
