// mask_blur_h (p7), mask_blur_v (p8), warp_h (p9) and warp_v (p10): the blurs of the edge mask,
// and the warps' shift, taps and edge handling. Every run also checks the optimised variant
// against the reference under every scheduler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

#include "gpu/filter_constants.h"
#include "gpu/weight_table.h"
#include "passes/detail_setup.h"
#include "passes/program_names.h"
#include "support/pass_harness.h"

namespace qv::test {
namespace {

using detail::DetailSetup;
using detail::DetailSliders;
using detail::Level;
using detail::RunBoth;
using detail::Stored;

DetailSliders WithSharp(int sharp) {
    DetailSliders s;
    s.sharp = sharp;
    return s;
}

Image WarpH(const Image& image, const Image& map, const DetailSliders& sliders) {
    PassSetup s = DetailSetup(image, sliders);
    s.inputs[5] = &map;
    s.inputs[7] = &image;
    return RunBoth(passes::kWarpHProgram, s);
}

Image WarpV(const Image& image, const Image& map, const DetailSliders& sliders) {
    PassSetup s = DetailSetup(image, sliders);
    s.inputs[5] = &map;
    s.inputs[6] = &image;
    return RunBoth(passes::kWarpVProgram, s);
}

// A map whose value depends on the column only (or on the row only).
Image ColumnMap(const std::vector<uint16_t>& values, int height) {
    Image m = Image::Flat(static_cast<int>(values.size()), height, 0, 0, 0, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < m.width(); ++x) m.Texel(x, y)[0] = values[static_cast<size_t>(x)];
    return m;
}

Image Transposed(const Image& im) {
    Image t(im.height(), im.width());
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x) std::copy_n(im.Texel(x, y), 4, t.Texel(y, x));
    return t;
}

bool SameTexel(const uint16_t* a, const uint16_t* b, int channels = 4) { return std::equal(a, a + channels, b); }

TEST(MaskBlur, RowBlurReadsOnlyTheEdgeMaskAndSpreadsItSymmetrically) {
    Image mask = Image::Random(21, 3, 31, 0, 65535);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 21; ++x) mask.Texel(x, y)[3] = (x == 10 && y == 1) ? 40000 : 0;
    PassSetup s = DetailSetup(mask, DetailSliders{});
    s.inputs[7] = &mask;
    const Image out = RunBoth(passes::kMaskBlurHProgram, s);

    Image other = mask;  // same edge mask, different everything else
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 21; ++x)
            for (int c = 0; c < 3; ++c) other.Texel(x, y)[c] = static_cast<uint16_t>(65535 - mask.Texel(x, y)[c]);
    s.inputs[7] = &other;
    EXPECT_TRUE(RunBoth(passes::kMaskBlurHProgram, s).SameAs(out));

    for (int x = 0; x < 21; ++x) {
        const uint16_t* t = out.Texel(x, 1);
        if (x < 6 || x > 14) {
            EXPECT_EQ(t[0], 0) << x;
        }
        EXPECT_EQ(t[1] + t[2] + t[3], 0) << x;
        EXPECT_EQ(t[0], out.Texel(20 - x, 1)[0]) << x;
        if (x >= 6 && x < 10) {
            EXPECT_LT(t[0], out.Texel(x + 1, 1)[0]) << x;
        }
        EXPECT_EQ(out.Texel(x, 0)[0], 0);
    }
    EXPECT_GT(out.Texel(6, 1)[0], 0);
}

TEST(MaskBlur, ColumnBlurReadsOnlyTheFirstChannelAndSpreadsItSymmetrically) {
    Image rows = Image::Random(3, 21, 37, 0, 65535);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 3; ++x) rows.Texel(x, y)[0] = (x == 1 && y == 10) ? 40000 : 0;
    PassSetup s = DetailSetup(rows, DetailSliders{});
    s.inputs[6] = &rows;
    const Image out = RunBoth(passes::kMaskBlurVProgram, s);
    for (int y = 0; y < 21; ++y) {
        const uint16_t* t = out.Texel(1, y);
        if (y < 6 || y > 14) {
            EXPECT_EQ(t[0], 0) << y;
        }
        EXPECT_EQ(t[1] + t[2] + t[3], 0) << y;
        EXPECT_EQ(t[0], out.Texel(1, 20 - y)[0]) << y;
        if (y >= 6 && y < 10) {
            EXPECT_LT(t[0], out.Texel(1, y + 1)[0]) << y;
        }
    }
    // The 9-tap Gaussian's centre weight.
    const auto gw_r4 = gpu::ComputeGwR4Table();
    EXPECT_NEAR(Level(out.Texel(1, 10)[0]), gw_r4[0] * Level(40000), 1.0 / 65535);
}

