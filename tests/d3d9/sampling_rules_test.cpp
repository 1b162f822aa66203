// The reference rasteriser's sampling and storing rules: edge clamping, the point/linear
// choice for the weight table from a quad's coordinate differences, and the store rule.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::gfx {
namespace {

// A unorm16 image whose texel (i, j) holds (i, j, 100 + i, 200 + j), in a padded buffer.
struct ImageTexture {
    int width, height;
    std::vector<uint16_t> storage;
    static constexpr int kPadTexels = 3;

    ImageTexture(int w, int h) : width(w), height(h), storage(size_t(w + kPadTexels) * h * 4, 0xFFFF) {
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                uint16_t* t = &storage[(size_t(j) * (w + kPadTexels) + i) * 4];
                t[0] = uint16_t(i);
                t[1] = uint16_t(j);
                t[2] = uint16_t(100 + i);
                t[3] = uint16_t(200 + j);
            }
        }
    }
    SamplerBinding Binding() const {
        SamplerBinding b;
        b.texture.bits = reinterpret_cast<const uint8_t*>(storage.data());
        b.texture.width = width;
        b.texture.height = height;
        b.texture.pitch = ptrdiff_t(width + kPadTexels) * 4 * 2;
        b.texture.format = D3DFMT_A16B16G16R16;
        return b;
    }
};

// The weight table: 513 x 1 float texels, entry i = (i, -i, 2i, 0.5).
struct TableTexture {
    std::vector<float> texels;
    TableTexture() : texels(kTableEntries * 4) {
        for (int i = 0; i < kTableEntries; ++i) {
            texels[i * 4 + 0] = float(i);
            texels[i * 4 + 1] = -float(i);
            texels[i * 4 + 2] = 2.0f * float(i);
            texels[i * 4 + 3] = 0.5f;
        }
    }
    SamplerBinding Binding() const {
        SamplerBinding b;
        b.texture.bits = reinterpret_cast<const uint8_t*>(texels.data());
        b.texture.width = kTableEntries;
        b.texture.height = 1;
        b.texture.pitch = kTableEntries * 16;
        b.texture.format = D3DFMT_A32B32G32R32F;
        b.state.minFilter = Filter::Point;
        b.state.magFilter = Filter::Linear;
        return b;
    }
};

uint16_t Step(float v) { return StoreUnorm(v); }

TEST(ImageSampling, ReadsLeftOfAndPastTheRowClampToTheEdgeTexels) {
    const ImageTexture image(9, 7);
    const SamplerBinding s = image.Binding();
    const float iw = 1.0f / 9, ih = 1.0f / 7;
    // Column -3 and column W + 2 of row 5, a quarter texel in, as the passes address texels.
    const QFloat u((-3 + 0.25f) * iw, (9 + 2 + 0.25f) * iw, (-3 + 0.75f) * iw, (9 + 2 + 0.75f) * iw);
    const QFloat v((5 + 0.5f) * ih);
    const QFloat4 r = Tex2D(s, u, v);
    const int expectedColumn[4] = {0, 8, 0, 8};
    for (int l = 0; l < 4; ++l) {
        EXPECT_EQ(Step(r.x[l]), expectedColumn[l]) << "lane " << l;
        EXPECT_EQ(Step(r.y[l]), 5) << "lane " << l;
        EXPECT_EQ(Step(r.z[l]), 100 + expectedColumn[l]) << "lane " << l;
        EXPECT_EQ(Step(r.w[l]), 205) << "lane " << l;
    }
}

TEST(ImageSampling, ReadsAboveAndBelowTheImageClampToTheEdgeRows) {
    const ImageTexture image(4, 6);
    const SamplerBinding s = image.Binding();
    const QFloat u((2 + 0.5f) / 4);
    const QFloat v((-2 + 0.5f) / 6, (-1 + 0.25f) / 6, (6 + 0.5f) / 6, (40 + 0.75f) / 6);
    const QFloat4 r = Tex2D(s, u, v);
    const int expectedRow[4] = {0, 0, 5, 5};
    for (int l = 0; l < 4; ++l) {
        EXPECT_EQ(Step(r.x[l]), 2);
        EXPECT_EQ(Step(r.y[l]), expectedRow[l]) << "lane " << l;
    }
}

