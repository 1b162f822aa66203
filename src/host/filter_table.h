// The filter descriptor, its sliders and the preset sizes read from the host's settings file.
#pragma once

#include "host/host_records.h"

namespace qv::host {

// Builds (once) and returns the static descriptor: creates the Direct3D object to count the
// adapters and reads the preset sizes beside the host executable.
FilterDescriptor* GetFilterTable();

// Completes the descriptor again as on a fresh load of the module: a new Direct3D object
// replaces the held one, the adapter range is counted again and the presets are read again.
// For a host that starts over (tests); not to be called while a device exists.
FilterDescriptor* ReloadFilterTable();

}  // namespace qv::host
