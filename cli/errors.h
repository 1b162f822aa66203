// The host's failures, by what the user did wrong. main() turns each into one line on stderr
// and an exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace qv::cli {

// A command line that cannot be run as written: bad option values, a missing file argument.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An input that is not a readable clip: bad Y4M header, truncated frame, unreadable file.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The output could not be written: missing folder, full disk, a reader that closed the pipe.
struct OutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The filter module could not be loaded or refused to work.
struct FilterError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Ctrl-C arrived while the host was waiting for input.
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // as a shell reports a process ended by SIGINT

}  // namespace qv::cli
