// Enlargement programs (upscale_h, upscale_v), each direction: the two-times worked example
// (phases, point reads, source texels, weights), the folding of outer taps onto the border,
// sample positions on source centres, uniform images, the luma limit at an edge, and
// one-row sources. Every image result also has to agree with the optimised program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "gpu/weight_table.h"
#include "passes/resample_plan.h"
#include "passes/resample_setup.h"
#include "platform/d3d9/number_rules.h"

namespace qv::test::resample {
namespace {

using passes::Axis;
using passes::ImageAxis;
using passes::PlanEnlargement;

constexpr Pass kEnlargements[] = {Pass::UpscaleH, Pass::UpscaleV};


// k(2.75), k(1.75), k(0.75), k(0.25), k(1.25), k(2.25): the weights of taps n-3 .. n+2 of an
// even output position at two times; odd positions take them in reverse order.
constexpr double kTwoTimesWeights[6] = {0.010541, -0.063248, 0.268615, 0.879411, -0.114384, 0.019064};

double TwoTimesWeight(int x, int k) { return x % 2 == 0 ? kTwoTimesWeights[k] : kTwoTimesWeights[5 - k]; }

TEST(ResampleEnlargement, TwoTimesPlanReadsTheTableByPointAtQuarterPhases) {
    const float* e128 = TableEntry(128);  // phase 0.25
    const float* e384 = TableEntry(384);  // phase 0.75
    for (Axis axis : {Axis::Horizontal, Axis::Vertical}) {
        const auto plan = PlanEnlargement(WeightTableBinding(), axis, 0.5f, ImageAxis{20, 1.0f / 20.0f}, 40);
        for (int i = 3; i <= 16; ++i) {
            const int even = 2 * i, odd = 2 * i + 1;
            const float evenWeights[6] = {e384[2], e384[1], e384[0], e128[0], e128[1], e128[2]};
            const float oddWeights[6] = {e128[2], e128[1], e128[0], e384[0], e384[1], e384[2]};
            for (int k = 0; k < 6; ++k) {
                EXPECT_EQ(plan.TapIndex(k)[even], i - 3 + k);
                EXPECT_EQ(plan.TapIndex(k)[odd], i - 2 + k);
                EXPECT_EQ(plan.TapWeight(k)[even], evenWeights[k]) << "column " << even << " tap " << k;
                EXPECT_EQ(plan.TapWeight(k)[odd], oddWeights[k]) << "column " << odd << " tap " << k;
                EXPECT_NEAR(plan.TapWeight(k)[even], TwoTimesWeight(even, k), 1e-6);
                EXPECT_NEAR(plan.TapWeight(k)[odd], TwoTimesWeight(odd, k), 1e-6);
            }
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(plan.WindowIndex(k)[even], i - 1 + k);
                EXPECT_EQ(plan.WindowIndex(k)[odd], i - 1 + k);
            }
        }
    }
}

// Away from the borders, the six weights are the kernel at the taps' distances from the sample
// position (x + 0.5) r in input units, up to the table's resolution; point reads quantise the
// phase to 1/513.
TEST(ResampleEnlargement, TapWeightsFollowTheKernel) {
    const int ratios[][2] = {{37, 55}, {13, 39}, {10, 73}, {1000, 1001}, {100, 300}};
    for (const auto& ratio : ratios) {
        const int src = ratio[0], dst = ratio[1];
        const float r = static_cast<float>(src) * (1.0f / static_cast<float>(dst));
        const auto plan =
            PlanEnlargement(WeightTableBinding(), Axis::Vertical, r, ImageAxis{src, 1.0f / static_cast<float>(src)}, dst);
        for (int x = 0; x < dst; ++x) {
            const int first = plan.TapIndex(0)[x];
            if (first <= 0 || plan.TapIndex(5)[x] >= src - 1) continue;
            const double u = (x + 0.5) * src / dst;
            for (int k = 0; k < 6; ++k) {
                const double d = std::fabs(first + k + 0.5 - u);
                EXPECT_NEAR(plan.TapWeight(k)[x], gpu::Spline36(d), 0.003)
                    << src << " to " << dst << " output " << x << " tap " << k;
            }
        }
    }
}

// Two-times enlargement of a random frame against the worked example's weights applied by
// hand: taps n-3 .. n+2 clamped to the image, normalised, luma held in its 3x3 range. This
// covers the borders, where the outer taps fold onto the first and last texel.
TEST(ResampleEnlargement, TwoTimesMatchesTheWorkedExampleEverywhere) {
    for (Pass p : kEnlargements) {
        Image in = LineImage(p, 20, 3);
        std::mt19937 rng(7);
        for (int i = 0; i < 20; ++i)
            for (int j = 0; j < 3; ++j)
                for (int c = 0; c < 4; ++c) Along(in, p, i, j)[c] = static_cast<uint16_t>(rng() % 4097);
        const Image out = RunBoth(p, in, 40);
        const auto I = [&](int i, int j, int c) {
            return Along(in, p, std::clamp(i, 0, 19), std::clamp(j, 0, 2))[c] / 65535.0;
        };
        for (int x = 0; x < 40; ++x) {
            const int n = (x + 1) / 2;  // x = 2i: n = i; x = 2i + 1: n = i + 1
            const int m = x / 2;
            for (int j = 0; j < 3; ++j) {
                for (int c = 0; c < 4; ++c) {
                    double sum = 0, weights = 0;
                    for (int k = 0; k < 6; ++k) {
                        sum += TwoTimesWeight(x, k) * I(n - 3 + k, j, c);
                        weights += TwoTimesWeight(x, k);
                    }
                    double expected = sum / weights;
                    if (c == 0) {
                        double lo = 1, hi = 0;
                        for (int dj = -1; dj <= 1; ++dj)
                            for (int di = -1; di <= 1; ++di) {
                                lo = std::min(lo, I(m + di, j + dj, 0));
                                hi = std::max(hi, I(m + di, j + dj, 0));
                            }
                        expected = std::clamp(expected, lo, hi);
                    }
                    EXPECT_NEAR(Along(out, p, x, j)[c], std::clamp(expected, 0.0, 1.0) * 65535.0, 1.0)
                        << ProgramOf(p) << " position " << x << " across " << j << " channel " << c;
                }
            }
        }
    }
}

// At two times the first output position takes columns -3 .. 2, so texel 0 carries
// k(2.75) + k(1.75) + k(0.75) + k(0.25) of the weight; the last position mirrors it.
TEST(ResampleEnlargement, OuterTapsFoldOntoTheBorderTexels) {
    const double folded = kTwoTimesWeights[0] + kTwoTimesWeights[1] + kTwoTimesWeights[2] + kTwoTimesWeights[3];
    double total = 0;
    for (double w : kTwoTimesWeights) total += w;
    for (Pass p : kEnlargements) {
        for (int edge : {0, 19}) {
            Image in = LineImage(p, 20, 1);
            for (int i = 0; i < 20; ++i) {
                uint16_t* t = Along(in, p, i, 0);
                t[0] = 1000, t[1] = 2048, t[2] = 2048, t[3] = i == edge ? 32768 : 0;
            }
            const Image out = RunBoth(p, in, 40);
            const int x = edge == 0 ? 0 : 39;
            EXPECT_NEAR(Along(out, p, x, 0)[3], 32768.0 * folded / total, 1.0) << ProgramOf(p) << " edge " << edge;
        }
    }
}

// 100 to 300: the centre of output position 3i + 1 falls on the centre of source texel i, the
// table gives entry 0 and entry 512 (phase exactly 1, not wrapped), and the texel comes back
// unchanged in every channel.
TEST(ResampleEnlargement, SampleOnASourceCentreReproducesTheTexel) {
    for (Pass p : kEnlargements) {
        Image in = LineImage(p, 100, 3);
        std::mt19937 rng(3);
        for (int i = 0; i < 100; ++i)
            for (int j = 0; j < 3; ++j)
                for (int c = 0; c < 4; ++c) Along(in, p, i, j)[c] = static_cast<uint16_t>(rng());
        const Image out = RunBoth(p, in, 300);
        for (int i = 0; i < 100; ++i)
            for (int j = 0; j < 3; ++j)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(Along(out, p, 3 * i + 1, j)[c], Along(in, p, i, j)[c])
                        << ProgramOf(p) << " source " << i << " across " << j << " channel " << c;
    }
}

TEST(ResampleEnlargement, UniformImageStaysUniform) {
    const int ratios[][2] = {{7, 10}, {13, 39}, {10, 73}, {1000, 1001}, {3, 4}, {1, 5}};
    std::mt19937 rng(5);
    for (Pass p : kEnlargements) {
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

// A step in every channel, with rows that differ: the luma never leaves the range of the 3x3
// texels around the sample position, while chroma, resampled with the same weights, rings
// past the step's values.
TEST(ResampleEnlargement, LumaStaysInItsNeighbourhoodWhileChromaRings) {
    for (Pass p : kEnlargements) {
        constexpr int kLength = 24, kAcross = 5, kSize = 61;
        Image in = LineImage(p, kLength, kAcross);
        for (int i = 0; i < kLength; ++i)
            for (int j = 0; j < kAcross; ++j) {
                const uint16_t v = static_cast<uint16_t>((i < 12 ? 300 : 3800) + 37 * j);
                uint16_t* t = Along(in, p, i, j);
                t[0] = v, t[1] = v, t[2] = static_cast<uint16_t>(4096 - v), t[3] = 0;
            }
        const Image out = RunBoth(p, in, kSize);
        const float r = static_cast<float>(kLength) * (1.0f / static_cast<float>(kSize));
        int ringing = 0;
        for (int x = 0; x < kSize; ++x) {
            const int m = static_cast<int>(std::floor((static_cast<float>(x) + 0.5f) * r));
            for (int j = 0; j < kAcross; ++j) {
                int lo = 65535, hi = 0;
                for (int dj = -1; dj <= 1; ++dj)
                    for (int di = -1; di <= 1; ++di) {
                        const int v = Along(in, p, std::clamp(m + di, 0, kLength - 1),
                                            std::clamp(j + dj, 0, kAcross - 1))[0];
                        lo = std::min(lo, v), hi = std::max(hi, v);
                    }
                const uint16_t* t = Along(out, p, x, j);
                EXPECT_GE(t[0], lo) << ProgramOf(p) << " at " << x << ", " << j;
                EXPECT_LE(t[0], hi) << ProgramOf(p) << " at " << x << ", " << j;
                if (t[1] < 300 + 37 * j || t[1] > 3800 + 37 * j) ++ringing;
            }
        }
        EXPECT_GT(ringing, 0) << ProgramOf(p) << ": chroma is not limited, so the step rings";
    }
}

// A one-texel-high source (one-wide for the vertical pass): the range block's neighbours
// across the pass read the same texels, so the result is that of the source repeated.
TEST(ResampleEnlargement, OneRowSourceActsAsARepeatedRow) {
    for (Pass p : kEnlargements) {
        Image single = LineImage(p, 17, 1);
        Image repeated = LineImage(p, 17, 3);
        std::mt19937 rng(9);
        for (int i = 0; i < 17; ++i) {
            for (int c = 0; c < 4; ++c) Along(single, p, i, 0)[c] = static_cast<uint16_t>(rng() % 4097);
            const uint16_t* t = Along(single, p, i, 0);
            for (int j = 0; j < 3; ++j) std::copy(t, t + 4, Along(repeated, p, i, j));
        }
        const Image a = RunBoth(p, single, 40);
        const Image b = RunBoth(p, repeated, 40);
        for (int x = 0; x < 40; ++x)
            for (int j = 0; j < 3; ++j)
                for (int c = 0; c < 4; ++c) ASSERT_EQ(Along(a, p, x, 0)[c], Along(b, p, x, j)[c]) << ProgramOf(p);
    }
}

// Enlarging across a one-texel extent: every tap and every range texel is that texel.
TEST(ResampleEnlargement, OneTexelExtentRepeatsIt) {
    for (Pass p : kEnlargements) {
        Image in = LineImage(p, 1, 6);
        std::mt19937 rng(4);
        for (int j = 0; j < 6; ++j)
            for (int c = 0; c < 4; ++c) Along(in, p, 0, j)[c] = static_cast<uint16_t>(rng());
        const Image out = RunBoth(p, in, 7);
        for (int x = 0; x < 7; ++x)
            for (int j = 0; j < 6; ++j)
                for (int c = 0; c < 4; ++c) ASSERT_EQ(Along(out, p, x, j)[c], Along(in, p, 0, j)[c]) << ProgramOf(p);
    }
}

}  // namespace
}  // namespace qv::test::resample