TEST(Warp, FlatMapLeavesTheImageExactlyAsItWas) {
    for (const DetailSliders& sliders : {detail::DefaultSliders(), detail::StrongSliders()}) {
        for (uint16_t level : {uint16_t{0}, uint16_t{30000}}) {
            const Image image = Image::Random(17, 9, 41);
            const Image map = Image::Flat(17, 9, level, 123, 456, 789);
            const Image h = WarpH(image, map, sliders);
            EXPECT_TRUE(h.SameAs(image));
            const Image v = WarpV(image, map, sliders);
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 17; ++x) {
                    ASSERT_TRUE(SameTexel(v.Texel(x, y), image.Texel(x, y), 3)) << "(" << x << ", " << y << ")";
                    ASSERT_EQ(v.Texel(x, y)[3], 0);
                }
        }
    }
}

// Luma 0.5 everywhere but for a bump of 0.25 at column `bump`.
Image BumpImage(int width, int height, int bump) {
    Image im = Image::Flat(width, height, Stored(0.5), 0, 0, 0);
    for (int y = 0; y < height; ++y) im.Texel(bump, y)[0] = Stored(0.75);
    return im;
}

TEST(WarpH, WorkedPixelShiftsByFourTimesSharpTimesTheSlope) {
    // sharp 0.5; at x = 8 the map falls from 0.3 (x - 1) to 0.1 (x + 1): shift 0.4, phase 0.4.
    std::vector<uint16_t> m(16, Stored(0.2));
    m[7] = Stored(0.3);
    m[9] = Stored(0.1);
    const Image map = ColumnMap(m, 2);
    const double weights[6] = {gpu::Spline36(2.4), gpu::Spline36(1.4), gpu::Spline36(0.4),
                               gpu::Spline36(0.6), gpu::Spline36(1.6), gpu::Spline36(2.6)};
    double sum = 0;
    for (double w : weights) sum += w;
    for (int k = 0; k < 6; ++k) {
        const Image out = WarpH(BumpImage(16, 2, 8 + k - 2), map, WithSharp(50));
        // Within the weight table's resolution (1/512 of a texel in phase).
        EXPECT_NEAR(Level(out.Texel(8, 0)[0]), 0.5 + 0.25 * weights[k] / sum, 1e-3) << "tap " << k - 2;
    }
}

TEST(WarpH, ShiftIsClampedToSharp) {
    // The slope 0.4 would shift by 0.8; sharp 0.5 holds it at 0.5, the phase where the weights
    // are symmetric about the position between x and x + 1.
    std::vector<uint16_t> m(16, Stored(0.2));
    m[7] = Stored(0.5);
    m[9] = Stored(0.1);
    const Image map = ColumnMap(m, 2);
    Image taps[6];
    for (int k = 0; k < 6; ++k) taps[k] = WarpH(BumpImage(16, 2, 8 + k - 2), map, WithSharp(50));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(taps[k].Texel(8, 0)[0], taps[5 - k].Texel(8, 0)[0]) << k;
    EXPECT_NEAR(Level(taps[2].Texel(8, 0)[0]), 0.5 + 0.25 * 0.598684, 1e-4);
}

TEST(Warp, NoPixelTakesItsValueFromFurtherThanSharpAway) {
    const Image map = Image::Random(40, 6, 43, 0, 65535);  // steep slopes: shifts at the limit
    for (const auto& [sharp, left, right] : {std::tuple{100, 4, 3}, std::tuple{25, 3, 3}}) {
        const Image base = Image::Random(40, 6, 47);
        Image bumped = base;
        const int c = 20;
        for (int y = 0; y < 6; ++y) bumped.Texel(c, y)[0] = static_cast<uint16_t>(base.Texel(c, y)[0] ^ 0x8000);
        const Image a = WarpH(base, map, WithSharp(sharp));
        const Image b = WarpH(bumped, map, WithSharp(sharp));
        int changed = 0;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool same = SameTexel(a.Texel(x, y), b.Texel(x, y));
                if (x < c - left || x > c + right) {
                    ASSERT_TRUE(same) << "sharp " << sharp << " at (" << x << ", " << y << ")";
                }
                changed += !same;
            }
        EXPECT_GT(changed, 6) << sharp;
    }
}

