// Codes with which the pass chain ends a frame (the render thread's error word). The chain
// itself is gpu::RunPassChain (gpu/gpu_lifecycle.h).
#pragma once

#include <cstdint>

namespace qv::passes {

enum ChainResult : int32_t {
    kChainReady = 0,
    kChainVertexDeclarationFailed = 1,
    kChainEndSceneFailed = 2,
    // 3 is not used.
    kChainReadBackDriverError = 4,   // GetRenderTargetData: D3DERR_DRIVERINTERNALERROR
    kChainReadBackDeviceLost = 5,    // GetRenderTargetData: D3DERR_DEVICELOST
    kChainReadBackInvalidCall = 6,   // GetRenderTargetData: D3DERR_INVALIDCALL
    // GetRenderTargetData gave any other result but D3D_OK: the read-back texture is not a
    // finished frame, so it must not be read.
    kChainReadBackFailed = 7,
    // The context lacks an object the frame needs (no device, effect, declaration, quads or
    // texture): nothing was recorded.
    kChainMissingObject = 8,
};

}  // namespace qv::passes