TEST(ImageSampling, QuarterHalfAndThreeQuarterPositionsAllReadTheirOwnTexel) {
    // Odd widths make the reciprocal inexact; every addressed texel must still come back.
    for (int w : {1, 3, 7, 960, 1279, 1440, 1919}) {
        const ImageTexture image(w, 1);
        const SamplerBinding s = image.Binding();
        const float iw = 1.0f / float(w);
        for (int i = 0; i < w; ++i) {
            const float fi = float(i);
            const QFloat u((fi + 0.25f) * iw, (fi + 0.5f) * iw, (fi + 0.75f) * iw, (fi + 0.5f) * iw);
            const QFloat4 r = Tex2D(s, u, QFloat(0.5f));
            for (int l = 0; l < 4; ++l) ASSERT_EQ(Step(r.x[l]), i) << "width " << w << " lane " << l;
        }
    }
}

TEST(WeightTableSampling, CoordinatesBelowZeroReadTheFirstEntryAndFromOneOnTheLast) {
    const TableTexture table;
    const SamplerBinding s = table.Binding();
    // Lanes differing by 0.01 (5.13 entries): a point read at each lane's own coordinate.
    const QFloat4 low = Tex2D(s, QFloat(-0.5f, -0.49f, -0.5f, -0.49f), QFloat(-0.5f));
    const QFloat4 high = Tex2D(s, QFloat(1.0f, 1.01f, 1.0f, 1.01f), QFloat(1.0f));
    for (int l = 0; l < 4; ++l) {
        EXPECT_EQ(low.x[l], 0.0f);
        EXPECT_EQ(low.w[l], 0.5f);
        EXPECT_EQ(high.x[l], 512.0f);
        EXPECT_EQ(high.y[l], -512.0f);
        EXPECT_EQ(high.z[l], 1024.0f);
    }
    // Equal lanes: the linear read, whose two taps clamp to the same edge entry.
    const QFloat4 linearLow = Tex2D(s, QFloat(-2.0f), QFloat(-2.0f));
    const QFloat4 linearHigh = Tex2D(s, QFloat(2.0f), QFloat(2.0f));
    for (int l = 0; l < 4; ++l) {
        EXPECT_EQ(linearLow.x[l], 0.0f);
        EXPECT_EQ(linearHigh.x[l], 512.0f);
        EXPECT_EQ(linearHigh.z[l], 1024.0f);
    }
}

TEST(WeightTableSampling, EqualCoordinatesAcrossTheBlockInterpolate) {
    const TableTexture table;
    const SamplerBinding s = table.Binding();
    // u * 513 = 100.75: a = 100.25, entries 100 and 101 blended a quarter of the way.
    const float u = 100.75f / 513.0f;
    const QFloat4 r = Tex2D(s, QFloat(u), QFloat(u));
    const float a = u * 513.0f - 0.5f;
    const float f = a - std::floor(a);
    for (int l = 0; l < 4; ++l) {
        EXPECT_EQ(r.x[l], (1.0f - f) * 100.0f + f * 101.0f);
        EXPECT_GT(r.x[l], 100.2f);
        EXPECT_LT(r.x[l], 100.3f);
        EXPECT_EQ(r.w[l], 0.5f);
    }
}

TEST(WeightTableSampling, UpperPixelsDifferingByAHundredthReadByPoint) {
    const TableTexture table;
    const SamplerBinding s = table.Binding();
    const QFloat u(0.30f, 0.31f, 0.30f, 0.31f);  // 153.9 and 159.03 entries
    const QFloat4 r = Tex2D(s, u, u);
    const float expected[4] = {153.0f, 159.0f, 153.0f, 159.0f};
    for (int l = 0; l < 4; ++l) EXPECT_EQ(r.x[l], expected[l]) << "lane " << l;
}

TEST(WeightTableSampling, AVerticalChangeAloneAlsoSelectsThePointFilter) {
    const TableTexture table;
    const SamplerBinding s = table.Binding();
    // Columns agree, rows differ by 0.01: the larger of the two rates decides.
    const QFloat u(0.30f, 0.30f, 0.31f, 0.31f);
    const QFloat4 r = Tex2D(s, u, u);
    const float expected[4] = {153.0f, 153.0f, 159.0f, 159.0f};
    for (int l = 0; l < 4; ++l) EXPECT_EQ(r.x[l], expected[l]) << "lane " << l;
}

