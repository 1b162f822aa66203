// Conversion between planar YUV frames and the host's pixels (YcPixel: y 0..4096 for nominal
// black..white, cb and cr -2048..2048 for the nominal chroma range), through zimg: chroma is
// resampled to 4:4:4 and back with its siting, depth changes are dithered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/host_records.h"
#include "host_samples.h"
#include "yuv_format.h"

namespace qv::cli {

enum class Dither { kNone, kOrdered, kErrorDiffusion };

class ZimgGraph;
class RowRing;

// Planar frame (planes back to back, as in a Y4M frame) to host pixels.
class YuvToHost {
public:
    explicit YuvToHost(const YuvFormat& format);
    ~YuvToHost();
    YuvToHost(const YuvToHost&) = delete;
    YuvToHost& operator=(const YuvToHost&) = delete;

    // dst: width x height pixels, rows back to back.
    void Convert(const uint8_t* frame, YcPixel* dst);

private:
    YuvFormat format_;
    std::unique_ptr<ZimgGraph> graph_;
    std::unique_ptr<RowRing> source_;  // rows of the frame, padded to whole chroma blocks
    std::unique_ptr<RowRing> floats_;  // rows at 4:4:4 float
};

// Host pixels to a planar frame.
class HostToYuv {
public:
    HostToYuv(const YuvFormat& format, Dither dither);
    ~HostToYuv();
    HostToYuv(const HostToYuv&) = delete;
    HostToYuv& operator=(const HostToYuv&) = delete;

    // src: width x height pixels, rows `pitchSamples` 16-bit samples apart. frame: planes back
    // to back, FrameBytes(format) bytes.
    void Convert(const YcPixel* src, ptrdiff_t pitchSamples, uint8_t* frame);

private:
    YuvFormat format_;
    std::unique_ptr<ZimgGraph> graph_;
    std::unique_ptr<RowRing> floats_;
    std::unique_ptr<RowRing> target_;
};

}  // namespace qv::cli
