#include "platform/d3d9/device.h"

#include <algorithm>

#include "platform/d3d9/faults.h"
#include "platform/d3d9/row_schedulers.h"
#include "platform/d3d9/screen_quad.h"

namespace qv::d3d9 {

int OptimisedWorkerCount() {
    const RowScheduling scheduling = CurrentRowScheduling();
    return scheduling.workers > 0 ? scheduling.workers : WorkerPool::HardwareThreads();
}

Device::Device(IDirect3D9* direct3d, UINT adapter, DWORD behaviourFlags)
    : direct3d_(direct3d), adapter_(adapter), behaviourFlags_(behaviourFlags) {
    direct3d_->AddRef();
}

Device::~Device() {
    ReleaseBinding(pass_);
    ReleaseRef(renderTarget_);
    ReleaseRef(stream_);
    ReleaseRef(declaration_);
    pool_.reset();
    ReleaseRef(direct3d_);
}

void Device::ReleaseBinding(PassBinding& binding) {
    for (Texture*& t : binding.textures) ReleaseRef(t);
    binding.owner = nullptr;
    binding.program = nullptr;
    for (gfx::SamplerState& s : binding.states) s = gfx::SamplerState{};
    // The block buffers keep their capacity for the next binding made in them.
    binding.params.clear();
    binding.scale.clear();
    binding.weight.clear();
}

HRESULT Device::TestCooperativeLevel() {
    const InjectedResult injected("TestCooperativeLevel");
    if (injected.Fails()) return injected.Code();
    return injected.Or(DevicesLost() ? D3DERR_DEVICELOST : D3D_OK);
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* shared) {
    if (texture) *texture = nullptr;
    const InjectedResult injected("CreateTexture");
    if (injected.Fails()) return injected.Code();
    if (shared) return D3DERR_INVALIDCALL;  // no shared resources
    return injected.Or(Texture::Create(width, height, levels, usage, format, pool, texture));
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** declaration) {
    if (declaration) *declaration = nullptr;
    const InjectedResult injected("CreateVertexDeclaration");
    if (injected.Fails()) return injected.Code();
    return injected.Or(VertexDeclaration::Create(elements, declaration));
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                                   HANDLE* shared) {
    if (buffer) *buffer = nullptr;
    const InjectedResult injected("CreateVertexBuffer");
    if (injected.Fails()) return injected.Code();
    if (shared) return D3DERR_INVALIDCALL;
    return injected.Or(VertexBuffer::Create(length, usage, fvf, pool, buffer));
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    const InjectedResult injected("SetRenderState");
    if (injected.Fails()) return injected.Code();
    // Culling is the one render state the rasteriser implements.
    if (state != D3DRS_CULLMODE || value < D3DCULL_NONE || value > D3DCULL_CCW) return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    cullMode_ = value;
    return injected.Or(D3D_OK);
}

HRESULT Device::BeginScene() {
    const InjectedResult injected("BeginScene");
    if (injected.Fails()) return injected.Code();
    std::lock_guard<std::mutex> lock(mutex_);
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return injected.Or(D3D_OK);
}

HRESULT Device::EndScene() {
    const InjectedResult injected("EndScene");
    if (injected.Fails()) return injected.Code();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return injected.Or(D3D_OK);
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    const InjectedResult injected("SetVertexDeclaration");
    if (injected.Fails()) return injected.Code();
    VertexDeclaration* ours = declaration ? AsVertexDeclaration(declaration) : nullptr;
    if (declaration && !ours) return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    AssignRef(declaration_, ours);
    return injected.Or(D3D_OK);
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    const InjectedResult injected("SetStreamSource");
    if (injected.Fails()) return injected.Code();
    VertexBuffer* ours = buffer ? AsVertexBuffer(buffer) : nullptr;
    if (stream != 0 || (buffer && !ours)) return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    AssignRef(stream_, ours);
    streamOffset_ = ours ? offset : 0;
    streamStride_ = ours ? stride : 0;
    return injected.Or(D3D_OK);
}

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    const InjectedResult injected("SetRenderTarget");
    if (injected.Fails()) return injected.Code();
    Surface* ours = surface ? AsSurface(surface) : nullptr;
    // One render target, and target 0 can never be empty.
    if (index != 0 || !ours || !ours->Owner().IsRenderTarget()) return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    AssignRef(renderTarget_, ours);
    return injected.Or(D3D_OK);
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    const InjectedResult injected("DrawPrimitive");
    if (injected.Fails()) return injected.Code();
    // The whole draw holds the device: its state cannot change under a running program.
    std::lock_guard<std::mutex> lock(mutex_);
    return injected.Or(DrawLocked(type, startVertex, primitiveCount));
}

