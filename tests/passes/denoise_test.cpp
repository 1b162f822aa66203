// The denoise pass: what it does to chosen images, and the optimised variant equal to the
// reference bit for bit on every SIMD target and scheduler.
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/worker_pool.h"
#include "gpu/filter_constants.h"
#include "passes/denoise.h"
#include "passes/exp2.h"
#include "passes/program_names.h"
#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/row_schedulers.h"
#include "support/pass_harness.h"

namespace qv::passes {
namespace {

using test::Image;

float H2ForSlider(int slider) { return gpu::ComputeH2(gpu::Percent(slider)); }

test::PassSetup DenoiseSetup(const Image& in, float h2) {
    test::PassSetup s;
    s.inputs[kDenoiseInputSampler] = &in;
    s.params = test::DefaultParams();
    s.params.H2 = h2;
    s.scale = gpu::ComputeScale(in.width(), in.height(), in.width(), in.height());
    s.width = in.width();
    s.height = in.height();
    return s;
}

Image Reference(const Image& in, float h2) { return test::RunReference(kDenoiseProgram, DenoiseSetup(in, h2)); }

Image Optimised(const Image& in, float h2) {
    gfx::SerialRowScheduler serial;
    return test::RunOptimised(kDenoiseProgram, DenoiseSetup(in, h2), serial);
}

// Runs a check on the output of both variants.
template <class Check>
void ForBothVariants(const Image& in, float h2, Check check) {
    {
        SCOPED_TRACE("reference");
        const Image out = Reference(in, h2);
        EXPECT_TRUE(out.GuardsIntact());
        check(out);
    }
    {
        SCOPED_TRACE("optimised");
        const Image out = Optimised(in, h2);
        EXPECT_TRUE(out.GuardsIntact());
        check(out);
    }
}

// Luma steps of the input as the pass reads them.
float Luma(int steps) { return gfx::ReadUnorm(static_cast<uint16_t>(steps)); }

TEST(DenoiseWeights, ThirteenStepDifferencesAtSliderTen) {
    const float h2 = H2ForSlider(10);
    const float diff = Luma(1013) - Luma(1000);
    // A block differing only at its centre, and one differing in all nine texels, summed as
    // the pass sums them.
    const float centreOnly = kDenoiseBlockWeights[1][1] * (diff * diff);
    float allNine = 0.0f;
    for (const auto& row : kDenoiseBlockWeights)
        for (float w : row) allNine += w * (diff * diff);
    EXPECT_NEAR(Exp2ToFloat((centreOnly * h2) * kDenoiseExponentScale), 0.814f, 0.0005f);
    EXPECT_NEAR(Exp2ToFloat((allNine * h2) * kDenoiseExponentScale), 0.371f, 0.0005f);
    // The exponent is the same as exp(-4194304 * H2 * D) to float precision.
    EXPECT_NEAR(Exp2ToFloat((allNine * h2) * kDenoiseExponentScale), std::exp(-4194304.0 * h2 * allNine), 1e-6);
}

TEST(DenoiseBehaviour, FlatImageIsUnchanged) {
    const Image in = Image::Flat(11, 9, 2000, 1000, 3000, 0);
    for (float h2 : {H2ForSlider(75), H2ForSlider(10), 0.0f}) {
        ForBothVariants(in, h2, [&](const Image& out) {
            EXPECT_TRUE(out.SameAs(in)) << "H2 = " << h2;
        });
    }
}

// Yd as the pass defines it, in double: the window's weighted mean with clamped reads.
double ModelDenoised(const Image& in, int x, int y, float h2) {
    auto luma = [&](int i, int j) {
        i = i < 0 ? 0 : (i >= in.width() ? in.width() - 1 : i);
        j = j < 0 ? 0 : (j >= in.height() ? in.height() - 1 : j);
        return in.Texel(i, j)[0] / 65535.0;
    };
    double sum = 0, weights = 0;
    for (int j = -2; j <= 2; ++j)
        for (int i = -2; i <= 2; ++i) {
            double d = 0;
            for (int b = -1; b <= 1; ++b)
                for (int a = -1; a <= 1; ++a) {
                    const double diff = luma(x + a, y + b) - luma(x + i + a, y + j + b);
                    d += kDenoiseBlockWeights[b + 1][a + 1] * diff * diff;
                }
            const double e = std::exp(-4194304.0 * h2 * d);
            sum += e * luma(x + i, y + j);
            weights += e;
        }
    return sum / weights;
}

// The stored step nearest the model's value; the model must not sit near a rounding boundary
// for the comparison to be exact.
int ModelSteps(double value) {
    const double steps = value * 65535.0;
    EXPECT_GT(std::fabs(steps - std::floor(steps) - 0.5), 0.01) << "model value too close to a half step";
    return static_cast<int>(std::lround(steps));
}

TEST(DenoiseBehaviour, BrightPixelIsPulledTowardsItsSurround) {
    Image in = Image::Flat(9, 9, 1000, 2048, 2048, 0);
    in.Texel(4, 4)[0] = 1013;
    const float h2 = H2ForSlider(10);
    const double model = ModelDenoised(in, 4, 4, h2);
    ForBothVariants(in, h2, [&](const Image& out) {
        const uint16_t* t = out.Texel(4, 4);
        EXPECT_GT(t[0], 1000);
        EXPECT_LT(t[0], 1013);
        EXPECT_EQ(t[0], ModelSteps(model));
        EXPECT_EQ(t[3], ModelSteps(Luma(1013) - model));
        EXPECT_NEAR(t[0] + t[3], 1013, 1);
        // A neighbour of the bright pixel is raised (by under half a step here); the luma it
        // gained is not stored.
        EXPECT_EQ(out.Texel(3, 4)[0], ModelSteps(ModelDenoised(in, 3, 4, h2)));
        EXPECT_EQ(out.Texel(3, 4)[3], 0);
    });
}

TEST(DenoiseBehaviour, DarkerPixelStoresNoRemovedLuma) {
    Image in = Image::Flat(9, 9, 1000, 2048, 2048, 0);
    in.Texel(4, 4)[0] = 987;
    const float h2 = H2ForSlider(10);
    const double model = ModelDenoised(in, 4, 4, h2);
    ForBothVariants(in, h2, [&](const Image& out) {
        EXPECT_GT(out.Texel(4, 4)[0], 987);
        EXPECT_EQ(out.Texel(4, 4)[0], ModelSteps(model));
        EXPECT_EQ(out.Texel(4, 4)[3], 0);
    });
}

TEST(DenoiseBehaviour, ChromaPassesThroughBitForBit) {
    const Image in = Image::Random(23, 11, 7);  // every channel over the full 16-bit range
    ForBothVariants(in, H2ForSlider(75), [&](const Image& out) {
        for (int y = 0; y < in.height(); ++y)
            for (int x = 0; x < in.width(); ++x) {
                ASSERT_EQ(out.Texel(x, y)[1], in.Texel(x, y)[1]) << x << ", " << y;
                ASSERT_EQ(out.Texel(x, y)[2], in.Texel(x, y)[2]) << x << ", " << y;
            }
    });
}

// The optimised variant copies chroma as stored, which rests on reading then storing a step
// giving the same step back.
TEST(DenoiseBehaviour, EveryStoredStepSurvivesReadAndStore) {
    for (int v = 0; v <= 65535; ++v)
        ASSERT_EQ(gfx::StoreUnorm(gfx::ReadUnorm(static_cast<uint16_t>(v))), v);
}

TEST(DenoiseBehaviour, SliderOneLeavesLumaUnchanged) {
    const Image in = Image::FromSample(64, 48, 200, 120);
    ForBothVariants(in, H2ForSlider(1), [&](const Image& out) {
        for (int y = 0; y < in.height(); ++y)
            for (int x = 0; x < in.width(); ++x) {
                ASSERT_EQ(out.Texel(x, y)[0], in.Texel(x, y)[0]) << x << ", " << y;
                ASSERT_EQ(out.Texel(x, y)[3], 0) << x << ", " << y;
            }
    });
}

// With H2 = 0 every candidate weighs 1, so each output is the plain mean of the window with
// clamped reads: at the left edge the edge texel stands in for the two columns outside.
TEST(DenoiseBehaviour, EdgePixelsWeighTheRepeatedEdge) {
    Image in = Image::Flat(6, 1, 0, 2048, 2048, 0);
    const uint16_t lumas[6] = {1000, 1005, 1010, 1015, 1020, 1025};
    for (int x = 0; x < 6; ++x) in.Texel(x, 0)[0] = lumas[x];
    ForBothVariants(in, 0.0f, [&](const Image& out) {
        EXPECT_EQ(out.Texel(0, 0)[0], 1003);  // (3 * 1000 + 1005 + 1010) / 5
        EXPECT_EQ(out.Texel(1, 0)[0], 1006);  // (2 * 1000 + 1005 + 1010 + 1015) / 5
        EXPECT_EQ(out.Texel(2, 0)[0], 1010);
        EXPECT_EQ(out.Texel(5, 0)[0], 1022);  // (1015 + 1020 + 3 * 1025) / 5
        EXPECT_EQ(out.Texel(0, 0)[3], 0);
        EXPECT_EQ(out.Texel(5, 0)[3], 3);
    });
}

// The reference addresses every texel a quarter texel in: the read lands in the intended texel
// (clamped to the image) for every texture size up to 2048 and every offset the pass uses.
TEST(DenoiseReadCoordinates, LandInTheIntendedTexel) {
    for (int size = 1; size <= 2048; ++size) {
        const float inverse = 1.0f / static_cast<float>(size);
        for (int p = 0; p < size; ++p)
            for (int offset = -kDenoiseBorder; offset <= kDenoiseBorder; ++offset) {
                const float u = DenoiseReadCoordinate(static_cast<float>(p), offset, inverse);
                const int texel = gfx::ClampedIndex(u * static_cast<float>(size), size);
                const int expected = std::min(std::max(p + offset, 0), size - 1);
                ASSERT_EQ(texel, expected) << "size " << size << " position " << p << " offset " << offset;
            }
    }
}

// --- optimised against reference ---------------------------------------------------------

Image Noisy(Image im, uint32_t seed, int amplitude) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x) {
            const int v = im.Texel(x, y)[0] + d(rng);
            im.Texel(x, y)[0] = static_cast<uint16_t>(std::min(std::max(v, 0), 65535));
        }
    return im;
}

