#include "transfer/frame_transfer.h"

#include "gpu/gpu_context.h"
#include "gpu/gpu_lifecycle.h"
#include "host/messages.h"
#include "platform/d3d9/d3d9.h"
#include "transfer/packed_frame.h"

namespace qv::transfer {
namespace {

// Operation names as the failure boxes show them.
constexpr const char* kLockRect = "LockRect";
constexpr const char* kUnlockRect = "UnlockRect";
constexpr const char* kFetchSourceFrame = "FetchSourceFrame";

// Tex is rewritten whole every frame: its old content is discarded, and no system lock is
// held while the workers write.
constexpr DWORD kUploadLockFlags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
constexpr DWORD kDownloadLockFlags = D3DLOCK_READONLY;

constexpr int32_t kTexSlot = 1;  // gpu::GpuContext::textures[1] is Tex

// Spreads the rows over the host's worker threads; returns when every worker has returned.
// A host without the service gets the rows converted on this thread as a single worker.
void ConvertRows(const FilterInstance* instance, WorkerFunction worker, RowTransfer* rows) {
    const HostServices* services = instance ? instance->services : nullptr;
    if (services && services->RunOnWorkerThreads) {
        services->RunOnWorkerThreads(worker, rows, nullptr);
    } else {
        worker(0, 1, rows, nullptr);
    }
}

}  // namespace

bool UploadFrame(FilterInstance* instance, FrameRequest* request, int32_t n) {
    gpu::GpuContext& ctx = gpu::Context();
    IDirect3DTexture9* tex = ctx.textures[kTexSlot];
    D3DLOCKED_RECT locked{};
    if (!tex || FAILED(tex->LockRect(0, &locked, nullptr, kUploadLockFlags))) {
        host::ShowFailure(kLockRect);
        return false;
    }
    const YcPixel* frame = nullptr;
    if (instance && instance->services && instance->services->FetchSourceFrame) {
        frame = instance->services->FetchSourceFrame(instance, request->edit, n, nullptr, nullptr);
    }
    if (frame) {
        // Source rows lie as the host delivers them, back to back; the lock reports the
        // texture's own (possibly padded) pitch.
        RowTransfer rows = MakeRowTransfer(reinterpret_cast<const int16_t*>(frame), SourceRowSamples(ctx.srcW),
                                           static_cast<int16_t*>(locked.pBits), locked.Pitch / 2, ctx.srcW, ctx.srcH);
        ConvertRows(instance, UploadWorker, &rows);
    }
    if (FAILED(tex->UnlockRect(0))) {
        host::ShowFailure(kUnlockRect);
        return false;
    }
    if (!frame) {
        // Without the source there is nothing to render: the texture's content is discarded.
        host::ShowFailure(kFetchSourceFrame);
        return false;
    }
    return true;
}

bool DownloadFrame(FilterInstance* instance, FrameRequest* request) {
    gpu::GpuContext& ctx = gpu::Context();
    IDirect3DSurface9* surface = ctx.readBackSurface;
    D3DLOCKED_RECT locked{};
    if (!surface || FAILED(surface->LockRect(&locked, nullptr, kDownloadLockFlags))) {
        gpu::ReleaseAll();
        host::ShowFailure(kLockRect);
        return false;
    }
    if (request->editBuffer) {
        RowTransfer rows = MakeRowTransfer(static_cast<const int16_t*>(locked.pBits), locked.Pitch / 2,
                                           reinterpret_cast<int16_t*>(request->editBuffer),
                                           kSamplesPerPixel * request->rowLength, ctx.dstW, ctx.dstH);
        ConvertRows(instance, DownloadWorker, &rows);
    }
    if (FAILED(surface->UnlockRect())) {
        gpu::ReleaseAll();
        host::ShowFailure(kUnlockRect);
        return false;
    }
    return true;
}

}  // namespace qv::transfer
