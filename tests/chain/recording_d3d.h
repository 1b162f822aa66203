// Stand-in objects that only record: every call, with the names of the objects it was given,
// goes into one log, so a test can check the exact order in which the context's code talks to
// the graphics interface. They never delete themselves; the test owns them.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gpu/gpu_context.h"
#include "platform/d3d9/d3d9.h"

namespace qv::test {

struct CallLog {
    std::vector<std::string> entries;
    void Add(std::string entry) { entries.push_back(std::move(entry)); }
};

class Named {
public:
    virtual ~Named() = default;
    virtual const std::string& Name() const = 0;
    // Called by every Release, after it was logged.
    std::function<void(const Named&)> onRelease;
};

inline std::string NameOf(const void* object, const IUnknown* asUnknown) {
    if (!object) return "null";
    const auto* named = dynamic_cast<const Named*>(asUnknown);
    return named ? named->Name() : "?";
}
template <class T>
std::string NameOf(const T* object) {
    return NameOf(object, static_cast<const IUnknown*>(object));
}

template <class Interface>
class Recorded : public Interface, public Named {
public:
    Recorded(std::string name, CallLog* log) : name_(std::move(name)), log_(log) {}
    ~Recorded() override = default;

    const std::string& Name() const override { return name_; }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        log_->Add("Release " + name_);
        if (onRelease) onRelease(*this);
        return refs_ > 0 ? --refs_ : 0;
    }

protected:
    void Log(const std::string& call) { log_->Add(call); }

private:
    std::string name_;
    CallLog* log_;
    ULONG refs_ = 1;
};

class RecordedSurface : public Recorded<IDirect3DSurface9> {
public:
    using Recorded::Recorded;
    HRESULT GetDesc(D3DSURFACE_DESC*) override { return D3DERR_INVALIDCALL; }
    HRESULT LockRect(D3DLOCKED_RECT*, const RECT*, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT UnlockRect() override { return D3DERR_INVALIDCALL; }
};

class RecordedTexture : public Recorded<IDirect3DTexture9> {
public:
    using Recorded::Recorded;
    HRESULT GetLevelDesc(UINT, D3DSURFACE_DESC*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9**) override { return D3DERR_INVALIDCALL; }
    HRESULT LockRect(UINT, D3DLOCKED_RECT*, const RECT*, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT UnlockRect(UINT) override { return D3DERR_INVALIDCALL; }
};

class RecordedVertexBuffer : public Recorded<IDirect3DVertexBuffer9> {
public:
    using Recorded::Recorded;
    HRESULT Lock(UINT, UINT, void**, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT Unlock() override { return D3DERR_INVALIDCALL; }
};

class RecordedDeclaration : public Recorded<IDirect3DVertexDeclaration9> {
public:
    using Recorded::Recorded;
};

class RecordedDirect3D : public Recorded<IDirect3D9> {
public:
    using Recorded::Recorded;
    UINT GetAdapterCount() override { return 0; }
    HRESULT GetAdapterIdentifier(UINT, DWORD, D3DADAPTER_IDENTIFIER9*) override { return D3DERR_INVALIDCALL; }
    HRESULT CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*, IDirect3DDevice9**) override {
        return D3DERR_INVALIDCALL;
    }
};

// Records the drawing calls; each returns results[method name], or D3D_OK.
class RecordedDevice : public Recorded<IDirect3DDevice9> {
public:
    using Recorded::Recorded;
    std::map<std::string, HRESULT> results;

    HRESULT TestCooperativeLevel() override { return Result("TestCooperativeLevel"); }
    HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**, HANDLE*) override {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9**) override {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*) override {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        Log("SetRenderState " + std::to_string(state) + " " + std::to_string(value));
        return Result("SetRenderState");
    }
    HRESULT BeginScene() override {
        Log("BeginScene");
        return Result("BeginScene");
    }
    HRESULT EndScene() override {
        Log("EndScene");
        return Result("EndScene");
    }
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override {
        Log("SetVertexDeclaration " + NameOf(declaration));
        return Result("SetVertexDeclaration");
    }
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override {
        Log("SetStreamSource " + std::to_string(stream) + " " + NameOf(buffer) + " " + std::to_string(offset) + " " +
            std::to_string(stride));
        return Result("SetStreamSource");
    }
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override {
        Log("SetRenderTarget " + std::to_string(index) + " " + NameOf(surface));
        return Result("SetRenderTarget");
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT first, UINT count) override {
        Log("DrawPrimitive " + std::to_string(type) + " " + std::to_string(first) + " " + std::to_string(count));
        return Result("DrawPrimitive");
    }
    HRESULT GetRenderTargetData(IDirect3DSurface9* from, IDirect3DSurface9* to) override {
        Log("GetRenderTargetData " + NameOf(from) + " " + NameOf(to));
        return Result("GetRenderTargetData");
    }

private:
    HRESULT Result(const std::string& method) const {
        const auto it = results.find(method);
        return it == results.end() ? D3D_OK : it->second;
    }
};

// Records the effect calls; parameter handles are the parameter names.
class RecordedEffect : public Recorded<ID3DXEffect> {
public:
    using Recorded::Recorded;
    D3DXHANDLE GetTechniqueByName(const char*) override { return nullptr; }
    HRESULT SetTechnique(D3DXHANDLE) override { return D3DERR_INVALIDCALL; }
    D3DXHANDLE GetParameterByName(D3DXHANDLE, const char*) override { return nullptr; }
    HRESULT SetValue(D3DXHANDLE parameter, const void*, UINT bytes) override {
        Log(std::string("SetValue ") + Handle(parameter) + " " + std::to_string(bytes));
        return D3D_OK;
    }
    HRESULT SetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9* texture) override {
        Log(std::string("SetTexture ") + Handle(parameter) + " " + NameOf(texture));
        return D3D_OK;
    }
    HRESULT Begin(UINT* passes, DWORD flags) override {
        Log(std::string("Begin ") + (passes ? "count" : "null") + " " + std::to_string(flags));
        return D3D_OK;
    }
    HRESULT BeginPass(UINT pass) override {
        Log("BeginPass " + std::to_string(pass));
        return D3D_OK;
    }
    HRESULT EndPass() override {
        Log("EndPass");
        return D3D_OK;
    }
    HRESULT End() override {
        Log("End");
        return D3D_OK;
    }

private:
    static const char* Handle(D3DXHANDLE h) { return h ? h : "null"; }
};

