#include "frame/render_pipeline.h"

#include "gpu/gpu_lifecycle.h"
#include "host/messages.h"
#include "host/sliders.h"
#include "transfer/frame_transfer.h"

namespace qv::frame {
namespace {

DWORD RenderThreadProc(LPVOID) {
    PipelineState& p = Pipeline();
    p.error.store(0);
    if (p.stop.load()) {
        SetEvent(p.doneEvent);
        return 0;
    }
    for (;;) {
        WaitForSingleObject(p.startEvent, INFINITE);
        if (p.stop.load()) {
            SetEvent(p.doneEvent);
            return 0;
        }
        const int32_t code = gpu::RunPassChain();
        if (code != 0) {
            p.error.store(code);
            SetEvent(p.doneEvent);
            return 0;
        }
        SetEvent(p.doneEvent);
        if (p.stop.load()) {
            SetEvent(p.doneEvent);
            return 0;
        }
    }
}

// Waits for a thread that has ended (or is about to) and closes its handle.
void JoinAndClose(HANDLE thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// After every wait of acquire: a render-thread failure ends that thread by itself; forget it,
// release everything and fail without a message.
bool RenderSucceeded() {
    PipelineState& p = Pipeline();
    if (p.error.load() == 0) return true;
    if (p.renderThread) {
        JoinAndClose(p.renderThread);
        p.renderThread = nullptr;
    }
    p.error.store(0);
    ResetEvent(p.startEvent);
    ResetEvent(p.doneEvent);
    gpu::ReleaseAll();
    return false;
}

void WaitForFrameInFlight() {
    PipelineState& p = Pipeline();
    WaitForSingleObject(p.doneEvent, INFINITE);
    p.inFlight.store(0);
}

// Sizes a misbehaving host could send: they would divide by zero in the constants or write
// past the end of an edit-buffer row, or below the edit buffer's last row.
bool SizesValid(const FrameRequest& request, int32_t dstW, int32_t dstH) {
    constexpr int32_t kLimit = 16384;
    const bool positive = request.width >= 1 && request.height >= 1 && dstW >= 1 && dstH >= 1;
    const bool bounded = request.width <= kLimit && request.height <= kLimit && dstW <= kLimit && dstH <= kLimit;
    const bool fits = (request.rowLength <= 0 || dstW <= request.rowLength) &&
                      (request.maxHeight <= 0 || dstH <= request.maxHeight);
    return positive && bounded && fits;
}

}  // namespace

PipelineState& Pipeline() {
    static PipelineState state;
    return state;
}

namespace {

// A module unloaded without its exit callback still leaves no render thread behind. Built at
// load, after the pipeline state, so it is destroyed before it.
struct StopOnUnload {
    StopOnUnload() { Pipeline(); }
    ~StopOnUnload() { Stop(); }
};
const StopOnUnload stopOnUnload;

}  // namespace

bool CreateEvents() {
    PipelineState& p = Pipeline();
    if (!p.startEvent) p.startEvent = CreateEventA(nullptr, 0, 0, nullptr);
    if (!p.doneEvent) p.doneEvent = CreateEventA(nullptr, 0, 0, nullptr);
    return p.startEvent && p.doneEvent;
}

void ForgetPrefetchedFrame() {
    PipelineState& p = Pipeline();
    p.prefetched.store(-1);
    p.stale.store(0);
}

bool Render(FilterInstance* instance, FrameRequest* request, int32_t n) {
    PipelineState& p = Pipeline();
    gpu::GpuContext& ctx = gpu::Context();
    const int32_t* sliders = instance->sliderValues;
    const int32_t dstW = sliders[host::kWidth];
    const int32_t dstH = sliders[host::kHeight];
    if (ctx.srcW != request->width || ctx.srcH != request->height || ctx.dstW != dstW || ctx.dstH != dstH) {
        const bool built = SizesValid(*request, dstW, dstH) &&
                           gpu::InitTexture(request->width, request->height, dstW, dstH);
        if (!built) {
            host::ShowFailure("initTexture");
            gpu::ReleaseAll();
            return false;
        }
    }
    if (ctx.paramsDirty.load()) gpu::UpdateParamsAndWeight(sliders);
    if (!transfer::UploadFrame(instance, request, n)) return false;
    if (!p.renderThread) {
        p.stop.store(0);
        p.renderThread = CreateThread(nullptr, 0, RenderThreadProc, nullptr, 0, nullptr);
        if (!p.renderThread) {
            host::ShowFailure("CreateThread");
            return false;
        }
    }
    SetThreadPriority(p.renderThread, GetThreadPriority(GetCurrentThread()) + 1);
    p.inFlight.store(1);
    SetEvent(p.startEvent);
    return true;
}

bool Acquire(FilterInstance* instance, FrameRequest* request, int32_t n) {
    PipelineState& p = Pipeline();
    const int32_t prefetched = p.prefetched.load();
    if (p.stale.load() || (prefetched != -1 && prefetched != n)) {
        ForgetPrefetchedFrame();
        if (p.inFlight.load()) {
            WaitForFrameInFlight();
            if (!RenderSucceeded()) return false;
        }
    }
    if (p.prefetched.load() == -1) {
        if (!Render(instance, request, n)) {
            host::ShowFailure("Render");
            gpu::ReleaseAll();
            return false;
        }
    } else if (n != request->frameCount - 1) {
        // Look ahead while the render thread works on frame n.
        instance->services->FetchSourceFrame(instance, request->edit, n + 1, nullptr, nullptr);
    }
    WaitForFrameInFlight();
    return RenderSucceeded();
}

void Stop() {
    PipelineState& p = Pipeline();
    if (!p.renderThread) return;
    p.stop.store(1);
    SetEvent(p.startEvent);
    WaitForSingleObject(p.doneEvent, INFINITE);
    // A stop during a frame is answered twice and its start signal is never taken: wait for
    // the thread to end, then drop whatever is left pending.
    JoinAndClose(p.renderThread);
    p.renderThread = nullptr;
    ResetEvent(p.startEvent);
    ResetEvent(p.doneEvent);
    p.inFlight.store(0);
    p.error.store(0);
}

}  // namespace qv::frame
