// Ctrl-C and closed pipes. SIGINT only raises a flag: the run finishes the frame it is writing,
// closes the output as a valid file and exits. SIGPIPE is ignored so that a reader closing the
// pipe shows up as a write error the host reports.
#pragma once

namespace qv::cli {

void InstallSignalHandlers();
bool InterruptRequested();
// For tests: raise or clear the flag as SIGINT would.
void SetInterruptRequested(bool requested);

}  // namespace qv::cli
