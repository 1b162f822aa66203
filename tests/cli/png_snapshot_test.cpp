// The snapshot's picture: BT.709 limited-range host pixels to RGB, and the source scaled to the
// result's size.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/cli_runner.h"
#include "png_snapshot.h"

namespace qv::cli {
namespace {

// BT.709 Y'CbCr of an RGB primary, in host steps.
YcPixel HostOf(double r, double g, double b) {
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double cb = (b - y) / 1.8556;
    const double cr = (r - y) / 1.5748;
    return YcPixel{static_cast<int16_t>(std::lround(y * 4096)), static_cast<int16_t>(std::lround(cb * 4096)),
                   static_cast<int16_t>(std::lround(cr * 4096))};
}

TEST(PngSnapshot, HostPixelsBecomeBt709Rgb) {
    struct Case {
        double r, g, b;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{1, 0, 0}, Case{0, 1, 0}, Case{0, 0, 1}, Case{1, 1, 0},
                          Case{0.5, 0.25, 0.75}}) {
        uint8_t rgb[3];
        HostPixelToRgb(HostOf(c.r, c.g, c.b), rgb);
        EXPECT_NEAR(rgb[0], c.r * 255, 1.0) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(rgb[1], c.g * 255, 1.0) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(rgb[2], c.b * 255, 1.0) << c.r << " " << c.g << " " << c.b;
    }
    // Beyond the nominal range: clamped, never wrapped.
    uint8_t rgb[3];
    HostPixelToRgb(YcPixel{5000, 0, 0}, rgb);
    EXPECT_EQ(rgb[0], 255);
    HostPixelToRgb(YcPixel{-300, 0, 0}, rgb);
    EXPECT_EQ(rgb[0], 0);
}

TEST(PngSnapshot, BilinearScaling) {
    // A horizontal ramp, pitch wider than the image.
    const int w = 4, h = 2, pitch = 6;
    std::vector<YcPixel> src(static_cast<size_t>(pitch * h), YcPixel{-1, -1, -1});
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) src[static_cast<size_t>(y * pitch + x)] = YcPixel{int16_t(1000 * x), int16_t(-x), 7};
    }
    const HostImage image{src.data(), 3 * pitch, w, h};
    const auto same = ScaleBilinear(image, w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) EXPECT_EQ(same[static_cast<size_t>(y * w + x)].y, 1000 * x);
    }
    const auto half = ScaleBilinear(image, 2, 1);  // centres 0.5 and 2.5: averages of pairs
    EXPECT_EQ(half[0].y, 500);
    EXPECT_EQ(half[1].y, 2500);
    EXPECT_EQ(half[1].cr, 7);
    const auto doubled = ScaleBilinear(image, 8, 1);
    EXPECT_EQ(doubled[0].y, 0);      // clamped at the edge
    EXPECT_EQ(doubled[1].y, 250);    // centre 0.25
    EXPECT_EQ(doubled[7].y, 3000);
}

TEST(PngSnapshot, UnwritablePathIsAnError) {
    std::vector<YcPixel> px(4, YcPixel{0, 0, 0});
    const HostImage image{px.data(), 6, 2, 2};
    testing::ScratchDir dir;
    EXPECT_THROW(WriteSnapshot(dir.Path("no/such/folder/s.png"), image, image), std::runtime_error);
    WriteSnapshot(dir.Path("s.png"), image, image);
    EXPECT_EQ(testing::ReadFile(dir.Path("s.png")).compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
}

}  // namespace
}  // namespace qv::cli
