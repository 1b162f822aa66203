// The reference rasteriser's shading model: a pixel program runs on a 2x2 quad of pixels in
// lock step, as graphics hardware runs it. Every value is four lanes (0 = (2m, 2n),
// 1 = (2m+1, 2n), 2 = (2m, 2n+1), 3 = (2m+1, 2n+1)); texture reads take the level of detail
// from the lanes' coordinate differences. Lanes past the drawn rectangle are computed as
// helper pixels and never stored.
#pragma once

#include <cmath>

#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/pixel_program.h"

namespace qv::gfx {

struct QFloat {
    float v[4];

    QFloat() : v{0, 0, 0, 0} {}
    QFloat(float s) : v{s, s, s, s} {}  // NOLINT: scalars broadcast, as in a shader
    QFloat(float a, float b, float c, float d) : v{a, b, c, d} {}
    float& operator[](int i) { return v[i]; }
    float operator[](int i) const { return v[i]; }
};

#define QV_QUAD_BINARY(op)                                                                   \
    inline QFloat operator op(const QFloat& a, const QFloat& b) {                           \
        return QFloat(a.v[0] op b.v[0], a.v[1] op b.v[1], a.v[2] op b.v[2], a.v[3] op b.v[3]); \
    }                                                                                       \
    inline QFloat& operator op##=(QFloat& a, const QFloat& b) { return a = a op b; }
QV_QUAD_BINARY(+)
QV_QUAD_BINARY(-)
QV_QUAD_BINARY(*)
QV_QUAD_BINARY(/)
#undef QV_QUAD_BINARY

inline QFloat operator-(const QFloat& a) { return QFloat(-a.v[0], -a.v[1], -a.v[2], -a.v[3]); }

template <class F>
inline QFloat Map(const QFloat& a, F f) {
    return QFloat(f(a.v[0]), f(a.v[1]), f(a.v[2]), f(a.v[3]));
}
template <class F>
inline QFloat Map(const QFloat& a, const QFloat& b, F f) {
    return QFloat(f(a.v[0], b.v[0]), f(a.v[1], b.v[1]), f(a.v[2], b.v[2]), f(a.v[3], b.v[3]));
}

inline QFloat Floor(const QFloat& a) { return Map(a, [](float x) { return std::floor(x); }); }
inline QFloat Abs(const QFloat& a) { return Map(a, [](float x) { return std::fabs(x); }); }
// Shader min/max: the second operand wins when the first is NaN.
inline QFloat Min(const QFloat& a, const QFloat& b) {
    return Map(a, b, [](float x, float y) { return x < y ? x : y; });
}
inline QFloat Max(const QFloat& a, const QFloat& b) {
    return Map(a, b, [](float x, float y) { return x > y ? x : y; });
}
inline QFloat Clamp(const QFloat& a, const QFloat& lo, const QFloat& hi) { return Min(Max(a, lo), hi); }
// Lane-wise select: mask lane non-zero picks a.
inline QFloat Select(const bool mask[4], const QFloat& a, const QFloat& b) {
    return QFloat(mask[0] ? a.v[0] : b.v[0], mask[1] ? a.v[1] : b.v[1], mask[2] ? a.v[2] : b.v[2],
                  mask[3] ? a.v[3] : b.v[3]);
}

struct QFloat4 {
    QFloat x, y, z, w;
};

// One texel of a view as four floats: unorm16 reads as v / 65535, float32 as stored.
inline void ReadTexel(const TextureView& t, int i, int j, float out[4]) {
    if (t.format == D3DFMT_A32B32G32R32F) {
        const float* p = t.RowF(j) + 4 * i;
        for (int c = 0; c < 4; ++c) out[c] = p[c];
    } else {
        const uint16_t* p = t.Row16(j) + 4 * i;
        for (int c = 0; c < 4; ++c) out[c] = ReadUnorm(p[c]);
    }
}

// The generic sampler: CLAMP addressing; the point or linear filter per quad from the rate of
// change of the column coordinate across the quad (lanes 1 - 0 and 2 - 0, times the width);
// point exactly when the larger rate exceeds 1. The row coordinate's change is ignored. A linear
// read blends along the row only when the texture is one row high (the weight table).
inline QFloat4 Tex2D(const SamplerBinding& s, const QFloat& u, const QFloat& v) {
    const TextureView& t = s.texture;
    const float w = static_cast<float>(t.width);
    const float h = static_cast<float>(t.height);
    const float rateX = std::fabs(u.v[1] - u.v[0]) * w;
    const float rateY = std::fabs(u.v[2] - u.v[0]) * w;
    const float rate = rateX > rateY ? rateX : rateY;
    const Filter filter = rate > 1.0f ? s.state.minFilter : s.state.magFilter;
    QFloat4 r;
    for (int l = 0; l < 4; ++l) {
        float out[4];
        const float su = u.v[l] * w;
        const float sv = v.v[l] * h;
        if (filter == Filter::Point) {
            ReadTexel(t, ClampedIndex(su, t.width), ClampedIndex(sv, t.height), out);
        } else {
            const float a = su - 0.5f;
            const float i0f = std::floor(a);
            const float f = a - i0f;
            const int i0 = ClampedIndex(i0f, t.width);
            const int i1 = ClampedIndex(i0f + 1.0f, t.width);
            const int j = t.height == 1 ? 0 : ClampedIndex(sv, t.height);
            float e0[4], e1[4];
            ReadTexel(t, i0, j, e0);
            ReadTexel(t, i1, j, e1);
            for (int c = 0; c < 4; ++c) out[c] = (1.0f - f) * e0[c] + f * e1[c];
        }
        r.x.v[l] = out[0];
        r.y.v[l] = out[1];
        r.z.v[l] = out[2];
        r.w.v[l] = out[3];
    }
    return r;
}

// Integer pixel positions of the quad's lanes, as floats (no half-pixel shift).
struct QuadPosition {
    QFloat x;
    QFloat y;
};

// Runs shade(position) -> QFloat4 over every 2x2 quad touching the drawn rectangle and stores
// the lanes that lie inside it with the store rule.
template <class Shade>
void RunOnQuads(const DrawContext& ctx, Shade&& shade) {
    for (int n = 0; 2 * n < ctx.height; ++n) {
        for (int m = 0; 2 * m < ctx.width; ++m) {
            const float x0 = static_cast<float>(2 * m);
            const float y0 = static_cast<float>(2 * n);
            QuadPosition p{QFloat(x0, x0 + 1, x0, x0 + 1), QFloat(y0, y0, y0 + 1, y0 + 1)};
            const QFloat4 c = shade(p);
            for (int l = 0; l < 4; ++l) {
                const int x = 2 * m + (l & 1);
                const int y = 2 * n + (l >> 1);
                if (x >= ctx.width || y >= ctx.height) continue;
                uint16_t* out = ctx.target.Row(y) + 4 * x;
                out[0] = StoreUnorm(c.x.v[l]);
                out[1] = StoreUnorm(c.y.v[l]);
                out[2] = StoreUnorm(c.z.v[l]);
                out[3] = StoreUnorm(c.w.v[l]);
            }
        }
    }
}

}  // namespace qv::gfx
