// A scripted host for scenario tests: it builds the FilterInstance and FrameRequest a video
// editor would, serves frames from memory, records every service call and every message box,
// and answers Retry/Cancel boxes from a script.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "host/host_records.h"

namespace qv::test {

struct ShownBox {
    std::string caption;
    std::string text;  // decoded to UTF-8
    unsigned type = 0;
};

class ScriptedHost {
public:
    // Frames of the given source size, content from a seed (y 0..4096, cb/cr -2048..2048).
    ScriptedHost(int sourceWidth, int sourceHeight, int frameCount, int workers = 2);
    ~ScriptedHost();
    ScriptedHost(const ScriptedHost&) = delete;
    ScriptedHost& operator=(const ScriptedHost&) = delete;

    // The module's callbacks, called as the host does.
    int32_t Init();
    int32_t Exit();
    int32_t Update(int32_t status = 0);
    int32_t SetSlider(int slider, int32_t value, int32_t status = 0);  // sets, then Update
    int32_t WindowMessage(uint32_t message);
    int32_t Process(int32_t frame);

    // Host state the filter sees.
    std::atomic<int32_t> saving{1};
    std::atomic<int32_t> filterActive{1};
    int32_t sliders[11] = {};
    HostSystemInfo systemInfo{};

    // The last processed frame as the host holds it (edit buffer at the reported size).
    std::vector<YcPixel> Output() const;
    int32_t outputWidth() const { return request_.width; }
    int32_t outputHeight() const { return request_.height; }
    FrameRequest& request() { return request_; }

    const std::vector<YcPixel>& Source(int frame) const { return frames_[frame]; }
    std::vector<YcPixel>& MutableSource(int frame) { return frames_[frame]; }
    int sourceWidth() const { return sourceWidth_; }
    int sourceHeight() const { return sourceHeight_; }

    // Recorded calls.
    std::vector<int32_t> fetched;  // frame numbers passed to FetchSourceFrame
    int refreshCount = 0;
    std::vector<ShownBox> boxes;
    std::vector<std::string> titles;
    std::deque<int> answers;  // answers for Retry/Cancel boxes; Cancel when empty
    void ClearRecords();

    FilterInstance& instance() { return instance_; }

private:
    static ScriptedHost* current_;
    static int32_t IsSavingThunk(EditHandle);
    static int32_t RefreshThunk(FilterInstance*);
    static int32_t IsActiveThunk(FilterInstance*);
    static int32_t SystemInfoThunk(EditHandle, HostSystemInfo*);
    static int32_t CacheThunk(FilterInstance*, int32_t, int32_t, int32_t, int32_t);
    static YcPixel* FetchThunk(FilterInstance*, EditHandle, int32_t, int32_t*, int32_t*);
    static int32_t WorkersThunk(WorkerFunction, void*, void*);

    int sourceWidth_, sourceHeight_;
    std::vector<std::vector<YcPixel>> frames_;
    std::vector<YcPixel> editBuffer_;
    HostServices services_{};
    FilterInstance instance_{};
    FrameRequest request_{};
    FilterDescriptor* descriptor_ = nullptr;
    std::unique_ptr<WorkerPool> pool_;
    std::mutex recordMutex_;
    int editHandle_ = 0;
};

// Host pixels of a frame at the given size, deterministic in the seed.
std::vector<YcPixel> MakeFrame(int width, int height, uint32_t seed);

}  // namespace qv::test
