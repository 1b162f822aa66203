// The per-frame entry the host calls on its processing thread.
#include <mutex>

#include "frame/pass_through.h"
#include "frame/render_pipeline.h"
#include "gpu/gpu_lifecycle.h"
#include "host/callback_lock.h"
#include "host/callbacks.h"
#include "host/sliders.h"
#include "transfer/frame_transfer.h"

namespace qv::host {
namespace {

bool CreateDevice(FilterInstance* instance) {
    return gpu::Create(instance->window, instance->module, instance->sliderValues[kAdapter]);
}

int32_t FailWithPassThrough(FilterInstance* instance, FrameRequest* request) {
    gpu::ReleaseAll();
    frame::PassThroughCopy(instance, request);
    return 0;
}

}  // namespace

int32_t ProcessCallback(FilterInstance* instance, FrameRequest* request) {
    if (request->width > kMaxRequestWidth || request->height > kMaxRequestHeight) return 0;
    std::lock_guard<std::mutex> lock(CallbackMutex());
    gpu::GpuContext& ctx = gpu::Context();
    frame::PipelineState& pipeline = frame::Pipeline();
    HostServices* services = instance->services;
    const int32_t n = request->frame;

    int32_t w = 0;
    int32_t h = 0;
    services->FetchSourceFrame(instance, request->edit, n, &w, &h);
    request->width = w;
    request->height = h;
    services->SetSourceCacheSize(instance, w, h, 2, 0);

    if (ctx.disabled.load()) {
        frame::PassThroughCopy(instance, request);
        return 1;
    }
    if (!ctx.ready.load() && !CreateDevice(instance)) return FailWithPassThrough(instance, request);
    if (ctx.device->TestCooperativeLevel() != 0) {
        gpu::ReleaseAll();
        frame::ForgetPrefetchedFrame();
        if (!CreateDevice(instance)) return FailWithPassThrough(instance, request);
    }
    if (!frame::Acquire(instance, request, n)) return 0;
    if (!transfer::DownloadFrame(instance, request)) return 0;

    if (n != request->frameCount - 1 && services->IsSaving(request->edit)) {
        if (!frame::Render(instance, request, n + 1)) {
            gpu::ReleaseAll();
            return 0;
        }
        pipeline.prefetched.store(n + 1);
    } else {
        pipeline.prefetched.store(-1);
    }
    request->width = ctx.dstW;
    request->height = ctx.dstH;
    return 1;
}

}  // namespace qv::host
