#include "desktop.h"

#include <cstdio>
#include <type_traits>

#include "host/messages.h"
#include "platform/win32/win32.h"
#include "progress.h"

namespace qv::cli {

namespace {

// The box the filter shows when the graphics runtime itself cannot be created; after it every
// frame passes through unfiltered.
const std::string& RuntimeFailureText() {
    static const std::string text = std::string("Direct3DCreate9") + host::kFailureSuffix;
    return text;
}

bool IsRetryCancel(unsigned type) { return (type & MB_TYPEMASK) == MB_RETRYCANCEL; }

// Nobody sits at the command line to press a button: OK where it is the only one, otherwise
// the button that dismisses the box.
int DismissAnswer(unsigned type) {
    switch (type & MB_TYPEMASK) {
        case MB_OK:
            return IDOK;
        case MB_YESNO:
            return IDNO;
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        default:
            return IDCANCEL;
    }
}

}  // namespace

Desktop& Desktop::Instance() {
    static Desktop desktop;
    return desktop;
}

void Desktop::AllowRetries(int retries) {
    std::lock_guard<std::mutex> lock(mutex_);
    retriesLeft_ = retries;
}

int Desktop::ShowMessageBox(const char* text, const char* caption, unsigned type) {
    std::lock_guard<std::mutex> lock(mutex_);
    ShownBox box{caption != nullptr ? caption : "", text != nullptr ? text : "", type, 0};
    if (IsRetryCancel(type) && retriesLeft_ > 0) {
        --retriesLeft_;
        box.answer = IDRETRY;
    } else {
        box.answer = DismissAnswer(type);
    }
    Progress::ClearLine();
    std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
    if (IsRetryCancel(type)) {
        std::fprintf(stderr, "quillervantis: answered %s\n",
                     box.answer == IDRETRY ? "Retry" : "Cancel (--retry-device N allows retries)");
    }
    std::fflush(stderr);
    boxes_.push_back(box);
    return box.answer;
}

void Desktop::SetWindowTitle(const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    title_ = text != nullptr ? text : "";
}

std::string Desktop::WindowTitle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return title_;
}

size_t Desktop::BoxCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_.size();
}

std::vector<ShownBox> Desktop::BoxesSince(size_t first) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (first >= boxes_.size()) return {};
    return std::vector<ShownBox>(boxes_.begin() + static_cast<ptrdiff_t>(first), boxes_.end());
}

bool Desktop::GpuDisabledSince(size_t first) const {
    for (const ShownBox& box : BoxesSince(first)) {
        if (box.text == RuntimeFailureText()) return true;
        if (IsRetryCancel(box.type) && box.answer == IDCANCEL) return true;
    }
    return false;
}

void Desktop::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
    title_.clear();
    retriesLeft_ = 0;
}

}  // namespace qv::cli

static_assert(std::is_same_v<decltype(&qv_host_message_box), qv_host_message_box_fn>);
static_assert(std::is_same_v<decltype(&qv_host_window_text), qv_host_window_text_fn>);

extern "C" int qv_host_message_box(void*, const char* text, const char* caption, unsigned type) {
    return qv::cli::Desktop::Instance().ShowMessageBox(text, caption, type);
}

extern "C" void qv_host_window_text(void*, const char* text) {
    qv::cli::Desktop::Instance().SetWindowTitle(text);
}
