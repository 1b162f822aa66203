// Create and release all of the device-level part of the context.
#include "gpu/device_lifecycle.h"

#include <string>

#include "effect/effect_resource.h"
#include "frame/render_pipeline.h"
#include "gpu/gpu_lifecycle.h"
#include "gpu/holders.h"
#include "gpu/weight_table.h"
#include "gpu/working_textures.h"
#include "host/messages.h"

namespace qv::gpu {

namespace {

// Hardware vertex processing, multithreaded (the render thread draws while the processing
// thread locks textures), and the caller's floating-point mode kept.
constexpr DWORD kBehaviourFlags =
    D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE;
static_assert(kBehaviourFlags == 0x46);

// The weight table is rewritten whole once per device.
constexpr DWORD kWeightTableLockFlags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
static_assert(kWeightTableLockFlags == 0x2800);

// The compiler message buffer of D3DXCreateEffect, released on every way out.
class CompilerMessages {
public:
    ~CompilerMessages() { ReleaseHolder(buffer_); }
    ID3DXBuffer** Receive() { return &buffer_; }
    // The text, without the terminating zero the compiler appends.
    std::string Text() const {
        if (!buffer_ || !buffer_->GetBufferPointer()) return {};
        std::string text(static_cast<const char*>(buffer_->GetBufferPointer()), buffer_->GetBufferSize());
        while (!text.empty() && text.back() == '\0') text.pop_back();
        return text;
    }
    bool Present() const { return buffer_ != nullptr; }

private:
    ID3DXBuffer* buffer_ = nullptr;
};

enum class DeviceResult { kCreated, kRetry, kCancelled };

DeviceResult CreateDevice(GpuContext& c, WindowHandle window, int32_t adapter) {
    D3DPRESENT_PARAMETERS presentation{};
    presentation.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentation.Windowed = 1;
    ReleaseHolder(c.device);
    IDirect3DDevice9* device = nullptr;
    const HRESULT hr = c.d3d->CreateDevice(static_cast<UINT>(adapter), D3DDEVTYPE_HAL, window, kBehaviourFlags,
                                           &presentation, &device);
    if (SUCCEEDED(hr) && device) {
        c.device = device;
        return DeviceResult::kCreated;
    }
    ReleaseHolder(device);
    // Only Retry tries again; Cancel, or any other answer, gives up the GPU path.
    return host::AskRetryDeviceCreation() == IDRETRY ? DeviceResult::kRetry : DeviceResult::kCancelled;
}

bool CreateVertexDeclaration(GpuContext& c) {
    static constexpr D3DVERTEXELEMENT9 kElements[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
        D3DDECL_END(),
    };
    ReleaseHolder(c.vertexDeclaration);
    IDirect3DVertexDeclaration9* declaration = nullptr;
    if (FAILED(c.device->CreateVertexDeclaration(kElements, &declaration)) || !declaration) {
        ReleaseHolder(declaration);
        host::ShowFailure("CreateVertexDeclaration");
        return false;
    }
    c.vertexDeclaration = declaration;
    return true;
}

struct ResourceBytes {
    const void* data = nullptr;
    DWORD size = 0;
};

bool LoadEffectResource(ModuleHandle module, ResourceBytes* bytes) {
    const HRSRC resource = FindResourceA(module, effect::kEffectResourceName, RT_RCDATA);
    if (!resource) {
        host::ShowFailure("FindResource");
        return false;
    }
    const HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded) {
        host::ShowFailure("LoadResource");
        return false;
    }
    const void* data = LockResource(loaded);
    if (!data) {
        host::ShowFailure("LockResource");
        return false;
    }
    bytes->data = data;
    bytes->size = SizeofResource(module, resource);
    return true;
}

bool CreateEffect(GpuContext& c, const ResourceBytes& bytes) {
    ReleaseHolder(c.effect);
    CompilerMessages messages;
    ID3DXEffect* effect = nullptr;
    const HRESULT hr = D3DXCreateEffect(c.device, bytes.data, bytes.size, nullptr, nullptr, 0, nullptr, &effect,
                                        messages.Receive());
    if (FAILED(hr) || !effect) {
        ReleaseHolder(effect);
        host::ShowFailure("D3DXCreateEffect");
        if (messages.Present()) host::ShowWarningText(messages.Text().c_str());
        return false;
    }
    c.effect = effect;
    return true;
}

bool SelectTechnique(GpuContext& c) {
    c.technique = c.effect->GetTechniqueByName(kTechniqueName);
    if (!c.technique || FAILED(c.effect->SetTechnique(c.technique))) {
        host::ShowFailure("SetTechnique");
        return false;
    }
    return true;
}

// Every pass and block depends on these names; one missing is a broken effect, not a frame
// that may go on drawing with a block it cannot set.
bool LookUpParameters(GpuContext& c) {
    for (int i = 0; i < kEffectParameterCount; ++i) {
        c.parameters[i] = c.effect->GetParameterByName(nullptr, kEffectParameterNames[i]);
    }
    for (const D3DXHANDLE handle : c.parameters) {
        if (!handle) {
            host::ShowFailure("GetParameterByName");
            return false;
        }
    }
    return true;
}

bool CreateWeightTable(GpuContext& c) {
    ReleaseHolder(c.weightTable);
    IDirect3DTexture9* table = nullptr;
    if (FAILED(D3DXCreateTexture(c.device, kWeightTableEntries, 1, 1, D3DUSAGE_DYNAMIC, D3DFMT_A32B32G32R32F,
                                 D3DPOOL_DEFAULT, &table)) ||
        !table) {
        ReleaseHolder(table);
        host::ShowFailure("D3DXCreateTexture");
        return false;
    }
    c.weightTable = table;
    D3DLOCKED_RECT locked{};
    if (FAILED(table->LockRect(0, &locked, nullptr, kWeightTableLockFlags))) {
        host::ShowFailure("LockRect");
        return false;
    }
    if (!locked.pBits) {
        table->UnlockRect(0);
        host::ShowFailure("LockRect");
        return false;
    }
    FillWeightTable(static_cast<float*>(locked.pBits));
    if (FAILED(table->UnlockRect(0))) {
        host::ShowFailure("UnlockRect");
        return false;
    }
    return true;
}

}  // namespace

