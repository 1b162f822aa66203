#include "bench_host.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "host/callbacks.h"
#include "host/filter_table.h"
#include "host/sliders.h"
#include "platform/win32/win32.h"

namespace qv::bench {

BenchHost* BenchHost::current_ = nullptr;

namespace {

// The edit buffer a 1080p editor keeps: the largest frame the filter may hand back.
constexpr int kEditWidth = 1920;
constexpr int kEditHeight = 1088;

// Bilinear sample of an 8-bit plane at plane coordinates (u, v), edges clamped.
float Bilinear(const std::vector<uint8_t>& plane, int width, int height, float u, float v) {
    u = std::clamp(u, 0.0f, static_cast<float>(width - 1));
    v = std::clamp(v, 0.0f, static_cast<float>(height - 1));
    const int x0 = static_cast<int>(u), y0 = static_cast<int>(v);
    const int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
    const float fx = u - static_cast<float>(x0), fy = v - static_cast<float>(y0);
    auto at = [&](int x, int y) { return static_cast<float>(plane[static_cast<size_t>(y) * width + x]); };
    const float top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * fx;
    const float bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * fx;
    return top + (bottom - top) * fy;
}

}  // namespace

std::vector<YcPixel> NoisySampleFrame(int width, int height, int index, int noise) {
    const SamplePlanes s = ReadSampleFrame(index);
    std::vector<YcPixel> frame(static_cast<size_t>(width) * static_cast<size_t>(height));
    std::mt19937 rng(static_cast<uint32_t>(index) * 7919u + 17u);
    std::uniform_int_distribution<int> jitter(-noise, noise);
    const int cw = (s.width + 1) / 2, ch = (s.height + 1) / 2;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float luma = 128.0f, cb = 128.0f, cr = 128.0f;
            if (s.width > 0) {
                const float u = (static_cast<float>(x) + 0.5f) * static_cast<float>(s.width) / static_cast<float>(width) - 0.5f;
                const float v = (static_cast<float>(y) + 0.5f) * static_cast<float>(s.height) / static_cast<float>(height) - 0.5f;
                luma = Bilinear(s.y, s.width, s.height, u, v);
                cb = Bilinear(s.cb, cw, ch, u * 0.5f - 0.25f, v * 0.5f - 0.25f);
                cr = Bilinear(s.cr, cw, ch, u * 0.5f - 0.25f, v * 0.5f - 0.25f);
            }
            // Nominal ranges: luma 16..235 to 0..4096, chroma 16..240 around 128 to +-2048.
            const int hy = static_cast<int>((luma - 16.0f) * 4096.0f / 219.0f) + jitter(rng);
            const int hcb = static_cast<int>((cb - 128.0f) * 4096.0f / 224.0f) + jitter(rng);
            const int hcr = static_cast<int>((cr - 128.0f) * 4096.0f / 224.0f) + jitter(rng);
            YcPixel& p = frame[static_cast<size_t>(y) * width + x];
            p.y = static_cast<int16_t>(std::clamp(hy, 0, 4096));
            p.cb = static_cast<int16_t>(std::clamp(hcb, -2048, 2048));
            p.cr = static_cast<int16_t>(std::clamp(hcr, -2048, 2048));
        }
    return frame;
}

