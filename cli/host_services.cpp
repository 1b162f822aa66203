#include "host_services.h"

#include <stdexcept>

namespace qv::cli {

namespace {

Host* gHost = nullptr;
const char kHostInfo[] = "quillervantis command-line host";

}  // namespace

Host::Host(int threads) : pool_(threads) {
    if (gHost != nullptr) throw std::logic_error("one host per process");
    gHost = this;
    services_.IsSaving = &Host::IsSaving;
    services_.RefreshFilterWindow = &Host::RefreshFilterWindow;
    services_.IsFilterActive = &Host::IsFilterActive;
    services_.GetHostSystemInfo = &Host::GetHostSystemInfo;
    services_.SetSourceCacheSize = &Host::SetSourceCacheSize;
    services_.FetchSourceFrame = &Host::FetchSourceFrame;
    services_.RunOnWorkerThreads = &Host::RunOnWorkerThreads;
}

Host::~Host() { gHost = nullptr; }

void Host::AttachSource(SourceFrames* frames) {
    frames_ = frames;
    if (frames_ != nullptr) {
        blank_ = PixelBuffer(static_cast<size_t>(frames_->Width()) * static_cast<size_t>(frames_->Height()));
    }
}

void Host::NoteProblem(const std::string& problem) {
    if (problem_.empty()) problem_ = problem;
}

int32_t Host::IsSaving(EditHandle edit) { return edit == gHost && gHost->saving_ ? 1 : 0; }

int32_t Host::RefreshFilterWindow(FilterInstance*) {
    ++gHost->refreshes_;
    return 1;
}

int32_t Host::IsFilterActive(FilterInstance*) { return 1; }

int32_t Host::GetHostSystemInfo(EditHandle, HostSystemInfo* info) {
    if (info == nullptr) return 0;
    *info = HostSystemInfo{};
    info->info = kHostInfo;
    info->filterCount = 1;
    info->minWidth = kHostMinWidth;
    info->minHeight = kHostMinHeight;
    info->maxWidth = kHostMaxWidth;
    info->maxHeight = kHostMaxHeight;
    return 1;
}

int32_t Host::SetSourceCacheSize(FilterInstance*, int32_t, int32_t, int32_t frames, int32_t) {
    gHost->cacheFrames_ = frames;
    if (gHost->frames_ != nullptr) gHost->frames_->KeepAtLeast(frames);
    return 1;
}

YcPixel* Host::Fetch(int32_t frame, int32_t* width, int32_t* height) {
    if (frames_ == nullptr) {
        NoteProblem("the filter asked for source frame " + std::to_string(frame) + " with no clip open");
        if (width != nullptr) *width = 0;
        if (height != nullptr) *height = 0;
        return nullptr;
    }
    if (width != nullptr) *width = frames_->Width();
    if (height != nullptr) *height = frames_->Height();
    // Errors must not unwind through the filter's frames: they are noted and the run stops
    // after the call.
    try {
        const YcPixel* pixels = frames_->Fetch(frame);
        if (!frames_->Problem().empty()) NoteProblem(frames_->Problem());
        if (pixels != nullptr) return const_cast<YcPixel*>(pixels);
    } catch (const std::exception& e) {
        NoteProblem("cannot give the filter source frame " + std::to_string(frame) + ": " + e.what());
    }
    return blank_.data();
}

YcPixel* Host::FetchSourceFrame(FilterInstance*, EditHandle edit, int32_t frame, int32_t* width,
                                int32_t* height) {
    if (edit != gHost) gHost->NoteProblem("the filter fetched a frame with an edit handle not its own");
    return gHost->Fetch(frame, width, height);
}

int32_t Host::RunOnWorkerThreads(WorkerFunction function, void* param1, void* param2) {
    if (function == nullptr) return 0;
    gHost->pool_.RunOnEach([&](int index, int count) { function(index, count, param1, param2); });
    return 1;
}

}  // namespace qv::cli
