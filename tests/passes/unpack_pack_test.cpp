// Unpack (p0) and pack (p13): optimised against reference bit for bit, and unpack followed by
// pack returning the uploaded 16-bit values, the last texel's copies included.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "passes/program_names.h"
#include "platform/d3d9/row_schedulers.h"
#include "support/pass_harness.h"
#include "transfer/packed_frame.h"

namespace qv::test {
namespace {

using transfer::PackedTexelWidth;

PassSetup UnpackSetup(const Image& packed, int width, int height) {
    PassSetup s;
    s.inputs[1] = &packed;
    s.scale.inputTexSizeInverse = {1.0f / static_cast<float>(packed.width()),
                                   1.0f / static_cast<float>(packed.height())};
    s.width = width;
    s.height = height;
    return s;
}

PassSetup PackSetup(const Image& image, int height) {
    PassSetup s;
    s.inputs[10] = &image;
    s.scale.destTexSizeInverse = {1.0f / static_cast<float>(image.width()), 1.0f / static_cast<float>(image.height())};
    s.width = PackedTexelWidth(image.width());
    s.height = height;
    return s;
}

// A packed frame as the upload leaves it: stored values 0..4096 in the first 3 x width samples
// of each row, the last texel's spare channels holding whatever (here: the sentinel).
Image UploadedFrame(int width, int height, uint32_t seed) {
    Image im(PackedTexelWidth(width), height);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int k = 0; k < 3 * width; ++k) im.Row(y)[k] = static_cast<uint16_t>(rng() % 4097);
    return im;
}

// Serial, shuffled bands of one and of three rows, and a pool of workers.
template <class Check>
void ForEachScheduler(Check&& check) {
    gfx::SerialRowScheduler serial;
    check(serial, "serial");
    gfx::ShuffledRowScheduler shuffled1(11, 1);
    check(shuffled1, "shuffled 1-row bands");
    gfx::ShuffledRowScheduler shuffled3(12, 3);
    check(shuffled3, "shuffled 3-row bands");
    WorkerPool pool(3);
    gfx::PoolRowScheduler pooled(pool);
    check(pooled, "pool of 3");
}

std::vector<int> Widths() {
    std::vector<int> w;
    for (int i = 1; i <= 64; ++i) w.push_back(i);
    w.push_back(1920);
    return w;
}

// Every SIMD target: the vectors cover whole multiples of their lane count and the rest of a
// row falls to the scalar words, so the widths 1 .. 64 cross every target's boundaries.
TEST(Unpack, OptimisedMatchesReferenceOnRandomPackedData) {
    ForEachSimdTarget([](const std::string& target) {
        ForEachScheduler([&](gfx::RowScheduler& scheduler, const char* name) {
            for (int w : Widths()) {
                const int h = w == 1920 ? 4 : 5;
                const Image packed = Image::Random(PackedTexelWidth(w), h, 1000u + w);
                const PassSetup setup = UnpackSetup(packed, w, h);
                const Image ref = RunReference(passes::kUnpackProgram, setup);
                const Image opt = RunOptimised(passes::kUnpackProgram, setup, scheduler);
                std::string diff;
                EXPECT_TRUE(opt.SameAs(ref, &diff)) << target << ", " << name << ", width " << w << ": " << diff;
                EXPECT_TRUE(opt.GuardsIntact()) << target << ", " << name << ", width " << w;
                EXPECT_TRUE(ref.GuardsIntact()) << target << ", " << name << ", width " << w;
            }
        });
    });
}

TEST(Pack, OptimisedMatchesReferenceOnRandomImages) {
    ForEachSimdTarget([](const std::string& target) {
        ForEachScheduler([&](gfx::RowScheduler& scheduler, const char* name) {
            for (int w : Widths()) {
                const int h = w == 1920 ? 4 : 5;
                const Image image = Image::Random(w, h, 2000u + w);
                const PassSetup setup = PackSetup(image, h);
                const Image ref = RunReference(passes::kPackProgram, setup);
                const Image opt = RunOptimised(passes::kPackProgram, setup, scheduler);
                std::string diff;
                EXPECT_TRUE(opt.SameAs(ref, &diff)) << target << ", " << name << ", width " << w << ": " << diff;
                EXPECT_TRUE(opt.GuardsIntact()) << target << ", " << name << ", width " << w;
                EXPECT_TRUE(ref.GuardsIntact()) << target << ", " << name << ", width " << w;
            }
        });
    });
}

// The float forms of the texel and place indices hold up to the widest column they are
// promised for; a single row keeps the reference affordable.
TEST(UnpackPack, OptimisedMatchesReferenceAtTheWidestColumns) {
    gfx::SerialRowScheduler serial;
    const int w = 20000;
    const Image packed = Image::Random(PackedTexelWidth(w), 1, 7);
    const PassSetup unpack = UnpackSetup(packed, w, 1);
    const Image ref = RunReference(passes::kUnpackProgram, unpack);
    std::string diff;
    EXPECT_TRUE(RunOptimised(passes::kUnpackProgram, unpack, serial).SameAs(ref, &diff)) << diff;
    const PassSetup pack = PackSetup(ref, 1);
    EXPECT_TRUE(
        RunOptimised(passes::kPackProgram, pack, serial).SameAs(RunReference(passes::kPackProgram, pack), &diff))
        << diff;
}

// Every 16-bit value read as v / 65535 and stored again is v: an image holding each value once
// passes through the reference unchanged, so the optimised copy is the same computation.
TEST(UnpackPack, EverySixteenBitValueSurvivesBothPrograms) {
    const int w = 256 * 4 / 3 + 1;  // 342 pixels in 257 texels
    const int h = 64;
    Image packed(PackedTexelWidth(w), h);
    uint32_t v = 0;
    for (int y = 0; y < h; ++y)
        for (int k = 0; k < 3 * w; ++k) packed.Row(y)[k] = static_cast<uint16_t>(v++ % 65536u);
    const Image unpacked = RunReference(passes::kUnpackProgram, UnpackSetup(packed, w, h));
    const Image repacked = RunReference(passes::kPackProgram, PackSetup(unpacked, h));
    int checked = 0;
    for (int y = 0; y < h; ++y)
        for (int k = 0; k < 3 * w; ++k, ++checked) ASSERT_EQ(repacked.Row(y)[k], packed.Row(y)[k]) << y << " " << k;
    EXPECT_GE(checked, 65536);
}

// Unpack then pack returns the upload's values; the last texel's spare channels hold copies
// of the last pixel's samples, as the clamped reads make them.
TEST(UnpackPack, RoundTripReturnsTheUploadedValuesWithTheLastTexelsCopies) {
    ForEachScheduler([](gfx::RowScheduler& scheduler, const char* name) {
        for (int w : Widths()) {
            const int h = 3;
            const Image packed = UploadedFrame(w, h, 3000u + w);
            const Image unpacked = RunOptimised(passes::kUnpackProgram, UnpackSetup(packed, w, h), scheduler);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) ASSERT_EQ(unpacked.Texel(x, y)[3], 0) << name << " side channel at " << x;
            const Image repacked = RunOptimised(passes::kPackProgram, PackSetup(unpacked, h), scheduler);
            ASSERT_EQ(repacked.width(), packed.width());
            for (int y = 0; y < h; ++y) {
                for (int k = 0; k < 3 * w; ++k) {
                    ASSERT_EQ(repacked.Row(y)[k], packed.Row(y)[k]) << name << ", width " << w << ", sample " << k;
                }
                // Spare channels: dstW = 4g+1 repeats the last luma once; 4g+2 the last luma and
                // first chroma; 4g+3 all three samples of the last pixel.
                const uint16_t* last = packed.Row(y) + 3 * (w - 1);
                for (int k = 3 * w; k < 4 * repacked.width(); ++k) {
                    ASSERT_EQ(repacked.Row(y)[k], last[(k - 3 * w) % 3]) << name << ", width " << w << ", spare " << k;
                }
            }
            EXPECT_TRUE(repacked.GuardsIntact()) << name << ", width " << w;
        }
    });
}