BenchHost::BenchHost(int sourceWidth, int sourceHeight, int distinctFrames)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), pool_(std::make_unique<WorkerPool>()) {
    if (current_) throw std::logic_error("one bench host at a time");
    current_ = this;
    for (int i = 0; i < distinctFrames; ++i) frames_.push_back(NoisySampleFrame(sourceWidth, sourceHeight, i, 48));
    editBuffer_.assign(static_cast<size_t>(std::max(kEditWidth, sourceWidth)) * std::max(kEditHeight, sourceHeight),
                       YcPixel{0, 0, 0});

    services_.IsSaving = IsSavingThunk;
    services_.RefreshFilterWindow = RefreshThunk;
    services_.IsFilterActive = IsActiveThunk;
    services_.GetHostSystemInfo = SystemInfoThunk;
    services_.SetSourceCacheSize = CacheThunk;
    services_.FetchSourceFrame = FetchThunk;
    services_.RunOnWorkerThreads = WorkersThunk;
    systemInfo_.minWidth = 32;
    systemInfo_.minHeight = 32;
    systemInfo_.maxWidth = kEditWidth;
    systemInfo_.maxHeight = kEditHeight;

    FilterDescriptor* descriptor = host::GetFilterTable();
    for (int i = 0; i < host::kSliderCount; ++i) sliders[i] = descriptor->sliderDefaults[i];
    instance_.flags = descriptor->flags;
    instance_.sliderCount = descriptor->sliderCount;
    instance_.sliderNames = descriptor->sliderNames;
    instance_.sliderDefaults = descriptor->sliderDefaults;
    instance_.sliderMinimums = descriptor->sliderMinimums;
    instance_.sliderMaximums = descriptor->sliderMaximums;
    instance_.sliderValues = sliders;
    instance_.services = &services_;
    instance_.window = reinterpret_cast<WindowHandle>(0x1080);

    win32::SetMessageBoxHandler([this](HWND, const std::string& text, const std::string& caption, UINT type) {
        if (problem_.empty()) problem_ = caption + ": " + text;
        return win32::DismissingAnswer(type);
    });
    win32::SetWindowTextHandler([](HWND, const std::string&) {});
}

BenchHost::~BenchHost() {
    if (started_) host::ExitCallback(&instance_);
    win32::SetMessageBoxHandler(nullptr);
    win32::SetWindowTextHandler(nullptr);
    current_ = nullptr;
}

bool BenchHost::Start() {
    if (!host::InitCallback(&instance_)) {
        if (problem_.empty()) problem_ = "the init callback failed";
        return false;
    }
    started_ = true;
    if (!host::UpdateCallback(&instance_, 0) && problem_.empty()) problem_ = "the update callback failed";
    return problem_.empty();
}

bool BenchHost::Process(int32_t n, bool saving) {
    saving_ = saving;
    request_ = FrameRequest{};
    request_.editBuffer = editBuffer_.data();
    request_.width = sourceWidth_;
    request_.height = sourceHeight_;
    request_.rowLength = std::max(kEditWidth, sourceWidth_);
    request_.maxHeight = std::max(kEditHeight, sourceHeight_);
    request_.frame = n;
    request_.frameCount = INT32_MAX;  // an endless clip: every frame has a successor to start
    request_.edit = &editHandle_;
    if (!host::ProcessCallback(&instance_, &request_)) {
        if (problem_.empty()) problem_ = "the process callback failed on frame " + std::to_string(n);
        return false;
    }
    outputWidth_ = request_.width;
    outputHeight_ = request_.height;
    return problem_.empty();
}

int32_t BenchHost::IsSavingThunk(EditHandle) { return current_->saving_ ? 1 : 0; }
int32_t BenchHost::RefreshThunk(FilterInstance*) { return 1; }
int32_t BenchHost::IsActiveThunk(FilterInstance*) { return 1; }
int32_t BenchHost::SystemInfoThunk(EditHandle, HostSystemInfo* info) {
    *info = current_->systemInfo_;
    return 1;
}
int32_t BenchHost::CacheThunk(FilterInstance*, int32_t, int32_t, int32_t, int32_t) { return 1; }

YcPixel* BenchHost::FetchThunk(FilterInstance*, EditHandle, int32_t frame, int32_t* width, int32_t* height) {
    BenchHost* h = current_;
    if (width) *width = h->sourceWidth_;
    if (height) *height = h->sourceHeight_;
    if (frame < 0) return nullptr;
    return h->frames_[static_cast<size_t>(frame) % h->frames_.size()].data();
}

int32_t BenchHost::WorkersThunk(WorkerFunction fn, void* p1, void* p2) {
    current_->pool_->RunOnEach([&](int i, int n) { fn(i, n, p1, p2); });
    return 1;
}

}  // namespace qv::bench
