// The host's frame loop, driven against the scripted filter module: what an editor saving a
// file does (callback order, render-ahead fetches, frame counts on pipes), and every way a run
// can end (filter failure, disabled GPU path, Ctrl-C, closed pipe, unwritable output).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/cli_runner.h"
#include "byte_stream.h"
#include "y4m_reader.h"

namespace qv::cli {
namespace {

using testing::CliResult;
using testing::MakeY4m;
using testing::MakeYcp;
using testing::Quote;
using testing::ReadFile;
using testing::RunCli;
using testing::ScratchDir;
using testing::ScriptedModule;
using testing::WriteFile;

std::string Scripted() { return "--plugin " + Quote(ScriptedModule()) + " -q "; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Frames in a Y4M file and its size, read back with the host's own reader.
struct ClipInfo {
    int width = 0;
    int height = 0;
    int64_t frames = -1;
};
ClipInfo ReadBack(const std::string& path) {
    Y4mReader reader(InputFile::Open(path));
    return ClipInfo{reader.Width(), reader.Height(), reader.FrameCount()};
}

class HostRun : public ::testing::Test {
protected:
    void SetUp() override {
        clip_ = dir_.Path("in.y4m");
        WriteFile(clip_, MakeY4m(64, 36, 5));
        log_ = dir_.Path("log");
    }
    std::string Env(const std::string& more = "") const { return "QV_SCRIPTED_LOG=" + Quote(log_) + " " + more; }
    std::vector<std::string> Log() const { return Lines(ReadFile(log_)); }

    ScratchDir dir_;
    std::string clip_;
    std::string log_;
};

TEST_F(HostRun, SavingRendersAheadUpToTheLastFrameOnly) {
    const CliResult r = RunCli(Scripted() + Quote(clip_) + " " + Quote(dir_.Path("o.y4m")) + " --width 64 --height 36",
                               Env());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {
        "init",
        "update 0 width 64 height 720",  // each slider announced as a user moves it
        "update 0 width 64 height 36",
        "process 0 count 5 saving 1", "ahead 1",
        "process 1 count 5 saving 1", "ahead 2",
        "process 2 count 5 saving 1", "ahead 3",
        "process 3 count 5 saving 1", "ahead 4",
        "process 4 count 5 saving 1",  // the last frame starts nothing ahead
        "exit",
    };
    EXPECT_EQ(Log(), expected);
    const ClipInfo out = ReadBack(dir_.Path("o.y4m"));
    EXPECT_EQ(out.width, 64);
    EXPECT_EQ(out.height, 36);
    EXPECT_EQ(out.frames, 5);
}

TEST_F(HostRun, APipeReportsTheCountOnceItsEndIsSeen) {
    const CliResult r = RunCli(Scripted() + "- " + Quote(dir_.Path("o.y4m")), "cat " + Quote(clip_) + " | " + Env());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {
        "init",
        "process 0 count 2147483647 saving 1", "ahead 1",
        "process 1 count 2147483647 saving 1", "ahead 2",
        "process 2 count 2147483647 saving 1", "ahead 3",
        "process 3 count 2147483647 saving 1", "ahead 4",
        "process 4 count 5 saving 1",
        "exit",
    };
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(ReadBack(dir_.Path("o.y4m")).frames, 5);
}

TEST_F(HostRun, PreviewProcessesWithoutSaving) {
    const CliResult r = RunCli(Scripted() + "--preview " + Quote(clip_) + " " + Quote(dir_.Path("o.y4m")), Env());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "process 2 count 5 saving 0"), 1);
    for (const std::string& line : log) EXPECT_EQ(line.find("ahead"), std::string::npos) << line;
}

TEST_F(HostRun, RawClipsPassThroughAnIdentityFilterBitForBit) {
    const std::string ycp = MakeYcp(40, 34, 3, 17);
    WriteFile(dir_.Path("in.ycp"), ycp);
    for (const std::string& input : {Quote(dir_.Path("in.ycp")), std::string("-")}) {
        const std::string prefix = input == "-" ? "cat " + Quote(dir_.Path("in.ycp")) + " | " : "";
        const CliResult r = RunCli(Scripted() + "--source-size 40x34 --width 40 --height 34 " + input + " " +
                                       Quote(dir_.Path("o.ycp")),
                                   prefix);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadFile(dir_.Path("o.ycp")), ycp) << input;
    }
}

