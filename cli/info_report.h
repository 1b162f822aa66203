// --info: the filter as the host sees it after init: information text, name, sliders with
// defaults and ranges, the preset sizes and the display adapters.
#pragma once

#include <iosfwd>

#include "filter_session.h"
#include "options.h"

namespace qv::cli {

// Loads the module, runs init, prints the report, runs exit. Returns the exit status.
int RunInfo(const Options& options, std::ostream& out);

// The report for a session already initialised. Presets are read back by moving the size
// slider as a user would (the filter fills width and height from its preset list); adapter
// names come from the settings-window title the filter sets when the adapter slider moves.
void PrintInfo(FilterSession& session, const std::string& modulePath, std::ostream& out);

}  // namespace qv::cli
