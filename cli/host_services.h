// The services the host offers the filter (the HostServices table): saving state, the settings
// window, system limits, source frames and the worker threads.
#pragma once

#include <cstdint>
#include <string>

#include "common/worker_pool.h"
#include "host/host_records.h"
#include "pixel_buffer.h"
#include "source_frames.h"

namespace qv::cli {

// The frame sizes this host edits; the filter sizes its width and height sliders from them.
inline constexpr int32_t kHostMinWidth = 32;
inline constexpr int32_t kHostMinHeight = 32;
inline constexpr int32_t kHostMaxWidth = 4096;
inline constexpr int32_t kHostMaxHeight = 2304;

// One per process: the service table holds plain functions, which reach the host through it.
class Host {
public:
    // threads <= 0: one worker per core.
    explicit Host(int threads);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    HostServices* Services() { return &services_; }
    // The handles the filter hands back to the services; only their identity matters.
    EditHandle Edit() { return this; }
    WindowHandle Window() { return &window_; }

    // The clip behind FetchSourceFrame; none for --info.
    void AttachSource(SourceFrames* frames);
    // True while the host writes the output file (IsSaving).
    void SetSaving(bool saving) { saving_ = saving; }

    // The filter has returned from a frame: the workers need not watch for another job of it,
    // and leave their cores to the filter's own threads.
    void FrameDone() { pool_.Rest(); }

    int WorkerCount() const { return pool_.Size(); }
    int RefreshCount() const { return refreshes_; }
    int CacheFrames() const { return cacheFrames_; }
    // A request the host could not serve (bad handle, a frame a pipe passed, a read error);
    // empty when all went well. The run stops on it.
    const std::string& Problem() const { return problem_; }

private:
    static int32_t IsSaving(EditHandle edit);
    static int32_t RefreshFilterWindow(FilterInstance* instance);
    static int32_t IsFilterActive(FilterInstance* instance);
    static int32_t GetHostSystemInfo(EditHandle edit, HostSystemInfo* info);
    static int32_t SetSourceCacheSize(FilterInstance* instance, int32_t width, int32_t height,
                                      int32_t frames, int32_t flags);
    static YcPixel* FetchSourceFrame(FilterInstance* instance, EditHandle edit, int32_t frame,
                                     int32_t* width, int32_t* height);
    static int32_t RunOnWorkerThreads(WorkerFunction function, void* param1, void* param2);

    YcPixel* Fetch(int32_t frame, int32_t* width, int32_t* height);
    void NoteProblem(const std::string& problem);

    HostServices services_{};
    WorkerPool pool_;
    SourceFrames* frames_ = nullptr;
    bool saving_ = false;
    int refreshes_ = 0;
    int cacheFrames_ = 0;
    std::string problem_;
    PixelBuffer blank_;  // handed out when a frame cannot be, so the filter never gets null
    int window_ = 0;
};

}  // namespace qv::cli
