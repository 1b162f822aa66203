#include "host/settings_file.h"

#include "platform/win32/win32.h"

namespace qv::host {

std::string SettingsFilePath() {
    char module[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    // A cut name would point at some other file: no settings rather than the wrong ones.
    if (length == 0 || length >= static_cast<DWORD>(MAX_PATH)) return {};
    char drive[_MAX_DRIVE];
    char dir[_MAX_DIR];
    char fname[_MAX_FNAME];
    char ext[_MAX_EXT];
    if (_splitpath_s(module, drive, sizeof drive, dir, sizeof dir, fname, sizeof fname, ext, sizeof ext) != 0) {
        return {};
    }
    char path[MAX_PATH];
    if (_makepath_s(path, sizeof path, drive, dir, fname, kSettingsExtension) != 0) return {};
    return path;
}

ResizeList ReadResizeList(const std::string& path) {
    if (path.empty()) return {};
    char text[kResizeListTextSize];
    GetPrivateProfileStringA(kSettingsSection, kResizeListKey, "", text, sizeof text, path.c_str());
    return ParseResizeList(text);
}

}  // namespace qv::host
