// Reduction programs (downscale_h, downscale_v), each direction: the two-times worked example
// (linear table reads, source texels, weights summing to 2, the range window), border folding,
// the smallest and the largest reductions, uniform images, and step edges held inside their
// windows in every channel. Every image result also has to agree with the optimised program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "passes/resample_plan.h"
#include "gpu/weight_table.h"
#include "passes/resample_setup.h"

namespace qv::test::resample {
namespace {

using passes::Axis;
using passes::ImageAxis;
using passes::PlanReduction;

constexpr Pass kReductions[] = {Pass::DownscaleH, Pass::DownscaleV};

// k(2.75), k(2.25), ..., k(0.25) as linear reads of the table give them, then mirrored: the
// twelve taps 2x-5 .. 2x+6 of a two-times reduction.
constexpr double kHalfWeights[6] = {0.010519, 0.019047, -0.063115, -0.114284, 0.267995, 0.879838};
double TwoTimesWeight(int k) { return k < 6 ? kHalfWeights[k] : kHalfWeights[11 - k]; }

TEST(ResampleReduction, TwoTimesPlanReadsTheTableLinearly) {
    for (Axis axis : {Axis::Horizontal, Axis::Vertical}) {
        const auto plan =
            PlanReduction(WeightTableBinding(), axis, 0.5f, 2.0f, 3.0f, 12, 4, ImageAxis{40, 1.0f / 40.0f}, 20);
        for (int x = 3; x <= 16; ++x) {
            float inOrder = 0.0f;  // the normalising sum: tap by tap, in single precision
            for (int k = 0; k < 12; ++k) {
                EXPECT_EQ(plan.TapIndex(k)[x], 2 * x - 5 + k);
                EXPECT_NEAR(plan.TapWeight(k)[x], TwoTimesWeight(k), 1e-6) << "output " << x << " tap " << k;
                inOrder = inOrder + plan.TapWeight(k)[x];
            }
            EXPECT_NEAR(inOrder, 2.0, 5e-7);
            EXPECT_EQ(plan.weightSum[static_cast<size_t>(x)], inOrder);
            for (int k = 0; k < 4; ++k) EXPECT_EQ(plan.WindowIndex(k)[x], 2 * x - 1 + k);
        }
    }
}

// Away from the borders, each tap's weight is the kernel at the tap's distance in output pixels,
// up to the table's resolution, and nothing at 3 or more: surplus taps at the ends of the
// window change nothing.
TEST(ResampleReduction, TapWeightsFollowTheStretchedKernel) {
    const int ratios[][2] = {{30, 10}, {40, 20}, {73, 10}, {100, 99}, {1920, 32}};
    for (const auto& ratio : ratios) {
        const int src = ratio[0], dst = ratio[1];
        const float s = static_cast<float>(dst) * (1.0f / static_cast<float>(src));
        const float r = static_cast<float>(src) * (1.0f / static_cast<float>(dst));
        const int taps = (6 * src + dst - 1) / dst;
        const auto plan = PlanReduction(WeightTableBinding(), Axis::Horizontal, s, r, 3.0f, taps,
                                        (2 * src + dst - 1) / dst, ImageAxis{src, 1.0f / static_cast<float>(src)}, dst);
        int beyond = 0;
        for (int x = 0; x < dst; ++x) {
            const int first = plan.TapIndex(0)[x], last = plan.TapIndex(taps - 1)[x];
            if (first <= 0 || last >= src - 1) continue;  // clamped taps repeat a border texel
            for (int k = 0; k < taps; ++k) {
                const double d = std::fabs((first + k + 0.5) * dst / src - (x + 0.5));
                const float w = plan.TapWeight(k)[x];
                if (d > 3.0 + 1e-4) {
                    EXPECT_EQ(w, 0.0f) << src << " to " << dst << " output " << x << " tap " << k;
                    ++beyond;
                } else if (d < 3.0 - 1e-4) {
                    EXPECT_NEAR(w, gpu::Spline36(d), 0.003) << src << " to " << dst << " output " << x << " tap " << k;
                }
            }
        }
        if (src % dst == 0) continue;  // whole ratios place the surplus tap at exactly 3
        EXPECT_GT(beyond, 0) << src << " to " << dst << ": the tap count leaves no tap beyond the kernel";
    }
}

// Two-times reduction of a random frame against the worked example's weights applied by hand,
// taps clamped to the image (the border folds taps -5 .. -1 onto texel 0) and every channel
// held in its window 2x-1 .. 2x+2.
TEST(ResampleReduction, TwoTimesMatchesTheWorkedExampleEverywhere) {
    for (Pass p : kReductions) {
        Image in = LineImage(p, 40, 3);
        std::mt19937 rng(17);
        for (int i = 0; i < 40; ++i)
            for (int j = 0; j < 3; ++j)
                for (int c = 0; c < 4; ++c) Along(in, p, i, j)[c] = static_cast<uint16_t>(rng() % 4097);
        const Image out = RunBoth(p, in, 20);
        const auto I = [&](int i, int j, int c) { return Along(in, p, std::clamp(i, 0, 39), j)[c] / 65535.0; };
        for (int x = 0; x < 20; ++x)
            for (int j = 0; j < 3; ++j)
                for (int c = 0; c < 4; ++c) {
                    double sum = 0, weights = 0, lo = 1, hi = 0;
                    for (int k = 0; k < 12; ++k) {
                        sum += TwoTimesWeight(k) * I(2 * x - 5 + k, j, c);
                        weights += TwoTimesWeight(k);
                    }
                    for (int k = 0; k < 4; ++k) {
                        lo = std::min(lo, I(2 * x - 1 + k, j, c));
                        hi = std::max(hi, I(2 * x - 1 + k, j, c));
                    }
                    EXPECT_NEAR(Along(out, p, x, j)[c], std::clamp(sum / weights, lo, hi) * 65535.0, 1.0)
                        << ProgramOf(p) << " output " << x << " across " << j << " channel " << c;
                }
    }
}

// An impulse at a border texel: output 0 weighs texel 0 with its first six taps (-5 .. 0); output
// 1 gives it the first four (-3 .. 0), a negative share that its window, which lies past the
// impulse, cuts off. The last outputs mirror it.
TEST(ResampleReduction, OuterTapsFoldOntoTheBorderTexels) {
    for (Pass p : kReductions) {
        for (int edge : {0, 39}) {
            Image in = LineImage(p, 40, 1);
            for (int i = 0; i < 40; ++i) {
                uint16_t* t = Along(in, p, i, 0);
                t[0] = t[1] = t[2] = t[3] = i == edge ? 40000 : 20000;
            }
            const Image out = RunBoth(p, in, 20);
            const int first = edge == 0 ? 0 : 19;
            const int second = edge == 0 ? 1 : 18;
            double six = 0;
            for (int k = 0; k < 6; ++k) six += kHalfWeights[k];
            for (int c = 0; c < 4; ++c) {
                EXPECT_NEAR(Along(out, p, first, 0)[c], 20000 + 20000 * six / 2.0, 1.0) << ProgramOf(p);
                EXPECT_EQ(Along(out, p, second, 0)[c], 20000) << ProgramOf(p);
            }
        }
    }
}

TEST(ResampleReduction, UniformImageStaysUniform) {
    const int ratios[][2] = {{10, 7}, {39, 13}, {73, 10}, {1001, 1000}, {500, 10}, {100, 99}, {9, 1}};
    std::mt19937 rng(15);
    for (Pass p : kReductions) {
        for (const auto& ratio : ratios) {
            const uint16_t v[4] = {static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()),
                                   static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng())};
            Image in = LineImage(p, ratio[0], 2);
            for (int i = 0; i < ratio[0]; ++i)
                for (int j = 0; j < 2; ++j) std::copy(v, v + 4, Along(in, p, i, j));
            const Image out = RunBoth(p, in, ratio[1]);
            for (int x = 0; x < ratio[1]; ++x)
                for (int j = 0; j < 2; ++j)
                    for (int c = 0; c < 4; ++c)
                        ASSERT_EQ(Along(out, p, x, j)[c], v[c]) << ProgramOf(p) << " " << ratio[0] << " to "
                                                                << ratio[1] << " at " << x;
        }
    }
}

