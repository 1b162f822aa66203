// usm_blur (p4), usm_limit (p5) and recovery (p6): what the sliders do to the luma, the limits
// of the unsharp mask, the recovery share, the edge mask, and clamping at the image's edge. Every
// run also checks the optimised variant against the reference under every scheduler.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "passes/program_names.h"
#include "support/pass_harness.h"
#include "gpu/filter_constants.h"
#include "passes/detail_setup.h"

namespace qv::test {
namespace {

using detail::DetailSetup;
using detail::DetailSliders;
using detail::RunBoth;
using detail::Stored;

// usm_limit's result for `image` (as Tex5), with usm_blur's result as Tex6.
Image RunUnsharpPair(const Image& image, const DetailSliders& sliders) {
    PassSetup blur = DetailSetup(image, sliders);
    blur.inputs[5] = &image;
    const Image blurred = RunBoth(passes::kUsmBlurProgram, blur);
    PassSetup limit = blur;
    limit.inputs[6] = &blurred;
    return RunBoth(passes::kUsmLimitProgram, limit);
}

// usm_limit alone, with a given Tex6 and blur weights.
Image RunLimit(const Image& image, const Image& blurred, const DetailSliders& sliders,
               const std::array<float, 4>& gw_r3) {
    PassSetup limit = DetailSetup(image, sliders);
    std::copy(gw_r3.begin(), gw_r3.end(), limit.weight.gw_r3);
    limit.inputs[5] = &image;
    limit.inputs[6] = &blurred;
    return RunBoth(passes::kUsmLimitProgram, limit);
}

// A frame with even side-channel values, so half of it is a whole step.
Image FrameWithEvenSideChannel(int width, int height, uint32_t seed) {
    Image im = Image::RandomFrame(width, height, seed, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) im.Texel(x, y)[3] = static_cast<uint16_t>(im.Texel(x, y)[3] & ~1);
    return im;
}

// Largest (or smallest) stored luma of the 3x3 block around (x, y), clamped at the edges.
uint16_t NeighbourhoodLuma(const Image& im, int x, int y, bool largest) {
    uint16_t r = im.Texel(x, y)[0];
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
            const uint16_t v = im.Texel(std::clamp(x + i, 0, im.width() - 1), std::clamp(y + j, 0, im.height() - 1))[0];
            r = largest ? std::max(r, v) : std::min(r, v);
        }
    return r;
}

TEST(UsmLimit, FlatImageKeepsItsValuesAndHasNoEdgeMask) {
    for (const DetailSliders& sliders : {detail::DefaultSliders(), detail::StrongSliders()}) {
        for (uint16_t level : {uint16_t{0}, uint16_t{1}, uint16_t{2048}, uint16_t{4095}, uint16_t{4096}}) {
            const Image flat = Image::Flat(9, 7, level, 1000, 3000, 0);
            const Image out = RunUnsharpPair(flat, sliders);
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x) {
                    const uint16_t* t = out.Texel(x, y);
                    ASSERT_EQ(t[0], level) << "luma at (" << x << ", " << y << ")";
                    ASSERT_EQ(t[1], 1000);
                    ASSERT_EQ(t[2], 3000);
                    ASSERT_EQ(t[3], 0) << "edge mask at (" << x << ", " << y << ")";
                }
        }
    }
}

TEST(UsmLimit, ZeroStrengthGivesTheInputPlusTheRecoveryShare) {
    const Image frame = FrameWithEvenSideChannel(23, 11, 5);
    for (int recovery : {100, 50, 0}) {
        for (const auto& [max, min] : {std::pair{0, 100}, std::pair{300, 0}, std::pair{150, 300}}) {
            DetailSliders sliders;
            sliders.usm = 0;
            sliders.max = max;
            sliders.min = min;
            sliders.recovery = recovery;
            const Image out = RunUnsharpPair(frame, sliders);
            for (int y = 0; y < frame.height(); ++y)
                for (int x = 0; x < frame.width(); ++x) {
                    const uint16_t* in = frame.Texel(x, y);
                    const int share = in[3] * recovery / 100;
                    ASSERT_EQ(out.Texel(x, y)[0], in[0] + share)
                        << "recovery " << recovery << " max " << max << " min " << min << " at (" << x << ", "
                        << y << ")";
                    ASSERT_EQ(out.Texel(x, y)[1], in[1]);
                    ASSERT_EQ(out.Texel(x, y)[2], in[2]);
                }
        }
    }
}

