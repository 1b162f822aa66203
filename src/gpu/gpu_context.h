// The single process-wide holder of the graphics objects, effect handles, working textures,
// sizes and state flags. Interface references are set to null before they are released.
#pragma once

#include <atomic>
#include <cstdint>

#include "effect/constant_blocks.h"
#include "platform/d3d9/d3d9.h"

namespace qv::gpu {

// Effect parameter handles, looked up in this order.
enum EffectParameter : int {
    kParamTex = 0,
    kParamTex2,
    kParamTex3,
    kParamTex4,
    kParamTex5,
    kParamTex6,
    kParamTex7,
    kParamTex8,
    kParamTex9,
    kParamTex10,
    kParamTex11,
    kParamParams,
    kParamScale,
    kParamWeight,
    kEffectParameterCount
};
inline constexpr const char* kEffectParameterNames[kEffectParameterCount] = {
    "Tex", "Tex2", "Tex3", "Tex4", "Tex5", "Tex6", "Tex7", "Tex8", "Tex9", "Tex10", "Tex11",
    "params", "scale", "weight"};
inline constexpr const char* kTechniqueName = "Quillervantis";

// Working textures by slot: index 1 = Tex, 2..10 = Tex2..Tex10 (render targets).
inline constexpr int kWorkingTextureSlots = 11;

struct GpuContext {
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DVertexDeclaration9* vertexDeclaration = nullptr;
    ID3DXEffect* effect = nullptr;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DTexture9* weightTable = nullptr;  // Tex11

    D3DXHANDLE technique = nullptr;
    D3DXHANDLE parameters[kEffectParameterCount] = {};

    // Size-dependent set. textures[1] is Tex (no surface); [2..10] are Tex2..Tex10.
    IDirect3DTexture9* textures[kWorkingTextureSlots] = {};
    IDirect3DSurface9* surfaces[kWorkingTextureSlots] = {};
    IDirect3DTexture9* packedTarget = nullptr;
    IDirect3DSurface9* packedTargetSurface = nullptr;
    IDirect3DTexture9* readBack = nullptr;
    IDirect3DSurface9* readBackSurface = nullptr;

    int32_t srcW = 0, srcH = 0, dstW = 0, dstH = 0;
    int32_t maxW = 0, maxH = 0;

    // The params block last set on the effect; the pass chain picks its passes from it.
    effect::ParamsBlock params{};
    // The fixed Gaussian gw_r4, computed once by the init callback and sent with every weight.
    float gwR4[5] = {};

    int32_t adapter = 0;
    std::atomic<int32_t> ready{0};
    std::atomic<int32_t> disabled{0};
    std::atomic<int32_t> paramsDirty{1};
};

// The one context of the process.
GpuContext& Context();

}  // namespace qv::gpu
