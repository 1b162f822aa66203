// Init, exit, update and window-message callbacks, run on the host's interface thread.
#include "host/callbacks.h"

#include <mutex>
#include <string>

#include "frame/render_pipeline.h"
#include "gpu/gpu_lifecycle.h"
#include "host/callback_lock.h"
#include "host/filter_table.h"
#include "host/resize_list.h"
#include "host/sliders.h"
#include "platform/win32/win32.h"

namespace qv::host {

std::mutex& CallbackMutex() {
    static std::mutex mutex;
    return mutex;
}

namespace {

// The settings window shows "Quillervantis[<adapter description>]".
inline constexpr const char* kWindowTitlePrefix = "Quillervantis[";
inline constexpr const char* kWindowTitleSuffix = "]";

void ShowAdapterInTitle(FilterInstance* instance, int32_t adapter) {
    IDirect3D9* d3d = gpu::Context().d3d;
    if (!d3d || adapter < 0) return;
    D3DADAPTER_IDENTIFIER9 identifier{};
    if (FAILED(d3d->GetAdapterIdentifier(static_cast<UINT>(adapter), 0, &identifier))) return;
    identifier.Description[sizeof(identifier.Description) - 1] = '\0';
    // The title buffer holds 512 bytes; a longer description is cut there.
    std::string title = std::string(kWindowTitlePrefix) + identifier.Description + kWindowTitleSuffix;
    if (title.size() > 511) title.resize(511);
    SetWindowTextA(instance->window, title.c_str());
}

}  // namespace

int32_t InitCallback(FilterInstance* instance) {
    std::lock_guard<std::mutex> lock(CallbackMutex());
    HostSystemInfo info{};
    instance->services->GetHostSystemInfo(nullptr, &info);
    FilterDescriptor* descriptor = GetFilterTable();
    descriptor->sliderMinimums[kWidth] = info.minWidth;
    descriptor->sliderMaximums[kWidth] = info.maxWidth;
    descriptor->sliderMinimums[kHeight] = info.minHeight;
    descriptor->sliderMaximums[kHeight] = info.maxHeight;
    frame::CreateEvents();
    instance->services->RefreshFilterWindow(instance);
    gpu::ComputeGwR4();
    return 1;
}

int32_t ExitCallback(FilterInstance*) {
    std::lock_guard<std::mutex> lock(CallbackMutex());
    gpu::ReleaseAll();
    return 1;
}

int32_t UpdateCallback(FilterInstance* instance, int32_t status) {
    std::lock_guard<std::mutex> lock(CallbackMutex());
    gpu::GpuContext& ctx = gpu::Context();
    int32_t* sliders = instance->sliderValues;
    const int32_t adapter = sliders[kAdapter];
    if (!ctx.d3d && !gpu::Create(instance->window, instance->module, adapter)) return 0;
    ShowAdapterInTitle(instance, adapter);
    if (adapter != ctx.adapter) {
        frame::ForgetPrefetchedFrame();
        gpu::ReleaseAll();
        if (!gpu::Create(instance->window, instance->module, adapter)) return 0;
    }
    bool changed = false;
    if (status == kSizeSliderMoved) {
        // With no presets (or an index outside them) the size slider names no size: leave the
        // width and height as they are.
        const ResizeList& presets = Presets();
        const int32_t index = sliders[kSize];
        if (index >= 0 && index < presets.count) {
            sliders[kWidth] = presets.widths[index];
            sliders[kHeight] = presets.heights[index];
            changed = true;
        }
    }
    const FilterDescriptor* descriptor = GetFilterTable();
    if (sliders[kWidth] > descriptor->sliderMaximums[kWidth]) {
        sliders[kWidth] = descriptor->sliderMaximums[kWidth];
        changed = true;
    }
    if (sliders[kHeight] > descriptor->sliderMaximums[kHeight]) {
        sliders[kHeight] = descriptor->sliderMaximums[kHeight];
        changed = true;
    }
    if (changed) instance->services->RefreshFilterWindow(instance);
    frame::PipelineState& pipeline = frame::Pipeline();
    if (pipeline.prefetched.load() != -1) pipeline.stale.store(1);
    ctx.paramsDirty.store(1);
    return 1;
}

int32_t WindowMessageCallback(WindowHandle, uint32_t message, uintptr_t, intptr_t, EditHandle,
                              FilterInstance* instance) {
    std::lock_guard<std::mutex> lock(CallbackMutex());
    frame::PipelineState& pipeline = frame::Pipeline();
    if (message == kMessageInvalidate) {
        if (pipeline.prefetched.load() != -1) pipeline.stale.store(1);
    } else if (message == kMessageFilterSwitched) {
        if (instance->services->IsFilterActive(instance)) {
            gpu::Context().disabled.store(0);
        } else {
            gpu::ReleaseAll();
            frame::ForgetPrefetchedFrame();
        }
    }
    return 0;
}

}  // namespace qv::host
