// The host with the real Quillervantis.auf beside it: the descriptor it reports, and whole runs
// over real frames (raw clips in and out without loss, ffmpeg pipes on both sides).
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_runner.h"
#include "byte_stream.h"
#include "y4m_reader.h"

namespace qv::cli {
namespace {

using testing::CliResult;
using testing::HaveFfmpeg;
using testing::MakeYcp;
using testing::Quote;
using testing::ReadFile;
using testing::RunCli;
using testing::ScratchDir;
using testing::WriteFile;

std::string Sample() { return std::string(QV_SAMPLES_DIR) + "/ladybird_640x360.y4m"; }

// Every strength at zero: the chain has nothing to do but carry the pixels.
const char* kNoStrength = " --usm 0 --max 0 --min 0 --denoise 0 --recovery 0 --sharp 0 ";

TEST(RealFilter, InfoShowsTheDescriptorPresetsAndAdapters) {
    const CliResult r = RunCli("--info");
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream out(r.out);
    std::string first;
    std::getline(out, first);
    EXPECT_EQ(first, "Quillervantis Ver.131215");
    EXPECT_NE(r.out.find("name: Quillervantis\n"), std::string::npos);
    const char* sliders[] = {
        "  size           0  0..9\n",      "  width       1280  32..4096\n", "  height       720  32..2304\n",
        "  usm          100  0..300\n",    "  radius        15  1..30\n",    "  max            0  0..300\n",
        "  min          100  0..300\n",    "  denoise       75  0..100\n",   "  recovery      75  0..100\n",
        "  sharp         25  0..100\n",    "  adapter        0  0..1\n",
    };
    for (const char* line : sliders) EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    const char* presets[] = {"   0  640x360\n", "   4  1280x720\n", "   7  1920x1080\n", "   9  3840x2160\n"};
    for (const char* line : presets) EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    // Both software rasterisers, named by the title the filter sets.
    const size_t adapters = r.out.find("adapters (adapter slider):\n");
    ASSERT_NE(adapters, std::string::npos);
    EXPECT_NE(r.out.find("   0  ", adapters), std::string::npos);
    EXPECT_NE(r.out.find("   1  ", adapters), std::string::npos);
    EXPECT_EQ(r.out.find("adapter 0\n", adapters), std::string::npos) << "no title came for adapter 0";
}

TEST(RealFilter, RawClipAtEqualSizeWithNoStrengthIsBitIdentical) {
    ScratchDir dir;
    const std::string ycp = MakeYcp(70, 38, 3, 21);
    WriteFile(dir.Path("in.ycp"), ycp);
    const CliResult r = RunCli("-q --source-size 70x38 --width 70 --height 38" + std::string(kNoStrength) +
                               Quote(dir.Path("in.ycp")) + " " + Quote(dir.Path("out.ycp")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(dir.Path("out.ycp")) == ycp) << "the filter changed pixels it had no reason to";
}

TEST(RealFilter, SavingAndPreviewAndThreadCountsGiveTheSameFrames) {
    // Render-ahead (saving) and frame-by-frame (preview) deliver the same frames; so do one and
    // several host worker threads.
    ScratchDir dir;
    WriteFile(dir.Path("in.ycp"), MakeYcp(96, 54, 4, 8));
    const std::string common = "-q --source-size 96x54 --width 160 --height 90 " + Quote(dir.Path("in.ycp")) + " ";
    ASSERT_EQ(RunCli(common + Quote(dir.Path("a.ycp"))).status, 0);
    ASSERT_EQ(RunCli("--preview --threads 1 " + common + Quote(dir.Path("b.ycp"))).status, 0);
    ASSERT_EQ(RunCli("--threads 3 " + common + Quote(dir.Path("c.ycp"))).status, 0);
    const std::string a = ReadFile(dir.Path("a.ycp"));
    EXPECT_EQ(a.size(), 4u * 160 * 90 * 6);
    EXPECT_TRUE(a == ReadFile(dir.Path("b.ycp")));
    EXPECT_TRUE(a == ReadFile(dir.Path("c.ycp")));
}

TEST(RealFilter, BothAdaptersGiveTheSameFrames) {
    // Adapter 1 is the reference rasteriser; the optimised one must match it bit for bit, here
    // through the whole host: slider update to another adapter, render-ahead, transfers.
    ScratchDir dir;
    WriteFile(dir.Path("in.ycp"), MakeYcp(80, 48, 2, 13));
    const std::string common = "-q --source-size 80x48 --width 120 --height 72 " + Quote(dir.Path("in.ycp")) + " ";
    ASSERT_EQ(RunCli(common + Quote(dir.Path("a0.ycp"))).status, 0);
    const CliResult r = RunCli("--adapter 1 " + common + Quote(dir.Path("a1.ycp")));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string a0 = ReadFile(dir.Path("a0.ycp"));
    EXPECT_EQ(a0.size(), 2u * 120 * 72 * 6);
    EXPECT_TRUE(a0 == ReadFile(dir.Path("a1.ycp")));
}

TEST(RealFilter, SampleClipToHdWithSnapshot) {
    ScratchDir dir;
    const CliResult r = RunCli("--width 1280 --height 720 --snapshot 5:" + Quote(dir.Path("s.png")) + " " +
                               Quote(Sample()) + " " + Quote(dir.Path("o.y4m")));
    ASSERT_EQ(r.status, 0) << r.err;
    // The summary line: frames, seconds, fps.
    EXPECT_NE(r.err.find("10 frames in "), std::string::npos) << r.err;
    Y4mReader out(InputFile::Open(dir.Path("o.y4m")));
    EXPECT_EQ(out.Width(), 1280);
    EXPECT_EQ(out.Height(), 720);
    EXPECT_EQ(out.FrameCount(), 10);
    EXPECT_EQ(out.Header().format.chroma, Chroma::k420Jpeg);
    const std::string png = ReadFile(dir.Path("s.png"));
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
    if (HaveFfmpeg()) {
        EXPECT_EQ(std::system(("ffmpeg -v error -i " + Quote(dir.Path("o.y4m")) + " -f null -").c_str()), 0);
    }
}

TEST(RealFilter, FfmpegPipesOnBothSides) {
    ASSERT_TRUE(HaveFfmpeg()) << "ffmpeg is part of the build's dependencies (scripts/install-deps.sh)";
    ScratchDir dir;
    const std::string upstream = "ffmpeg -v error -i " + Quote(Sample()) + " -frames:v 4 -f yuv4mpegpipe - |";
    const std::string downstream = "| ffmpeg -v error -f yuv4mpegpipe -i - -f framemd5 " + Quote(dir.Path("md5"));
    const CliResult r = RunCli("-q - - --width 1280 --height 720", upstream, downstream);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const std::string md5 = ReadFile(dir.Path("md5"));
    EXPECT_NE(md5.find("#dimensions 0: 1280x720"), std::string::npos) << md5;
    size_t frames = 0;
    for (size_t at = md5.find("\n0,"); at != std::string::npos; at = md5.find("\n0,", at + 1)) ++frames;
    EXPECT_EQ(frames, 4u) << md5;
}

}  // namespace
}  // namespace qv::cli