// A dark vertical line: luma 0.05 at `line`, 0.1 beside it, 0.2 elsewhere; its warp map is
// a symmetric bump around the line. (The flanks need not match each other: each takes the
// weight table's filter of its own 2x2 block.)
TEST(WarpH, DarkLineKeepsItsValueWhileItsFlanksTakeTheirsFromFurtherOut) {
    const int line = 10;
    Image image = Image::Flat(21, 4, Stored(0.2), 2048, 2048, 0);
    for (int y = 0; y < 4; ++y) {
        image.Texel(line, y)[0] = Stored(0.05);
        image.Texel(line - 1, y)[0] = Stored(0.1);
        image.Texel(line + 1, y)[0] = Stored(0.1);
    }
    std::vector<uint16_t> m(21, 0);
    const uint16_t bump[4] = {20000, 15000, 8000, 3000};
    for (int d = 0; d < 4; ++d) m[line - d] = m[line + d] = bump[d];
    const Image out = WarpH(image, ColumnMap(m, 4), WithSharp(25));
    for (int y = 0; y < 4; ++y) {
        EXPECT_TRUE(SameTexel(out.Texel(line, y), image.Texel(line, y))) << y;
        EXPECT_GT(out.Texel(line - 1, y)[0], image.Texel(line - 1, y)[0]) << y;
        EXPECT_GT(out.Texel(line + 1, y)[0], image.Texel(line + 1, y)[0]) << y;
    }
}

// The same through the whole stage: the edge mask of a dark line, blurred into the warp map,
// makes the warp narrow the line.
TEST(WarpH, DarkLineNarrowsThroughTheWholeStage) {
    const int line = 12;
    Image image = Image::Flat(25, 8, 3000, 2048, 2048, 0);
    for (int y = 0; y < 8; ++y) {
        image.Texel(line, y)[0] = 1500;
        image.Texel(line - 1, y)[0] = 2250;
        image.Texel(line + 1, y)[0] = 2250;
    }
    const DetailSliders sliders;
    PassSetup s = DetailSetup(image, sliders);
    s.inputs[5] = &image;
    const Image blurred = RunBoth(passes::kUsmBlurProgram, s);
    s.inputs[6] = &blurred;
    const Image limited = RunBoth(passes::kUsmLimitProgram, s);
    s.inputs[7] = &limited;
    const Image rowBlur = RunBoth(passes::kMaskBlurHProgram, s);
    s.inputs[6] = &rowBlur;
    const Image map = RunBoth(passes::kMaskBlurVProgram, s);
    ASSERT_GT(map.Texel(line, 4)[0], map.Texel(line - 2, 4)[0]);
    const Image out = WarpH(limited, map, sliders);
    for (int y = 0; y < 8; ++y) {
        EXPECT_TRUE(SameTexel(out.Texel(line, y), limited.Texel(line, y))) << y;
        EXPECT_GE(out.Texel(line - 1, y)[0], limited.Texel(line - 1, y)[0]) << y;
        EXPECT_GE(out.Texel(line + 1, y)[0], limited.Texel(line + 1, y)[0]) << y;
    }
    EXPECT_GT(out.Texel(line - 1, 4)[0], limited.Texel(line - 1, 4)[0]);
}

TEST(WarpV, DarkLineKeepsItsValueWhileItsFlanksTakeTheirsFromFurtherOut) {
    const int line = 10;
    Image image = Image::Flat(4, 21, Stored(0.2), 2048, 2048, 0);
    for (int x = 0; x < 4; ++x) {
        image.Texel(x, line)[0] = Stored(0.05);
        image.Texel(x, line - 1)[0] = Stored(0.1);
        image.Texel(x, line + 1)[0] = Stored(0.1);
    }
    std::vector<uint16_t> m(21, 0);
    const uint16_t bump[4] = {20000, 15000, 8000, 3000};
    for (int d = 0; d < 4; ++d) m[line - d] = m[line + d] = bump[d];
    const Image map = Transposed(ColumnMap(m, 4));
    const Image out = WarpV(image, map, WithSharp(25));
    for (int x = 0; x < 4; ++x) {
        EXPECT_TRUE(SameTexel(out.Texel(x, line), image.Texel(x, line), 3)) << x;
        EXPECT_GT(out.Texel(x, line - 1)[0], image.Texel(x, line - 1)[0]) << x;
        EXPECT_GT(out.Texel(x, line + 1)[0], image.Texel(x, line + 1)[0]) << x;
    }
}

TEST(Warp, ShiftsPastTheFirstColumnOrRowReadTheEdgeTexel) {
    // Columns 0..5 flat; the map rises to the right there, so those pixels look to their left.
    Image image = Image::Random(12, 12, 53);
    const uint16_t flat[4] = {20000, 30000, 40000, 50000};
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 6; ++x) std::copy_n(flat, 4, image.Texel(x, y));
    std::vector<uint16_t> m(12);
    for (int x = 0; x < 12; ++x) m[static_cast<size_t>(x)] = static_cast<uint16_t>(5000 * x);
    const Image map = ColumnMap(m, 12);
    const Image h = WarpH(image, map, WithSharp(100));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_TRUE(SameTexel(h.Texel(x, y), image.Texel(x, y))) << x << ", " << y;

    const Image v = WarpV(Transposed(image), Transposed(map), WithSharp(100));
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 2; ++y) EXPECT_TRUE(SameTexel(v.Texel(x, y), image.Texel(y, x), 3)) << x << ", " << y;
}

}  // namespace
}  // namespace qv::test
