// A minimal host for the whole-chain benchmarks: it loads nothing, calls the module's callbacks
// directly as the command-line host does through its table (init, slider update, one process
// call per frame while saving, exit), serves noisy frames made from the sample clip and runs
// the row conversions on its own worker pool.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "bench_support.h"
#include "host/host_records.h"

namespace qv::bench {

// Host pixels of the sample clip's frame `index` (looped), resized bilinearly to width x height
// and given deterministic noise of +-`noise` host steps in every component. An unreadable clip
// leaves noise on grey, which times the same.
std::vector<YcPixel> NoisySampleFrame(int width, int height, int index, int noise);

class BenchHost {
public:
    // `distinctFrames` different source frames are served in turn for frames 0, 1, 2, ...
    BenchHost(int sourceWidth, int sourceHeight, int distinctFrames = 3);
    ~BenchHost();
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    // Slider values start at the module's defaults; set them before Start.
    int32_t sliders[11] = {};
    // Init and one update with the sliders set. False (with Problem()) on failure.
    bool Start();
    // One process call for frame n; false when the module refused it or showed a box.
    bool Process(int32_t n, bool saving);
    const std::string& Problem() const { return problem_; }

    int sourceWidth() const { return sourceWidth_; }
    int sourceHeight() const { return sourceHeight_; }
    int outputWidth() const { return outputWidth_; }
    int outputHeight() const { return outputHeight_; }
    WorkerPool& Workers() { return *pool_; }

private:
    static BenchHost* current_;
    static int32_t IsSavingThunk(EditHandle);
    static int32_t RefreshThunk(FilterInstance*);
    static int32_t IsActiveThunk(FilterInstance*);
    static int32_t SystemInfoThunk(EditHandle, HostSystemInfo*);
    static int32_t CacheThunk(FilterInstance*, int32_t, int32_t, int32_t, int32_t);
    static YcPixel* FetchThunk(FilterInstance*, EditHandle, int32_t, int32_t*, int32_t*);
    static int32_t WorkersThunk(WorkerFunction, void*, void*);

    int sourceWidth_, sourceHeight_;
    int outputWidth_ = 0, outputHeight_ = 0;
    bool saving_ = true;
    bool started_ = false;
    std::vector<std::vector<YcPixel>> frames_;
    std::vector<YcPixel> editBuffer_;
    HostServices services_{};
    HostSystemInfo systemInfo_{};
    FilterInstance instance_{};
    FrameRequest request_{};
    std::unique_ptr<WorkerPool> pool_;
    std::string problem_;
    int editHandle_ = 0;
};

}  // namespace qv::bench
