#include "byte_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "errors.h"
#include "interrupt.h"

namespace qv::cli {

namespace {

constexpr size_t kLineChunk = 256;

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// InputFile

InputFile::InputFile(int fd, std::string name, bool ownsFd)
    : fd_(fd), ownsFd_(ownsFd), name_(std::move(name)) {
    struct stat st {};
    if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        seekable_ = true;
        size_ = static_cast<uint64_t>(st.st_size);
    }
}

InputFile InputFile::Open(const std::string& path) {
    if (path == kStandardStream) {
        if (::isatty(STDIN_FILENO)) {
            throw InputError("standard input is a terminal; pipe a YUV4MPEG2 stream into it");
        }
        return InputFile(STDIN_FILENO, "standard input", false);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw InputError("cannot open " + path + ": " + Reason(errno));
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw InputError("cannot read " + path + ": it is a folder");
    }
    return InputFile(fd, path, true);
}

InputFile InputFile::FromDescriptor(int fd, const std::string& name) {
    return InputFile(fd, name, true);
}

InputFile::InputFile(InputFile&& other) noexcept { *this = std::move(other); }

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        if (ownsFd_ && fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        ownsFd_ = std::exchange(other.ownsFd_, false);
        name_ = std::move(other.name_);
        seekable_ = other.seekable_;
        size_ = other.size_;
        position_ = other.position_;
        pending_ = std::move(other.pending_);
        pendingStart_ = other.pendingStart_;
    }
    return *this;
}

InputFile::~InputFile() {
    if (ownsFd_ && fd_ >= 0) ::close(fd_);
}

size_t InputFile::Read(void* buffer, size_t size) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    // Bytes a line read fetched ahead come first.
    const size_t buffered = std::min(size, pending_.size() - pendingStart_);
    if (buffered > 0) {
        std::memcpy(out, pending_.data() + pendingStart_, buffered);
        pendingStart_ += buffered;
        done = buffered;
        position_ += buffered;
    }
    while (done < size) {
        const ssize_t n = seekable_ ? ::pread(fd_, out + done, size - done, static_cast<off_t>(position_))
                                    : ::read(fd_, out + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                if (InterruptRequested()) throw Interrupted();
                continue;
            }
            throw InputError("cannot read " + name_ + ": " + Reason(errno));
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
        position_ += static_cast<uint64_t>(n);
    }
    return done;
}

size_t InputFile::Fill() {
    if (pendingStart_ > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(pendingStart_));
        pendingStart_ = 0;
    }
    const size_t old = pending_.size();
    pending_.resize(old + kLineChunk);
    for (;;) {
        const ssize_t n = seekable_ ? ::pread(fd_, pending_.data() + old, kLineChunk,
                                              static_cast<off_t>(position_ + old))
                                    : ::read(fd_, pending_.data() + old, kLineChunk);
        if (n < 0) {
            if (errno == EINTR) {
                if (InterruptRequested()) {
                    pending_.resize(old);
                    throw Interrupted();
                }
                continue;
            }
            pending_.resize(old);
            throw InputError("cannot read " + name_ + ": " + Reason(errno));
        }
        pending_.resize(old + static_cast<size_t>(n));
        return static_cast<size_t>(n);
    }
}

InputFile::Line InputFile::ReadLine(std::string* line, size_t maxBytes) {
    size_t scanned = 0;
    for (;;) {
        const char* begin = pending_.data() + pendingStart_;
        const size_t available = pending_.size() - pendingStart_;
        const void* newline = available > scanned ? std::memchr(begin + scanned, '\n', available - scanned) : nullptr;
        if (newline != nullptr) {
            const size_t length = static_cast<size_t>(static_cast<const char*>(newline) - begin);
            if (length > maxBytes) return Line::kTooLong;
            line->assign(begin, length);
            pendingStart_ += length + 1;
            position_ += length + 1;
            return Line::kRead;
        }
        scanned = available;
        if (available > maxBytes) return Line::kTooLong;
        if (Fill() == 0) return available == 0 ? Line::kEnd : Line::kCutShort;
    }
}

void InputFile::Seek(uint64_t offset) {
    pending_.clear();
    pendingStart_ = 0;
    position_ = offset;
}

size_t InputFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
    Seek(offset);
    return Read(buffer, size);
}

// ---------------------------------------------------------------------------------------------
// OutputFile

OutputFile::OutputFile(int fd, std::string name, bool ownsFd)
    : fd_(fd), ownsFd_(ownsFd), name_(std::move(name)) {}

OutputFile OutputFile::Open(const std::string& path) {
    if (path == kStandardStream) {
        if (::isatty(STDOUT_FILENO)) {
            throw OutputError("refusing to write video to a terminal; redirect standard output");
        }
        return OutputFile(STDOUT_FILENO, "standard output", false);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw OutputError("cannot create " + path + ": " + Reason(errno));
    return OutputFile(fd, path, true);
}

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        if (ownsFd_ && fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        ownsFd_ = std::exchange(other.ownsFd_, false);
        name_ = std::move(other.name_);
        written_ = std::exchange(other.written_, 0);
    }
    return *this;
}

OutputFile::~OutputFile() {
    if (ownsFd_ && fd_ >= 0) ::close(fd_);
}

void OutputFile::Fail(int error) const {
    if (error == EPIPE) throw OutputError("cannot write " + name_ + ": the reader closed the pipe");
    if (error == ENOSPC) throw OutputError("cannot write " + name_ + ": the disk is full");
    throw OutputError("cannot write " + name_ + ": " + Reason(error));
}

void OutputFile::Write(const void* data, size_t size) {
    if (fd_ < 0) throw OutputError("cannot write " + name_ + ": it is closed");
    const auto* bytes = static_cast<const char*>(data);
    size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd_, bytes, left);
        if (n < 0) {
            if (errno == EINTR) continue;  // finish the frame even after Ctrl-C
            const int error = errno;
            DropPartialWrite();
            Fail(error);
        }
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    written_ += size;
}

void OutputFile::DropPartialWrite() const {
    // A file cut inside a frame is no valid clip: keep it to the last whole write (a frame).
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) return;  // the error at hand is reported
    }
}

void OutputFile::Close() {
    if (fd_ < 0) return;
    const int fd = std::exchange(fd_, -1);
    if (!ownsFd_) return;
    if (::close(fd) != 0 && errno != EINTR) Fail(errno);
}

}  // namespace qv::cli
