// Fuzz inputs as the readers meet them in use: a regular file (held in memory, so no disk is
// touched between runs) or a pipe that has already been fed and closed by its writer.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qv::fuzz {

// A descriptor of a seekable file holding the bytes, positioned at its start.
inline int MemoryFile(const uint8_t* data, size_t size) {
    const int fd = memfd_create("qv_fuzz_input", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// The path the settings reader opens for a memory file.
inline std::string PathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The read end of a pipe holding the bytes, its write end closed; -1 when the bytes do not fit
// the pipe's buffer (the caller then uses a memory file).
inline int FilledPipe(const uint8_t* data, size_t size) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
    const int capacity = fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    if (capacity < 0 || size > static_cast<size_t>(capacity)) {
        close(ends[0]);
        close(ends[1]);
        return -1;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(ends[1], data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    close(ends[1]);
    return ends[0];
}

// A property the code under test promised and broke: report it as a crash with its reason.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

}  // namespace qv::fuzz
