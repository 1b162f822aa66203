// Where the host's source frames come from: a clip read frame by frame as host pixels.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_records.h"

namespace qv::cli {

class FrameReader {
public:
    virtual ~FrameReader() = default;

    virtual const std::string& Name() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // A file: frames can be read in any order, and FrameCount() is known from the start.
    virtual bool Seekable() const = 0;
    // Frames in the clip; -1 while a pipe has not reached its end.
    virtual int64_t FrameCount() const = 0;

    // Reads frame n into dst (Width() x Height() pixels, rows back to back). A file reads any
    // n below FrameCount(); a pipe reads only the frame after the last one read and returns
    // false at the clean end of the stream. Throws InputError for a truncated or malformed
    // frame, Interrupted on Ctrl-C.
    virtual bool Read(int64_t n, YcPixel* dst) = 0;
};

}  // namespace qv::cli