struct Content {
    std::string name;
    Image image;
};

std::vector<Content> Contents(int w, int h, uint32_t seed) {
    std::vector<Content> c;
    c.push_back({"noise", Image::RandomFrame(w, h, seed)});
    c.push_back({"full range", Image::Random(w, h, seed + 1)});
    c.push_back({"photo + noise", Noisy(Image::FromSample(w, h, 37 * static_cast<int>(seed % 7), 11), seed, 60)});
    c.push_back({"flat", Image::Flat(w, h, 1234, 2000, 2100, 0)});
    c.push_back({"saturated", Image::Flat(w, h, 65535, 65535, 0, 65535)});
    Image extremes = Image::Random(w, h, seed + 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) extremes.Texel(x, y)[0] = ((x * 7 + y * 3 + seed) % 5) < 2 ? 65535 : 0;
    c.push_back({"black and white", std::move(extremes)});
    return c;
}

// Strengths: the default, a strong and the weakest slider, the strongest, plain mean, and
// values the constants never produce (negative, infinite, NaN) that must still not crash.
std::vector<float> Strengths() {
    return {H2ForSlider(75), H2ForSlider(10), H2ForSlider(1), H2ForSlider(100), 0.0f,
            -1.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
}

void ExpectOptimisedEqualsReference(const Image& in, float h2, const std::string& what, WorkerPool& pool) {
    const test::PassSetup setup = DenoiseSetup(in, h2);
    const Image reference = test::RunReference(kDenoiseProgram, setup);
    ASSERT_TRUE(reference.GuardsIntact()) << what;
    test::ForEachSimdTarget([&](const std::string& target) {
        gfx::SerialRowScheduler serial;
        gfx::ShuffledRowScheduler shuffled(in.width() * 31 + in.height(), 1 + in.height() % 5);
        gfx::PoolRowScheduler pooled(pool);
        gfx::RowScheduler* schedulers[] = {&serial, &shuffled, &pooled};
        const char* names[] = {"serial", "shuffled", "pool"};
        for (int s = 0; s < 3; ++s) {
            const Image out = test::RunOptimised(kDenoiseProgram, setup, *schedulers[s]);
            std::string difference;
            EXPECT_TRUE(out.SameAs(reference, &difference))
                << what << " H2 " << h2 << " on " << target << " with " << names[s] << ": " << difference;
            EXPECT_TRUE(out.GuardsIntact()) << what << " on " << target << " with " << names[s];
        }
    });
}

TEST(DenoiseOptimised, EqualsReferenceAtAwkwardSizes) {
    WorkerPool pool(3);
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 5}, {5, 3}, {17, 13}, {33, 7}, {7, 33}, {40, 4}};
    uint32_t seed = 1;
    for (const auto& size : sizes) {
        for (const Content& c : Contents(size[0], size[1], seed++)) {
            for (float h2 : Strengths()) {
                ExpectOptimisedEqualsReference(c.image, h2,
                                               c.name + " " + std::to_string(size[0]) + "x" + std::to_string(size[1]), pool);
            }
        }
    }
}

