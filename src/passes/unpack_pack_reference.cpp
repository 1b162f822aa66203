// The unpack and pack programs as the effect states them, one pixel at a time on 2x2 quads.
#include <cmath>

#include "effect/constant_blocks.h"
#include "passes/unpack_pack.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {
namespace {

using gfx::QFloat;
using gfx::QFloat4;

// Every read addresses a whole texel: a quarter texel past its start.
constexpr float kTexelQuarter = 0.25f;
// The float just above 1/3 and the float just above 4/3, so that whole parts come out as
// the integer quotients.
constexpr float kOneThird = 0.333333343f;
constexpr float kFourThirds = 1.33333337f;

QFloat Trunc(const QFloat& a) {
    return gfx::Map(a, [](float x) { return std::trunc(x); });
}
QFloat Frac(const QFloat& a) { return a - gfx::Floor(a); }

void SetPixel(QFloat4& out, int lane, float x, float y, float z, float w) {
    out.x[lane] = x;
    out.y[lane] = y;
    out.z[lane] = z;
    out.w[lane] = w;
}

}  // namespace

void UnpackReference(const gfx::DrawContext& ctx) {
    const gfx::SamplerBinding& s1 = ctx.samplers[kPackedSampler];
    const effect::Float2 inv = effect::ReadBlock<effect::ScaleBlock>(ctx.scale).inputTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& pos) {
        const QFloat k = Trunc(Frac(pos.x * 0.25f) * 4.0f);  // place in the group of four pixels
        const QFloat t = Trunc(pos.x * 0.75f);               // texel holding the first sample
        const QFloat v = (pos.y + kTexelQuarter) * inv.y;
        const QFloat4 a = gfx::Tex2D(s1, (t + kTexelQuarter) * inv.x, v);
        const QFloat4 b = gfx::Tex2D(s1, (t + 1.0f + kTexelQuarter) * inv.x, v);
        QFloat4 out;
        for (int lane = 0; lane < 4; ++lane) {
            switch (static_cast<int>(k[lane])) {
                case 0: SetPixel(out, lane, a.x[lane], a.y[lane], a.z[lane], 0.0f); break;
                case 1: SetPixel(out, lane, a.w[lane], b.x[lane], b.y[lane], 0.0f); break;
                case 2: SetPixel(out, lane, a.z[lane], a.w[lane], b.x[lane], 0.0f); break;
                default: SetPixel(out, lane, a.y[lane], a.z[lane], a.w[lane], 0.0f); break;
            }
        }
        return out;
    });
}

void PackReference(const gfx::DrawContext& ctx) {
    const gfx::SamplerBinding& s10 = ctx.samplers[kFinalSampler];
    const effect::Float2 inv = effect::ReadBlock<effect::ScaleBlock>(ctx.scale).destTexSizeInverse;
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition& pos) {
        const QFloat k = Trunc(Frac(pos.x * kOneThird) * 3.0f);  // place in the group of three texels
        const QFloat p = Trunc(pos.x * kFourThirds);             // first pixel the texel holds
        const QFloat v = (pos.y + kTexelQuarter) * inv.y;
        const QFloat4 a = gfx::Tex2D(s10, (p + kTexelQuarter) * inv.x, v);
        const QFloat4 b = gfx::Tex2D(s10, (p + 1.0f + kTexelQuarter) * inv.x, v);
        QFloat4 out;
        for (int lane = 0; lane < 4; ++lane) {
            switch (static_cast<int>(k[lane])) {
                case 0: SetPixel(out, lane, a.x[lane], a.y[lane], a.z[lane], b.x[lane]); break;
                case 1: SetPixel(out, lane, a.y[lane], a.z[lane], b.x[lane], b.y[lane]); break;
                default: SetPixel(out, lane, a.z[lane], b.x[lane], b.y[lane], b.z[lane]); break;
            }
        }
        return out;
    });
}

}  // namespace qv::passes
