// YUV frames to host pixels and back through zimg: nominal levels, chroma siting, odd sizes,
// the round trips that must be exact, and frames converted in place or row by row alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "aligned_frame.h"
#include "options.h"
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

TEST(YuvConversion, DefaultDitherLeavesUnchangedAreasAlone) {
    // Host values between 8-bit steps everywhere, then the same frame with one pixel changed
    // near its top-left corner. The host's default dither changes no sample away from that
    // pixel, so a still area of a clip does not shimmer when something elsewhere moves; error
    // diffusion, by contrast, carries the change along the rest of the frame.
    const YuvFormat f = Format(64, 64, Chroma::k444, 8);
    std::vector<YcPixel> px(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            px[static_cast<size_t>(64 * y + x)] = YcPixel{static_cast<int16_t>(2048 + (7 * x + 3 * y) % 19), 0, 0};
    std::vector<YcPixel> changed = px;
    changed[64 * 2 + 2].y = static_cast<int16_t>(changed[64 * 2 + 2].y + 100);
    const auto movedSamples = [&](Dither d) {
        const Frame before = FromHost(px, f, d);
        const Frame after = FromHost(changed, f, d);
        EXPECT_NE(before.Get(0, 2, 2), after.Get(0, 2, 2));
        int moved = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) moved += (x != 2 || y != 2) && before.Get(0, x, y) != after.Get(0, x, y);
        return moved;
    };
    EXPECT_EQ(movedSamples(Options{}.dither), 0);
    EXPECT_GT(movedSamples(Dither::kErrorDiffusion), 64);
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

// ---------------------------------------------------------------------------------------------
// Row by row: zimg reads and writes a few rows at a time through the converters' row buffers,
// or a suitably laid-out frame in place. Every way must give what zimg gives for whole planes.

Frame RandomFrame(const YuvFormat& f, uint32_t seed) {
    Frame frame(f);
    std::mt19937 rng(seed);
    for (int p = 0; p < PlaneCount(f.chroma); ++p) {
        for (int y = 0; y < PlaneHeight(f, p); ++y) {
            for (int x = 0; x < PlaneWidth(f, p); ++x) frame.Set(p, x, y, static_cast<int>(rng() >> (32 - f.depth)));
        }
    }
    return frame;
}

// Host pixels mostly in the nominal range, some far outside it.
std::vector<YcPixel> RandomHostPixels(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<YcPixel> px(count);
    for (YcPixel& p : px) {
        if (rng() % 16 == 0) {
            p = YcPixel{static_cast<int16_t>(rng()), static_cast<int16_t>(rng()), static_cast<int16_t>(rng())};
        } else {
            p = YcPixel{static_cast<int16_t>(static_cast<int>(rng() % 4400) - 150),
                        static_cast<int16_t>(static_cast<int>(rng() % 4400) - 2200),
                        static_cast<int16_t>(static_cast<int>(rng() % 4400) - 2200)};
        }
    }
    return px;
}

// Frame bytes `offset` bytes past zimg's alignment: 0 lets a frame whose rows are whole multiples
// of it be converted in place, any other offset sends it through the row buffers.
struct PlacedFrame {
    AlignedFrame block;
    uint8_t* bytes;
    PlacedFrame(size_t size, size_t offset) : block(size + offset), bytes(block.Frame() + offset) {}
};

bool Same(const YcPixel& a, const YcPixel& b) { return a.y == b.y && a.cb == b.cb && a.cr == b.cr; }

bool Same(const std::vector<YcPixel>& a, const std::vector<YcPixel>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const YcPixel& p, const YcPixel& q) { return Same(p, q); });
}

std::vector<YcPixel> ToHostAt(const Frame& frame, size_t offset) {
    PlacedFrame placed(frame.bytes.size(), offset);
    std::memcpy(placed.bytes, frame.bytes.data(), frame.bytes.size());
    std::vector<YcPixel> px(static_cast<size_t>(frame.format.width) * static_cast<size_t>(frame.format.height));
    YuvToHost(frame.format).Convert(placed.bytes, px.data());
    return px;
}

// Two frames through one converter: its row buffers carry nothing from one frame to the next.
std::vector<uint8_t> FromHostAt(const std::vector<YcPixel>& px, ptrdiff_t pitchSamples, const YuvFormat& f,
                                Dither dither, size_t offset) {
    PlacedFrame placed(FrameBytes(f), offset);
    HostToYuv converter(f, dither);
    const std::vector<YcPixel> other = RandomHostPixels(px.size(), 99);
    converter.Convert(other.data(), pitchSamples, placed.bytes);
    converter.Convert(px.data(), pitchSamples, placed.bytes);
    return std::vector<uint8_t>(placed.bytes, placed.bytes + FrameBytes(f));
}

