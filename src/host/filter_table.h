// The filter descriptor, its sliders and the preset sizes read from the host's settings file.
#pragma once

#include "host/host_records.h"

namespace qv::host {

// Builds (once) and returns the static descriptor: creates the Direct3D object to count the
// adapters and reads the preset sizes beside the host executable.
FilterDescriptor* GetFilterTable();

}  // namespace qv::host
