// Reads raw host-pixel frames (.ycp): little-endian int16 y, cb, cr per pixel, rows back to
// back, frames back to back, no header; the size comes from the command line. Lossless: the
// samples reach the filter exactly as stored.
#pragma once

#include "byte_stream.h"
#include "frame_reader.h"

namespace qv::cli {

inline constexpr size_t kYcpBytesPerPixel = sizeof(YcPixel);

class YcpReader final : public FrameReader {
public:
    // A file whose size is not a whole number of frames is refused here (truncated last frame).
    YcpReader(InputFile input, int width, int height);

    const std::string& Name() const override { return input_.Name(); }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    bool Seekable() const override { return input_.Seekable(); }
    int64_t FrameCount() const override;
    bool Read(int64_t n, YcPixel* dst) override;

private:
    [[noreturn]] void ThrowTruncated(int64_t frame, uint64_t have) const;

    InputFile input_;
    int width_;
    int height_;
    size_t frameBytes_;
    int64_t nextFrame_ = 0;
    bool ended_ = false;
};

}  // namespace qv::cli
