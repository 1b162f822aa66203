// A whole run: the clip goes through the filter frame by frame, as an editor saving a file
// drives it, and the result is written.
#pragma once

#include "options.h"

namespace qv::cli {

// Returns the exit status (0, or kExitInterrupted after Ctrl-C). Throws the host's errors
// (UsageError, InputError, OutputError, FilterError) after closing the output as a valid file
// of the frames completed.
int RunJob(const Options& options);

}  // namespace qv::cli
