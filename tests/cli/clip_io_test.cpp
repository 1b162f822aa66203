// Reading and writing clips: .ycp without loss, Y4M from files (random access) and pipes
// (in order, one frame ahead), truncated frames, and the frame window FetchSourceFrame serves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "cli/cli_runner.h"
#include "errors.h"
#include "source_frames.h"
#include "y4m_reader.h"
#include "y4m_writer.h"
#include "ycp_reader.h"
#include "ycp_writer.h"

namespace qv::cli {
namespace {

using testing::MakeY4m;
using testing::MakeYcp;
using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// Feeds `bytes` into a pipe from a thread, as an upstream program would.
class PipeFeed {
public:
    explicit PipeFeed(std::string bytes) : bytes_(std::move(bytes)) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        readFd_ = fds[0];
        writer_ = std::thread([this, fd = fds[1]] {
            size_t done = 0;
            while (done < bytes_.size()) {
                const ssize_t n = write(fd, bytes_.data() + done, bytes_.size() - done);
                if (n <= 0) break;  // the reader gave up
                done += static_cast<size_t>(n);
            }
            close(fd);
        });
    }
    ~PipeFeed() { writer_.join(); }
    InputFile Input() { return InputFile::FromDescriptor(readFd_, "pipe"); }

private:
    std::string bytes_;
    int readFd_ = -1;
    std::thread writer_;
};

std::vector<YcPixel> Pixels(const std::string& ycp, int width, int height, int frame) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<YcPixel> px(n);
    std::memcpy(px.data(), ycp.data() + n * sizeof(YcPixel) * static_cast<size_t>(frame), n * sizeof(YcPixel));
    return px;
}

bool Same(const std::vector<YcPixel>& a, const YcPixel* b) {
    return std::memcmp(a.data(), b, a.size() * sizeof(YcPixel)) == 0;
}

TEST(YcpClip, WriteThenReadIsLossless) {
    ScratchDir dir;
    const int w = 13, h = 5, frames = 4;
    const std::string clip = MakeYcp(w, h, frames, 11);
    // Written from an edit buffer whose rows are longer than the frame.
    const int pitchPixels = 20;
    {
        YcpWriter writer(OutputFile::Open(dir.Path("a.ycp")));
        for (int f = 0; f < frames; ++f) {
            const auto px = Pixels(clip, w, h, f);
            std::vector<YcPixel> edit(static_cast<size_t>(pitchPixels * h), YcPixel{-1, -1, -1});
            for (int y = 0; y < h; ++y) std::memcpy(&edit[static_cast<size_t>(y * pitchPixels)], &px[static_cast<size_t>(y * w)], static_cast<size_t>(w) * sizeof(YcPixel));
            writer.Write(edit.data(), 3 * pitchPixels, w, h);
        }
        writer.Finish(w, h);
    }
    EXPECT_EQ(ReadFile(dir.Path("a.ycp")), clip);
    YcpReader reader(InputFile::Open(dir.Path("a.ycp")), w, h);
    EXPECT_EQ(reader.FrameCount(), frames);
    std::vector<YcPixel> px(static_cast<size_t>(w * h));
    for (int f : {3, 0, 2, 1}) {  // any order from a file
        ASSERT_TRUE(reader.Read(f, px.data()));
        EXPECT_TRUE(Same(Pixels(clip, w, h, f), px.data())) << f;
    }
}

TEST(YcpClip, TruncatedLastFrameIsRefused) {
    ScratchDir dir;
    std::string clip = MakeYcp(4, 2, 3);
    clip.resize(clip.size() - 7);
    WriteFile(dir.Path("t.ycp"), clip);
    try {
        YcpReader reader(InputFile::Open(dir.Path("t.ycp")), 4, 2);
        FAIL() << "accepted a truncated clip";
    } catch (const InputError& e) {
        EXPECT_NE(std::string(e.what()).find("frame 2 is truncated (41 of 48 bytes"), std::string::npos) << e.what();
    }
    PipeFeed feed(clip);
    YcpReader piped(feed.Input(), 4, 2);
    std::vector<YcPixel> px(8);
    EXPECT_TRUE(piped.Read(0, px.data()));
    EXPECT_TRUE(piped.Read(1, px.data()));
    EXPECT_THROW(piped.Read(2, px.data()), InputError);
}