// A whole context of recording objects, put into gpu::Context() for the life of this object
// and taken out again (without releases) at its end.
class RecordedContext {
public:
    explicit RecordedContext(int32_t srcW = 64, int32_t srcH = 48, int32_t dstW = 64, int32_t dstH = 48)
        : d3d("Direct3D", &log), device("device", &log), declaration("vertex declaration", &log),
          effect("effect", &log), vertexBuffer("vertex buffer", &log), weightTable("Tex11", &log),
          packedTarget("packed target", &log), packedTargetSurface("packed target surface", &log),
          readBack("read-back", &log), readBackSurface("read-back surface", &log) {
        for (int slot = 1; slot < gpu::kWorkingTextureSlots; ++slot) {
            const std::string name = slot == 1 ? "Tex" : "Tex" + std::to_string(slot);
            textures[slot] = std::make_unique<RecordedTexture>(name, &log);
            if (slot >= 2) surfaces[slot] = std::make_unique<RecordedSurface>(name + " surface", &log);
        }
        gpu::GpuContext& c = gpu::Context();
        c.d3d = &d3d;
        c.device = &device;
        c.vertexDeclaration = &declaration;
        c.effect = &effect;
        c.vertexBuffer = &vertexBuffer;
        c.weightTable = &weightTable;
        c.technique = gpu::kTechniqueName;
        for (int i = 0; i < gpu::kEffectParameterCount; ++i) c.parameters[i] = gpu::kEffectParameterNames[i];
        for (int slot = 1; slot < gpu::kWorkingTextureSlots; ++slot) {
            c.textures[slot] = textures[slot].get();
            c.surfaces[slot] = surfaces[slot].get();
        }
        c.packedTarget = &packedTarget;
        c.packedTargetSurface = &packedTargetSurface;
        c.readBack = &readBack;
        c.readBackSurface = &readBackSurface;
        c.srcW = srcW;
        c.srcH = srcH;
        c.dstW = dstW;
        c.dstH = dstH;
        c.maxW = srcW > dstW ? srcW : dstW;
        c.maxH = srcH > dstH ? srcH : dstH;
        c.ready.store(1);
    }

    ~RecordedContext() {
        gpu::GpuContext& c = gpu::Context();
        c.d3d = nullptr;
        c.device = nullptr;
        c.vertexDeclaration = nullptr;
        c.effect = nullptr;
        c.vertexBuffer = nullptr;
        c.weightTable = nullptr;
        c.technique = nullptr;
        for (auto& p : c.parameters) p = nullptr;
        for (int slot = 0; slot < gpu::kWorkingTextureSlots; ++slot) {
            c.textures[slot] = nullptr;
            c.surfaces[slot] = nullptr;
        }
        c.packedTarget = nullptr;
        c.packedTargetSurface = nullptr;
        c.readBack = nullptr;
        c.readBackSurface = nullptr;
        c.srcW = c.srcH = c.dstW = c.dstH = c.maxW = c.maxH = 0;
        c.params = {};
        c.ready.store(0);
    }

    // Every object, for hooks that apply to all of them.
    std::vector<Named*> All() {
        std::vector<Named*> all = {&d3d,         &device,       &declaration,         &effect,   &vertexBuffer,
                                   &weightTable, &packedTarget, &packedTargetSurface, &readBack, &readBackSurface};
        for (auto& t : textures) {
            if (t) all.push_back(t.get());
        }
        for (auto& s : surfaces) {
            if (s) all.push_back(s.get());
        }
        return all;
    }

    CallLog log;
    RecordedDirect3D d3d;
    RecordedDevice device;
    RecordedDeclaration declaration;
    RecordedEffect effect;
    RecordedVertexBuffer vertexBuffer;
    RecordedTexture weightTable;
    std::unique_ptr<RecordedTexture> textures[gpu::kWorkingTextureSlots];
    std::unique_ptr<RecordedSurface> surfaces[gpu::kWorkingTextureSlots];
    RecordedTexture packedTarget;
    RecordedSurface packedTargetSurface;
    RecordedTexture readBack;
    RecordedSurface readBackSurface;
};

}  // namespace qv::test
