// Runs the built quillervantis binary the way a user does, and builds small clips for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::cli::testing {

struct CliResult {
    bool exited = false;  // ended by exit(), not by a signal (a crash)
    int status = -1;      // exit status when exited
    std::string out;
    std::string err;
    // Non-empty lines of stderr.
    std::vector<std::string> ErrLines() const;
};

// A scratch folder for one test, removed with it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

std::string CliBinary();
std::string RealModule();      // Quillervantis.auf beside the binary
std::string ScriptedModule();  // the host tests' scripted filter
bool HaveFfmpeg();

// Runs `sh -c "<env> quillervantis <args>"`, with stdout and stderr captured. `args` is shell
// text (quote paths yourself); `prefix` goes before the binary (environment, a pipe).
CliResult RunCli(const std::string& args, const std::string& prefix = "", const std::string& suffix = "");
std::string Quote(const std::string& text);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A Y4M clip of `frames` frames with a deterministic pattern; chroma as --output-chroma names it.
std::string MakeY4m(int width, int height, int frames, const std::string& chromaName = "420jpeg", int depth = 8,
                    uint32_t seed = 1);
// Raw host pixels, deterministic, values spread over the host's whole range.
std::string MakeYcp(int width, int height, int frames, uint32_t seed = 1);

}  // namespace qv::cli::testing