bool Create(WindowHandle window, ModuleHandle module, int32_t adapter) {
    GpuContext& c = Context();
    for (;;) {
        if (!c.d3d) {
            c.d3d = Direct3DCreate9(D3D_SDK_VERSION);
            if (!c.d3d) {
                host::ShowFailure("Direct3DCreate9");
                c.disabled.store(1);
                return false;
            }
        }
        c.adapter = adapter;
        const DeviceResult device = CreateDevice(c, window, adapter);
        if (device == DeviceResult::kCreated) break;
        if (device == DeviceResult::kCancelled) {
            c.disabled.store(1);
            return false;
        }
        ReleaseAll();
    }

    if (!CreateVertexDeclaration(c)) return false;
    // No depth buffer and no blending, as the device starts; only culling is switched off.
    c.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    ResourceBytes bytes;
    if (!LoadEffectResource(module, &bytes)) return false;
    if (!CreateEffect(c, bytes)) return false;
    if (!SelectTechnique(c)) return false;
    if (!LookUpParameters(c)) return false;
    if (!CreateWeightTable(c)) return false;

    c.ready.store(1);
    return true;
}

void ReleaseHeldObjects(GpuContext& c) {
    ReleaseSizeDependentSet(c);
    ReleaseHolder(c.weightTable);
    ReleaseHolder(c.effect);
    c.technique = nullptr;
    for (D3DXHANDLE& handle : c.parameters) handle = nullptr;
    ReleaseHolder(c.vertexDeclaration);
    ReleaseHolder(c.vertexBuffer);
    ReleaseHolder(c.device);
    ReleaseHolder(c.d3d);
    c.ready.store(0);
}

void ReleaseAll() {
    frame::Stop();
    ReleaseHeldObjects(Context());
}

}  // namespace qv::gpu
