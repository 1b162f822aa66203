// Reads YUV4MPEG2 from a file (random access through an index of frame offsets) or a pipe
// (in order), converting each frame to host pixels.
#pragma once

#include <memory>
#include <vector>

#include "aligned_frame.h"
#include "byte_stream.h"
#include "frame_reader.h"
#include "y4m_header.h"
#include "yuv_converter.h"

namespace qv::cli {

class Y4mReader final : public FrameReader {
public:
    // Reads and checks the stream header; a file is indexed at once, so a truncated last frame
    // is reported here. Throws InputError. Frame buffers are allocated by the first Read, so a
    // caller can refuse a size it cannot take before any memory is spent on it.
    explicit Y4mReader(InputFile input);

    const Y4mHeader& Header() const { return header_; }

    const std::string& Name() const override { return input_.Name(); }
    int Width() const override { return header_.format.width; }
    int Height() const override { return header_.format.height; }
    bool Seekable() const override { return input_.Seekable(); }
    int64_t FrameCount() const override;
    bool Read(int64_t n, YcPixel* dst) override;

private:
    void IndexFrames();
    bool ReadFrameHeader(int64_t frame);  // false at the clean end of the input
    [[noreturn]] void ThrowTruncated(int64_t frame, uint64_t have) const;

    InputFile input_;
    Y4mHeader header_;
    size_t frameBytes_ = 0;
    std::vector<uint64_t> frameOffsets_;  // a file: where each frame's samples start
    int64_t nextFrame_ = 0;               // a pipe: the frame the stream is at
    bool ended_ = false;
    void Convert(YcPixel* dst);

    AlignedFrame raw_;
    std::unique_ptr<YuvToHost> converter_;
};

}  // namespace qv::cli
