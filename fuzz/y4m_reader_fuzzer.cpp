// The YUV4MPEG2 reader: the header line parser on its own (a header it accepts must survive
// being written and read again), then the whole input as a clip, from a file and from a pipe,
// every frame converted to host pixels and back as the host does.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"
#include "fuzz_input.h"
#include "host/sliders.h"
#include "y4m_header.h"
#include "y4m_reader.h"
#include "yuv_converter.h"

namespace {

using namespace qv::cli;

// Frames read from one input at most; enough to reach every path of the frame loop.
constexpr int64_t kMaxFrames = 64;

bool SameFormat(const YuvFormat& a, const YuvFormat& b) {
    return a.width == b.width && a.height == b.height && a.chroma == b.chroma && a.depth == b.depth &&
           a.fullRange == b.fullRange;
}

void HeaderRoundTrip(std::string_view text) {
    const std::string_view line = text.substr(0, text.find('\n'));
    (void)IsY4mFrameHeader(line);
    Y4mHeader header;
    try {
        header = ParseY4mHeader(line);
    } catch (const InputError&) {
        return;
    }
    std::string written = FormatY4mHeader(header);
    if (written.empty() || written.back() != '\n') qv::fuzz::Broken("a written header ends without its newline");
    written.pop_back();
    Y4mHeader again;
    try {
        again = ParseY4mHeader(written);
    } catch (const InputError&) {
        qv::fuzz::Broken("a header the reader accepted was written so that it no longer reads");
    }
    if (!SameFormat(header.format, again.format)) qv::fuzz::Broken("a written header reads back as another format");
    if (!header.frameRate.empty() && header.frameRate != again.frameRate) {
        qv::fuzz::Broken("a written header changed the frame rate");
    }
}

void ReadClip(const uint8_t* data, size_t size, bool asPipe, bool backwards) {
    int fd = asPipe ? qv::fuzz::FilledPipe(data, size) : -1;
    if (fd < 0) fd = qv::fuzz::MemoryFile(data, size);
    try {
        Y4mReader reader(InputFile::FromDescriptor(fd, "fuzz input"));
        // The host refuses larger sources before it reads a frame.
        if (reader.Width() > qv::host::kMaxRequestWidth || reader.Height() > qv::host::kMaxRequestHeight) return;
        const size_t pixels = static_cast<size_t>(reader.Width()) * static_cast<size_t>(reader.Height());
        std::unique_ptr<qv::YcPixel[]> frame(new qv::YcPixel[pixels]);
        std::unique_ptr<HostToYuv> back;
        std::vector<uint8_t> planes;
        const int64_t count = reader.Seekable() ? std::min(reader.FrameCount(), kMaxFrames) : kMaxFrames;
        for (int64_t i = 0; i < count; ++i) {
            const int64_t n = backwards && reader.Seekable() ? count - 1 - i : i;
            if (!reader.Read(n, frame.get())) break;
            if (!back) {
                back = std::make_unique<HostToYuv>(reader.Header().format, Dither::kErrorDiffusion);
                planes.resize(FrameBytes(reader.Header().format));
            }
            back->Convert(frame.get(), 3 * static_cast<ptrdiff_t>(reader.Width()), planes.data());
        }
        if (reader.Seekable() && reader.Read(reader.FrameCount(), frame.get())) {
            qv::fuzz::Broken("a frame past the end of the file was read");
        }
    } catch (const InputError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    HeaderRoundTrip(std::string_view(reinterpret_cast<const char*>(data), size));
    ReadClip(data, size, (mode & 1) != 0, (mode & 2) != 0);
    return 0;
}
