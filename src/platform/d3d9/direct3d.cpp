// The Direct3D object: two adapters, the optimised and the reference rasteriser, and device
// creation on either.
#include <hwy/targets.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/d3d9/com_object.h"
#include "platform/d3d9/device.h"
#include "platform/d3d9/faults.h"
#include "platform/d3d9/texture.h"

namespace qv::d3d9 {
namespace {

constexpr const char* kDriverName = "qv_d3d9 software rasteriser";
constexpr const char* kReferenceDescription = "Quillervantis reference rasteriser";

// The best SIMD target both compiled in and supported by this processor: the one the pixel
// programs dispatch to.
const char* BestSimdTargetName() {
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    return targets.empty() ? "unknown" : hwy::TargetName(targets.front());
}

std::string AdapterDescription(UINT adapter) {
    if (adapter == kReferenceAdapter) return kReferenceDescription;
    return "Quillervantis software rasteriser (" + std::string(BestSimdTargetName()) + ", " +
           std::to_string(OptimisedWorkerCount()) + " threads)";
}

void CopyText(char* out, size_t capacity, const std::string& text) { std::snprintf(out, capacity, "%s", text.c_str()); }

class Direct3D final : public RefCounted<IDirect3D9> {
public:
    UINT GetAdapterCount() override { return kAdapterCount; }

    HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) override {
        (void)flags;
        const InjectedResult injected("GetAdapterIdentifier");
        if (injected.Fails()) return injected.Code();
        if (adapter >= kAdapterCount || !identifier) return D3DERR_INVALIDCALL;
        std::memset(identifier, 0, sizeof(*identifier));
        CopyText(identifier->Driver, sizeof(identifier->Driver), kDriverName);
        CopyText(identifier->Description, sizeof(identifier->Description), AdapterDescription(adapter));
        CopyText(identifier->DeviceName, sizeof(identifier->DeviceName),
                 "\\\\.\\DISPLAY" + std::to_string(adapter + 1));
        return injected.Or(D3D_OK);
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                         D3DPRESENT_PARAMETERS* presentation, IDirect3DDevice9** device) override {
        (void)focusWindow;
        if (!device) return D3DERR_INVALIDCALL;
        *device = nullptr;
        const InjectedResult injected("CreateDevice");
        if (injected.Fails()) return injected.Code();
        if (adapter >= kAdapterCount || !presentation) return D3DERR_INVALIDCALL;
        // Both rasterisers serve as the hardware device; there is no separate reference type.
        if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
        // Nothing is ever presented, so only windowed devices make sense.
        if (!presentation->Windowed) return D3DERR_INVALIDCALL;
        auto* created = new (std::nothrow) Device(this, adapter, behaviourFlags);
        if (!created) return E_OUTOFMEMORY;
        *device = created;
        return injected.Or(D3D_OK);
    }

private:
    ~Direct3D() override = default;
};

}  // namespace
}  // namespace qv::d3d9

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION || qv::d3d9::Direct3DCreateFails()) return nullptr;
    return new (std::nothrow) qv::d3d9::Direct3D();
}

HRESULT D3DXCreateTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture9** texture) {
    if (texture) *texture = nullptr;
    const qv::d3d9::InjectedResult injected("D3DXCreateTexture");
    if (injected.Fails()) return injected.Code();
    if (!device) return D3DERR_INVALIDCALL;
    // Exactly the size asked for: the stand-in has no size restrictions to round to.
    return injected.Or(qv::d3d9::Texture::Create(width, height, levels, usage, format, pool, texture));
}