TEST(YuvConversion, InPlaceAndRowByRowAgree) {
    // Rows of whole multiples of the alignment in every plane. 70 rows are more than zimg keeps
    // at once, so its row buffers wrap around; 8192 columns are wider than it works at once, so it
    // hands the rows over in column ranges.
    constexpr int kSizes[][2] = {{128, 2}, {128, 70}, {8192, 4}};
    for (Chroma c : {Chroma::k420Jpeg, Chroma::k420Mpeg2, Chroma::k422, Chroma::k444, Chroma::kMono}) {
        for (int depth : {8, 10, 16}) {
            for (const auto& [w, h] : kSizes) {
                const YuvFormat f = Format(w, h, c, depth);
                const std::string what = std::string(ChromaName(c)) + " " + std::to_string(depth) + " bits " +
                                         std::to_string(w) + "x" + std::to_string(h);
                const Frame frame = RandomFrame(f, static_cast<uint32_t>(w + h + depth));
                ASSERT_TRUE(Same(ToHostAt(frame, 0), ToHostAt(frame, 16))) << what;
                const auto px = RandomHostPixels(static_cast<size_t>(w) * static_cast<size_t>(h), 5);
                for (Dither d : {Dither::kNone, Dither::kOrdered, Dither::kErrorDiffusion}) {
                    ASSERT_EQ(FromHostAt(px, 3 * w, f, d, 0), FromHostAt(px, 3 * w, f, d, 16))
                        << what << " dither " << static_cast<int>(d);
                }
            }
        }
    }
}

TEST(YuvConversion, OddSizesConvertAsTheFramePaddedToWholeChromaBlocks) {
    // A frame of odd size converts as the same frame with its last luma row and column repeated
    // to whole chroma blocks, cut back to its own size.
    for (Chroma c : {Chroma::k420Jpeg, Chroma::k420Paldv, Chroma::k422}) {
        for (int depth : {8, 12}) {
            for (int w : {1, 7, 129}) {
                for (int h : {1, 3, 17}) {
                    const YuvFormat f = Format(w, h, c, depth);
                    const int pw = w + (w & ChromaShiftX(c));
                    const int ph = h + (h & ChromaShiftY(c));
                    if (pw == w && ph == h) continue;
                    const YuvFormat padded = Format(pw, ph, c, depth);
                    const std::string what = std::string(ChromaName(c)) + " " + std::to_string(depth) + " bits " +
                                             std::to_string(w) + "x" + std::to_string(h);

                    const Frame frame = RandomFrame(f, static_cast<uint32_t>(w * 31 + h));
                    Frame big(padded);
                    for (int y = 0; y < ph; ++y) {
                        for (int x = 0; x < pw; ++x) {
                            big.Set(0, x, y, frame.Get(0, std::min(x, w - 1), std::min(y, h - 1)));
                        }
                    }
                    std::memcpy(big.bytes.data() + big.Offset(1), frame.bytes.data() + frame.Offset(1),
                                frame.bytes.size() - frame.Offset(1));  // the chroma planes are the same size
                    const auto small = ToHostAt(frame, 16);
                    const auto whole = ToHostAt(big, 16);
                    for (int y = 0; y < h; ++y) {
                        for (int x = 0; x < w; ++x) {
                            const YcPixel& got = small[static_cast<size_t>(y * w + x)];
                            ASSERT_TRUE(Same(got, whole[static_cast<size_t>(y * pw + x)]))
                                << what << " at " << x << "," << y;
                        }
                    }

                    const auto px = RandomHostPixels(static_cast<size_t>(w) * static_cast<size_t>(h), 7);
                    std::vector<YcPixel> bigPx(static_cast<size_t>(pw) * static_cast<size_t>(ph));
                    for (int y = 0; y < ph; ++y) {
                        for (int x = 0; x < pw; ++x) {
                            bigPx[static_cast<size_t>(y * pw + x)] =
                                px[static_cast<size_t>(std::min(y, h - 1) * w + std::min(x, w - 1))];
                        }
                    }
                    for (Dither d : {Dither::kNone, Dither::kOrdered, Dither::kErrorDiffusion}) {
                        Frame out(f);
                        out.bytes = FromHostAt(px, 3 * w, f, d, 16);
                        Frame bigOut(padded);
                        bigOut.bytes = FromHostAt(bigPx, 3 * pw, padded, d, 16);
                        for (int y = 0; y < h; ++y) {
                            for (int x = 0; x < w; ++x) {
                                ASSERT_EQ(out.Get(0, x, y), bigOut.Get(0, x, y)) << what << " luma " << x << "," << y;
                            }
                        }
                        const auto chroma = [](const Frame& fr) {
                            return std::vector<uint8_t>(fr.bytes.begin() + static_cast<ptrdiff_t>(fr.Offset(1)),
                                                        fr.bytes.end());
                        };
                        EXPECT_EQ(chroma(out), chroma(bigOut)) << what << " chroma, dither " << static_cast<int>(d);
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace qv::cli
