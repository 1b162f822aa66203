// Writes YUV4MPEG2 to a file or a pipe, converting host pixels to the stream's chroma layout
// and depth. The header is written with the first frame, whose size it states.
#pragma once

#include <memory>

#include "aligned_frame.h"
#include "byte_stream.h"
#include "frame_writer.h"
#include "y4m_header.h"
#include "yuv_converter.h"

namespace qv::cli {

class Y4mWriter final : public FrameWriter {
public:
    // `header` gives everything but the size: rate, interlace, aspect, extension tags, chroma
    // layout, depth and range.
    Y4mWriter(OutputFile output, Y4mHeader header, Dither dither);

    const std::string& Name() const override { return output_.Name(); }
    void Write(const YcPixel* pixels, ptrdiff_t pitchSamples, int width, int height) override;
    void Finish(int width, int height) override;
    int64_t FramesWritten() const override { return frames_; }

private:
    void WriteHeader(int width, int height);

    OutputFile output_;
    Y4mHeader header_;
    Dither dither_;
    bool headerWritten_ = false;
    int64_t frames_ = 0;
    std::unique_ptr<HostToYuv> converter_;
    AlignedFrame buffer_;  // "FRAME\n" and the samples, written at once
};

}  // namespace qv::cli
