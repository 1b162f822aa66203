// The enlargement programs as the effect states them, one pixel at a time on 2x2 quads.
#include "effect/constant_blocks.h"
#include "passes/resample_plan.h"
#include "passes/upscale.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {
namespace {

using gfx::QFloat;
using gfx::QFloat4;

constexpr int kTaps = 6;                // input texels n-3 .. n+2
constexpr float kTexelQuarter = 0.25f;  // every image read addresses a whole texel

// One enlargement along a direction. `along` is the pixel's position in the pass's direction,
// `read(i, dj)` reads the input at position i along it, offset by dj across it.
template <class Read>
QFloat4 Enlarge(const gfx::SamplerBinding& table, float r, const QFloat& along, Read read) {
    const QFloat u = (along + 0.5f) * r;  // pixel centre in input units
    const QFloat n = gfx::Floor(u + 0.5f);
    const QFloat a = (n + 0.5f) - u;  // right phase
    const QFloat t = 1.0f - a;        // left phase
    const QFloat4 R = gfx::Tex2D(table, a, a);
    const QFloat4 L = gfx::Tex2D(table, t, t);
    const QFloat weights[kTaps] = {L.z, L.y, L.x, R.x, R.y, R.z};

    QFloat4 sum;
    QFloat weightSum(0.0f);
    for (int k = 0; k < kTaps; ++k) {
        const QFloat4 I = read(n + static_cast<float>(k - 3), 0.0f);
        weightSum += weights[k];
        sum.x += weights[k] * I.x;
        sum.y += weights[k] * I.y;
        sum.z += weights[k] * I.z;
        sum.w += weights[k] * I.w;
    }
    const QFloat4 F{sum.x / weightSum, sum.y / weightSum, sum.z / weightSum, sum.w / weightSum};

    // Luma range of the 3x3 input texels around the sample position.
    const QFloat m = gfx::Floor(u);
    QFloat lo, hi;
    bool first = true;
    for (int dj = -1; dj <= 1; ++dj) {
        for (int di = -1; di <= 1; ++di) {
            const QFloat luma = read(m + static_cast<float>(di), static_cast<float>(dj)).x;
            lo = first ? luma : gfx::Min(lo, luma);
            hi = first ? luma : gfx::Max(hi, luma);
            first = false;
        }
    }
    return QFloat4{gfx::Min(hi, gfx::Max(F.x, lo)), F.y, F.z, F.w};
}

}  // namespace

void UpscaleHReference(const gfx::DrawContext& ctx) {
    const gfx::SamplerBinding& image = ctx.samplers[kUpscaleHInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const effect::Float2 inv = scale.srcTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& pos) {
        return Enlarge(table, scale.hscaleInverse, pos.x, [&](const QFloat& column, float dy) {
            return gfx::Tex2D(image, (column + kTexelQuarter) * inv.x, ((pos.y + dy) + kTexelQuarter) * inv.y);
        });
    });
}

void UpscaleVReference(const gfx::DrawContext& ctx) {
    const gfx::SamplerBinding& image = ctx.samplers[kUpscaleVInputSampler];
    const gfx::SamplerBinding& table = ctx.samplers[kWeightTableSampler];
    if (!IsBound(image) || !IsBound(table) || !ctx.scale) return;
    const auto scale = effect::ReadBlock<effect::ScaleBlock>(ctx.scale);
    const effect::Float2 inv = scale.tmpTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& pos) {
        return Enlarge(table, scale.vscaleInverse, pos.y, [&](const QFloat& row, float dx) {
            return gfx::Tex2D(image, ((pos.x + dx) + kTexelQuarter) * inv.x, (row + kTexelQuarter) * inv.y);
        });
    });
}

}  // namespace qv::passes
