// Files and pipes as the host reads and writes them: plain descriptors, every result checked,
// every failure turned into a message that names the file and what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::cli {

// "-" names standard input or output.
inline constexpr const char* kStandardStream = "-";

class InputFile {
public:
    // Opens `path` ("-": standard input, which must not be a terminal). Throws InputError when
    // it cannot be read.
    static InputFile Open(const std::string& path);
    // Wraps a descriptor the caller already has (tests: one end of a pipe). Takes ownership.
    static InputFile FromDescriptor(int fd, const std::string& name);

    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // For messages: the path, or "standard input".
    const std::string& Name() const { return name_; }
    // A regular file: frames can be read in any order.
    bool Seekable() const { return seekable_; }
    uint64_t Size() const { return size_; }  // seekable only

    // Sequential reading from the current position. Returns the bytes read: fewer than `size`
    // only at the end of the input. Throws Interrupted on Ctrl-C, InputError on a read error.
    size_t Read(void* buffer, size_t size);
    // Reads up to and including '\n' and gives the line without it. At the end of the input
    // before any byte: kEnd. Cut short by the end of the input, or longer than maxBytes: nothing
    // is consumed. Throws Interrupted on Ctrl-C, InputError on a read error.
    enum class Line { kRead, kEnd, kCutShort, kTooLong };
    Line ReadLine(std::string* line, size_t maxBytes);
    uint64_t Position() const { return position_; }

    // Random access (seekable only): moves the sequential position to `offset`.
    void Seek(uint64_t offset);
    // Seek, then Read.
    size_t ReadAt(uint64_t offset, void* buffer, size_t size);

private:
    InputFile(int fd, std::string name, bool ownsFd);
    size_t Fill();  // refills the line buffer; returns the bytes added

    int fd_ = -1;
    bool ownsFd_ = false;
    std::string name_;
    bool seekable_ = false;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    std::vector<char> pending_;  // bytes read ahead by ReadLine, not yet consumed
    size_t pendingStart_ = 0;
};

class OutputFile {
public:
    // Creates or truncates `path` ("-": standard output). Throws OutputError, naming the path and
    // the reason (missing folder, no permission); refuses a terminal as standard output.
    static OutputFile Open(const std::string& path);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    const std::string& Name() const { return name_; }
    // Writes everything or throws OutputError (closed pipe, full disk, other I/O errors); a
    // regular file is cut back to the end of the last whole write, so it stays a valid clip.
    // Ctrl-C does not cut a write short: a frame is written whole.
    void Write(const void* data, size_t size);
    // Closes the file, reporting a late write error (a full disk on close).
    void Close();

private:
    OutputFile(int fd, std::string name, bool ownsFd);
    [[noreturn]] void Fail(int error) const;
    void DropPartialWrite() const;

    int fd_ = -1;
    bool ownsFd_ = false;
    std::string name_;
    uint64_t written_ = 0;  // bytes of whole writes: each write is a header or a whole frame
};

}  // namespace qv::cli
