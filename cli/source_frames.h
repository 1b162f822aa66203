// The host's source frames as the filter sees them through FetchSourceFrame: any frame of a
// file, and for a pipe a small window of the frames most recently read. A pipe is read one
// frame ahead of the frame being processed, so the last frame is known before it is processed
// and the filter never starts a frame after it.
#pragma once

#include <cstdint>
#include <exception>
#include <list>
#include <string>

#include "frame_reader.h"
#include "pixel_buffer.h"

namespace qv::cli {

// Frame count a request carries while a pipe's end is not yet known: larger than any frame
// the filter can be asked about.
inline constexpr int32_t kUnknownFrameCount = INT32_MAX;

class SourceFrames {
public:
    explicit SourceFrames(FrameReader& reader);

    int Width() const { return reader_.Width(); }
    int Height() const { return reader_.Height(); }

    // Readies frame n and, when the clip has one, frame n + 1. Returns false when frame n does
    // not exist. A truncated frame found while reading ahead ends the clip before it; the
    // error waits in PendingError() until the frames before it are done. Throws InputError for
    // a frame n that cannot be read, Interrupted on Ctrl-C.
    bool Prepare(int64_t n);

    bool CountKnown() const { return count_ >= 0; }
    int64_t Count() const { return count_; }  // -1 while unknown
    // The frame count for a FrameRequest: the true count once known, else kUnknownFrameCount.
    int32_t RequestFrameCount() const;

    // FetchSourceFrame: frame n (clamped into the clip), rows back to back. The pointer stays
    // valid until at least two other frames have been fetched. A frame that a pipe has already
    // passed cannot be given: the oldest frame held is returned and Problem() says so.
    const YcPixel* Fetch(int32_t n);
    // The host keeps at least this many frames (SetSourceCacheSize).
    void KeepAtLeast(int frames);

    const std::string& Problem() const { return problem_; }
    const std::exception_ptr& PendingError() const { return pendingError_; }

private:
    struct Slot {
        int64_t frame;
        PixelBuffer pixels;
    };
    Slot* Find(int64_t frame);
    Slot& Load(int64_t frame);       // reads frame into a slot, evicting the least recently used
    bool ReadNextFromPipe();         // false at the end
    void Touch(Slot* slot);

    FrameReader& reader_;
    std::list<Slot> slots_;          // most recently used first
    size_t capacity_ = 3;            // frames n - 1, n and n + 1
    int64_t count_ = -1;
    int64_t pipeNext_ = 0;           // a pipe: next frame the reader gives
    std::exception_ptr pendingError_;
    std::string problem_;
};

}  // namespace qv::cli
