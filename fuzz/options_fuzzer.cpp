// The host's command line: any list of arguments either parses into options that hold together
// or is refused with a usage error; nothing else may escape. Whole-number option values follow
// one rule: an optional sign, digits, nothing else, in range.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "errors.h"
#include "fuzz_input.h"
#include "options.h"

namespace {

using namespace qv::cli;
using qv::fuzz::Broken;

constexpr size_t kMaxArguments = 24;

// The rule, written out plainly.
bool IsWholeNumber(const std::string& text) {
    size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    errno = 0;
    (void)std::strtoll(text.c_str(), nullptr, 10);
    return errno != ERANGE;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // --help prints the usage: not to the fuzzer's terminal.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Arguments are separated by NUL bytes, as the kernel hands them over.
    std::vector<std::string> args{"quillervantis"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < kMaxArguments; ++i) {
        if (data[i] == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() && args.size() < kMaxArguments) args.push_back(current);

    for (size_t i = 1; i < args.size(); ++i) {
        if (ParseWholeNumber(args[i]).has_value() != IsWholeNumber(args[i])) {
            Broken("a whole number accepted or refused against the rule");
        }
    }

    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    try {
        const std::optional<Options> options = ParseOptions(static_cast<int>(argv.size()), argv.data());
        if (options && !options->info) {
            if (options->input.empty() || options->output.empty()) Broken("a run without its input or output");
            if (options->inputKind == ClipKind::kYcp && (options->sourceWidth < 1 || options->sourceHeight < 1)) {
                Broken("a raw input without a frame size");
            }
        }
    } catch (const UsageError&) {
    }
    return 0;
}
