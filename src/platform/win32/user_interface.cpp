// Message boxes and window titles. The module has no desktop of its own: a box or a title
// goes to the handler installed in this copy of the stand-in, else to the host's exported
// handler, else to stderr with the box dismissed.
#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include "platform/win32/win32.h"

namespace {

// Windows' caption for a box that names none.
constexpr const char* kDefaultCaption = "Error";

struct Handlers {
    std::mutex mutex;
    qv::win32::MessageBoxHandler messageBox;
    qv::win32::WindowTextHandler windowText;
};

Handlers& TheHandlers() {
    static Handlers* handlers = new Handlers;
    return *handlers;
}

template <typename Handler>
Handler Installed(Handler Handlers::*member) {
    Handlers& handlers = TheHandlers();
    std::lock_guard<std::mutex> lock(handlers.mutex);
    return handlers.*member;  // a copy: the handler runs outside the lock and may reinstall
}

template <typename Function>
Function HostSymbol(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const std::string decodedText = qv::win32::DecodeCp932(text != nullptr ? text : "");
    const std::string decodedCaption = qv::win32::DecodeCp932(caption != nullptr ? caption : kDefaultCaption);
    if (const auto handler = Installed(&Handlers::messageBox)) {
        return handler(owner, decodedText, decodedCaption, type);
    }
    if (const auto host = HostSymbol<qv_host_message_box_fn>(kHostMessageBoxSymbol)) {
        return host(owner, decodedText.c_str(), decodedCaption.c_str(), type);
    }
    std::fprintf(stderr, "%s: %s\n", decodedCaption.c_str(), decodedText.c_str());
    return qv::win32::DismissingAnswer(type);
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    const std::string decoded = qv::win32::DecodeCp932(text != nullptr ? text : "");
    if (const auto handler = Installed(&Handlers::windowText)) {
        handler(window, decoded);
        return 1;
    }
    if (const auto host = HostSymbol<qv_host_window_text_fn>(kHostWindowTextSymbol)) {
        host(window, decoded.c_str());
        return 1;
    }
    // No window to show a title in: the title is dropped, as for a hidden window.
    return 1;
}

namespace qv::win32 {

void SetMessageBoxHandler(MessageBoxHandler handler) {
    Handlers& handlers = TheHandlers();
    std::lock_guard<std::mutex> lock(handlers.mutex);
    handlers.messageBox = std::move(handler);
}

void SetWindowTextHandler(WindowTextHandler handler) {
    Handlers& handlers = TheHandlers();
    std::lock_guard<std::mutex> lock(handlers.mutex);
    handlers.windowText = std::move(handler);
}

int DismissingAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OK:
            return IDOK;
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        case MB_YESNO:
            return IDNO;
        default:  // OK/Cancel, Yes/No/Cancel, Retry/Cancel, Cancel/Try/Continue
            return IDCANCEL;
    }
}

}  // namespace qv::win32
