// The process's module file name: the executable's path, or a path a test put in its place.
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/fault_injection.h"
#include "platform/win32/win32.h"

namespace {

struct ModuleNameOverride {
    std::mutex mutex;
    std::string path;  // empty: the process executable
};

ModuleNameOverride& TheOverride() {
    static ModuleNameOverride* state = new ModuleNameOverride;
    return *state;
}

std::optional<std::string> ExecutablePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return std::nullopt;
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
        buffer.resize(buffer.size() * 2);  // the link may have been cut: try a larger buffer
    }
}

std::optional<std::string> ModulePath() {
    {
        ModuleNameOverride& state = TheOverride();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.path.empty()) return state.path;
    }
    return ExecutablePath();
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    // Only the process's own module is known here; the filter asks for nothing else.
    if (module != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (buffer == nullptr && size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (qv::win32::ShouldFail("GetModuleFileNameA")) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    const std::optional<std::string> path = ModulePath();
    if (!path) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As Windows: a name that does not fit is cut to size - 1 characters and terminated, and
    // the result is the buffer size.
    if (path->size() >= size) {
        std::memcpy(buffer, path->data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path->c_str(), path->size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path->size());
}

namespace qv::win32 {

void OverrideModuleFileName(const std::string& path) {
    ModuleNameOverride& state = TheOverride();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.path = path;
}

}  // namespace qv::win32