TEST(DenoiseOptimised, EqualsReferenceAtEveryWidthUpTo40) {
    WorkerPool pool(2);
    for (int w = 1; w <= 40; ++w) {
        const Image in = Noisy(Image::FromSample(w, 5, 3 * w, 40), static_cast<uint32_t>(w), 40);
        ExpectOptimisedEqualsReference(in, H2ForSlider(40), "photo width " + std::to_string(w), pool);
    }
}

TEST(DenoiseOptimised, EqualsReferenceOnTallImagesInManyBands) {
    // Enough rows for the pool to split the image into bands that run at the same time.
    WorkerPool pool(4);
    const Image in = Noisy(Image::FromSample(45, 150, 300, 20), 99, 80);
    for (float h2 : {H2ForSlider(75), H2ForSlider(20)}) ExpectOptimisedEqualsReference(in, h2, "photo 45x150", pool);
}

TEST(DenoiseOptimised, EqualsReferenceOnAWideOddImage) {
    WorkerPool pool(3);
    const Image in = Noisy(Image::FromSample(1917, 21, 100, 50), 8, 50);
    ExpectOptimisedEqualsReference(in, H2ForSlider(30), "photo 1917x21", pool);
}

// Images wider than a tile (2048 columns) are cut into column tiles, each streamed in blocks of
// rows: three tiles, the last narrower, over rows that end inside a block.
TEST(DenoiseOptimised, EqualsReferenceAcrossColumnTiles) {
    WorkerPool pool(2);
    const Image in = Noisy(Image::FromSample(4200, 13, 40, 30), 12, 60);
    for (float h2 : {H2ForSlider(75), H2ForSlider(10)}) ExpectOptimisedEqualsReference(in, h2, "photo 4200x13", pool);
}

