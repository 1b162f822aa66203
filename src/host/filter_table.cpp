#include "host/filter_table.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "gpu/gpu_context.h"
#include "host/callbacks.h"
#include "host/resize_list.h"
#include "host/settings_file.h"
#include "host/sliders.h"
#include "platform/d3d9/d3d9.h"

namespace qv::host {
namespace {

// One column of the slider table, in slider order.
template <typename T>
constexpr std::array<T, kSliderCount> SliderColumn(T SliderSpec::*field) {
    std::array<T, kSliderCount> column{};
    for (int i = 0; i < kSliderCount; ++i) column[i] = kSliderSpecs[i].*field;
    return column;
}

constinit std::array<const char*, kSliderCount> gSliderNames = SliderColumn(&SliderSpec::name);
constinit std::array<int32_t, kSliderCount> gSliderDefaults = SliderColumn(&SliderSpec::defaultValue);
constinit std::array<int32_t, kSliderCount> gSliderMinimums = SliderColumn(&SliderSpec::minimum);
constinit std::array<int32_t, kSliderCount> gSliderMaximums = SliderColumn(&SliderSpec::maximum);

constinit FilterDescriptor gDescriptor = {
    .flags = kFilterFlags,
    .windowX = 0,
    .windowY = 0,
    .name = kFilterName,
    .sliderCount = kSliderCount,
    .sliderNames = gSliderNames.data(),
    .sliderDefaults = gSliderDefaults.data(),
    .sliderMinimums = gSliderMinimums.data(),
    .sliderMaximums = gSliderMaximums.data(),
    .checkCount = 0,
    .checkNames = nullptr,
    .checkDefaults = nullptr,
    .process = &ProcessCallback,
    .init = &InitCallback,
    .exit = &ExitCallback,
    .update = &UpdateCallback,
    .windowMessage = &WindowMessageCallback,
    .sliderValues = nullptr,
    .checkValues = nullptr,
    .extraData = nullptr,
    .extraDataSize = 0,
    .information = kFilterInformation,
    .further = {},
};

ResizeList gPresets;

std::mutex gBuildMutex;
bool gBuilt = false;

// The adapter range from the Direct3D object: its adapters, or only 0 when there is none.
int32_t AdapterMaximum(IDirect3D9* d3d) {
    if (d3d == nullptr) return kSliderSpecs[kAdapter].maximum;
    const UINT count = d3d->GetAdapterCount();
    // An object without adapters offers no position either; the slider keeps position 0.
    return count == 0 ? 0 : static_cast<int32_t>(std::min<UINT>(count - 1, INT32_MAX));
}

void CompleteFromMachine() {
    gpu::GpuContext& context = gpu::Context();
    IDirect3D9* created = Direct3DCreate9(D3D_SDK_VERSION);
    IDirect3D9* earlier = context.d3d;
    context.d3d = created;
    if (earlier != nullptr) earlier->Release();
    // A failed creation is not reported: the first frame or update tries again and says so.
    gSliderMaximums[kAdapter] = AdapterMaximum(created);

    gPresets = ReadResizeList(SettingsFilePath());
    // With no presets the range is 0..-1: the size slider names no preset, and the update
    // callback leaves the size alone.
    gSliderMaximums[kSize] = gPresets.count - 1;
}

}  // namespace

FilterDescriptor* GetFilterTable() {
    std::lock_guard<std::mutex> lock(gBuildMutex);
    if (!gBuilt) {
        CompleteFromMachine();
        gBuilt = true;
    }
    return &gDescriptor;
}

FilterDescriptor* ReloadFilterTable() {
    std::lock_guard<std::mutex> lock(gBuildMutex);
    CompleteFromMachine();
    gBuilt = true;
    return &gDescriptor;
}

const ResizeList& Presets() { return gPresets; }

}  // namespace qv::host
