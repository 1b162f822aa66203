#include "y4m_writer.h"

#include <cstring>

#include "frame_size_check.h"

namespace qv::cli {

Y4mWriter::Y4mWriter(OutputFile output, Y4mHeader header, Dither dither)
    : output_(std::move(output)), header_(std::move(header)), dither_(dither) {}

void Y4mWriter::WriteHeader(int width, int height) {
    header_.format.width = width;
    header_.format.height = height;
    const std::string line = FormatY4mHeader(header_);
    output_.Write(line.data(), line.size());
    headerWritten_ = true;
}

void Y4mWriter::Write(const YcPixel* pixels, ptrdiff_t pitchSamples, int width, int height) {
    if (!headerWritten_) {
        WriteHeader(width, height);
        converter_ = std::make_unique<HostToYuv>(header_.format, dither_);
        buffer_ = AlignedFrame(FrameBytes(header_.format), kY4mFrameMagic.size() + 1);
        std::memcpy(buffer_.LeadIn(), kY4mFrameMagic.data(), kY4mFrameMagic.size());
        buffer_.LeadIn()[kY4mFrameMagic.size()] = '\n';
    }
    CheckSameFrameSize(output_.Name(), frames_, width, height, header_.format.width, header_.format.height);
    converter_->Convert(pixels, pitchSamples, buffer_.Frame());
    output_.Write(buffer_.LeadIn(), buffer_.LeadInAndFrameBytes());
    ++frames_;
}

void Y4mWriter::Finish(int width, int height) {
    if (!headerWritten_) WriteHeader(width, height);
    output_.Close();
}

}  // namespace qv::cli
