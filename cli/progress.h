// The progress line on a terminal (frames done/total, fps, ETA) and the summary at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qv::cli {

class Progress {
public:
    // enabled: stderr is a terminal and the user did not ask for quiet.
    explicit Progress(bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // total < 0: not known yet (a pipe).
    void Update(int64_t done, int64_t total);
    double Seconds() const;
    // Removes the progress line (before another message or the summary).
    void Clear();

    // Removes the live progress line, if any, so that a message starts on a clean line.
    static void ClearLine();

    // "frame 12/100  23.4 fps  ETA 0:04"
    static std::string FormatLine(int64_t done, int64_t total, double seconds);
    // "10 frames in 1.52 s (6.58 fps)"
    static std::string FormatSummary(int64_t frames, double seconds);

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace qv::cli
