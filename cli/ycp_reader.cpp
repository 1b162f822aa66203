#include "ycp_reader.h"

#include <stdexcept>

#include "errors.h"

namespace qv::cli {

YcpReader::YcpReader(InputFile input, int width, int height)
    : input_(std::move(input)),
      width_(width),
      height_(height),
      frameBytes_(static_cast<size_t>(width) * static_cast<size_t>(height) * kYcpBytesPerPixel) {
    if (input_.Seekable() && input_.Size() % frameBytes_ != 0) {
        ThrowTruncated(static_cast<int64_t>(input_.Size() / frameBytes_), input_.Size() % frameBytes_);
    }
}

void YcpReader::ThrowTruncated(int64_t frame, uint64_t have) const {
    throw InputError(input_.Name() + ": frame " + std::to_string(frame) + " is truncated (" +
                     std::to_string(have) + " of " + std::to_string(frameBytes_) + " bytes of a " +
                     std::to_string(width_) + "x" + std::to_string(height_) + " frame)");
}

int64_t YcpReader::FrameCount() const {
    if (input_.Seekable()) return static_cast<int64_t>(input_.Size() / frameBytes_);
    return ended_ ? nextFrame_ : -1;
}

bool YcpReader::Read(int64_t n, YcPixel* dst) {
    if (input_.Seekable()) {
        if (n < 0 || n >= FrameCount()) return false;
        const size_t got = input_.ReadAt(static_cast<uint64_t>(n) * frameBytes_, dst, frameBytes_);
        if (got != frameBytes_) ThrowTruncated(n, got);
        return true;
    }
    if (n != nextFrame_) {
        throw std::logic_error("a pipe is read in order: frame " + std::to_string(n) +
                               " asked for at frame " + std::to_string(nextFrame_));
    }
    if (ended_) return false;
    const size_t got = input_.Read(dst, frameBytes_);
    if (got == 0) {
        ended_ = true;
        return false;
    }
    if (got != frameBytes_) ThrowTruncated(n, got);
    ++nextFrame_;
    return true;
}

}  // namespace qv::cli
