// The reduction programs as the effect states them, one pixel at a time on 2x2 quads.
#include "effect/constant_blocks.h"
#include "passes/downscale.h"
#include "passes/resample_plan.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {
namespace {

using gfx::QFloat;
using gfx::QFloat4;

constexpr float kTexelQuarter = 0.25f;  // every image read addresses a whole texel

struct Reduction {
    float s;       // output pixels per input texel
    float r;       // input texels per output pixel
    float radius;  // kernel reach in output pixels
    int taps;
    int window;
};

// The table entry's channel for a tap q whole output pixels away: the kernel at the phase plus
// 0, 1, 2 or 3 (the last always 0), and nothing from 4 on.
QFloat TapWeight(const QFloat4& E, const QFloat& q) {
    QFloat w;
    for (int l = 0; l < 4; ++l) {
        const float ql = q[l];
        w[l] = ql == 0.0f ? E.x[l] : ql == 1.0f ? E.y[l] : ql == 2.0f ? E.z[l] : ql == 3.0f ? E.w[l] : 0.0f;
    }
    return w;
}

// One reduction along a direction. `along` is the pixel's position in the pass's direction,
// `read(j)` reads the input at position j along it, on the pixel's own row or column.
template <class Read>
QFloat4 Reduce(const gfx::SamplerBinding& table, const Reduction& c, const QFloat& along, Read read) {
    const QFloat j0 = gfx::Floor(((along - c.radius) + 0.5f) * c.r + 0.5f);
    QFloat4 sum;
    QFloat weightSum(0.0f);
    for (int k = 0; k < c.taps; ++k) {
        const QFloat j = j0 + static_cast<float>(k);
        const QFloat d = (j + 0.5f) * c.s - (along + 0.5f);  // distance in output pixels
        const QFloat ad = gfx::Abs(d);
        const QFloat f = ad - gfx::Floor(ad);
        const QFloat q = ad - f;
        const QFloat w = TapWeight(gfx::Tex2D(table, f, f), q);
        const QFloat4 I = read(j);
        weightSum += w;
        sum.x += w * I.x;
        sum.y += w * I.y;
        sum.z += w * I.z;
        sum.w += w * I.w;
    }
    const QFloat4 F{sum.x / weightSum, sum.y / weightSum, sum.z / weightSum, sum.w / weightSum};

    // Range of the input texels from the previous output pixel's centre to about the next's.
    const QFloat j1 = gfx::Floor((along - 0.5f) * c.r + 0.5f);
    QFloat4 lo{QFloat(1.0f), QFloat(1.0f), QFloat(1.0f), QFloat(1.0f)};
    QFloat4 hi;
    for (int k = 0; k < c.window; ++k) {
        const QFloat4 I = read(j1 + static_cast<float>(k));
        lo = QFloat4{gfx::Min(lo.x, I.x), gfx::Min(lo.y, I.y), gfx::Min(lo.z, I.z), gfx::Min(lo.w, I.w)};
        hi = QFloat4{gfx::Max(hi.x, I.x), gfx::Max(hi.y, I.y), gfx::Max(hi.z, I.z), gfx::Max(hi.w, I.w)};
    }
    return QFloat4{gfx::Max(lo.x, gfx::Min(F.x, hi.x)), gfx::Max(lo.y, gfx::Min(F.y, hi.y)),
                   gfx::Max(lo.z, gfx::Min(F.z, hi.z)), gfx::Max(lo.w, gfx::Min(F.w, hi.w))};
}

}  // namespace

void DownscaleHReference(const gfx::DrawContext& ctx) {
    const gfx::SamplerBinding& image = ctx.samplers[kDownscaleHInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || !ctx.params) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const Reduction c{scale.hscale, scale.hscaleInverse, static_cast<float>(params.radius), params.htap,
                      params.htap2};
    const effect::Float2 inv = scale.workTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& pos) {
        const QFloat v = (pos.y + kTexelQuarter) * inv.y;
        return Reduce(table, c, pos.x, [&](const QFloat& column) {
            return gfx::Tex2D(image, (column + kTexelQuarter) * inv.x, v);
        });
    });
}

void DownscaleVReference(const gfx::DrawContext& ctx) {
    const gfx::SamplerBinding& image = ctx.samplers[kDownscaleVInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale || !ctx.params) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const Reduction c{scale.vscale, scale.vscaleInverse, static_cast<float>(params.radius), params.vtap,
                      params.vtap2};
    const effect::Float2 inv = scale.tmpTex2SizeInverse;
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& pos) {
        const QFloat u = (pos.x + kTexelQuarter) * inv.x;
        return Reduce(table, c, pos.y, [&](const QFloat& row) {
            return gfx::Tex2D(image, u, (row + kTexelQuarter) * inv.y);
        });
    });
}

}  // namespace qv::passes
