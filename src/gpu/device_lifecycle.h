// Release of the device-level objects, shared by release all and the module's unload.
#pragma once

#include "gpu/gpu_context.h"

namespace qv::gpu {

// Releases the size-dependent set, then the weight table, the effect, the vertex declaration,
// the vertex buffer, the device and the Direct3D object, and clears the ready flag. Does not
// touch the render thread: release all stops it first.
void ReleaseHeldObjects(GpuContext& context);

}  // namespace qv::gpu
