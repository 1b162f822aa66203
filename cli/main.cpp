// quillervantis: the command-line host. Loads Quillervantis.auf and drives it as a video editor
// does while saving a file; see --help.
#include <cstdio>
#include <exception>
#include <iostream>

#include "errors.h"
#include "info_report.h"
#include "interrupt.h"
#include "options.h"
#include "progress.h"
#include "run_job.h"

namespace {

int Fail(const char* message, int status) {
    qv::cli::Progress::ClearLine();
    std::fprintf(stderr, "quillervantis: error: %s\n", message);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qv::cli;
    InstallSignalHandlers();
    try {
        const auto options = ParseOptions(argc, argv);
        if (!options) return 0;  // --help
        if (options->info) return RunInfo(*options, std::cout);
        return RunJob(*options);
    } catch (const UsageError& e) {
        return Fail(e.what(), kExitUsage);
    } catch (const Interrupted&) {
        std::fprintf(stderr, "quillervantis: interrupted\n");
        return kExitInterrupted;
    } catch (const std::exception& e) {
        return Fail(e.what(), kExitFailure);
    }
}