TEST(UnpackPack, LastTexelCopiesForEachRemainderOfFour) {
    // One group of four and one more pixel (texel 3g gets pixel 4g's luma again in w), two more
    // (texel 3g+1 gets pixel 4g+1's luma and first chroma in z, w), three more (texel 3g+2
    // gets pixel 4g+2's three samples in y, z, w).
    gfx::SerialRowScheduler serial;
    for (int w : {5, 6, 7}) {
        Image image = Image::Flat(w, 1, 0, 0, 0, 0);
        for (int x = 0; x < w; ++x) {
            image.Texel(x, 0)[0] = static_cast<uint16_t>(100 + x);
            image.Texel(x, 0)[1] = static_cast<uint16_t>(200 + x);
            image.Texel(x, 0)[2] = static_cast<uint16_t>(300 + x);
            image.Texel(x, 0)[3] = 999;  // never packed
        }
        const Image packed = RunOptimised(passes::kPackProgram, PackSetup(image, 1), serial);
        const uint16_t* t = packed.Texel(packed.width() - 1, 0);
        const int g = 1;
        switch (w - 4 * g) {
            case 1: EXPECT_EQ((std::vector<uint16_t>(t, t + 4)), (std::vector<uint16_t>{104, 204, 304, 104})); break;
            case 2: EXPECT_EQ((std::vector<uint16_t>(t, t + 4)), (std::vector<uint16_t>{205, 305, 105, 205})); break;
            default: EXPECT_EQ((std::vector<uint16_t>(t, t + 4)), (std::vector<uint16_t>{306, 106, 206, 306})); break;
        }
        for (int x = 0; x < packed.width(); ++x)
            for (int c = 0; c < 4; ++c) EXPECT_NE(packed.Texel(x, 0)[c], 999) << w;
    }
}