TEST(Y4mClip, FileAndPipeGiveTheSameFrames) {
    ScratchDir dir;
    const std::string clip = MakeY4m(18, 10, 5, "420mpeg2", 10, 5);
    WriteFile(dir.Path("c.y4m"), clip);
    Y4mReader file(InputFile::Open(dir.Path("c.y4m")));
    ASSERT_TRUE(file.Seekable());
    EXPECT_EQ(file.FrameCount(), 5);
    PipeFeed feed(clip);
    Y4mReader pipe(feed.Input());
    EXPECT_FALSE(pipe.Seekable());
    EXPECT_EQ(pipe.FrameCount(), -1);
    std::vector<YcPixel> a(180), b(180), first(180);
    for (int f = 0; f < 5; ++f) {
        ASSERT_TRUE(pipe.Read(f, a.data()));
        ASSERT_TRUE(file.Read(f, b.data()));
        EXPECT_EQ(std::memcmp(a.data(), b.data(), sizeof(YcPixel) * 180), 0) << f;
        if (f == 0) first = a;
    }
    EXPECT_FALSE(pipe.Read(5, a.data()));
    EXPECT_EQ(pipe.FrameCount(), 5);
    ASSERT_TRUE(file.Read(0, b.data()));  // back to the start: random access
    EXPECT_EQ(std::memcmp(first.data(), b.data(), sizeof(YcPixel) * 180), 0);
}

TEST(Y4mClip, FrameHeadersMayCarryParameters) {
    ScratchDir dir;
    std::string clip = MakeY4m(4, 2, 2);
    const size_t second = clip.find("FRAME\n", clip.find("FRAME\n") + 1);
    clip.replace(second, 6, "FRAME Ib XFOO=1\n");
    WriteFile(dir.Path("p.y4m"), clip);
    Y4mReader reader(InputFile::Open(dir.Path("p.y4m")));
    EXPECT_EQ(reader.FrameCount(), 2);
}

TEST(Y4mClip, DamagedFramesAreNamed) {
    ScratchDir dir;
    const std::string clip = MakeY4m(8, 4, 3);  // 48-byte frames
    struct Case {
        std::string bytes;
        const char* mentions;
    };
    const Case cases[] = {
        {clip.substr(0, clip.size() - 5), "frame 2 is truncated (43 of 48 bytes)"},
        {clip.substr(0, clip.size() - 48 - 3), "frame 2 is truncated inside its FRAME header"},
        {clip + "GARBAGE\n", "frame 3 does not start with a FRAME header"},
        {clip.substr(0, clip.find('\n')), "ends inside the YUV4MPEG2 header"},
    };
    for (const Case& c : cases) {
        WriteFile(dir.Path("d.y4m"), c.bytes);
        try {
            Y4mReader reader(InputFile::Open(dir.Path("d.y4m")));
            ADD_FAILURE() << "accepted: " << c.mentions;
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
        }
    }
}

TEST(Y4mClip, WriterOutputReadsBackAtSixteenBitsExactly) {
    ScratchDir dir;
    const int w = 9, h = 4;
    const std::string ycp = MakeYcp(w, h, 3, 2);
    Y4mHeader header;
    header.format.chroma = Chroma::k444;
    header.format.depth = 16;
    header.frameRate = "24:1";
    {
        Y4mWriter writer(OutputFile::Open(dir.Path("o.y4m")), header, Dither::kErrorDiffusion);
        for (int f = 0; f < 3; ++f) writer.Write(Pixels(ycp, w, h, f).data(), 3 * w, w, h);
        EXPECT_THROW(writer.Write(Pixels(ycp, w, h, 0).data(), 3 * w, w, h - 1), OutputError);
        writer.Finish(w, h);
    }
    Y4mReader reader(InputFile::Open(dir.Path("o.y4m")));
    EXPECT_EQ(reader.Header().frameRate, "24:1");
    EXPECT_EQ(reader.Width(), w);
    ASSERT_EQ(reader.FrameCount(), 3);
    std::vector<YcPixel> px(static_cast<size_t>(w * h));
    for (int f = 0; f < 3; ++f) {
        ASSERT_TRUE(reader.Read(f, px.data()));
        EXPECT_TRUE(Same(Pixels(ycp, w, h, f), px.data())) << f;
    }
}

