// Writes raw host-pixel frames (.ycp), exactly as the filter left them.
#pragma once

#include <vector>

#include "byte_stream.h"
#include "frame_writer.h"

namespace qv::cli {

class YcpWriter final : public FrameWriter {
public:
    explicit YcpWriter(OutputFile output);

    const std::string& Name() const override { return output_.Name(); }
    void Write(const YcPixel* pixels, ptrdiff_t pitchSamples, int width, int height) override;
    void Finish(int width, int height) override;
    int64_t FramesWritten() const override { return frames_; }

private:
    OutputFile output_;
    int width_ = 0;
    int height_ = 0;
    int64_t frames_ = 0;
    std::vector<YcPixel> buffer_;  // the frame's rows back to back, written at once
};

}  // namespace qv::cli
