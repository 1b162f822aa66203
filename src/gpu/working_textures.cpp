// initTexture: the size-dependent textures, the six quads and the scale block.
#include "gpu/working_textures.h"

#include <cstring>

#include "gpu/filter_constants.h"
#include "gpu/gpu_lifecycle.h"
#include "gpu/holders.h"
#include "gpu/working_sizes.h"
#include "host/messages.h"

namespace qv::gpu {

namespace {

constexpr int kTexSlot = 1;

// Creates a one-level working texture into `texture` and, when `surface` is given, fetches its
// level 0 into it. Each holder is emptied before it receives the new object.
bool CreateWorkingTexture(IDirect3DDevice9* device, int32_t width, int32_t height, DWORD usage, D3DPOOL pool,
                          IDirect3DTexture9** texture, IDirect3DSurface9** surface) {
    ReleaseHolder(*texture);
    if (surface) ReleaseHolder(*surface);
    IDirect3DTexture9* created = nullptr;
    // A size below one texel is no texture at all; the device is not asked for one.
    const bool sized = width > 0 && height > 0;
    if (!device || !sized ||
        FAILED(D3DXCreateTexture(device, static_cast<UINT>(width), static_cast<UINT>(height), 1, usage,
                                 kWorkingFormat, pool, &created)) ||
        !created) {
        ReleaseHolder(created);
        host::ShowFailure("D3DXCreateTexture");
        return false;
    }
    *texture = created;
    if (!surface) return true;
    IDirect3DSurface9* level = nullptr;
    if (FAILED(created->GetSurfaceLevel(0, &level)) || !level) {
        ReleaseHolder(level);
        host::ShowFailure("GetSurfaceLevel");
        return false;
    }
    *surface = level;
    return true;
}

bool CreateRenderTarget(IDirect3DDevice9* device, int32_t width, int32_t height, IDirect3DTexture9** texture,
                        IDirect3DSurface9** surface) {
    return CreateWorkingTexture(device, width, height, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, texture, surface);
}

bool CreateSystemMemoryTexture(IDirect3DDevice9* device, int32_t width, int32_t height,
                               IDirect3DTexture9** texture, IDirect3DSurface9** surface) {
    return CreateWorkingTexture(device, width, height, 0, D3DPOOL_SYSTEMMEM, texture, surface);
}

struct SlotSize {
    int32_t width;
    int32_t height;
};

SlotSize RenderTargetSize(int slot, const WorkingSizes& s) {
    switch (slot) {
        case 2:
        case 3: return {s.srcW, s.srcH};
        case 4: return {s.maxW, s.srcH};
        case 9: return {s.dstW, s.maxH};
        case 10: return {s.dstW, s.dstH};
        default: return {s.maxW, s.maxH};  // Tex5 to Tex8
    }
}

// The vertex buffer's failures are failures of initTexture: without the quads no pass can
// draw its target.
bool CreateQuads(GpuContext& c, const WorkingSizes& sizes) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(c.device->CreateVertexBuffer(kVertexBufferBytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &buffer,
                                            nullptr)) ||
        !buffer) {
        ReleaseHolder(buffer);
        host::ShowFailure("CreateVertexBuffer");
        return false;
    }
    c.vertexBuffer = buffer;
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0))) {
        host::ShowFailure("Lock");
        return false;
    }
    if (!data) {
        buffer->Unlock();
        host::ShowFailure("Lock");
        return false;
    }
    const QuadVertices vertices = BuildQuadVertices(sizes);
    std::memcpy(data, vertices.data(), sizeof(vertices));
    if (FAILED(buffer->Unlock())) {
        host::ShowFailure("Unlock");
        return false;
    }
    return true;
}

}  // namespace

void ReleaseSizeDependentSet(GpuContext& c) {
    ReleaseHolder(c.textures[kTexSlot]);
    for (const int slot : kRenderTargetOrder) {
        ReleaseHolder(c.textures[slot]);
        ReleaseHolder(c.surfaces[slot]);
    }
    ReleaseHolder(c.packedTargetSurface);
    ReleaseHolder(c.packedTarget);
    ReleaseHolder(c.readBackSurface);
    ReleaseHolder(c.readBack);
    c.srcW = c.srcH = c.dstW = c.dstH = 0;
    c.paramsDirty.store(1);
}

bool InitTexture(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH) {
    GpuContext& c = Context();
    ReleaseSizeDependentSet(c);
    ReleaseHolder(c.vertexBuffer);

    const WorkingSizes sizes = WorkingSizes::For(srcW, srcH, dstW, dstH);
    c.maxW = sizes.maxW;
    c.maxH = sizes.maxH;

    if (!CreateWorkingTexture(c.device, sizes.texWSrc(), srcH, D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT,
                              &c.textures[kTexSlot], nullptr)) {
        return false;
    }
    for (const int slot : kRenderTargetOrder) {
        const SlotSize size = RenderTargetSize(slot, sizes);
        if (!CreateRenderTarget(c.device, size.width, size.height, &c.textures[slot], &c.surfaces[slot])) {
            return false;
        }
    }
    if (!CreateRenderTarget(c.device, sizes.texWDst(), dstH, &c.packedTarget, &c.packedTargetSurface)) return false;
    if (!CreateSystemMemoryTexture(c.device, sizes.texWDst(), dstH, &c.readBack, &c.readBackSurface)) return false;
    if (!CreateQuads(c, sizes)) return false;

    const effect::ScaleBlock scale = ComputeScale(srcW, srcH, dstW, dstH);
    // Setting a block cannot fail for a loaded effect; its result is not looked at.
    if (c.effect) c.effect->SetValue(c.parameters[kParamScale], &scale, sizeof(scale));

    c.srcW = srcW;
    c.srcH = srcH;
    c.dstW = dstW;
    c.dstH = dstH;
    return true;
}

}  // namespace qv::gpu