TEST(Y4mClip, AnEmptyRunStillLeavesAValidStream) {
    ScratchDir dir;
    Y4mHeader header;
    {
        Y4mWriter writer(OutputFile::Open(dir.Path("e.y4m")), header, Dither::kNone);
        writer.Finish(320, 240);
    }
    Y4mReader reader(InputFile::Open(dir.Path("e.y4m")));
    EXPECT_EQ(reader.Width(), 320);
    EXPECT_EQ(reader.Height(), 240);
    EXPECT_EQ(reader.FrameCount(), 0);
}

// --- The frames the host serves the filter -------------------------------------------------

TEST(SourceFrames, APipeIsReadOneFrameAheadSoTheLastFrameIsKnownInTime) {
    const int w = 6, h = 2, frames = 4;
    const std::string ycp = MakeYcp(w, h, frames, 9);
    PipeFeed feed(ycp);
    YcpReader reader(feed.Input(), w, h);
    SourceFrames source(reader);
    for (int n = 0; n < frames; ++n) {
        ASSERT_TRUE(source.Prepare(n));
        if (n < frames - 1) {
            // Frame n + 1 was read: the filter may render it ahead; the end is still unknown.
            EXPECT_EQ(source.RequestFrameCount(), kUnknownFrameCount) << n;
        } else {
            // Reading ahead of the last frame found the end: the count is true before the last
            // frame is processed, so the filter never renders past the clip.
            EXPECT_EQ(source.RequestFrameCount(), frames) << n;
        }
        // What the filter fetches while processing frame n: n, and n + 1 ahead.
        EXPECT_TRUE(Same(Pixels(ycp, w, h, n), source.Fetch(n))) << n;
        if (n + 1 < frames) {
            EXPECT_TRUE(Same(Pixels(ycp, w, h, n + 1), source.Fetch(n + 1))) << n;
        }
        EXPECT_TRUE(Same(Pixels(ycp, w, h, n), source.Fetch(n))) << n;  // n is still held
    }
    EXPECT_FALSE(source.Prepare(frames));
    EXPECT_TRUE(source.Problem().empty());
    // Past the end: the last frame, as an editor clamps.
    EXPECT_TRUE(Same(Pixels(ycp, w, h, frames - 1), source.Fetch(frames + 5)));
    // Long gone from a pipe: reported, never a null pointer.
    EXPECT_NE(source.Fetch(0), nullptr);
    EXPECT_NE(source.Problem().find("already passed"), std::string::npos);
}

TEST(SourceFrames, ATruncatedFrameOnAPipeEndsTheClipAfterTheFramesBeforeIt) {
    const int w = 4, h = 2;
    std::string ycp = MakeYcp(w, h, 3, 4);
    ycp.resize(ycp.size() - 10);
    PipeFeed feed(ycp);
    YcpReader reader(feed.Input(), w, h);
    SourceFrames source(reader);
    ASSERT_TRUE(source.Prepare(0));
    EXPECT_FALSE(source.PendingError());
    ASSERT_TRUE(source.Prepare(1));  // reading ahead found frame 2 cut short
    EXPECT_EQ(source.RequestFrameCount(), 2);
    ASSERT_TRUE(source.PendingError());
    EXPECT_FALSE(source.Prepare(2));
    try {
        std::rethrow_exception(source.PendingError());
    } catch (const InputError& e) {
        EXPECT_NE(std::string(e.what()).find("frame 2 is truncated"), std::string::npos);
    }
}

TEST(SourceFrames, AFileIsServedInAnyOrderWithinTheCache) {
    ScratchDir dir;
    const int w = 3, h = 3, frames = 6;
    const std::string ycp = MakeYcp(w, h, frames, 5);
    WriteFile(dir.Path("f.ycp"), ycp);
    YcpReader reader(InputFile::Open(dir.Path("f.ycp")), w, h);
    SourceFrames source(reader);
    EXPECT_EQ(source.RequestFrameCount(), frames);
    for (int n : {5, 2, 2, 0, 4, 1, 3, 5}) {
        EXPECT_TRUE(Same(Pixels(ycp, w, h, n), source.Fetch(n))) << n;
    }
    // The two most recent frames stay where they were handed out.
    const YcPixel* a = source.Fetch(1);
    const YcPixel* b = source.Fetch(2);
    EXPECT_EQ(source.Fetch(1), a);
    EXPECT_EQ(source.Fetch(2), b);
    EXPECT_TRUE(source.Problem().empty());
}

}  // namespace
}  // namespace qv::cli