TEST_F(HostRun, EveryLayoutFfmpegWritesComesBackReadable) {
    // ffmpeg's YUV4MPEG2 in every layout and depth the format has, through the host and back
    // into ffmpeg, with the input's layout kept or another one asked for.
    ASSERT_TRUE(testing::HaveFfmpeg()) << "ffmpeg is part of the build's dependencies (scripts/install-deps.sh)";
    struct Case {
        const char* pixelFormat;
        const char* options;
        const char* tag;  // the output's colour tag
    };
    const Case cases[] = {
        {"yuv420p", "", "C420jpeg"},          {"yuvj420p", "", "C420jpeg"},
        {"yuv422p", "", "C422"},              {"yuv444p", "", "C444"},
        {"gray", "", "Cmono"},                {"yuv420p10le", "", "C420p10"},
        {"yuv422p12le", "", "C422p12"},       {"yuv444p16le", "", "C444p16"},
        {"gray16le", "", "Cmono16"},          {"yuv420p9le", "", "C420p9"},
        {"yuv420p", "--output-chroma 420mpeg2", "C420mpeg2"},
        {"yuv420p", "--output-chroma 420paldv --output-depth 8", "C420paldv"},
        {"yuv420p", "--output-chroma 422 --output-depth 10", "C422p10"},
        {"yuv444p16le", "--output-chroma mono --output-depth 8", "Cmono"},
        {"yuv422p", "--output-chroma 420mpeg2 --output-depth 12", "C420p12"},  // centred at depth
    };
    for (const Case& c : cases) {
        const std::string upstream = std::string("ffmpeg -v error -f lavfi -i testsrc2=size=96x54:rate=25 -frames:v 3 ") +
                                     "-pix_fmt " + c.pixelFormat + " -strict -1 -f yuv4mpegpipe - |";
        const CliResult r = RunCli(Scripted() + "--width 64 --height 36 " + c.options + " - " + Quote(dir_.Path("o.y4m")),
                                   upstream);
        ASSERT_EQ(r.status, 0) << c.pixelFormat << " " << c.options << ": " << r.err;
        const std::string clip = ReadFile(dir_.Path("o.y4m"));
        const std::string header = clip.substr(0, clip.find('\n')) + " ";
        EXPECT_NE(header.find(std::string(" ") + c.tag + " "), std::string::npos) << c.pixelFormat << " " << header;
        const std::string check = "ffmpeg -y -v error -i " + Quote(dir_.Path("o.y4m")) + " -f framemd5 " + Quote(dir_.Path("md5"));
        ASSERT_EQ(std::system(check.c_str()), 0) << c.pixelFormat << " " << c.options;
        const std::string md5 = ReadFile(dir_.Path("md5"));
        EXPECT_NE(md5.find("#dimensions 0: 64x36"), std::string::npos) << md5;
    }
}

TEST_F(HostRun, SizeSlidersShapeTheOutput) {
    struct Case {
        std::string options;
        int width, height;
    };
    const Case cases[] = {
        {"", 1280, 720},                          // the filter's defaults
        {"--width 100 --height 50", 100, 50},
        {"--size 0", 640, 360},                   // a preset
        {"--size 0 --width 100", 100, 360},       // the preset first, then the width
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(Scripted() + c.options + " " + Quote(clip_) + " " + Quote(dir_.Path("o.y4m")));
        ASSERT_EQ(r.status, 0) << c.options << ": " << r.err;
        const ClipInfo out = ReadBack(dir_.Path("o.y4m"));
        EXPECT_EQ(out.width, c.width) << c.options;
        EXPECT_EQ(out.height, c.height) << c.options;
        EXPECT_EQ(out.frames, 5) << c.options;
    }
}

