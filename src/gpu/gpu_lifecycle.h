// Creation and release of the device-level objects, the size-dependent working set, the
// constants, and the pass chain the render thread runs. All act on gpu::Context().
#pragma once

#include <cstdint>

#include "gpu/gpu_context.h"
#include "host/host_records.h"

namespace qv::gpu {

// Device, vertex declaration, effect, technique, handles and the weight table on `adapter`.
// Shows the failure boxes; a cancelled or impossible creation sets the disabled flag.
bool Create(WindowHandle window, ModuleHandle module, int32_t adapter);

// Stops the render thread, then releases everything in order and clears the ready flag.
void ReleaseAll();

// Builds the size-dependent textures, the six quads and the scale block.
bool InitTexture(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH);

// Recomputes params and gw_r3 from the slider values, sets params and weight, clears the
// params-dirty flag.
void UpdateParamsAndWeight(const int32_t* sliderValues);

// The fixed 9-tap Gaussian, computed once by the init callback.
void ComputeGwR4();

// Records the frame's passes and reads the packed result back. Returns 0, or the error code
// that ended the frame.
int32_t RunPassChain();

}  // namespace qv::gpu
