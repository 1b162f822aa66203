// Path splitting and building with the C runtime's rules; both '/' and '\\' separate
// directories, so Linux paths and Windows paths split alike.
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/win32/win32.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

struct PathParts {
    std::string_view drive;
    std::string_view dir;
    std::string_view fname;
    std::string_view ext;
};

PathParts Split(std::string_view path) {
    PathParts parts;
    if (path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    const size_t lastSeparator = path.find_last_of("/\\");
    if (lastSeparator != std::string_view::npos) {
        parts.dir = path.substr(0, lastSeparator + 1);
        path.remove_prefix(lastSeparator + 1);
    }
    // The extension starts at the last dot of the file name and keeps it.
    const size_t dot = path.rfind('.');
    parts.fname = path.substr(0, dot);
    if (dot != std::string_view::npos) parts.ext = path.substr(dot);
    return parts;
}

std::string Make(const char* drive, const char* dir, const char* fname, const char* ext) {
    std::string path;
    if (drive != nullptr && *drive != '\0') {
        path += drive[0];  // only the letter; the colon is always written
        path += ':';
    }
    if (dir != nullptr && *dir != '\0') {
        path += dir;
        if (!IsSeparator(path.back())) {
            // A directory without a trailing separator gets the kind it already uses.
            const std::string_view d(dir);
            const size_t last = d.find_last_of("/\\");
            path += last == std::string_view::npos ? '/' : d[last];
        }
    }
    if (fname != nullptr) path += fname;
    if (ext != nullptr && *ext != '\0') {
        if (*ext != '.') path += '.';
        path += ext;
    }
    return path;
}

// Copies up to size - 1 characters and terminates; a null buffer takes nothing.
void CopyTruncated(char* out, size_t size, std::string_view text) {
    if (out == nullptr || size == 0) return;
    const size_t n = text.size() < size ? text.size() : size - 1;
    text.copy(out, n);
    out[n] = '\0';
}

bool BufferArgumentValid(const char* buffer, size_t size) { return (buffer == nullptr) == (size == 0); }

bool Fits(const char* buffer, size_t size, std::string_view text) {
    return buffer == nullptr || text.size() < size;
}

}  // namespace

// The unchecked forms assume buffers of the _MAX_* sizes, as their callers do; a part longer
// than that is cut rather than written past the buffer.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    const PathParts parts = Split(path != nullptr ? path : "");
    CopyTruncated(drive, _MAX_DRIVE, parts.drive);
    CopyTruncated(dir, _MAX_DIR, parts.dir);
    CopyTruncated(fname, _MAX_FNAME, parts.fname);
    CopyTruncated(ext, _MAX_EXT, parts.ext);
}

void _makepath(char* path, const char* drive, const char* dir, const char* fname, const char* ext) {
    if (path == nullptr) return;
    CopyTruncated(path, _MAX_PATH, Make(drive, dir, fname, ext));
}

errno_t _splitpath_s(const char* path, char* drive, size_t driveSize, char* dir, size_t dirSize,
                     char* fname, size_t fnameSize, char* ext, size_t extSize) {
    const auto clear = [&] {
        if (drive != nullptr && driveSize > 0) *drive = '\0';
        if (dir != nullptr && dirSize > 0) *dir = '\0';
        if (fname != nullptr && fnameSize > 0) *fname = '\0';
        if (ext != nullptr && extSize > 0) *ext = '\0';
    };
    if (path == nullptr || !BufferArgumentValid(drive, driveSize) || !BufferArgumentValid(dir, dirSize) ||
        !BufferArgumentValid(fname, fnameSize) || !BufferArgumentValid(ext, extSize)) {
        clear();
        return EINVAL;
    }
    const PathParts parts = Split(path);
    if (!Fits(drive, driveSize, parts.drive) || !Fits(dir, dirSize, parts.dir) ||
        !Fits(fname, fnameSize, parts.fname) || !Fits(ext, extSize, parts.ext)) {
        clear();
        return ERANGE;
    }
    CopyTruncated(drive, driveSize, parts.drive);
    CopyTruncated(dir, dirSize, parts.dir);
    CopyTruncated(fname, fnameSize, parts.fname);
    CopyTruncated(ext, extSize, parts.ext);
    return 0;
}

errno_t _makepath_s(char* path, size_t size, const char* drive, const char* dir, const char* fname,
                    const char* ext) {
    if (path == nullptr || size == 0) return EINVAL;
    const std::string made = Make(drive, dir, fname, ext);
    if (made.size() >= size) {
        *path = '\0';
        return ERANGE;
    }
    std::memcpy(path, made.c_str(), made.size() + 1);
    return 0;
}