TEST(UnpackPack, ValuesAtTheirLimitsAndAboveTheFrameRangePassUnchanged) {
    gfx::SerialRowScheduler serial;
    const uint16_t limits[] = {0, 4096, 2048, 4097, 65535, 1, 32768};
    for (int w : {1, 2, 3, 4, 8, 13}) {
        Image packed(PackedTexelWidth(w), 2);
        for (int y = 0; y < 2; ++y)
            for (int k = 0; k < 3 * w; ++k) packed.Row(y)[k] = limits[(k + y) % std::size(limits)];
        const Image unpacked = RunOptimised(passes::kUnpackProgram, UnpackSetup(packed, w, 2), serial);
        const Image repacked = RunOptimised(passes::kPackProgram, PackSetup(unpacked, 2), serial);
        for (int y = 0; y < 2; ++y)
            for (int k = 0; k < 3 * w; ++k) EXPECT_EQ(repacked.Row(y)[k], packed.Row(y)[k]) << w << " " << k;
    }
}

// A drawn rectangle larger than its input (wider than the packed row holds, or taller than the
// texture) reads clamped texels in both variants alike.
TEST(UnpackPack, ReadsPastTheInputClampInBothVariants) {
    gfx::SerialRowScheduler serial;
    for (int w : {1, 5, 10, 17}) {
        const Image packed = Image::Random(PackedTexelWidth(w), 2, 40u + w);
        PassSetup unpack = UnpackSetup(packed, w + 6, 4);
        std::string diff;
        EXPECT_TRUE(RunOptimised(passes::kUnpackProgram, unpack, serial)
                        .SameAs(RunReference(passes::kUnpackProgram, unpack), &diff))
            << "unpack " << w << ": " << diff;
        const Image image = Image::Random(w, 2, 50u + w);
        PassSetup pack = PackSetup(image, 4);
        pack.width += 5;
        EXPECT_TRUE(
            RunOptimised(passes::kPackProgram, pack, serial).SameAs(RunReference(passes::kPackProgram, pack), &diff))
            << "pack " << w << ": " << diff;
    }
}

}  // namespace
}  // namespace qv::test
