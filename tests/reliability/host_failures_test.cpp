// The command-line host with the real filter, where the world fails it: modules that are not
// filter modules, output that cannot be written (a missing folder, a full disk, a reader that
// closes the pipe) and Ctrl-C in the middle of a run. Each ends with a clear message and an
// exit status, never a crash; an interrupted run leaves a valid file of every finished frame.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include "reliability/host_process.h"

namespace qv::reliability {
namespace {

constexpr int kInterrupted = 130;

// An 8-bit 4:2:0 clip with a moving pattern.
std::string SmallClip(int w, int h, int frames) {
    std::string clip = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F25:1 Ip A1:1 C420jpeg\n";
    const size_t chroma = static_cast<size_t>((w + 1) / 2) * static_cast<size_t>((h + 1) / 2);
    for (int f = 0; f < frames; ++f) {
        clip += "FRAME\n";
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) clip += static_cast<char>(16 + (x * 7 + y * 5 + f * 11) % 220);
        clip += std::string(chroma, static_cast<char>(100 + f));
        clip += std::string(chroma, static_cast<char>(150 - f));
    }
    return clip;
}

void ExpectOneErrorLine(const Exit& e, const std::string& mentions, const std::string& what) {
    EXPECT_TRUE(e.exited) << what << ": ended by signal " << e.signal << "\n" << e.err;
    EXPECT_EQ(e.status, 1) << what << "\n" << e.err;
    bool found = false;
    int errors = 0;
    for (const std::string& line : e.ErrLines()) {
        if (line.rfind("quillervantis: error: ", 0) != 0) continue;
        ++errors;
        found = found || line.find(mentions) != std::string::npos;
    }
    EXPECT_EQ(errors, 1) << what << "\n" << e.err;
    EXPECT_TRUE(found) << what << ": no error line mentions \"" << mentions << "\"\n" << e.err;
}

TEST(HostFailures, FilesThatAreNotFilterModulesAreRefusedByName) {
    Scratch s;
    WriteFile(s.Path("in.y4m"), SmallClip(16, 8, 2));
    WriteFile(s.Path("x.auf"), "this text file only has the module's file name\n");
    struct Case {
        std::string plugin;
        std::string mentions;
    };
    const Case cases[] = {
        {s.Path("x.auf"), s.Path("x.auf")},
        {TestModule("without_entry.auf"), "GetFilterTable"},
        {TestModule("null_descriptor.auf"), "descriptor"},
    };
    const std::string modes[] = {"--info", Quote(s.Path("in.y4m")) + " " + Quote(s.Path("out.y4m"))};
    for (const Case& c : cases) {
        for (const std::string& mode : modes) {
            const Exit e = RunShell(Quote(HostBinary()) + " --plugin " + Quote(c.plugin) + " " + mode, s);
            ExpectOneErrorLine(e, c.mentions, c.plugin + " " + mode);
        }
    }
}

TEST(HostFailures, AnOutputFolderThatDoesNotExist) {
    Scratch s;
    WriteFile(s.Path("in.y4m"), SmallClip(16, 8, 2));
    const std::string out = s.Path("missing/out.y4m");
    const Exit e = RunShell(Quote(HostBinary()) + " -q " + Quote(s.Path("in.y4m")) + " " + Quote(out), s);
    ExpectOneErrorLine(e, out, "missing folder");
    EXPECT_FALSE(std::filesystem::exists(s.Path("missing")));
}

// A small file system of its own, where the process may mount one (root); unmounted on the way
// out whatever happens.
class SmallDisk {
public:
    SmallDisk(const std::string& dir, const char* size) : dir_(dir) {
        std::filesystem::create_directory(dir_);
        const std::string options = std::string("size=") + size;
        mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

TEST(HostFailures, AFullDiskStopsTheRunWithAMessage) {
    Scratch s;
    // The sample at its own size: each frame 345,606 bytes, so a 1 MiB disk holds three.
    const std::string sizes = " --width 640 --height 360 ";
    // Standard output on a device that is always full.
    Exit e = RunShell(Quote(HostBinary()) + " -q" + sizes + Quote(SampleClip()) + " - >/dev/full", s);
    ExpectOneErrorLine(e, "full", "/dev/full");

    SmallDisk disk(s.Path("disk"), "1m");
    if (!disk.mounted()) {
        GTEST_SKIP() << "no small file system can be mounted here (not root); /dev/full stood in";
    }
    const std::string out = s.Path("disk/out.y4m");
    e = RunShell(Quote(HostBinary()) + " -q" + sizes + Quote(SampleClip()) + " " + Quote(out), s);
    ExpectOneErrorLine(e, out, "tmpfs");
    ExpectOneErrorLine(e, "full", "tmpfs");
    // The frame cut by the full disk is dropped: the file holds whole frames only.
    const std::string header = "YUV4MPEG2 W640 H360";
    constexpr size_t kFrameBytes = 6 + 640 * 360 * 3 / 2;
    std::ifstream file(out, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(file.good());
    const size_t size = static_cast<size_t>(file.tellg());
    file.seekg(0);
    std::string line;
    std::getline(file, line);
    EXPECT_EQ(line.rfind(header, 0), 0u) << line;
    const size_t frames = size - (line.size() + 1);
    EXPECT_GT(size, line.size() + 1);
    EXPECT_EQ(frames % kFrameBytes, 0u) << size << " bytes";
}

TEST(HostFailures, AReaderThatClosesThePipeEndsTheRunWithAMessage) {
    Scratch s;
    const std::string status = s.Path("status");
    const std::string command = "{ " + Quote(HostBinary()) + " -q --width 640 --height 360 " + Quote(SampleClip()) +
                                " - ; echo $? >" + Quote(status) + "; } | head -c 1000 >/dev/null";
    const Exit shell = RunShell(command, s);
    ASSERT_TRUE(shell.exited);
    // The host, not the shell, ends the run: status 1 and the pipe named, not a SIGPIPE death.
    EXPECT_EQ(ReadFile(status), "1\n") << shell.err;
    bool named = false;
    for (const std::string& line : shell.ErrLines()) named = named || line.find("pipe") != std::string::npos;
    EXPECT_TRUE(named) << shell.err;
}

TEST(HostFailures, RawSamplesOutsideTheHostRangeAreFilteredIntoIt) {
    // A raw clip holds whatever 16-bit values its maker wrote; the host passes them on as they
    // are, and the filter takes them in clamped.
    Scratch s;
    constexpr int kW = 40, kH = 24, kFrames = 2;
    std::string raw;
    uint32_t state = 12345;
    for (int i = 0; i < kW * kH * 3 * kFrames; ++i) {
        state = state * 1664525u + 1013904223u;
        const int16_t extremes[] = {INT16_MIN, INT16_MAX, -1, 4097, -2049, 2049};
        const int16_t v = (state >> 28) < 6 ? extremes[state >> 28] : static_cast<int16_t>(state >> 16);
        raw += static_cast<char>(v & 0xFF);
        raw += static_cast<char>((v >> 8) & 0xFF);
    }
    WriteFile(s.Path("in.ycp"), raw);
    for (const char* sizes : {"--width 40 --height 32", "--width 73 --height 41", "--width 32 --height 32"}) {
        const Exit e = RunShell(Quote(HostBinary()) + " -q --source-size 40x24 " + sizes + " " + Quote(s.Path("in.ycp")) +
                                    " " + Quote(s.Path("out.ycp")), s);
        ASSERT_EQ(e.status, 0) << sizes << "\n" << e.err;
        const std::string out = ReadFile(s.Path("out.ycp"));
        ASSERT_FALSE(out.empty()) << sizes;
        ASSERT_EQ(out.size() % 6, 0u) << sizes;
        for (size_t i = 0; i < out.size(); i += 2) {
            const int v = static_cast<int16_t>(static_cast<uint8_t>(out[i]) | (static_cast<uint8_t>(out[i + 1]) << 8));
            const bool luma = (i / 2) % 3 == 0;
            ASSERT_TRUE(luma ? (v >= 0 && v <= 4096) : (v >= -2048 && v <= 2048))
                << sizes << ": sample " << i / 2 << " is " << v;
        }
    }
}

TEST(HostFailures, CtrlCMidRunLeavesAValidFileOfEveryFinishedFrame) {
    Scratch s;
    const std::string out = s.Path("out.y4m");
    const std::string err = s.Path("err");
    // Upscaling the sample to 1920x1080 makes each frame take long enough to interrupt.
    const pid_t pid = StartHost({"-q", "--width", "1920", "--height", "1080", SampleClip(), out}, err);
    const uint64_t frameBytes = 6 + 1920 * 1080 * 3 / 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    // As soon as the first frame is out, Ctrl-C.
    while (FileSize(out) < frameBytes && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(kill(pid, SIGINT), 0);
    const Exit e = WaitFor(pid, err);
    ASSERT_TRUE(e.exited) << "ended by signal " << e.signal << "\n" << e.err;
    ASSERT_EQ(e.status, kInterrupted) << e.err;

    const Y4mFile file = ReadY4m(out);
    ASSERT_TRUE(file.valid) << file.problem;
    EXPECT_EQ(file.width, 1920);
    EXPECT_EQ(file.height, 1080);
    EXPECT_GE(file.frames, 1);
    EXPECT_LT(file.frames, 10) << "the run ended before Ctrl-C could interrupt it";
    // The host says how many frames it finished; all of them are in the file.
    std::string done = " ";
    done += std::to_string(file.frames);
    done += " frames done";
    EXPECT_NE(e.err.find(done), std::string::npos) << e.err;

    // The finished frames are the ones a complete run makes of the same source frames.
    const std::string clip = ReadFile(SampleClip());
    const size_t headerEnd = clip.find('\n') + 1;
    const size_t sourceFrameBytes = 6 + 640 * 360 * 3 / 2;
    WriteFile(s.Path("first.y4m"), clip.substr(0, headerEnd + static_cast<size_t>(file.frames) * sourceFrameBytes));
    const Exit whole = RunShell(Quote(HostBinary()) + " -q --width 1920 --height 1080 " + Quote(s.Path("first.y4m")) +
                                    " " + Quote(s.Path("whole.y4m")), s);
    ASSERT_EQ(whole.status, 0) << whole.err;
    const Y4mFile reference = ReadY4m(s.Path("whole.y4m"));
    ASSERT_EQ(reference.frames, file.frames);
    for (int64_t f = 0; f < file.frames; ++f) {
        EXPECT_TRUE(file.frameBytes[static_cast<size_t>(f)] == reference.frameBytes[static_cast<size_t>(f)])
            << "frame " << f;
    }

    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the file was checked by this test's reader only";
    const Exit check = RunShell("ffmpeg -nostdin -v error -i " + Quote(out) + " -f framemd5 " + Quote(s.Path("md5")), s);
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_TRUE(check.ErrLines().empty()) << check.err;
    // framemd5 writes one line per decoded frame after its '#' comment lines.
    int decoded = 0;
    std::istringstream md5(ReadFile(s.Path("md5")));
    for (std::string line; std::getline(md5, line);) decoded += !line.empty() && line[0] != '#';
    EXPECT_EQ(decoded, file.frames);
}

}  // namespace
}  // namespace qv::reliability
