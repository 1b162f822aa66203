// The reference denoise: a literal per-pixel transcription on 2x2 quads, every luma read going
// through the generic sampler of s2.
#include "effect/constant_blocks.h"
#include "passes/denoise.h"
#include "passes/exp2.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {

void DenoiseReference(const gfx::DrawContext& ctx) {
    using gfx::QFloat;
    const gfx::SamplerBinding& s2 = ctx.samplers[kDenoiseInputSampler];
    if (s2.texture.bits == nullptr || s2.texture.width <= 0 || s2.texture.height <= 0) return;
    const float h2 = effect::ReadBlock<effect::ParamsBlock>(ctx.params).H2;
    const effect::Float2 inverse = effect::ReadBlock<effect::ScaleBlock>(ctx.scale).srcTexSizeInverse;

    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& pos) {
        auto read = [&](int di, int dj) {
            return gfx::Tex2D(s2, DenoiseReadCoordinate(pos.x, di, inverse.x),
                              DenoiseReadCoordinate(pos.y, dj, inverse.y));
        };
        QFloat reference[3][3];
        for (int b = -1; b <= 1; ++b)
            for (int a = -1; a <= 1; ++a) reference[b + 1][a + 1] = read(a, b).x;

        QFloat sum = 0.0f;
        QFloat weightSum = 0.0f;
        for (int j = -kDenoiseSearchRadius; j <= kDenoiseSearchRadius; ++j) {
            for (int i = -kDenoiseSearchRadius; i <= kDenoiseSearchRadius; ++i) {
                QFloat distance = 0.0f;
                QFloat candidate;
                for (int b = -1; b <= 1; ++b) {
                    for (int a = -1; a <= 1; ++a) {
                        const QFloat y = read(i + a, j + b).x;
                        if (a == 0 && b == 0) candidate = y;
                        const QFloat diff = reference[b + 1][a + 1] - y;
                        distance += QFloat(kDenoiseBlockWeights[b + 1][a + 1]) * (diff * diff);
                    }
                }
                const QFloat z = (distance * h2) * kDenoiseExponentScale;
                const QFloat e = gfx::Map(z, Exp2ToFloat);
                sum += e * candidate;
                weightSum += e;
            }
        }
        const QFloat denoised = sum / weightSum;
        const gfx::QFloat4 centre = read(0, 0);
        return gfx::QFloat4{denoised, centre.y, centre.z, reference[1][1] - denoised};
    });
}

}  // namespace qv::passes
