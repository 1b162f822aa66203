// Bad input of every kind ends the run with one clear line on stderr and a non-zero status,
// never a crash: malformed clips, bad option values, modules that cannot be loaded.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zimg.h>

#include "cli/cli_runner.h"

namespace qv::cli {
namespace {

using testing::CliResult;
using testing::MakeY4m;
using testing::MakeYcp;
using testing::Quote;
using testing::RunCli;
using testing::ScratchDir;
using testing::ScriptedModule;
using testing::WriteFile;

void ExpectOneLineError(const CliResult& r, const std::string& mentions, int status, const std::string& what) {
    EXPECT_TRUE(r.exited) << what << " crashed: " << r.err;
    EXPECT_EQ(r.status, status) << what << ": " << r.err;
    const auto lines = r.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << what << ": " << r.err;
    EXPECT_EQ(lines[0].rfind("quillervantis: error: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(mentions), std::string::npos) << what << ": " << lines[0];
}

TEST(CliErrors, MalformedClips) {
    ScratchDir dir;
    const std::string good = MakeY4m(16, 8, 3);
    const std::string body = good.substr(good.find('\n'));  // the frames, after the header line
    struct Case {
        std::string name;
        std::string bytes;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {"empty file", "", "empty input (no YUV4MPEG2 header)"},
        {"truncated header", "YUV4MPEG2 W16 H8 F25", "ends inside the YUV4MPEG2 header"},
        {"not y4m", "RIFF....WAVEfmt \n", "not a YUV4MPEG2 stream"},
        {"missing width", "YUV4MPEG2 H8 F25:1 C420jpeg" + body, "no frame width (W tag)"},
        {"missing height", "YUV4MPEG2 W16 F25:1" + body, "no frame height (H tag)"},
        {"zero width", "YUV4MPEG2 W0 H8" + body, "width W is zero"},
        {"zero height", "YUV4MPEG2 W16 H0" + body, "height H is zero"},
        {"absurd width", "YUV4MPEG2 W4294967297 H8" + body, "width W 4294967297 is absurd"},
        {"absurd height", "YUV4MPEG2 W16 H99999" + body, "height H 99999 is absurd"},
        {"unknown colour space", "YUV4MPEG2 W16 H8 C420xyz" + body, "unsupported colour space 'C420xyz'"},
        {"truncated last frame", good.substr(0, good.size() - 20), "frame 2 is truncated (172 of 192 bytes)"},
        {"header without frames", good.substr(0, good.find('\n') + 1), "the clip has no frames"},
        {"endless header", std::string(10000, 'Y'), "not a line of at most 4096 bytes"},
    };
    for (const Case& c : cases) {
        WriteFile(dir.Path("bad.y4m"), c.bytes);
        const CliResult file = RunCli("--plugin " + Quote(ScriptedModule()) + " " + Quote(dir.Path("bad.y4m")) + " " +
                                      Quote(dir.Path("o.y4m")));
        ExpectOneLineError(file, c.mentions, 1, c.name + " (file)");
        // The same bytes through a pipe; a truncated frame then shows only when it is reached,
        // after the frames before it were written.
        const CliResult piped = RunCli("--plugin " + Quote(ScriptedModule()) + " -q - " + Quote(dir.Path("p.y4m")),
                                       "cat " + Quote(dir.Path("bad.y4m")) + " |");
        ExpectOneLineError(piped, c.mentions, 1, c.name + " (pipe)");
    }
}

TEST(CliErrors, MalformedRawClips) {
    ScratchDir dir;
    std::string ycp = MakeYcp(8, 4, 2);
    WriteFile(dir.Path("short.ycp"), ycp.substr(0, ycp.size() - 1));
    ExpectOneLineError(RunCli("--plugin " + Quote(ScriptedModule()) + " --source-size 8x4 " +
                              Quote(dir.Path("short.ycp")) + " " + Quote(dir.Path("o.ycp"))),
                       "frame 1 is truncated (191 of 192 bytes", 1, "truncated raw frame");
    WriteFile(dir.Path("a.ycp"), ycp);
    ExpectOneLineError(RunCli("--plugin " + Quote(ScriptedModule()) + " " + Quote(dir.Path("a.ycp")) + " " +
                              Quote(dir.Path("o.ycp"))),
                       "a .ycp input needs --source-size WxH", 2, "raw clip without size");
    ExpectOneLineError(RunCli("--plugin " + Quote(ScriptedModule()) + " --source-size 99999x4 " +
                              Quote(dir.Path("a.ycp")) + " " + Quote(dir.Path("o.ycp"))),
                       "--source-size width: 99999 is out of range (1..16384)", 2, "absurd raw size");
    ExpectOneLineError(RunCli("--plugin " + Quote(ScriptedModule()) + " " + Quote(dir.Path("missing.y4m")) + " " +
                              Quote(dir.Path("o.y4m"))),
                       "cannot open " + dir.Path("missing.y4m") + ": No such file or directory", 1, "missing input");
}

TEST(CliErrors, BadOptionValues) {
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), MakeY4m(16, 8, 1));
    const std::string files = " " + Quote(dir.Path("in.y4m")) + " " + Quote(dir.Path("o.y4m"));
    struct Case {
        std::string options;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {"--width abc", "--width: 'abc' is not a whole number"},
        {"--usm 1.5", "--usm: '1.5' is not a whole number"},
        {"--usm +-5", "--usm: '+-5' is not a whole number"},
        {"--denoise 99999999999", "--denoise: 99999999999 is out of range"},
        {"--threads many", "--threads: 'many' is not a whole number"},
        {"--threads 0", "--threads: 0 is out of range (1..1024)"},
        {"--retry-device x", "--retry-device: 'x' is not a whole number"},
        {"--snapshot 3", "--snapshot: '3' is not of the form N:FILE.png"},
        {"--snapshot x:a.png", "--snapshot frame: 'x' is not a whole number"},
        {"--output-depth 7", "--output-depth: 7 is out of range (8..16)"},
        {"--output-chroma 411", "--output-chroma: '411' is not one of"},
        {"--dither fancy", "--dither: 'fancy' is not one of none, ordered, error-diffusion"},
        {"--fps 0:1", "--fps: 0 is out of range"},
        {"--source-size 8by4", "--source-size: '8by4' is not of the form WxH"},
        {"--source-size 8x4", "--source-size is for .ycp input"},
        {"--no-such-option", "no-such-option"},
    };
    for (const Case& c : cases) {
        ExpectOneLineError(RunCli("--plugin " + Quote(ScriptedModule()) + " " + c.options + files), c.mentions, 2,
                           c.options);
    }
    ExpectOneLineError(RunCli(""), "INPUT and OUTPUT are required", 2, "no arguments");
    ExpectOneLineError(RunCli(Quote(dir.Path("in.mp4")) + " " + Quote(dir.Path("o.y4m"))),
                       "must be a .y4m or .ycp file", 2, "unknown input type");
    ExpectOneLineError(RunCli(Quote(dir.Path("in.y4m")) + " " + Quote(dir.Path("o.mkv"))),
                       "must be a .y4m or .ycp file", 2, "unknown output type");
}

TEST(CliErrors, ModulesThatCannotBeLoaded) {
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), MakeY4m(16, 8, 1));
    WriteFile(dir.Path("text.auf"), "this is not a shared object\n");
    // A real shared object without GetFilterTable: the conversion library the host links.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&zimg_filter_graph_build), &info), 0);
    struct Case {
        std::string plugin;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {dir.Path("missing.auf"), "cannot load the filter module " + dir.Path("missing.auf") + ": No such file"},
        {dir.Path(""), "it is a folder"},
        {dir.Path("text.auf"), dir.Path("text.auf") + " is not a loadable filter module"},
        {info.dli_fname, "is not a filter module: it has no GetFilterTable export"},
    };
    for (const Case& c : cases) {
        for (const std::string& mode : {std::string("--info"), Quote(dir.Path("in.y4m")) + " " + Quote(dir.Path("o.y4m"))}) {
            ExpectOneLineError(RunCli("--plugin " + Quote(c.plugin) + " " + mode), c.mentions, 1, c.plugin);
        }
    }
}

}  // namespace
}  // namespace qv::cli
