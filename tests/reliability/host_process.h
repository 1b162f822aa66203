// The built command-line host run as a separate process, and what it leaves behind: its exit,
// its error lines, and the YUV4MPEG2 file it wrote.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::reliability {

struct Exit {
    bool exited = false;  // by exit(), not killed by a signal
    int status = -1;      // exit status when exited
    int signal = 0;       // the signal that ended it otherwise
    std::string err;      // standard error
    std::vector<std::string> ErrLines() const;
};

// A scratch folder, removed with everything in it.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

std::string HostBinary();    // quillervantis in the build folder
std::string RealModule();    // Quillervantis.auf beside it
std::string TestModule(const std::string& name);  // the test modules built for these tests
std::string SampleClip();    // the sample clip that ships with the sources

std::string Quote(const std::string& text);
bool HaveFfmpeg();

// Runs `sh -c command` with standard error captured into the scratch folder.
Exit RunShell(const std::string& command, const Scratch& scratch);

// Starts the host with these arguments (standard output and error to files); returns its pid.
pid_t StartHost(const std::vector<std::string>& args, const std::string& errPath);
Exit WaitFor(pid_t pid, const std::string& errPath);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
uint64_t FileSize(const std::string& path);

// A YUV4MPEG2 file read with its own rules: one header line, then whole frames, each a
// "FRAME" line and the samples of the header's format (8-bit 4:2:0 or 4:4:4 or mono here).
struct Y4mFile {
    bool valid = false;
    std::string problem;
    int width = 0;
    int height = 0;
    int64_t frames = 0;
    std::vector<std::string> frameBytes;  // the samples of each frame
};
Y4mFile ReadY4m(const std::string& path);

}  // namespace qv::reliability
