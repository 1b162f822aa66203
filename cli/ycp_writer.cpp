#include "ycp_writer.h"

#include <cstring>

#include "frame_size_check.h"

namespace qv::cli {

YcpWriter::YcpWriter(OutputFile output) : output_(std::move(output)) {}

void YcpWriter::Write(const YcPixel* pixels, ptrdiff_t pitchSamples, int width, int height) {
    if (frames_ == 0) {
        width_ = width;
        height_ = height;
        buffer_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    }
    CheckSameFrameSize(output_.Name(), frames_, width, height, width_, height_);
    const auto* samples = reinterpret_cast<const int16_t*>(pixels);
    for (int y = 0; y < height; ++y) {
        std::memcpy(buffer_.data() + static_cast<size_t>(y) * static_cast<size_t>(width),
                    samples + pitchSamples * y, static_cast<size_t>(width) * sizeof(YcPixel));
    }
    output_.Write(buffer_.data(), buffer_.size() * sizeof(YcPixel));
    ++frames_;
}

void YcpWriter::Finish(int, int) { output_.Close(); }

}  // namespace qv::cli
