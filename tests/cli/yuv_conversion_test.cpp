// YUV frames to host pixels and back through zimg: nominal levels, chroma siting, odd sizes,
// and the round trips that must be exact.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "yuv_converter.h"

namespace qv::cli {
namespace {

// A planar frame built sample by sample.
struct Frame {
    YuvFormat format;
    std::vector<uint8_t> bytes;

    explicit Frame(const YuvFormat& f) : format(f), bytes(FrameBytes(f)) {}

    size_t Offset(int plane) const {
        size_t o = 0;
        for (int p = 0; p < plane; ++p) o += PlaneBytes(format, p);
        return o;
    }
    void Set(int plane, int x, int y, int value) {
        const size_t i = static_cast<size_t>(y) * static_cast<size_t>(PlaneWidth(format, plane)) + static_cast<size_t>(x);
        if (format.depth > 8) {
            const uint16_t v = static_cast<uint16_t>(value);
            std::memcpy(bytes.data() + Offset(plane) + 2 * i, &v, 2);
        } else {
            bytes[Offset(plane) + i] = static_cast<uint8_t>(value);
        }
    }
    int Get(int plane, int x, int y) const {
        const size_t i = static_cast<size_t>(y) * static_cast<size_t>(PlaneWidth(format, plane)) + static_cast<size_t>(x);
        if (format.depth > 8) {
            uint16_t v;
            std::memcpy(&v, bytes.data() + Offset(plane) + 2 * i, 2);
            return v;
        }
        return bytes[Offset(plane) + i];
    }
    void Fill(int plane, int value) {
        for (int y = 0; y < PlaneHeight(format, plane); ++y) {
            for (int x = 0; x < PlaneWidth(format, plane); ++x) Set(plane, x, y, value);
        }
    }
};

YuvFormat Format(int w, int h, Chroma c, int depth, bool full = false) { return YuvFormat{w, h, c, depth, full}; }

std::vector<YcPixel> ToHost(const Frame& frame) {
    std::vector<YcPixel> px(static_cast<size_t>(frame.format.width) * static_cast<size_t>(frame.format.height));
    YuvToHost(frame.format).Convert(frame.bytes.data(), px.data());
    return px;
}

Frame FromHost(const std::vector<YcPixel>& px, const YuvFormat& f, Dither dither) {
    Frame frame(f);
    HostToYuv(f, dither).Convert(px.data(), 3 * static_cast<ptrdiff_t>(f.width), frame.bytes.data());
    return frame;
}

TEST(YuvConversion, NominalLevelsMapToTheHostRangeAtEveryDepth) {
    for (int depth = 8; depth <= 16; ++depth) {
        const int shift = depth - 8;
        Frame f(Format(4, 1, Chroma::k444, depth));
        const int lumas[4] = {16 << shift, 235 << shift, 0, 126 << shift};
        const int chromas[4] = {16 << shift, 240 << shift, 128 << shift, 128 << shift};
        for (int x = 0; x < 4; ++x) {
            f.Set(0, x, 0, lumas[x]);
            f.Set(1, x, 0, chromas[x]);
            f.Set(2, x, 0, chromas[3 - x]);
        }
        const auto px = ToHost(f);
        EXPECT_EQ(px[0].y, 0) << depth;
        EXPECT_EQ(px[1].y, 4096) << depth;
        EXPECT_EQ(px[2].y, -299) << depth;  // below black stays below: -16 * 4096 / 219
        EXPECT_EQ(px[3].y, 2057) << depth;  // 110 * 4096 / 219 = 2057.35
        EXPECT_EQ(px[0].cb, -2048) << depth;
        EXPECT_EQ(px[1].cb, 2048) << depth;
        EXPECT_EQ(px[2].cb, 0) << depth;
        EXPECT_EQ(px[0].cr, 0) << depth;
        EXPECT_EQ(px[3].cr, -2048) << depth;
    }
}

TEST(YuvConversion, FullRangeAndMono) {
    Frame full(Format(2, 1, Chroma::k444, 8, true));
    full.Set(0, 0, 0, 0);
    full.Set(0, 1, 0, 255);
    full.Fill(1, 128);
    full.Fill(2, 128);
    const auto px = ToHost(full);
    EXPECT_EQ(px[0].y, 0);
    EXPECT_EQ(px[1].y, 4096);

    Frame mono(Format(3, 2, Chroma::kMono, 10));
    mono.Fill(0, 235 << 2);
    for (const YcPixel& p : ToHost(mono)) {
        EXPECT_EQ(p.y, 4096);
        EXPECT_EQ(p.cb, 0);
        EXPECT_EQ(p.cr, 0);
    }
}

TEST(YuvConversion, EightBitRoundTripIsExactWithoutDitherAndNearlySoWithIt) {
    // 8-bit steps are coarser than host steps, so an 8-bit frame survives the trip through host
    // pixels: exactly when rounding, and error diffusion moves a rare sample by one step when
    // its carried error adds up.
    const YuvFormat f = Format(97, 31, Chroma::k444, 8);
    Frame src(f);
    std::mt19937 rng(7);
    for (uint8_t& b : src.bytes) b = static_cast<uint8_t>(rng());
    const auto px = ToHost(src);
    EXPECT_EQ(FromHost(px, f, Dither::kNone).bytes, src.bytes);
    const Frame diffused = FromHost(px, f, Dither::kErrorDiffusion);
    size_t moved = 0;
    for (size_t i = 0; i < src.bytes.size(); ++i) {
        const int d = std::abs(int(diffused.bytes[i]) - int(src.bytes[i]));
        EXPECT_LE(d, 1) << i;
        moved += d != 0;
    }
    EXPECT_LT(moved, src.bytes.size() / 1000);
}

TEST(YuvConversion, HostPixelsSurviveSixteenBitsExactly) {
    // A host step is 13.7 steps at 16 bits: every host value comes back, dithered or not.
    const YuvFormat f = Format(64, 9, Chroma::k444, 16);
    std::mt19937 rng(3);
    std::vector<YcPixel> px(static_cast<size_t>(f.width) * static_cast<size_t>(f.height));
    for (YcPixel& p : px) {
        p.y = static_cast<int16_t>(rng() % 4097);
        p.cb = static_cast<int16_t>(static_cast<int>(rng() % 4097) - 2048);
        p.cr = static_cast<int16_t>(static_cast<int>(rng() % 4097) - 2048);
    }
    for (Dither d : {Dither::kNone, Dither::kOrdered, Dither::kErrorDiffusion}) {
        const auto back = ToHost(FromHost(px, f, d));
        ASSERT_EQ(back.size(), px.size());
        for (size_t i = 0; i < px.size(); ++i) {
            ASSERT_EQ(back[i].y, px[i].y) << i;
            ASSERT_EQ(back[i].cb, px[i].cb) << i;
            ASSERT_EQ(back[i].cr, px[i].cr) << i;
        }
    }
}

TEST(YuvConversion, ReducedDepthDithers) {
    // A flat host value between two 8-bit steps: rounding gives one flat value, dithering mixes
    // the two neighbours so that the average stays close to the host value.
    const YuvFormat f = Format(64, 64, Chroma::k444, 8);
    const int16_t y = 2048 + 9;  // 8-bit 125.98... + 0.48 of a step
    std::vector<YcPixel> px(64 * 64, YcPixel{y, 0, 0});
    const double exact = 16.0 + y * 219.0 / 4096.0;
    const Frame rounded = FromHost(px, f, Dither::kNone);
    for (int i = 0; i < 64 * 64; ++i) EXPECT_EQ(rounded.bytes[static_cast<size_t>(i)], static_cast<int>(exact + 0.5));
    for (Dither d : {Dither::kOrdered, Dither::kErrorDiffusion}) {
        const Frame dithered = FromHost(px, f, d);
        double sum = 0;
        bool mixed = false;
        for (int i = 0; i < 64 * 64; ++i) {
            sum += dithered.bytes[static_cast<size_t>(i)];
            mixed |= dithered.bytes[static_cast<size_t>(i)] != dithered.bytes[0];
        }
        EXPECT_TRUE(mixed);
        EXPECT_NEAR(sum / (64 * 64), exact, 0.05);
    }
}

// One chroma sample raised in an otherwise flat plane; the host's upsampled chroma shows where
// the format puts that sample.
std::vector<YcPixel> Impulse(Chroma chroma, int sampleX, int sampleY) {
    Frame f(Format(16, 16, chroma, 8));
    f.Fill(0, 128);
    f.Fill(1, 128);
    f.Fill(2, 128);
    f.Set(1, sampleX, sampleY, 200);
    return ToHost(f);
}

int Cb(const std::vector<YcPixel>& px, int x, int y) { return px[static_cast<size_t>(y * 16 + x)].cb; }

TEST(YuvConversion, ChromaSitingFollowsTheFormat) {
    // Centred (420jpeg): sample (3, 3) sits between luma 6 and 7 both ways: symmetric.
    const auto jpeg = Impulse(Chroma::k420Jpeg, 3, 3);
    EXPECT_EQ(Cb(jpeg, 6, 6), Cb(jpeg, 7, 6));
    EXPECT_EQ(Cb(jpeg, 6, 6), Cb(jpeg, 6, 7));
    EXPECT_LT(Cb(jpeg, 6, 6), 1317);  // 72 * 4096 / 224: no pixel gets the sample itself
    // Left column (420mpeg2): on luma column 6 horizontally, between rows 6 and 7 vertically.
    const auto mpeg2 = Impulse(Chroma::k420Mpeg2, 3, 3);
    EXPECT_EQ(Cb(mpeg2, 5, 6), Cb(mpeg2, 7, 6));
    EXPECT_GT(Cb(mpeg2, 6, 6), Cb(mpeg2, 7, 6));
    EXPECT_EQ(Cb(mpeg2, 6, 6), Cb(mpeg2, 6, 7));
    // Top-left (420paldv): on luma (6, 6) both ways.
    const auto paldv = Impulse(Chroma::k420Paldv, 3, 3);
    EXPECT_EQ(Cb(paldv, 6, 5), Cb(paldv, 6, 7));
    EXPECT_EQ(Cb(paldv, 5, 6), Cb(paldv, 7, 6));
    EXPECT_GT(Cb(paldv, 6, 6), Cb(paldv, 6, 7));
    // 4:2:2, co-sited with the left column: luma (6, 3) carries the sample exactly.
    const auto s422 = Impulse(Chroma::k422, 3, 3);
    EXPECT_EQ(Cb(s422, 6, 3), 1317);
    EXPECT_EQ(Cb(s422, 5, 3), Cb(s422, 7, 3));
    EXPECT_EQ(Cb(s422, 6, 2), 0);
}

TEST(YuvConversion, FlatColoursStayFlatInEveryLayoutAndOddSize) {
    for (Chroma c : {Chroma::k420Jpeg, Chroma::k420Mpeg2, Chroma::k420Paldv, Chroma::k422, Chroma::k444}) {
        for (int w : {1, 2, 7, 33}) {
            for (int h : {1, 3, 8}) {
                const YuvFormat f = Format(w, h, c, 8);
                Frame frame(f);
                frame.Fill(0, 180);
                frame.Fill(1, 90);
                frame.Fill(2, 200);
                const auto px = ToHost(frame);
                for (const YcPixel& p : px) {
                    ASSERT_EQ(p.y, 3067) << ChromaName(c) << " " << w << "x" << h;  // 164 * 4096 / 219
                    ASSERT_EQ(p.cb, -695);   // -38 * 4096 / 224
                    ASSERT_EQ(p.cr, 1317);   //  72 * 4096 / 224
                }
                EXPECT_EQ(FromHost(px, f, Dither::kNone).bytes, frame.bytes) << ChromaName(c) << " " << w << "x" << h;
            }
        }
    }
}

TEST(YuvConversion, WritesThePitchItIsGiven) {
    // The edit buffer's rows are longer than the frame; only the frame's pixels count.
    const YuvFormat f = Format(5, 3, Chroma::k444, 8);
    std::vector<YcPixel> wide(8 * 3, YcPixel{4096, 2048, -2048});
    for (int y = 0; y < 3; ++y) {
        for (int x = 5; x < 8; ++x) wide[static_cast<size_t>(y * 8 + x)] = YcPixel{0, 0, 0};
    }
    Frame out(f);
    HostToYuv(f, Dither::kNone).Convert(wide.data(), 8 * 3, out.bytes.data());
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(out.Get(0, x, y), 235);
            EXPECT_EQ(out.Get(1, x, y), 240);
            EXPECT_EQ(out.Get(2, x, y), 16);
        }
    }
}

}  // namespace
}  // namespace qv::cli
