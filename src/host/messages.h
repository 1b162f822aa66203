// The filter's message boxes. Texts are kept here once, in UTF-8, and reach MessageBoxA in
// code page 932 as the module stores them.
#pragma once

namespace qv::host {

inline constexpr const char* kWarningCaption = "warning";
inline constexpr const char* kFailureSuffix = "に失敗";

// Shows "<operation>に失敗" with caption "warning", an OK button and no owner window.
void ShowFailure(const char* operation);

// Shows a free text (a compiler message) with caption "warning".
void ShowWarningText(const char* text);

// The device-creation box: "CreateDeviceに失敗", caption "Quillervantis", Retry/Cancel with the
// warning icon (style 0x35). Returns the button pressed.
int AskRetryDeviceCreation();

}  // namespace qv::host
