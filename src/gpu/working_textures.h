// The size-dependent working set: Tex, the render targets Tex2..Tex10 with their surfaces,
// the packed target and the read-back texture.
#pragma once

#include "gpu/gpu_context.h"

namespace qv::gpu {

// Every working texture is four unsigned normalised 16-bit channels, one level.
inline constexpr D3DFORMAT kWorkingFormat = D3DFMT_A16B16G16R16;

// Render targets (slots of GpuContext::textures) in the order they are created and released.
inline constexpr int kRenderTargetOrder[] = {2, 3, 4, 9, 5, 6, 7, 8, 10};

// Releases the set in its fixed order, zeroes the recorded sizes and sets params-dirty. maxW,
// maxH and the vertex buffer are left alone.
void ReleaseSizeDependentSet(GpuContext& context);

}  // namespace qv::gpu