TEST_F(HostRun, OutOfRangeSlidersAreRefusedWithTheirRange) {
    struct Case {
        std::string options;
        std::string message;
    };
    const Case cases[] = {
        {"--width 5000", "--width 5000 is out of range: the filter's width slider runs 32..4096"},
        {"--height 31", "--height 31 is out of range: the filter's height slider runs 32..2304"},
        {"--size 3", "--size 3 is out of range: the filter's size slider runs 0..2"},
        {"--usm 301", "--usm 301 is out of range: the filter's usm slider runs 0..300"},
        {"--radius 0", "--radius 0 is out of range: the filter's radius slider runs 1..30"},
        {"--adapter -1", "--adapter -1 is out of range: the filter's adapter slider runs 0..1"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(Scripted() + c.options + " " + Quote(clip_) + " " + Quote(dir_.Path("o.y4m")));
        EXPECT_EQ(r.status, 2) << c.options;
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
        EXPECT_EQ(r.ErrLines()[0], "quillervantis: error: " + c.message);
    }
}

TEST_F(HostRun, AFailedFrameStopsTheRunWithTheFramesBeforeItInAValidFile) {
    for (const char* out : {"o.y4m", "o.ycp"}) {
        const CliResult r = RunCli(Scripted() + Quote(clip_) + " " + Quote(dir_.Path(out)) + " --width 64 --height 36",
                                   "QV_SCRIPTED_FAIL_AT=2");
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_TRUE(r.exited);
        EXPECT_NE(r.err.find("warning: Renderに失敗\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("error: the filter failed on frame 2"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadBack(dir_.Path("o.y4m")).frames, 2);
    EXPECT_EQ(ReadFile(dir_.Path("o.ycp")).size(), 2u * 64 * 36 * 6);
}

TEST_F(HostRun, ADisabledGpuPathStopsTheRunRatherThanCopyingFramesThrough) {
    // Without slider options the first frame finds the runtime missing.
    CliResult r = RunCli(Scripted() + Quote(clip_) + " " + Quote(dir_.Path("o.y4m")), "QV_SCRIPTED_NO_RUNTIME=1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("warning: Direct3DCreate9に失敗\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("error: the filter's GPU path is disabled"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBack(dir_.Path("o.y4m")).frames, 0);  // valid, empty
    // With a slider option the update callback finds it first; nothing is written.
    r = RunCli(Scripted() + "--usm 50 " + Quote(clip_) + " " + Quote(dir_.Path("p.y4m")), "QV_SCRIPTED_NO_RUNTIME=1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error: the filter's GPU path is disabled"), std::string::npos) << r.err;
    // Equal sizes: only the box tells that the frames would be unfiltered.
    r = RunCli(Scripted() + "--width 64 --height 36 " + Quote(clip_) + " " + Quote(dir_.Path("q.y4m")),
               "QV_SCRIPTED_NO_DEVICE=1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Quillervantis: CreateDeviceに失敗\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("error: the filter's GPU path is disabled"), std::string::npos) << r.err;
}

TEST_F(HostRun, PassthroughWhenAllowedWritesTheSourceSize) {
    const CliResult r = RunCli("--plugin " + Quote(ScriptedModule()) + " --allow-passthrough " + Quote(clip_) + " " +
                               Quote(dir_.Path("o.y4m")), "QV_SCRIPTED_NO_RUNTIME=1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("frames pass through unfiltered"), std::string::npos) << r.err;
    const ClipInfo out = ReadBack(dir_.Path("o.y4m"));
    EXPECT_EQ(out.width, 64);
    EXPECT_EQ(out.height, 36);
    EXPECT_EQ(out.frames, 5);
}

TEST_F(HostRun, DeviceRetriesAreAnsweredAsAllowed) {
    const CliResult r = RunCli(Scripted() + "--retry-device 2 " + Quote(clip_) + " " + Quote(dir_.Path("o.y4m")),
                               Env("QV_SCRIPTED_NO_DEVICE=1"));
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "retry"), 2);
    size_t retries = 0, cancels = 0;
    for (const std::string& line : r.ErrLines()) {
        retries += line == "quillervantis: answered Retry";
        cancels += line.rfind("quillervantis: answered Cancel", 0) == 0;
    }
    EXPECT_EQ(retries, 2u);
    EXPECT_EQ(cancels, 1u);
}

// PNG signature and IHDR size.
bool PngSize(const std::string& png, uint32_t* w, uint32_t* h) {
    if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0) return false;
    const auto be = [&](size_t at) {
        return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
               (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
    };
    *w = be(16);
    *h = be(20);
    return true;
}

TEST_F(HostRun, SnapshotShowsSourceAndResultSideBySide) {
    const CliResult r = RunCli(Scripted() + "--width 100 --height 50 --snapshot 3:" + Quote(dir_.Path("s.png")) + " " +
                               Quote(clip_) + " " + Quote(dir_.Path("o.y4m")));
    ASSERT_EQ(r.status, 0) << r.err;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(PngSize(ReadFile(dir_.Path("s.png")), &w, &h));
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(h, 50u);

    const CliResult beyond = RunCli(Scripted() + "--snapshot 5:" + Quote(dir_.Path("t.png")) + " " + Quote(clip_) +
                                    " " + Quote(dir_.Path("o.y4m")));
    EXPECT_EQ(beyond.status, 2);
    EXPECT_NE(beyond.err.find("frame 5 is beyond the clip (5 frames)"), std::string::npos) << beyond.err;
}

TEST_F(HostRun, SourcesLargerThanTheFilterTakesAreRefusedBeforeAnyFrame) {
    WriteFile(dir_.Path("big.y4m"), MakeY4m(1920, 1089, 1, "mono"));
    const CliResult r = RunCli(Scripted() + Quote(dir_.Path("big.y4m")) + " " + Quote(dir_.Path("o.y4m")), Env());
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
    EXPECT_NE(r.err.find("the source is 1920x1089, larger than the filter takes (1920x1088 at most)"),
              std::string::npos) << r.err;
    EXPECT_TRUE(Log().empty());  // the filter was never started
    EXPECT_FALSE(std::ifstream(dir_.Path("o.y4m")).good());
}

TEST_F(HostRun, OutputErrorsAreReported) {
    // A folder that does not exist.
    CliResult r = RunCli(Scripted() + Quote(clip_) + " " + Quote(dir_.Path("missing/o.y4m")));
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
    EXPECT_NE(r.err.find("cannot create " + dir_.Path("missing/o.y4m") + ": No such file or directory"),
              std::string::npos) << r.err;
    // A snapshot into a folder that does not exist: found before any frame.
    r = RunCli(Scripted() + "--snapshot 1:" + Quote(dir_.Path("missing/s.png")) + " " + Quote(clip_) + " " +
               Quote(dir_.Path("o.y4m")));
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
    EXPECT_NE(r.err.find("cannot write the snapshot " + dir_.Path("missing/s.png")), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(dir_.Path("o.y4m")).good());
    // A reader that closes the pipe after a few bytes.
    const std::string status = dir_.Path("status");
    const std::string command = "{ " + Quote(testing::CliBinary()) + " " + Scripted() + Quote(clip_) +
                                " - 2>" + Quote(dir_.Path("err")) + "; echo $? >" + Quote(status) +
                                "; } | head -c 10 >/dev/null";
    ASSERT_EQ(std::system(("sh -c " + Quote(command)).c_str()), 0);
    EXPECT_EQ(ReadFile(status), "1\n");
    EXPECT_NE(ReadFile(dir_.Path("err")).find("cannot write standard output: the reader closed the pipe"),
              std::string::npos) << ReadFile(dir_.Path("err"));
}

TEST_F(HostRun, CtrlCLeavesAValidFileOfTheFramesDone) {
    // The clip comes through a pipe that stays open. The host reads one frame ahead to learn
    // whether a frame is the last, so with five frames sent it processes four and waits for a
    // sixth; Ctrl-C arrives while it waits.
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    const std::string out = dir_.Path("o.y4m");
    const std::string binary = testing::CliBinary();
    const std::string plugin = ScriptedModule();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(input[0], STDIN_FILENO);
        close(input[0]);
        close(input[1]);
        execl(binary.c_str(), binary.c_str(), "--plugin", plugin.c_str(), "-q", "--width", "64", "--height", "36", "-",
              out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    const std::string clip = ReadFile(clip_);
    ASSERT_EQ(write(input[1], clip.data(), clip.size()), static_cast<ssize_t>(clip.size()));
    // Same size in and out: four frames written make the output one frame shorter than the clip.
    const size_t frameBytes = 6 + 64 * 36 * 3 / 2;
    for (int i = 0; i < 400 && ReadFile(out).size() < clip.size() - frameBytes; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGINT);
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    close(input[1]);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 130);
    const ClipInfo info = ReadBack(out);
    EXPECT_EQ(info.frames, 4);
    EXPECT_EQ(info.width, 64);
}

}  // namespace
}  // namespace qv::cli
