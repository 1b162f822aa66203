// What the host shows of the filter's user interface: message boxes and the settings window's
// title. Boxes are printed to stderr as "caption: text"; Retry/Cancel boxes are answered Cancel
// unless the user allowed retries. The module finds the two C functions below in the host
// process with dlsym; texts arrive as UTF-8.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace qv::cli {

struct ShownBox {
    std::string caption;
    std::string text;
    unsigned type;
    int answer;
};

class Desktop {
public:
    static Desktop& Instance();

    // Retry/Cancel boxes are answered Retry this many times in all, then Cancel.
    void AllowRetries(int retries);
    int ShowMessageBox(const char* text, const char* caption, unsigned type);
    void SetWindowTitle(const char* text);

    std::string WindowTitle() const;
    size_t BoxCount() const;
    std::vector<ShownBox> BoxesSince(size_t first) const;
    // True when a box shown at index `first` or later means the filter switched its GPU path
    // off: the graphics runtime could not be created, or device creation was cancelled.
    bool GpuDisabledSince(size_t first) const;
    void Reset();  // tests

private:
    mutable std::mutex mutex_;
    std::vector<ShownBox> boxes_;
    std::string title_;
    int retriesLeft_ = 0;
};

}  // namespace qv::cli

extern "C" {
int qv_host_message_box(void* owner, const char* text, const char* caption, unsigned type);
void qv_host_window_text(void* window, const char* text);
}
