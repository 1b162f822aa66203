// The device: render state, scene, render target, stream and declaration, and the draw that
// runs the current pass's pixel program over the quad, on the reference or the optimised
// rasteriser depending on the adapter it was created on. All device state sits behind one
// mutex (the device is used from the render thread and the processing thread); textures and
// buffers keep their own lock state, so locking one texture never waits for a draw.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "common/worker_pool.h"
#include "platform/d3d9/com_object.h"
#include "platform/d3d9/pixel_program.h"
#include "platform/d3d9/texture.h"
#include "platform/d3d9/vertex_objects.h"

namespace qv::d3d9 {

// What an effect pass puts on the device between its BeginPass and EndPass: the pixel program,
// the sampler bindings (the device takes the texture references) and the constant blocks as
// they stood when the pass began.
struct PassBinding {
    const void* owner = nullptr;  // the effect that began the pass
    const gfx::PixelProgram* program = nullptr;
    Texture* textures[gfx::kSamplerSlots] = {};
    gfx::SamplerState states[gfx::kSamplerSlots] = {};
    std::vector<uint8_t> params;
    std::vector<uint8_t> scale;
    std::vector<uint8_t> weight;
};

class Device final : public RefCounted<IDirect3DDevice9> {
public:
    Device(IDirect3D9* direct3d, UINT adapter, DWORD behaviourFlags);

    HRESULT TestCooperativeLevel() override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* shared) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                    IDirect3DVertexDeclaration9** declaration) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* shared) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destination) override;

    UINT Adapter() const { return adapter_; }
    DWORD BehaviourFlags() const { return behaviourFlags_; }

    // Effect passes. Binding replaces whatever pass was bound, taking `binding`'s contents and
    // leaving it the replaced pass's storage, emptied: a caller that binds from the same
    // PassBinding every pass reuses its block buffers instead of allocating them. Unbinding
    // clears the pass only when `owner` bound it.
    void BindPass(PassBinding& binding);
    void UnbindPass(const void* owner);

private:
    ~Device() override;
    static void ReleaseBinding(PassBinding& binding);
    HRESULT DrawLocked(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount);
    void RunProgram(const gfx::DrawContext& context);
    // The optimised adapter's pool at the worker count now in force; null on the reference one.
    WorkerPool* OptimisedPool();
    // A texture a draw or a read-back reaches gets its fill pattern, in bands on the optimised
    // adapter's workers, else at once on this thread.
    void PrepareTexels(const Texture& texture);

    IDirect3D9* direct3d_;
    const UINT adapter_;
    const DWORD behaviourFlags_;

    std::mutex mutex_;
    Surface* renderTarget_ = nullptr;
    VertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT streamStride_ = 0;
    VertexDeclaration* declaration_ = nullptr;
    DWORD cullMode_ = D3DCULL_CCW;  // the device default
    bool inScene_ = false;
    PassBinding pass_;
    std::unique_ptr<WorkerPool> pool_;  // the optimised adapter's "graphics card", made on first use
    uint32_t shuffleSeed_ = 1;
};

Device* AsDevice(IDirect3DDevice9* device);

// Worker count the optimised adapter runs with now (test setting, or one per core).
int OptimisedWorkerCount();

}  // namespace qv::d3d9
