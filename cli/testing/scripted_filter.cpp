// A stand-in filter module for the host's own tests: the real descriptor's sliders, and a
// process callback that scales the source to the width and height sliders by nearest
// neighbour (an exact copy at equal sizes) on the host's worker threads. Environment variables
// script what it does, so tests can drive the host through every path an editor meets:
//   QV_SCRIPTED_LOG=FILE       append one line per callback and source fetch
//   QV_SCRIPTED_FAIL_AT=N      frame N fails: a "Renderに失敗" box, result 0
//   QV_SCRIPTED_NO_RUNTIME=1   the graphics runtime is missing: one "Direct3DCreate9に失敗"
//                              box, then every frame passes through (the first with result 0)
//   QV_SCRIPTED_NO_DEVICE=1    device creation fails: Retry/Cancel boxes until Cancel, then
//                              every frame passes through
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_records.h"
#include "host/sliders.h"
#include "platform/win32/win32.h"

namespace {

using namespace qv;

const char* gNames[host::kSliderCount];
int32_t gDefaults[host::kSliderCount];
int32_t gMinimums[host::kSliderCount];
int32_t gMaximums[host::kSliderCount];
FilterDescriptor gDescriptor;

constexpr int32_t kPresets[][2] = {{640, 360}, {1280, 720}, {1920, 1080}};
constexpr int32_t kPresetCount = 3;

bool gDisabled = false;
bool gDeviceTried = false;

void Log(const std::string& line) {
    const char* path = std::getenv("QV_SCRIPTED_LOG");
    if (path == nullptr) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

bool Env(const char* name) { return std::getenv(name) != nullptr; }

int ShowBox(const char* text, const char* caption, unsigned type) {
    auto box = reinterpret_cast<qv_host_message_box_fn>(dlsym(RTLD_DEFAULT, kHostMessageBoxSymbol));
    return box != nullptr ? box(nullptr, text, caption, type) : IDCANCEL;
}

void SetTitle(const char* text) {
    auto title = reinterpret_cast<qv_host_window_text_fn>(dlsym(RTLD_DEFAULT, kHostWindowTextSymbol));
    if (title != nullptr) title(nullptr, text);
}

// The device as the real filter creates it: may be missing, may fail with Retry/Cancel.
bool CreateDevice() {
    gDeviceTried = true;
    if (Env("QV_SCRIPTED_NO_RUNTIME")) {
        ShowBox("Direct3DCreate9に失敗", "warning", MB_OK);
        gDisabled = true;
        return false;
    }
    if (Env("QV_SCRIPTED_NO_DEVICE")) {
        while (ShowBox("CreateDeviceに失敗", "Quillervantis", MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY) {
            Log("retry");
        }
        gDisabled = true;
        return false;
    }
    return true;
}

struct CopyJob {
    const YcPixel* src;
    int32_t srcW, srcH;
    YcPixel* dst;
    int32_t dstW, dstH, dstPitch;
};

void CopyRows(int32_t index, int32_t count, void* param, void*) {
    const auto& job = *static_cast<const CopyJob*>(param);
    const int32_t first = job.dstH * index / count;
    const int32_t end = job.dstH * (index + 1) / count;
    for (int32_t y = first; y < end; ++y) {
        const YcPixel* srow = job.src + static_cast<size_t>(y * job.srcH / job.dstH) * static_cast<size_t>(job.srcW);
        YcPixel* drow = job.dst + static_cast<size_t>(y) * static_cast<size_t>(job.dstPitch);
        for (int32_t x = 0; x < job.dstW; ++x) drow[x] = srow[x * job.srcW / job.dstW];
    }
}

void PassThrough(FilterInstance* fp, FrameRequest* fr, int32_t w, int32_t h) {
    const YcPixel* src = fp->services->FetchSourceFrame(fp, fr->edit, fr->frame, nullptr, nullptr);
    CopyJob job{src, w, h, fr->editBuffer, w, h, fr->rowLength};
    fp->services->RunOnWorkerThreads(CopyRows, &job, nullptr);
}

int32_t Process(FilterInstance* fp, FrameRequest* fr) {
    if (fr->width > host::kMaxRequestWidth || fr->height > host::kMaxRequestHeight) return 0;
    int32_t w = 0, h = 0;
    const YcPixel* src = fp->services->FetchSourceFrame(fp, fr->edit, fr->frame, &w, &h);
    fr->width = w;
    fr->height = h;
    fp->services->SetSourceCacheSize(fp, w, h, 2, 0);
    const int32_t saving = fp->services->IsSaving(fr->edit);
    Log("process " + std::to_string(fr->frame) + " count " + std::to_string(fr->frameCount) + " saving " +
        std::to_string(saving) + (src == nullptr ? " null" : ""));
    if (gDisabled) {
        PassThrough(fp, fr, w, h);
        return 1;
    }
    if (!gDeviceTried && !CreateDevice()) {
        PassThrough(fp, fr, w, h);
        return 0;
    }
    const char* failAt = std::getenv("QV_SCRIPTED_FAIL_AT");
    if (failAt != nullptr && std::atoi(failAt) == fr->frame) {
        ShowBox("Renderに失敗", "warning", MB_OK);
        return 0;
    }
    const int32_t dstW = fp->sliderValues[host::kWidth];
    const int32_t dstH = fp->sliderValues[host::kHeight];
    CopyJob job{src, w, h, fr->editBuffer, dstW, dstH, fr->rowLength};
    fp->services->RunOnWorkerThreads(CopyRows, &job, nullptr);
    // Render-ahead, as the real filter starts frame n + 1 while the host writes frame n.
    if (saving != 0 && fr->frame != fr->frameCount - 1) {
        const YcPixel* next = fp->services->FetchSourceFrame(fp, fr->edit, fr->frame + 1, nullptr, nullptr);
        Log("ahead " + std::to_string(fr->frame + 1) + (next == nullptr ? " null" : ""));
    }
    fr->width = dstW;
    fr->height = dstH;
    return 1;
}

int32_t Init(FilterInstance* fp) {
    HostSystemInfo info{};
    fp->services->GetHostSystemInfo(nullptr, &info);
    gMinimums[host::kWidth] = info.minWidth;
    gMaximums[host::kWidth] = info.maxWidth;
    gMinimums[host::kHeight] = info.minHeight;
    gMaximums[host::kHeight] = info.maxHeight;
    fp->services->RefreshFilterWindow(fp);
    Log("init");
    return 1;
}

int32_t Exit(FilterInstance*) {
    Log("exit");
    return 1;
}

int32_t Update(FilterInstance* fp, int32_t status) {
    int32_t* v = fp->sliderValues;
    const std::string title = "Quillervantis[scripted adapter " + std::to_string(v[host::kAdapter]) + "]";
    SetTitle(title.c_str());
    if (status == host::kSizeSliderMoved) {
        v[host::kWidth] = kPresets[v[host::kSize]][0];
        v[host::kHeight] = kPresets[v[host::kSize]][1];
    }
    Log("update " + std::to_string(status) + " width " + std::to_string(v[host::kWidth]) + " height " +
        std::to_string(v[host::kHeight]));
    if (!gDeviceTried && (Env("QV_SCRIPTED_NO_RUNTIME") || Env("QV_SCRIPTED_NO_DEVICE"))) return CreateDevice() ? 1 : 0;
    return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) FilterDescriptor* GetFilterTable() {
    for (int i = 0; i < host::kSliderCount; ++i) {
        gNames[i] = host::kSliderSpecs[i].name;
        gDefaults[i] = host::kSliderSpecs[i].defaultValue;
        gMinimums[i] = host::kSliderSpecs[i].minimum;
        gMaximums[i] = host::kSliderSpecs[i].maximum;
    }
    gMaximums[host::kSize] = kPresetCount - 1;
    gMaximums[host::kAdapter] = 1;
    gDescriptor = FilterDescriptor{};
    gDescriptor.flags = host::kFilterFlags;
    gDescriptor.name = host::kFilterName;
    gDescriptor.sliderCount = host::kSliderCount;
    gDescriptor.sliderNames = gNames;
    gDescriptor.sliderDefaults = gDefaults;
    gDescriptor.sliderMinimums = gMinimums;
    gDescriptor.sliderMaximums = gMaximums;
    gDescriptor.process = Process;
    gDescriptor.init = Init;
    gDescriptor.exit = Exit;
    gDescriptor.update = Update;
    gDescriptor.information = "Quillervantis scripted test filter";
    return &gDescriptor;
}