TEST(UsmLimit, StrengthZeroLimitsHoldTheLumaInsideTheNeighbourhood) {
    const Image frame = Image::RandomFrame(31, 17, 7);
    DetailSliders sliders = detail::StrongSliders();
    sliders.recovery = 0;

    sliders.max = 0;
    sliders.min = 300;
    const Image noOvershoot = RunUnsharpPair(frame, sliders);
    sliders.max = 300;
    sliders.min = 0;
    const Image noUndershoot = RunUnsharpPair(frame, sliders);
    sliders.max = 300;
    sliders.min = 300;
    const Image free = RunUnsharpPair(frame, sliders);

    int heldHigh = 0, heldLow = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const uint16_t hi = NeighbourhoodLuma(frame, x, y, true);
            const uint16_t lo = NeighbourhoodLuma(frame, x, y, false);
            ASSERT_LE(noOvershoot.Texel(x, y)[0], hi) << "(" << x << ", " << y << ")";
            ASSERT_GE(noUndershoot.Texel(x, y)[0], lo) << "(" << x << ", " << y << ")";
            heldHigh += free.Texel(x, y)[0] > hi;
            heldLow += free.Texel(x, y)[0] < lo;
        }
    // Without the limits the mask does leave the range, so the bounds above were binding.
    EXPECT_GT(heldHigh, 0);
    EXPECT_GT(heldLow, 0);
}

TEST(UsmLimit, WorkedPixelIsHeldAtTheUpperLimit) {
    // Luma 0.5 with one neighbour at 0.3 and one at 0.55; the blurred luma is 0.4 everywhere.
    Image image = Image::Flat(7, 7, Stored(0.5), 2048, 2048, 0);
    image.Texel(2, 2)[0] = Stored(0.3);
    image.Texel(4, 4)[0] = Stored(0.55);
    const Image blurred = Image::Flat(7, 7, Stored(0.4), 0, 0, 0);
    const auto gw_r3 = gpu::ComputeGwR3(15);

    DetailSliders sliders;  // usm 1.0, min 1.0
    sliders.max = 0;
    const Image held = RunLimit(image, blurred, sliders, gw_r3);
    EXPECT_EQ(held.Texel(3, 3)[0], Stored(0.55));  // the unsharp result 0.6, held at the neighbour
    EXPECT_EQ(held.Texel(3, 3)[3], 0);

    sliders.max = 100;
    const Image free = RunLimit(image, blurred, sliders, gw_r3);
    // 0.5 + (0.5 - 0.4) in whole steps: the upper limit is the unsharp result itself.
    EXPECT_EQ(free.Texel(3, 3)[0], 2 * Stored(0.5) - Stored(0.4));
    EXPECT_EQ(free.Texel(3, 3)[3], 0);
}

TEST(UsmLimit, EdgeMaskRisesFromZeroToOneOverA512thOfTheRange) {
    // With the blur reduced to its centre tap, the detail is the luma minus Tex6 exactly.
    const std::array<float, 4> centreOnly = {1.0f, 0.0f, 0.0f, 0.0f};
    const int steps = 140;
    Image image = Image::Flat(2 * steps + 1, 1, 1000, 2048, 2048, 0);
    Image blurred = Image::Flat(2 * steps + 1, 1, 0, 0, 0, 0);
    for (int x = 0; x <= 2 * steps; ++x) blurred.Texel(x, 0)[0] = static_cast<uint16_t>(1000 + x - steps);
    const Image out = RunLimit(image, blurred, DetailSliders{}, centreOnly);
    for (int x = 0; x <= 2 * steps; ++x) {
        const int darker = x - steps;  // the pixel is this many steps below its blurred luma
        const int expected = darker <= 0 ? 0 : std::min(512 * darker, 65535);
        ASSERT_EQ(out.Texel(x, 0)[3], expected) << "detail " << -darker << " steps";
    }
    EXPECT_EQ(out.Texel(steps + 64, 0)[3], Stored(0.5));  // 1/1024 darker
    EXPECT_EQ(out.Texel(steps + 128, 0)[3], 65535);       // 1/512 darker
}

