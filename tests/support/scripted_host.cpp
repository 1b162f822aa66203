#include "support/scripted_host.h"

#include <cstring>
#include <random>
#include <stdexcept>

#include "host/callbacks.h"
#include "host/filter_table.h"
#include "platform/win32/win32.h"

namespace qv::test {

ScriptedHost* ScriptedHost::current_ = nullptr;

namespace {
constexpr int kEditWidth = 4096;
constexpr int kEditHeight = 2304;
}  // namespace

std::vector<YcPixel> MakeFrame(int width, int height, uint32_t seed) {
    std::vector<YcPixel> f(static_cast<size_t>(width) * height);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // A smooth gradient with noise, so every pass has something to do.
            const int base = (x * 37 + y * 23) % 3000 + 500;
            YcPixel& p = f[static_cast<size_t>(y) * width + x];
            p.y = static_cast<int16_t>(base + static_cast<int>(rng() % 200) - 100);
            p.cb = static_cast<int16_t>(static_cast<int>(rng() % 1000) - 500);
            p.cr = static_cast<int16_t>((x * 13) % 1500 - 750);
        }
    return f;
}

ScriptedHost::ScriptedHost(int sourceWidth, int sourceHeight, int frameCount, int workers)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), pool_(std::make_unique<WorkerPool>(workers)) {
    if (current_) throw std::logic_error("one scripted host at a time");
    current_ = this;
    for (int i = 0; i < frameCount; ++i) frames_.push_back(MakeFrame(sourceWidth, sourceHeight, 1000u + i));
    editBuffer_.assign(static_cast<size_t>(kEditWidth) * kEditHeight, YcPixel{0, 0, 0});

    services_.IsSaving = IsSavingThunk;
    services_.RefreshFilterWindow = RefreshThunk;
    services_.IsFilterActive = IsActiveThunk;
    services_.GetHostSystemInfo = SystemInfoThunk;
    services_.SetSourceCacheSize = CacheThunk;
    services_.FetchSourceFrame = FetchThunk;
    services_.RunOnWorkerThreads = WorkersThunk;
    systemInfo.minWidth = 32;
    systemInfo.minHeight = 32;
    systemInfo.maxWidth = 4096;
    systemInfo.maxHeight = 2304;

    descriptor_ = host::GetFilterTable();
    for (int i = 0; i < 11; ++i) sliders[i] = descriptor_->sliderDefaults[i];
    instance_.flags = descriptor_->flags;
    instance_.sliderCount = descriptor_->sliderCount;
    instance_.sliderNames = descriptor_->sliderNames;
    instance_.sliderDefaults = descriptor_->sliderDefaults;
    instance_.sliderMinimums = descriptor_->sliderMinimums;
    instance_.sliderMaximums = descriptor_->sliderMaximums;
    instance_.sliderValues = sliders;
    instance_.services = &services_;
    instance_.window = reinterpret_cast<WindowHandle>(0x1234);
    instance_.module = nullptr;

    win32::SetMessageBoxHandler([this](HWND, const std::string& text, const std::string& caption, UINT type) {
        std::lock_guard<std::mutex> lock(recordMutex_);
        boxes.push_back(ShownBox{caption, text, type});
        if ((type & 0xF) == MB_RETRYCANCEL) {
            if (answers.empty()) return IDCANCEL;
            const int a = answers.front();
            answers.pop_front();
            return a;
        }
        return IDOK;
    });
    win32::SetWindowTextHandler([this](HWND, const std::string& text) {
        std::lock_guard<std::mutex> lock(recordMutex_);
        titles.push_back(text);
    });
}

ScriptedHost::~ScriptedHost() {
    host::ExitCallback(&instance_);
    win32::SetMessageBoxHandler(nullptr);
    win32::SetWindowTextHandler(nullptr);
    current_ = nullptr;
}

int32_t ScriptedHost::Init() { return host::InitCallback(&instance_); }
int32_t ScriptedHost::Exit() { return host::ExitCallback(&instance_); }
int32_t ScriptedHost::Update(int32_t status) { return host::UpdateCallback(&instance_, status); }

int32_t ScriptedHost::SetSlider(int slider, int32_t value, int32_t status) {
    sliders[slider] = value;
    return Update(status);
}

int32_t ScriptedHost::WindowMessage(uint32_t message) {
    return host::WindowMessageCallback(instance_.window, message, 0, 0, &editHandle_, &instance_);
}

int32_t ScriptedHost::Process(int32_t frame) {
    request_ = FrameRequest{};
    request_.editBuffer = editBuffer_.data();
    request_.width = sourceWidth_;
    request_.height = sourceHeight_;
    request_.rowLength = kEditWidth;
    request_.maxHeight = kEditHeight;
    request_.frame = frame;
    request_.frameCount = static_cast<int32_t>(frames_.size());
    request_.edit = &editHandle_;
    return host::ProcessCallback(&instance_, &request_);
}

std::vector<YcPixel> ScriptedHost::Output() const {
    std::vector<YcPixel> out;
    for (int y = 0; y < request_.height; ++y)
        for (int x = 0; x < request_.width; ++x) out.push_back(editBuffer_[static_cast<size_t>(y) * kEditWidth + x]);
    return out;
}

void ScriptedHost::ClearRecords() {
    std::lock_guard<std::mutex> lock(recordMutex_);
    fetched.clear();
    refreshCount = 0;
    boxes.clear();
    titles.clear();
}

int32_t ScriptedHost::IsSavingThunk(EditHandle) { return current_->saving.load(); }
int32_t ScriptedHost::RefreshThunk(FilterInstance*) {
    ++current_->refreshCount;
    return 1;
}
int32_t ScriptedHost::IsActiveThunk(FilterInstance*) { return current_->filterActive.load(); }
int32_t ScriptedHost::SystemInfoThunk(EditHandle, HostSystemInfo* info) {
    *info = current_->systemInfo;
    return 1;
}
int32_t ScriptedHost::CacheThunk(FilterInstance*, int32_t, int32_t, int32_t, int32_t) { return 1; }

YcPixel* ScriptedHost::FetchThunk(FilterInstance*, EditHandle, int32_t frame, int32_t* width, int32_t* height) {
    ScriptedHost* h = current_;
    {
        std::lock_guard<std::mutex> lock(h->recordMutex_);
        h->fetched.push_back(frame);
    }
    if (frame < 0 || frame >= static_cast<int32_t>(h->frames_.size())) return nullptr;
    if (width) *width = h->sourceWidth_;
    if (height) *height = h->sourceHeight_;
    return h->frames_[frame].data();
}

int32_t ScriptedHost::WorkersThunk(WorkerFunction fn, void* p1, void* p2) {
    current_->pool_->RunOnEach([&](int i, int n) { fn(i, n, p1, p2); });
    return 1;
}

}  // namespace qv::test
