#include "y4m_reader.h"

#include <stdexcept>

#include "errors.h"

namespace qv::cli {

namespace {

Y4mHeader ReadHeader(InputFile& input) {
    std::string line;
    switch (input.ReadLine(&line, kMaxY4mLine)) {
        case InputFile::Line::kRead:
            break;
        case InputFile::Line::kEnd:
            throw InputError(input.Name() + ": empty input (no YUV4MPEG2 header)");
        case InputFile::Line::kCutShort:
            throw InputError(input.Name() + ": the input ends inside the YUV4MPEG2 header");
        case InputFile::Line::kTooLong:
            throw InputError(input.Name() + ": the YUV4MPEG2 header is not a line of at most " +
                             std::to_string(kMaxY4mLine) + " bytes");
    }
    try {
        return ParseY4mHeader(line);
    } catch (const InputError& e) {
        throw InputError(input.Name() + ": " + e.what());
    }
}

}  // namespace

Y4mReader::Y4mReader(InputFile input)
    : input_(std::move(input)), header_(ReadHeader(input_)), frameBytes_(FrameBytes(header_.format)) {
    if (input_.Seekable()) IndexFrames();
}

void Y4mReader::ThrowTruncated(int64_t frame, uint64_t have) const {
    throw InputError(input_.Name() + ": frame " + std::to_string(frame) + " is truncated (" +
                     std::to_string(have) + " of " + std::to_string(frameBytes_) + " bytes)");
}

bool Y4mReader::ReadFrameHeader(int64_t frame) {
    // The frame is named only in an error: a frame read allocates nothing.
    std::string line;
    const auto which = [&] { return input_.Name() + ": frame " + std::to_string(frame); };
    switch (input_.ReadLine(&line, kMaxY4mLine)) {
        case InputFile::Line::kRead:
            break;
        case InputFile::Line::kEnd:
            return false;
        case InputFile::Line::kCutShort:
            throw InputError(which() + " is truncated inside its FRAME header");
        case InputFile::Line::kTooLong:
            throw InputError(which() + " does not start with a FRAME header line");
    }
    if (!IsY4mFrameHeader(line)) throw InputError(which() + " does not start with a FRAME header");
    return true;
}

void Y4mReader::IndexFrames() {
    uint64_t offset = input_.Position();
    const uint64_t size = input_.Size();
    while (offset < size) {
        const int64_t frame = static_cast<int64_t>(frameOffsets_.size());
        input_.Seek(offset);
        ReadFrameHeader(frame);
        const uint64_t data = input_.Position();
        if (size - data < frameBytes_) ThrowTruncated(frame, size - data);
        frameOffsets_.push_back(data);
        offset = data + frameBytes_;
    }
}

int64_t Y4mReader::FrameCount() const {
    if (input_.Seekable()) return static_cast<int64_t>(frameOffsets_.size());
    return ended_ ? nextFrame_ : -1;
}

void Y4mReader::Convert(YcPixel* dst) {
    if (!converter_) converter_ = std::make_unique<YuvToHost>(header_.format);
    converter_->Convert(raw_.Frame(), dst);
}

bool Y4mReader::Read(int64_t n, YcPixel* dst) {
    if (raw_.empty()) raw_ = AlignedFrame(frameBytes_);
    if (input_.Seekable()) {
        if (n < 0 || n >= FrameCount()) return false;
        const size_t got = input_.ReadAt(frameOffsets_[static_cast<size_t>(n)], raw_.Frame(), frameBytes_);
        if (got != frameBytes_) ThrowTruncated(n, got);  // the file shrank since it was indexed
        Convert(dst);
        return true;
    }
    if (n != nextFrame_) {
        throw std::logic_error("a pipe is read in order: frame " + std::to_string(n) +
                               " asked for at frame " + std::to_string(nextFrame_));
    }
    if (ended_) return false;
    if (!ReadFrameHeader(n)) {
        ended_ = true;
        return false;
    }
    const size_t got = input_.Read(raw_.Frame(), frameBytes_);
    if (got != frameBytes_) ThrowTruncated(n, got);
    Convert(dst);
    ++nextFrame_;
    return true;
}

}  // namespace qv::cli
