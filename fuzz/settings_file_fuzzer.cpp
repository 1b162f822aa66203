// The host's settings file: the INI reader on any file content, with buffers of every size
// (section lists, key lists and values must stay inside the buffer and end terminated), the
// preset list parsed from the resizelist value and from any text, and the settings path built
// from any executable path.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "host/resize_list.h"
#include "host/settings_file.h"
#include "platform/win32/win32.h"

namespace {

using qv::fuzz::Broken;

// No line of a file can name this key: a key ends at the first '='.
constexpr const char* kAbsentKey = "no=such";

void CheckPresets(const qv::host::ResizeList& list) {
    if (list.count < 0 || list.count > qv::host::kMaxPresets) Broken("preset count outside 0..20");
    for (int i = 0; i < qv::host::kMaxPresets; ++i) {
        if (list.widths[i] < 0 || list.heights[i] < 0) Broken("a negative preset size");
        if (i >= list.count && (list.widths[i] != 0 || list.heights[i] != 0)) Broken("an entry beyond the count is set");
    }
}

// Reads with a buffer of exactly `size` bytes (so a write past it is caught) and checks the
// reader's promises for a single value or a list of names.
void Query(LPCSTR section, LPCSTR key, DWORD size, const std::string& path) {
    std::vector<char> buffer(size == 0 ? 1 : size, '\x7f');
    const DWORD n = GetPrivateProfileStringA(section, key, "  fallback  ", size == 0 ? nullptr : buffer.data(), size,
                                             path.c_str());
    if (size == 0) {
        if (n != 0) Broken("a read into no buffer reported characters");
        return;
    }
    const bool list = section == nullptr || key == nullptr;
    if (n >= size) Broken("the reported length reaches past the buffer");
    if (buffer[n] != '\0') Broken("the text is not terminated where its length says");
    // A list ends with two terminators: its last name's and one more, or, cut to the buffer,
    // two after what fitted.
    if (list && n > 0 && buffer[n - 1] != '\0' && !(n + 1 < size && buffer[n + 1] == '\0')) {
        Broken("a list does not end with two terminators");
    }
    if (!list && std::strcmp(key, kAbsentKey) == 0 &&
        std::string(buffer.data(), n) != std::string("  fallback").substr(0, size - 1)) {
        Broken("a missing key did not give the default without its trailing blanks");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const DWORD bufferSize = data[0] % 40 == 0 ? 256 : data[0] % 40;
    const uint8_t mode = data[1];
    data += 2;
    size -= 2;
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The preset parser on any text, not only what fits the settings buffer.
    CheckPresets(qv::host::ParseResizeList(text.c_str()));

    if (mode & 1) {
        // Any executable path: the settings path beside it fits a path buffer or is empty.
        qv::win32::OverrideModuleFileName(text.substr(0, text.find('\0')));
        const std::string path = qv::host::SettingsFilePath();
        if (path.size() >= static_cast<size_t>(MAX_PATH)) Broken("a settings path longer than a path buffer");
        qv::win32::OverrideModuleFileName("");
        return 0;
    }

    const int fd = qv::fuzz::MemoryFile(data, size);
    const std::string path = qv::fuzz::PathOf(fd);
    CheckPresets(qv::host::ReadResizeList(path));
    Query("system", "resizelist", bufferSize, path);
    Query("SYSTEM", "ResizeList", 256, path);
    Query("system", kAbsentKey, bufferSize, path);
    Query(nullptr, nullptr, bufferSize, path);
    Query("system", nullptr, bufferSize, path);
    Query("system", "resizelist", 0, path);
    close(fd);
    return 0;
}
