#include "source_frames.h"

#include <algorithm>

#include "errors.h"

namespace qv::cli {

SourceFrames::SourceFrames(FrameReader& reader) : reader_(reader) {
    if (reader_.Seekable()) count_ = reader_.FrameCount();
}

int32_t SourceFrames::RequestFrameCount() const {
    if (count_ < 0) return kUnknownFrameCount;
    return static_cast<int32_t>(std::min<int64_t>(count_, kUnknownFrameCount));
}

SourceFrames::Slot* SourceFrames::Find(int64_t frame) {
    for (Slot& s : slots_) {
        if (s.frame == frame) return &s;
    }
    return nullptr;
}

void SourceFrames::Touch(Slot* slot) {
    for (auto it = slots_.begin(); it != slots_.end(); ++it) {
        if (&*it == slot) {
            slots_.splice(slots_.begin(), slots_, it);
            return;
        }
    }
}

SourceFrames::Slot& SourceFrames::Load(int64_t frame) {
    const size_t pixels = static_cast<size_t>(reader_.Width()) * static_cast<size_t>(reader_.Height());
    if (slots_.size() >= capacity_) {
        slots_.splice(slots_.begin(), slots_, std::prev(slots_.end()));  // reuse the oldest buffer
    } else {
        slots_.push_front(Slot{-1, PixelBuffer(pixels)});
    }
    Slot& slot = slots_.front();
    slot.frame = -1;
    if (!reader_.Read(frame, slot.pixels.data())) {
        slots_.splice(slots_.end(), slots_, slots_.begin());
        throw std::logic_error("frame " + std::to_string(frame) + " is not in the clip");
    }
    slot.frame = frame;
    return slot;
}

bool SourceFrames::ReadNextFromPipe() {
    if (count_ >= 0 && pipeNext_ >= count_) return false;
    const size_t pixels = static_cast<size_t>(reader_.Width()) * static_cast<size_t>(reader_.Height());
    PixelBuffer buffer;
    std::list<Slot>::iterator reused = slots_.end();
    if (slots_.size() >= capacity_) {
        reused = std::prev(slots_.end());
    } else {
        buffer = PixelBuffer(pixels);
    }
    YcPixel* dst = reused != slots_.end() ? reused->pixels.data() : buffer.data();
    if (reused != slots_.end()) reused->frame = -1;  // its content is being replaced
    bool got = false;
    try {
        got = reader_.Read(pipeNext_, dst);
    } catch (const InputError&) {
        if (reused != slots_.end()) slots_.erase(reused);
        throw;
    }
    if (!got) {
        if (reused != slots_.end()) slots_.erase(reused);
        count_ = pipeNext_;
        return false;
    }
    if (reused != slots_.end()) {
        reused->frame = pipeNext_;
        slots_.splice(slots_.begin(), slots_, reused);
    } else {
        slots_.push_front(Slot{pipeNext_, std::move(buffer)});
    }
    ++pipeNext_;
    return true;
}

bool SourceFrames::Prepare(int64_t n) {
    if (n < 0) return false;
    if (reader_.Seekable()) return n < count_;
    // A pipe: read up to frame n + 1, so that frame n's successor (or the end) is known.
    while (pipeNext_ <= n + 1 && (count_ < 0 || pipeNext_ < count_)) {
        if (pendingError_) break;
        try {
            if (!ReadNextFromPipe()) break;
        } catch (const InputError&) {
            if (pipeNext_ <= n) throw;  // frame n itself is bad
            // The frame after n is bad: n becomes the last frame, the error waits until it is done.
            pendingError_ = std::current_exception();
            count_ = pipeNext_;
        }
    }
    return count_ < 0 || n < count_;
}

const YcPixel* SourceFrames::Fetch(int32_t n) {
    int64_t frame = std::max<int64_t>(n, 0);
    if (count_ >= 0) frame = std::min<int64_t>(frame, count_ - 1);
    if (Slot* s = Find(frame)) {
        Touch(s);
        return s->pixels.data();
    }
    if (reader_.Seekable()) return Load(frame).pixels.data();
    // A pipe: read forward to the frame; one it has passed is gone.
    while (frame >= pipeNext_ && ReadNextFromPipe()) {
    }
    if (Slot* s = Find(frame)) {
        Touch(s);
        return s->pixels.data();
    }
    if (frame >= pipeNext_ && !slots_.empty()) {  // the clip ended before it
        Slot* last = Find(pipeNext_ - 1);
        if (last != nullptr) return last->pixels.data();
    }
    problem_ = "the filter asked for source frame " + std::to_string(n) +
               ", which the input pipe has already passed";
    if (slots_.empty()) return nullptr;
    return slots_.back().pixels.data();
}

void SourceFrames::KeepAtLeast(int frames) {
    capacity_ = std::max(capacity_, static_cast<size_t>(std::max(frames, 0)) + 1);
}

}  // namespace qv::cli
