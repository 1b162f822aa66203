#include "progress.h"

#include <atomic>
#include <cstdio>

namespace qv::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
std::atomic<Progress*> gLive{nullptr};

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

std::string Clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[64];
    if (s >= 3600) {
        std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    } else {
        std::snprintf(text, sizeof(text), "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

}  // namespace

Progress::Progress(bool enabled) : enabled_(enabled), start_(std::chrono::steady_clock::now()) {
    if (enabled_) gLive.store(this);
}

Progress::~Progress() {
    Clear();
    Progress* self = this;
    gLive.compare_exchange_strong(self, nullptr);
}

double Progress::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string Progress::FormatLine(int64_t done, int64_t total, double seconds) {
    const double fps = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    std::string line = "frame " + std::to_string(done) + "/" + (total >= 0 ? std::to_string(total) : "?");
    line += "  " + Fixed(fps, 1) + " fps";
    if (total >= 0 && fps > 0) {
        line += "  ETA " + Clock(static_cast<double>(total - done) / fps);
    } else {
        line += "  ETA ?";
    }
    return line;
}

std::string Progress::FormatSummary(int64_t frames, double seconds) {
    const double fps = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
    return std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " in " + Fixed(seconds, 2) +
           " s (" + Fixed(fps, 2) + " fps)";
}

void Progress::Update(int64_t done, int64_t total) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastDraw_ < kRedrawInterval && done != total) return;
    lastDraw_ = now;
    std::fprintf(stderr, "\r%s\033[K", FormatLine(done, total, Seconds()).c_str());
    std::fflush(stderr);
    shown_ = true;
}

void Progress::Clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

void Progress::ClearLine() {
    if (Progress* live = gLive.load()) live->Clear();
}

}  // namespace qv::cli
