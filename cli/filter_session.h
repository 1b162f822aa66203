// One filter as the host holds it: the FilterInstance built from the module's descriptor, the
// slider values, and the callbacks in the order an editor calls them (init, slider updates,
// frames, exit).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "host/host_records.h"
#include "host_services.h"
#include "plugin_module.h"

namespace qv::cli {

struct SliderRange {
    int32_t minimum;
    int32_t maximum;
};

class FilterSession {
public:
    FilterSession(PluginModule& module, Host& host);
    ~FilterSession();  // calls exit if the run did not
    FilterSession(const FilterSession&) = delete;
    FilterSession& operator=(const FilterSession&) = delete;

    // The init callback. Throws FilterError when it reports failure.
    void Init();
    // The exit callback, once.
    void Exit();

    const FilterDescriptor& Descriptor() const { return *module_.Descriptor(); }
    FilterInstance* Instance() { return &instance_; }
    int SliderCount() const { return Descriptor().sliderCount; }
    // Index of the slider with this name in the descriptor, or -1.
    int SliderIndex(std::string_view name) const;
    const char* SliderName(int index) const { return Descriptor().sliderNames[index]; }
    int32_t SliderDefault(int index) const { return Descriptor().sliderDefaults[index]; }
    // The slider's range as the filter states it now (after init has completed it).
    SliderRange Range(int index) const;
    int32_t Value(int index) const { return values_[static_cast<size_t>(index)]; }
    void SetValue(int index, int32_t value) { values_[static_cast<size_t>(index)] = value; }

    // What an editor does when the user moves a slider: store the value, then call the update
    // callback with `status`. Returns the callback's result (true: success); with no update
    // callback, true.
    bool MoveSlider(int index, int32_t value, int32_t status);
    bool CallUpdate(int32_t status);

    int32_t Process(FrameRequest* request);

private:
    PluginModule& module_;
    FilterInstance instance_{};
    std::vector<int32_t> values_;
    bool initialised_ = false;
    bool exited_ = false;
};

}  // namespace qv::cli
