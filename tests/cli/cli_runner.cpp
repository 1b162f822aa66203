#include "cli/cli_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "y4m_header.h"
#include "yuv_format.h"

namespace qv::cli::testing {

std::vector<std::string> CliResult::ErrLines() const {
    std::vector<std::string> lines;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv_cli_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string CliBinary() { return std::string(QV_BINARY_DIR) + "/quillervantis"; }
std::string RealModule() { return std::string(QV_BINARY_DIR) + "/Quillervantis.auf"; }
std::string ScriptedModule() { return std::string(QV_BINARY_DIR) + "/testing/scripted_filter.auf"; }

bool HaveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

std::string Quote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

CliResult RunCli(const std::string& args, const std::string& prefix, const std::string& suffix) {
    ScratchDir capture;
    const std::string out = capture.Path("out");
    const std::string err = capture.Path("err");
    const std::string command = prefix + " " + Quote(CliBinary()) + " " + args + " " + suffix + " >" + Quote(out) +
                                " 2>" + Quote(err);
    const int raw = std::system(("sh -c " + Quote(command)).c_str());
    CliResult r;
    // sh reports a child killed by a signal as 128 + the signal; these are crashes.
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.exited = status >= 0 && status != 128 + SIGSEGV && status != 128 + SIGABRT && status != 128 + SIGBUS &&
               status != 128 + SIGFPE && status != 128 + SIGILL;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

std::string MakeY4m(int width, int height, int frames, const std::string& chromaName, int depth, uint32_t seed) {
    const auto chroma = ParseChromaName(chromaName);
    if (!chroma) throw std::invalid_argument("bad chroma name " + chromaName);
    const Y4mHeader header{YuvFormat{width, height, *chroma, depth, false}, "25:1", "p", "1:1", {}};
    std::string clip = FormatY4mHeader(header);
    std::mt19937 rng(seed);
    const int maxValue = (1 << depth) - 1;
    const size_t bytes = FrameBytes(header.format);
    for (int f = 0; f < frames; ++f) {
        clip += "FRAME\n";
        std::string frame(bytes, '\0');
        const int samples = static_cast<int>(bytes / static_cast<size_t>(BytesPerSample(depth)));
        for (int i = 0; i < samples; ++i) {
            // A smooth ramp with a little noise: realistic enough for conversions.
            const int v = std::min(maxValue, static_cast<int>((i * 7 + f * 13) % (maxValue + 1)) / 2 +
                                                  static_cast<int>(rng() % static_cast<uint32_t>(maxValue / 4 + 1)));
            if (depth > 8) {
                frame[static_cast<size_t>(2 * i)] = static_cast<char>(v & 0xFF);
                frame[static_cast<size_t>(2 * i + 1)] = static_cast<char>(v >> 8);
            } else {
                frame[static_cast<size_t>(i)] = static_cast<char>(v);
            }
        }
        clip += frame;
    }
    return clip;
}

std::string MakeYcp(int width, int height, int frames, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string clip;
    clip.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 6 * static_cast<size_t>(frames));
    for (long i = 0; i < static_cast<long>(width) * height * frames; ++i) {
        const int16_t px[3] = {static_cast<int16_t>(rng() % 4097), static_cast<int16_t>(static_cast<int>(rng() % 4097) - 2048),
                               static_cast<int16_t>(static_cast<int>(rng() % 4097) - 2048)};
        clip.append(reinterpret_cast<const char*>(px), sizeof(px));
    }
    return clip;
}

}  // namespace qv::cli::testing