TEST(WeightTableSampling, TheFilterTurnsToPointJustAboveOneEntryPerPixel) {
    const TableTexture table;
    const SamplerBinding s = table.Binding();
    // A step of one entry (rate not above 1): every lane interpolates at its own coordinate.
    const float u0 = 256.25f / 513.0f;
    const float u1 = u0 + 1.0f / 513.0f;
    const float oneEntry = std::fabs(u1 - u0) * 513.0f;
    ASSERT_LE(oneEntry, 1.0f);
    ASSERT_GT(oneEntry, 0.999f);
    const QFloat4 linear = Tex2D(s, QFloat(u0, u1, u0, u1), QFloat(u0));
    for (int l = 0; l < 4; ++l) {
        EXPECT_NE(linear.x[l], std::floor(linear.x[l])) << "lane " << l << " read by point";
        EXPECT_NEAR(linear.x[l], l % 2 == 0 ? 255.75f : 256.75f, 1e-3f);
    }
    // A step of 2^-9 (rate 513/512): point reads.
    const float v1 = u0 + 0.001953125f;
    const QFloat4 point = Tex2D(s, QFloat(u0, v1, u0, v1), QFloat(u0));
    for (int l = 0; l < 4; ++l) EXPECT_EQ(point.x[l], std::floor(point.x[l])) << "lane " << l;
    EXPECT_EQ(point.x[0], 256.0f);
    EXPECT_EQ(point.x[1], 257.0f);
}

TEST(StoreRule, ClampsAndRoundsToTheNearestStep) {
    EXPECT_EQ(StoreUnorm(1.2f), 65535);
    EXPECT_EQ(StoreUnorm(-0.3f), 0);
    EXPECT_EQ(StoreUnorm(0.25f), 16384);
    EXPECT_EQ(StoreUnorm(0.5f), 32768);
    EXPECT_EQ(StoreUnorm(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(StoreUnorm(std::numeric_limits<float>::infinity()), 65535);
    for (uint32_t v = 0; v <= 65535; ++v) ASSERT_EQ(StoreUnorm(ReadUnorm(uint16_t(v))), v);
}

// A target of W x H texels inside a buffer with a guard texel on every side.
struct GuardedTarget {
    static constexpr uint16_t kGuard = 0xA5A5;
    int width, height, stride;
    std::vector<uint16_t> storage;
    GuardedTarget(int w, int h) : width(w), height(h), stride(w + 2), storage(size_t(w + 2) * (h + 2) * 4, kGuard) {}
    TargetView View() {
        TargetView t;
        t.bits = reinterpret_cast<uint8_t*>(&storage[(size_t(stride) + 1) * 4]);
        t.width = width;
        t.height = height;
        t.pitch = ptrdiff_t(stride) * 8;
        return t;
    }
    const uint16_t* Texel(int x, int y) const { return &storage[(size_t(y + 1) * stride + x + 1) * 4]; }
};

TEST(QuadShading, StoresEveryPixelOfOddRectanglesOnceAndNothingAround) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {3, 5}, {4, 4}, {7, 2}, {2, 9}}) {
        GuardedTarget target(w, h);
        DrawContext ctx;
        ctx.target = target.View();
        ctx.width = w;
        ctx.height = h;
        std::vector<int> stores(size_t(w) * h, 0);
        RunOnQuads(ctx, [&](const QuadPosition& p) {
            // Positions are whole pixels, no half-pixel shift; lanes in quad order.
            EXPECT_EQ(p.x[1], p.x[0] + 1);
            EXPECT_EQ(p.y[2], p.y[0] + 1);
            EXPECT_EQ(p.x[0], std::floor(p.x[0]));
            return QFloat4{p.x * (1.0f / 65535), p.y * (1.0f / 65535), QFloat(1.2f), QFloat(-0.3f)};
        });
        for (int y = -1; y <= h; ++y) {
            for (int x = -1; x <= w; ++x) {
                const uint16_t* t = target.Texel(x, y);
                const bool inside = x >= 0 && y >= 0 && x < w && y < h;
                if (inside) {
                    EXPECT_EQ(t[0], x);
                    EXPECT_EQ(t[1], y);
                    EXPECT_EQ(t[2], 65535);
                    EXPECT_EQ(t[3], 0);
                } else {
                    for (int c = 0; c < 4; ++c) EXPECT_EQ(t[c], GuardedTarget::kGuard) << x << "," << y;
                }
            }
        }
    }
}

}  // namespace
}  // namespace qv::gfx