// The first `rows` rows of two images of the same width are equal.
bool SameRows(const Image& a, const Image& b, int rows, std::string* difference) {
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 4; ++c)
                if (a.Texel(x, y)[c] != b.Texel(x, y)[c]) {
                    std::ostringstream s;
                    s << "(" << x << ", " << y << ") channel " << c << ": " << a.Texel(x, y)[c] << " vs "
                      << b.Texel(x, y)[c];
                    *difference = s.str();
                    return false;
                }
    return true;
}

// A whole frame of the largest size: every target and scheduler gives the same frame, and its
// top rows equal the reference's. The reference, too slow for the whole frame, draws only those
// rows; its reads still clamp to the whole frame (the bottom edge is covered at small sizes).
TEST(DenoiseOptimised, EqualsReferenceOnAFullFrame) {
    constexpr int kReferenceRows = 64;
    WorkerPool pool(0);
    const Image in = Noisy(Image::FromSample(1920, 1088), 5, 50);
    const test::PassSetup full = DenoiseSetup(in, H2ForSlider(75));
    test::PassSetup top = full;
    top.height = kReferenceRows;
    const Image reference = test::RunReference(kDenoiseProgram, top);
    std::unique_ptr<Image> first;
    test::ForEachSimdTarget([&](const std::string& target) {
        gfx::ShuffledRowScheduler shuffled(17, 37);
        gfx::PoolRowScheduler pooled(pool);
        gfx::RowScheduler* schedulers[] = {&shuffled, &pooled};
        const char* names[] = {"shuffled", "pool"};
        for (int s = 0; s < 2; ++s) {
            Image out = test::RunOptimised(kDenoiseProgram, full, *schedulers[s]);
            std::string difference;
            EXPECT_TRUE(SameRows(out, reference, kReferenceRows, &difference))
                << target << " with " << names[s] << ": " << difference;
            EXPECT_TRUE(out.GuardsIntact()) << target << " with " << names[s];
            if (!first) {
                first = std::make_unique<Image>(std::move(out));
                continue;
            }
            EXPECT_TRUE(out.SameAs(*first, &difference)) << target << " with " << names[s] << ": " << difference;
        }
    });
}

}  // namespace
}  // namespace qv::passes
