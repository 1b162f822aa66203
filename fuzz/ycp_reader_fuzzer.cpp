// The raw host-pixel reader: a size from the first bytes (as --source-size gives it), then the
// rest as a clip from a file or a pipe. Every frame read must be the input's bytes unchanged,
// and a file is either whole frames or refused.
#include <cstdint>
#include <cstring>
#include <memory>

#include "errors.h"
#include "fuzz_input.h"
#include "ycp_reader.h"

namespace {

using namespace qv::cli;

constexpr int64_t kMaxFrames = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int width = 1 + data[0] % 64;
    const int height = 1 + data[1] % 64;
    const bool asPipe = (data[2] & 1) != 0;
    data += 3;
    size -= 3;
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * kYcpBytesPerPixel;
    int fd = asPipe ? qv::fuzz::FilledPipe(data, size) : -1;
    if (fd < 0) fd = qv::fuzz::MemoryFile(data, size);
    bool refused = false;
    int64_t frames = 0;
    try {
        YcpReader reader(InputFile::FromDescriptor(fd, "fuzz input"), width, height);
        std::unique_ptr<qv::YcPixel[]> frame(new qv::YcPixel[static_cast<size_t>(width) * height]);
        for (; frames < kMaxFrames && reader.Read(frames, frame.get()); ++frames) {
            if (std::memcmp(frame.get(), data + frames * frameBytes, frameBytes) != 0) {
                qv::fuzz::Broken("a raw frame did not come back as stored");
            }
        }
        if (reader.FrameCount() >= 0 && reader.FrameCount() != frames && frames < kMaxFrames) {
            qv::fuzz::Broken("the frame count disagrees with the frames read");
        }
    } catch (const InputError&) {
        refused = true;
    }
    const bool whole = size % frameBytes == 0;
    if (whole && refused) qv::fuzz::Broken("a clip of whole frames was refused");
    if (!whole && !refused && frames < kMaxFrames) qv::fuzz::Broken("a clip with a cut frame was accepted");
    if (!refused && frames < kMaxFrames && static_cast<size_t>(frames) != size / frameBytes) {
        qv::fuzz::Broken("not every frame of the clip was read");
    }
    return 0;
}