// Steps in every channel, at different places per channel: no output leaves the minimum and
// maximum of its window of htap2 (vtap2) texels from floor((x - 0.5) r + 0.5).
TEST(ResampleReduction, StepEdgesStayInsideTheirWindowsInEveryChannel) {
    const int ratios[][2] = {{50, 33}, {40, 20}, {73, 10}, {100, 99}};
    for (Pass p : kReductions) {
        for (const auto& ratio : ratios) {
            const int length = ratio[0], size = ratio[1];
            Image in = LineImage(p, length, 2);
            for (int i = 0; i < length; ++i)
                for (int j = 0; j < 2; ++j)
                    for (int c = 0; c < 4; ++c)
                        Along(in, p, i, j)[c] = static_cast<uint16_t>(i < length * (c + 2) / 7 ? 1000 + 99 * j : 60000);
            const Image out = RunBoth(p, in, size);
            const Sizes s = SizesFor(p, in, size);
            const float r = IsHorizontal(p) ? ScaleFor(s).hscaleInverse : ScaleFor(s).vscaleInverse;
            const int window = IsHorizontal(p) ? ParamsFor(s).htap2 : ParamsFor(s).vtap2;
            for (int x = 0; x < size; ++x) {
                const int j1 = static_cast<int>(std::floor((static_cast<float>(x) - 0.5f) * r + 0.5f));
                for (int j = 0; j < 2; ++j)
                    for (int c = 0; c < 4; ++c) {
                        int lo = 65535, hi = 0;
                        for (int k = 0; k < window; ++k) {
                            const int v = Along(in, p, std::clamp(j1 + k, 0, length - 1), j)[c];
                            lo = std::min(lo, v), hi = std::max(hi, v);
                        }
                        const int v = Along(out, p, x, j)[c];
                        EXPECT_GE(v, lo) << ProgramOf(p) << " " << length << " to " << size << " at " << x;
                        EXPECT_LE(v, hi) << ProgramOf(p) << " " << length << " to " << size << " at " << x;
                    }
            }
        }
    }
}

