#include "reliability/host_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qv::reliability {

std::vector<std::string> Exit::ErrLines() const {
    std::vector<std::string> lines;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

Scratch::Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv_reliability_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

Scratch::~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string HostBinary() { return std::string(QV_BINARY_DIR) + "/quillervantis"; }
std::string RealModule() { return std::string(QV_BINARY_DIR) + "/Quillervantis.auf"; }
std::string TestModule(const std::string& name) { return std::string(QV_BINARY_DIR) + "/testing/" + name; }
std::string SampleClip() { return std::string(QV_SAMPLES_DIR) + "/ladybird_640x360.y4m"; }

std::string Quote(const std::string& text) {
    std::string q = "'";
    for (const char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool HaveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

namespace {

Exit Decode(int raw, const std::string& errPath) {
    Exit e;
    e.exited = WIFEXITED(raw);
    if (e.exited) e.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) e.signal = WTERMSIG(raw);
    e.err = ReadFile(errPath);
    return e;
}

}  // namespace

Exit RunShell(const std::string& command, const Scratch& scratch) {
    const std::string errPath = scratch.Path("shell.err");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) dup2(err, STDERR_FILENO);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    return Decode(raw, errPath);
}

pid_t StartHost(const std::vector<std::string>& args, const std::string& errPath) {
    const std::string binary = HostBinary();
    std::vector<const char*> argv{binary.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDWR);
        if (err >= 0) dup2(err, STDERR_FILENO);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
        }
        execv(binary.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    return pid;
}

Exit WaitFor(pid_t pid, const std::string& errPath) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return Decode(raw, errPath);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

uint64_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

namespace {

// Bytes of one frame's samples for a colour tag (after "C"); 0 when the tag is not one of
// the layouts these tests write.
size_t FrameSampleBytes(const std::string& tag, int w, int h) {
    int bytes = 1;
    std::string layout = tag;
    const size_t p = tag.find('p');
    if (p != std::string::npos && p + 1 < tag.size() && std::isdigit(static_cast<unsigned char>(tag[p + 1]))) {
        bytes = std::stoi(tag.substr(p + 1)) > 8 ? 2 : 1;
        layout = tag.substr(0, p);
    } else if (tag.rfind("mono", 0) == 0 && tag.size() > 4) {
        bytes = std::stoi(tag.substr(4)) > 8 ? 2 : 1;
        layout = "mono";
    }
    const size_t luma = static_cast<size_t>(w) * static_cast<size_t>(h);
    size_t chroma = 0;
    if (layout.rfind("420", 0) == 0) {
        chroma = static_cast<size_t>((w + 1) / 2) * static_cast<size_t>((h + 1) / 2);
    } else if (layout == "422") {
        chroma = static_cast<size_t>((w + 1) / 2) * static_cast<size_t>(h);
    } else if (layout == "444") {
        chroma = luma;
    } else if (layout != "mono") {
        return 0;
    }
    return (luma + 2 * chroma) * static_cast<size_t>(bytes);
}

}  // namespace

Y4mFile ReadY4m(const std::string& path) {
    Y4mFile f;
    const std::string bytes = ReadFile(path);
    const size_t end = bytes.find('\n');
    if (bytes.rfind("YUV4MPEG2 ", 0) != 0 || end == std::string::npos) {
        f.problem = "no YUV4MPEG2 header line";
        return f;
    }
    std::istringstream header(bytes.substr(10, end - 10));
    std::string token, colour = "420jpeg";
    while (header >> token) {
        if (token[0] == 'W') f.width = std::atoi(token.c_str() + 1);
        if (token[0] == 'H') f.height = std::atoi(token.c_str() + 1);
        if (token[0] == 'C') colour = token.substr(1);
    }
    const size_t sampleBytes = FrameSampleBytes(colour, f.width, f.height);
    if (f.width <= 0 || f.height <= 0 || sampleBytes == 0) {
        f.problem = "header without a usable size or colour space: " + bytes.substr(0, end);
        return f;
    }
    size_t at = end + 1;
    while (at < bytes.size()) {
        const size_t lineEnd = bytes.find('\n', at);
        if (lineEnd == std::string::npos || bytes.compare(at, 5, "FRAME") != 0) {
            f.problem = "frame " + std::to_string(f.frames) + " has no FRAME line";
            return f;
        }
        at = lineEnd + 1;
        if (bytes.size() - at < sampleBytes) {
            f.problem = "frame " + std::to_string(f.frames) + " is cut short";
            return f;
        }
        f.frameBytes.push_back(bytes.substr(at, sampleBytes));
        at += sampleBytes;
        ++f.frames;
    }
    f.valid = true;
    return f;
}

}  // namespace qv::reliability
