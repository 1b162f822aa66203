// The YUV4MPEG2 header as streams from ffmpeg and other tools write it.
#include <gtest/gtest.h>

#include "errors.h"
#include "y4m_header.h"

namespace qv::cli {
namespace {

TEST(Y4mHeader, ReadsEveryTagFfmpegWrites) {
    const Y4mHeader h =
        ParseY4mHeader("YUV4MPEG2 W640 H360 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED");
    EXPECT_EQ(h.format.width, 640);
    EXPECT_EQ(h.format.height, 360);
    EXPECT_EQ(h.format.chroma, Chroma::k420Jpeg);
    EXPECT_EQ(h.format.depth, 8);
    EXPECT_FALSE(h.format.fullRange);
    EXPECT_EQ(h.frameRate, "30000:1001");
    EXPECT_EQ(h.interlace, "p");
    EXPECT_EQ(h.aspect, "1:1");
    ASSERT_EQ(h.extensions.size(), 2u);
    EXPECT_EQ(h.extensions[0], "YSCSS=420JPEG");
}

TEST(Y4mHeader, ColourSpacesAndDepths) {
    struct Case {
        const char* tag;
        Chroma chroma;
        int depth;
    };
    const Case cases[] = {
        {"420jpeg", Chroma::k420Jpeg, 8},  {"420", Chroma::k420Jpeg, 8},     {"420mpeg2", Chroma::k420Mpeg2, 8},
        {"420paldv", Chroma::k420Paldv, 8}, {"422", Chroma::k422, 8},         {"444", Chroma::k444, 8},
        {"mono", Chroma::kMono, 8},         {"420p10", Chroma::k420Jpeg, 10}, {"422p12", Chroma::k422, 12},
        {"444p16", Chroma::k444, 16},       {"mono16", Chroma::kMono, 16},    {"420p9", Chroma::k420Jpeg, 9},
    };
    for (const Case& c : cases) {
        const Y4mHeader h = ParseY4mHeader(std::string("YUV4MPEG2 W16 H8 C") + c.tag);
        EXPECT_EQ(h.format.chroma, c.chroma) << c.tag;
        EXPECT_EQ(h.format.depth, c.depth) << c.tag;
    }
    // No C tag: 4:2:0, centred, 8 bits.
    const Y4mHeader plain = ParseY4mHeader("YUV4MPEG2 W16 H8");
    EXPECT_EQ(plain.format.chroma, Chroma::k420Jpeg);
    EXPECT_EQ(plain.format.depth, 8);
}

TEST(Y4mHeader, HarmlessTagsAreIgnoredOrDropped) {
    // Unknown tag letters, odd interlace and aspect values, doubled spaces: the frames are still
    // readable, so none of these stops a run.
    const Y4mHeader h = ParseY4mHeader("YUV4MPEG2  W32 H16 Iz Afoo Zzz Im F25:1 XCOLORRANGE=FULL");
    EXPECT_EQ(h.format.width, 32);
    EXPECT_EQ(h.interlace, "m");
    EXPECT_EQ(h.aspect, "");
    EXPECT_TRUE(h.format.fullRange);
}

TEST(Y4mHeader, RefusesWhatCannotBeRead) {
    struct Case {
        const char* line;
        const char* mentions;
    };
    const Case cases[] = {
        {"YUV4MPEG W16 H8", "not a YUV4MPEG2 stream"},
        {"YUV4MPEG2X W16 H8", "not a YUV4MPEG2 stream"},
        {"RIFF", "not a YUV4MPEG2 stream"},
        {"YUV4MPEG2 H8", "no frame width"},
        {"YUV4MPEG2 W16", "no frame height"},
        {"YUV4MPEG2 W0 H8", "width W is zero"},
        {"YUV4MPEG2 W16 H0", "height H is zero"},
        {"YUV4MPEG2 W99999999999999999999999 H8", "absurd"},
        {"YUV4MPEG2 W16 H100000", "absurd"},
        {"YUV4MPEG2 W-16 H8", "not a number"},
        {"YUV4MPEG2 Wabc H8", "not a number"},
        {"YUV4MPEG2 W16 H8 C411", "unsupported colour space 'C411'"},
        {"YUV4MPEG2 W16 H8 C444alpha", "unsupported colour space"},
        {"YUV4MPEG2 W16 H8 C420p8", "unsupported colour space"},
        {"YUV4MPEG2 W16 H8 C420p17", "unsupported colour space"},
        {"YUV4MPEG2 W16 H8 C420jpegp10", "unsupported colour space"},
        {"YUV4MPEG2 W16 H8 F30", "frame rate"},
        {"YUV4MPEG2 W16 H8 Fx:y", "frame rate"},
    };
    for (const Case& c : cases) {
        try {
            ParseY4mHeader(c.line);
            ADD_FAILURE() << "accepted: " << c.line;
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos)
                << c.line << " -> " << e.what();
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
        }
    }
}

TEST(Y4mHeader, FormatsWhatItReads) {
    const char* line = "YUV4MPEG2 W1280 H720 F24000:1001 It A16:15 C422p10 XCOLORRANGE=LIMITED XFOO=bar";
    const Y4mHeader h = ParseY4mHeader(line);
    EXPECT_EQ(FormatY4mHeader(h), std::string(line) + "\n");
}

TEST(Y4mHeader, SubsamplingTagFollowsTheWrittenFormat) {
    Y4mHeader h = ParseY4mHeader("YUV4MPEG2 W16 H8 C420jpeg XYSCSS=420JPEG");
    EXPECT_NE(FormatY4mHeader(h).find("XYSCSS=420JPEG"), std::string::npos);
    h.format.chroma = Chroma::k444;  // converted: the old tag would lie
    EXPECT_EQ(FormatY4mHeader(h).find("XYSCSS"), std::string::npos);
    EXPECT_NE(FormatY4mHeader(h).find(" C444"), std::string::npos);
}

TEST(Y4mHeader, AStreamWithoutRateGetsOne) {
    // Readers need a rate; 25:1 is what ffmpeg assumes for a stream without one.
    const Y4mHeader h = ParseY4mHeader("YUV4MPEG2 W16 H8");
    EXPECT_NE(FormatY4mHeader(h).find(" F25:1"), std::string::npos);
}

TEST(Y4mHeader, FrameHeaders) {
    EXPECT_TRUE(IsY4mFrameHeader("FRAME"));
    EXPECT_TRUE(IsY4mFrameHeader("FRAME Ip XFOO=1"));
    EXPECT_FALSE(IsY4mFrameHeader("FRAMES"));
    EXPECT_FALSE(IsY4mFrameHeader("FRAM"));
    EXPECT_FALSE(IsY4mFrameHeader(""));
}

}  // namespace
}  // namespace qv::cli
