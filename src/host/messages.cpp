#include "host/messages.h"

#include <string>

#include "host/sliders.h"
#include "platform/win32/win32.h"

namespace qv::host {

void ShowFailure(const char* operation) {
    const std::string text = win32::EncodeCp932(std::string(operation) + kFailureSuffix);
    MessageBoxA(nullptr, text.c_str(), kWarningCaption, MB_OK);
}

void ShowWarningText(const char* text) { MessageBoxA(nullptr, text, kWarningCaption, MB_OK); }

int AskRetryDeviceCreation() {
    const std::string text = win32::EncodeCp932(std::string("CreateDevice") + kFailureSuffix);
    return MessageBoxA(nullptr, text.c_str(), kFilterName, MB_RETRYCANCEL | MB_ICONWARNING);
}

}  // namespace qv::host