HRESULT Device::DrawLocked(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (!inScene_) return D3DERR_INVALIDCALL;
    if (type != D3DPT_TRIANGLESTRIP || primitiveCount != 2) return D3DERR_INVALIDCALL;
    if (!declaration_ || !stream_ || !renderTarget_ || !pass_.program) return D3DERR_INVALIDCALL;
    if (stream_->IsLocked()) return D3DERR_INVALIDCALL;
    ScreenQuad quad;
    if (!ReadScreenQuad(stream_->Bytes(), stream_->Length(), streamOffset_, streamStride_, startVertex, &quad)) {
        return D3DERR_INVALIDCALL;
    }
    // A texture locked by another thread while a pass may read it is a race, not a draw.
    for (const Texture* t : pass_.textures) {
        if (t && t->IsLocked()) return D3DERR_INVALIDCALL;
    }
    // A lost device accepts draws and does nothing with them, as a real one does.
    if (DevicesLost()) return D3D_OK;
    // The quad's triangles wind clockwise on screen.
    if (cullMode_ == D3DCULL_CW) return D3D_OK;

    Texture& target = renderTarget_->Owner();
    PrepareTexels(target);
    // Only the samplers the program reads: a texture no draw reads is never made ready, so a
    // chain that leaves some of its textures out never touches their memory.
    const gfx::SamplerSet reads = pass_.program->samplers;
    const auto read = [reads](int slot) { return (reads >> slot & 1U) != 0; };
    for (int i = 0; i < gfx::kSamplerSlots; ++i) {
        if (const Texture* t = pass_.textures[i]; t && read(i)) PrepareTexels(*t);
    }
    const D3DSURFACE_DESC& size = target.Desc();
    target.BeforeDraw(quad.width >= static_cast<int>(size.Width) && quad.height >= static_cast<int>(size.Height));
    gfx::DrawContext context;
    context.target = target.Target();
    context.width = std::min(quad.width, context.target.width);
    context.height = std::min(quad.height, context.target.height);
    for (int i = 0; i < gfx::kSamplerSlots; ++i) {
        if (const Texture* t = pass_.textures[i]; t && read(i)) {
            context.samplers[i].texture = t->View();
            context.samplers[i].state = pass_.states[i];
        }
    }
    context.params = pass_.params.empty() ? nullptr : pass_.params.data();
    context.scale = pass_.scale.empty() ? nullptr : pass_.scale.data();
    context.weight = pass_.weight.empty() ? nullptr : pass_.weight.data();
    RunProgram(context);
    return D3D_OK;
}

void Device::RunProgram(const gfx::DrawContext& context) {
    const gfx::PixelProgram& program = *pass_.program;
    if (adapter_ == kReferenceAdapter) {
        program.reference(context);
        return;
    }
    const RowScheduling scheduling = CurrentRowScheduling();
    if (scheduling.shuffled) {
        gfx::ShuffledRowScheduler scheduler(shuffleSeed_++);
        program.optimised(context, scheduler);
        return;
    }
    gfx::PoolRowScheduler scheduler(*OptimisedPool());
    program.optimised(context, scheduler);
}

WorkerPool* Device::OptimisedPool() {
    if (adapter_ == kReferenceAdapter) return nullptr;
    const int workers = OptimisedWorkerCount();
    if (!pool_ || pool_->Size() != workers) pool_ = std::make_unique<WorkerPool>(workers);
    return pool_.get();
}

void Device::PrepareTexels(const Texture& texture) {
    WorkerPool* pool = OptimisedPool();
    if (!pool || pool->Size() == 1) {
        texture.EnsureFilled();
        return;
    }
    const Texture::RowRunner runner = [pool](int rows, const std::function<void(int, int)>& band) {
        pool->ParallelBands(rows, (rows + 4 * pool->Size() - 1) / (4 * pool->Size()), band);
    };
    texture.EnsureFilled(&runner);
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destination) {
    const InjectedResult injected("GetRenderTargetData");
    if (injected.Fails()) return injected.Code();
    if (DevicesLost()) return D3DERR_DEVICELOST;
    Surface* source = renderTarget ? AsSurface(renderTarget) : nullptr;
    Surface* target = destination ? AsSurface(destination) : nullptr;
    if (!source || !target) return D3DERR_INVALIDCALL;
    const D3DSURFACE_DESC& from = source->Owner().Desc();
    const D3DSURFACE_DESC& to = target->Owner().Desc();
    if (!source->Owner().IsRenderTarget() || to.Pool != D3DPOOL_SYSTEMMEM || from.Width != to.Width ||
        from.Height != to.Height || from.Format != to.Format) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Texture& dst = target->Owner();
    if (!dst.TryLockForCopy()) return D3DERR_INVALIDCALL;
    Texture& src = source->Owner();
    PrepareTexels(src);
    PrepareTexels(dst);
    Texture::ReadBack(src, dst);
    dst.UnlockAfterCopy();
    // A read-back ends a frame's work on the card: its workers need not watch for more.
    if (pool_) pool_->Rest();
    return injected.Or(D3D_OK);
}

void Device::BindPass(PassBinding& binding) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(pass_, binding);
    ReleaseBinding(binding);
}

void Device::UnbindPass(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pass_.owner == owner) ReleaseBinding(pass_);
}

Device* AsDevice(IDirect3DDevice9* device) { return dynamic_cast<Device*>(device); }

}  // namespace qv::d3d9
