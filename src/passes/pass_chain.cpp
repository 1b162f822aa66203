// The render thread's frame: bind the textures, draw each planned pass into its target, and
// copy the packed result into the read-back texture.
#include "passes/pass_chain.h"

#include "gpu/gpu_lifecycle.h"
#include "gpu/working_sizes.h"
#include "passes/pass_routing.h"

namespace qv::gpu {

namespace {

IDirect3DSurface9* TargetSurface(const GpuContext& c, passes::RenderTarget target) {
    return target == passes::kTargetPacked ? c.packedTargetSurface : c.surfaces[target];
}

bool HasEverything(const GpuContext& c, const passes::PassPlan& plan) {
    if (!c.device || !c.effect || !c.vertexDeclaration || !c.vertexBuffer || !c.weightTable) return false;
    if (!c.textures[1] || !c.readBackSurface) return false;
    for (const passes::PassStep& step : plan) {
        if (!TargetSurface(c, step.target)) return false;
    }
    return true;
}

passes::ChainResult ReadBackCode(HRESULT hr) {
    switch (hr) {
        case D3D_OK: return passes::kChainReady;
        case D3DERR_DRIVERINTERNALERROR: return passes::kChainReadBackDriverError;
        case D3DERR_DEVICELOST: return passes::kChainReadBackDeviceLost;
        case D3DERR_INVALIDCALL: return passes::kChainReadBackInvalidCall;
        default: return passes::kChainReadBackFailed;
    }
}

}  // namespace

int32_t RunPassChain() {
    const GpuContext& c = Context();
    const WorkingSizes sizes = WorkingSizes::For(c.srcW, c.srcH, c.dstW, c.dstH);
    const passes::PassPlan plan = passes::PlanPasses(c.params, sizes);
    if (!HasEverything(c, plan)) return passes::kChainMissingObject;

    IDirect3DDevice9* device = c.device;
    ID3DXEffect* effect = c.effect;
    if (FAILED(device->SetVertexDeclaration(c.vertexDeclaration))) return passes::kChainVertexDeclarationFailed;

    // From here to EndScene no result is looked at: a failed draw shows as wrong pixels or as
    // a failure of EndScene or of the read-back.
    device->BeginScene();
    effect->Begin(nullptr, 0);
    for (int slot = 1; slot <= 10; ++slot) effect->SetTexture(c.parameters[kParamTex + slot - 1], c.textures[slot]);
    effect->SetTexture(c.parameters[kParamTex11], c.weightTable);

    bool streamSet = false;
    for (const passes::PassStep& step : plan) {
        device->SetRenderTarget(0, TargetSurface(c, step.target));
        if (!streamSet) {
            device->SetStreamSource(0, c.vertexBuffer, 0, kVertexStride);
            streamSet = true;
        }
        effect->BeginPass(static_cast<UINT>(step.pass));
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, static_cast<UINT>(FirstVertex(step.quad)), 2);
        effect->EndPass();
    }
    effect->End();
    if (FAILED(device->EndScene())) return passes::kChainEndSceneFailed;

    return ReadBackCode(device->GetRenderTargetData(c.packedTargetSurface, c.readBackSurface));
}

}  // namespace qv::gpu