// A gentle ramp stays a ramp: output x lands at input position (x + 0.5) r - 0.5. At 100 to 99
// (htap 7, htap2 3) seven taps must cover the kernel; at 1920 to 32 all 360 taps must run, since
// dropping the far ones would pull every output towards its left.
TEST(ResampleReduction, RampKeepsItsPositionFromTheSmallestToTheLargestRatio) {
    const int ratios[][2] = {{100, 99}, {40, 20}, {73, 10}, {1920, 32}};
    for (Pass p : kReductions) {
        for (const auto& ratio : ratios) {
            const int length = ratio[0], size = ratio[1];
            const double slope = 3000.0 / length;
            Image in = LineImage(p, length, 1);
            for (int i = 0; i < length; ++i) {
                uint16_t* t = Along(in, p, i, 0);
                t[0] = t[1] = t[2] = t[3] = static_cast<uint16_t>(std::lround(500 + slope * i));
            }
            const Image out = RunBoth(p, in, size);
            const double r = static_cast<double>(length) / size;
            // Away from the borders, where the clamped taps bend the ramp.
            for (int x = 0; x < size; ++x) {
                const double centre = (x + 0.5) * r - 0.5;
                if (centre - 3 * r < 0 || centre + 3 * r > length - 1) continue;
                EXPECT_NEAR(Along(out, p, x, 0)[0], 500 + slope * centre, 1.0 + 0.02 * slope)
                    << ProgramOf(p) << " " << length << " to " << size << " at " << x;
            }
        }
    }
}

}  // namespace
}  // namespace qv::test::resample
