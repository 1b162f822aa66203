// Reference variants of warp_h and warp_v: per pixel on 2x2 quads, every image read through the
// generic sampler a quarter texel into the texel it names, the weight table read at the phase f
// and at 1 - f with the sampler's per-quad choice between the point and the linear filter.
#include "effect/constant_blocks.h"
#include "passes/warp.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {

using gfx::QFloat;
using gfx::QFloat4;
using gfx::QuadPosition;

namespace {

template <bool kAlongRows>
void WarpReference(const gfx::DrawContext& ctx, int imageSampler) {
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const effect::Float2 inv = scale.workTexSizeInverse;
    const gfx::SamplerBinding& map = ctx.samplers[kWarpMapSampler];
    const gfx::SamplerBinding& image = ctx.samplers[imageSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWarpTableSampler];
    const QFloat sharp(params.sharp);
    gfx::RunOnQuads(ctx, [&](const QuadPosition& p) {
        // The texel at `position` along the warp's direction, in the pixel's row or column.
        const auto readAlong = [&](const gfx::SamplerBinding& s, const QFloat& position) {
            const QFloat& column = kAlongRows ? position : p.x;
            const QFloat& row = kAlongRows ? p.y : position;
            return gfx::Tex2D(s, (column + 0.25f) * inv.x, (row + 0.25f) * inv.y);
        };
        const QFloat& along = kAlongRows ? p.x : p.y;
        const QFloat slope = readAlong(map, along - 1.0f).x - readAlong(map, along + 1.0f).x;
        const QFloat shift = gfx::Clamp(kWarpSlopeGain * sharp * slope, -sharp, sharp);
        const QFloat position = along + shift;
        const QFloat i = gfx::Floor(position);
        const QFloat f = position - i;
        const QFloat4 a = gfx::Tex2D(table, f, f);
        const QFloat rest = 1.0f - f;
        const QFloat4 b = gfx::Tex2D(table, rest, rest);
        const QFloat weights[kWarpTaps] = {a.z, a.y, a.x, b.x, b.y, b.z};

        QFloat4 sum;
        QFloat weightSum(0.0f);
        for (int k = 0; k < kWarpTaps; ++k) {
            const QFloat4 t = readAlong(image, i + static_cast<float>(k + kWarpFirstTap));
            sum.x += weights[k] * t.x;
            sum.y += weights[k] * t.y;
            sum.z += weights[k] * t.z;
            sum.w += weights[k] * t.w;
            weightSum += weights[k];
        }
        const QFloat w = kAlongRows ? sum.w / weightSum : QFloat(0.0f);
        return QFloat4{sum.x / weightSum, sum.y / weightSum, sum.z / weightSum, w};
    });
}

}  // namespace

void WarpHReference(const gfx::DrawContext& ctx) { WarpReference<true>(ctx, kWarpHImageSampler); }
void WarpVReference(const gfx::DrawContext& ctx) { WarpReference<false>(ctx, kWarpVImageSampler); }

}  // namespace qv::passes
