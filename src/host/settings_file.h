// The host's settings file: the host executable's path with the extension "ini", where the
// host keeps the preset sizes (section "system", key "resizelist").
#pragma once

#include <string>

#include "host/resize_list.h"

namespace qv::host {

inline constexpr const char* kSettingsExtension = "ini";
inline constexpr const char* kSettingsSection = "system";
inline constexpr const char* kResizeListKey = "resizelist";
// The key's text is read into this many bytes: at most 255 characters and the terminator.
inline constexpr int kResizeListTextSize = 256;

// The settings file beside the host executable; empty when the executable's path cannot be
// had whole or the rebuilt path would not fit a path buffer.
std::string SettingsFilePath();

// The preset list of the settings file at `path`: empty when there is no file, no key or an
// empty value.
ResizeList ReadResizeList(const std::string& path);

}  // namespace qv::host