TEST(UsmLimit, DarkPixelDeepensOnlyAsFarAsMinAllowsAndItsNeighboursDoNotOvershoot) {
    Image image = Image::Flat(9, 9, 3000, 2048, 2048, 0);
    image.Texel(4, 4)[0] = 1000;
    const auto run = [&](int usm, int min) {
        DetailSliders s;
        s.usm = usm;
        s.max = 0;
        s.min = min;
        return RunUnsharpPair(image, s);
    };
    const Image strong = run(300, 100);
    const Image plain = run(100, 100);
    const Image noUndershoot = run(300, 0);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) {
            if (x == 4 && y == 4) continue;
            ASSERT_EQ(strong.Texel(x, y)[0], 3000) << "(" << x << ", " << y << ")";
        }
    EXPECT_LT(strong.Texel(4, 4)[0], 1000);
    // Strength 3 is held at the plain mask of strength `min`.
    EXPECT_EQ(strong.Texel(4, 4)[0], plain.Texel(4, 4)[0]);
    EXPECT_EQ(noUndershoot.Texel(4, 4)[0], 1000);
    EXPECT_EQ(strong.Texel(4, 4)[3], 65535);  // far darker than its surroundings
    EXPECT_EQ(strong.Texel(3, 4)[3], 0);      // brighter than its surroundings
}

TEST(UsmLimit, ResultsBeyondTheRangeAreStoredClamped) {
    Image image = Image::Flat(7, 7, 0, 2048, 2048, 0);
    image.Texel(3, 3)[0] = 60000;
    image.Texel(3, 3)[3] = 30000;
    DetailSliders s = detail::StrongSliders();  // usm 3, max 3
    s.min = 300;
    const Image out = RunUnsharpPair(image, s);
    EXPECT_EQ(out.Texel(3, 3)[0], 65535);  // pushed past 1
    EXPECT_EQ(out.Texel(2, 3)[0], 0);      // pulled below 0
    EXPECT_EQ(out.Texel(2, 3)[3], 65535);
}

TEST(UsmBlur, TapsBeyondTheEdgeRepeatTheEdgeColumn) {
    const Image frame = Image::RandomFrame(13, 5, 17);
    Image padded(frame.width() + 6, frame.height());
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < padded.width(); ++x)
            std::copy_n(frame.Texel(std::clamp(x - 3, 0, frame.width() - 1), y), 4, padded.Texel(x, y));

    PassSetup a = DetailSetup(frame, detail::StrongSliders());
    a.inputs[5] = &frame;
    const Image out = RunBoth(passes::kUsmBlurProgram, a);
    PassSetup b = DetailSetup(padded, detail::StrongSliders());
    b.inputs[5] = &padded;
    const Image paddedOut = RunBoth(passes::kUsmBlurProgram, b);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            ASSERT_TRUE(std::equal(out.Texel(x, y), out.Texel(x, y) + 4, paddedOut.Texel(x + 3, y)))
                << "(" << x << ", " << y << ")";
}

TEST(UsmLimit, TapsBeyondTheEdgeRepeatTheEdgeRow) {
    const Image frame = Image::RandomFrame(6, 9, 19, true);
    const Image blurred = Image::Random(6, 9, 23, 0, 4096);
    const auto padRows = [](const Image& im) {
        Image p(im.width(), im.height() + 6);
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < im.width(); ++x)
                std::copy_n(im.Texel(x, std::clamp(y - 3, 0, im.height() - 1)), 4, p.Texel(x, y));
        return p;
    };
    const Image paddedFrame = padRows(frame);
    const Image paddedBlurred = padRows(blurred);
    const auto gw_r3 = gpu::ComputeGwR3(30);
    const Image out = RunLimit(frame, blurred, detail::StrongSliders(), gw_r3);
    const Image paddedOut = RunLimit(paddedFrame, paddedBlurred, detail::StrongSliders(), gw_r3);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            ASSERT_TRUE(std::equal(out.Texel(x, y), out.Texel(x, y) + 4, paddedOut.Texel(x, y + 3)))
                << "(" << x << ", " << y << ")";
}

TEST(Recovery, AddsTheShareOfTheRemovedLumaAndClearsTheSideChannel) {
    Image frame = FrameWithEvenSideChannel(19, 6, 29);
    frame.Texel(0, 0)[0] = 65000;  // a share that carries the luma past the top is stored as 1
    frame.Texel(0, 0)[3] = 1000;
    for (int recovery : {100, 50, 0}) {
        DetailSliders s;
        s.recovery = recovery;
        PassSetup setup = DetailSetup(frame, s);
        setup.inputs[5] = &frame;
        const Image out = RunBoth(passes::kRecoveryProgram, setup);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const uint16_t* in = frame.Texel(x, y);
                const int expected = std::min(in[0] + in[3] * recovery / 100, 65535);
                ASSERT_EQ(out.Texel(x, y)[0], expected) << "recovery " << recovery << " at (" << x << ", " << y << ")";
                ASSERT_EQ(out.Texel(x, y)[1], in[1]);
                ASSERT_EQ(out.Texel(x, y)[2], in[2]);
                ASSERT_EQ(out.Texel(x, y)[3], 0);
            }
    }
}

}  // namespace
}  // namespace qv::test
