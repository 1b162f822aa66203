#include "filter_session.h"

#include <cstring>

#include "errors.h"

namespace qv::cli {

FilterSession::FilterSession(PluginModule& module, Host& host) : module_(module) {
    const FilterDescriptor& d = *module.Descriptor();
    values_.assign(d.sliderDefaults, d.sliderDefaults + d.sliderCount);
    // The instance mirrors the descriptor's layout; the host adds what is its own.
    instance_.flags = d.flags;
    instance_.sliderCount = d.sliderCount;
    instance_.sliderNames = d.sliderNames;
    instance_.sliderDefaults = d.sliderDefaults;
    instance_.sliderMinimums = d.sliderMinimums;
    instance_.sliderMaximums = d.sliderMaximums;
    instance_.callbacks[0] = reinterpret_cast<void*>(d.process);
    instance_.callbacks[1] = reinterpret_cast<void*>(d.init);
    instance_.callbacks[2] = reinterpret_cast<void*>(d.exit);
    instance_.callbacks[3] = reinterpret_cast<void*>(d.update);
    instance_.callbacks[4] = reinterpret_cast<void*>(d.windowMessage);
    instance_.sliderValues = values_.data();
    instance_.services = host.Services();
    instance_.window = host.Window();
    instance_.module = module.Handle();
}

FilterSession::~FilterSession() { Exit(); }

void FilterSession::Init() {
    initialised_ = true;
    const FilterDescriptor& d = Descriptor();
    if (d.init != nullptr && d.init(&instance_) == 0) {
        throw FilterError("the filter's init callback failed (see the messages above)");
    }
}

void FilterSession::Exit() {
    if (!initialised_ || exited_) return;
    exited_ = true;
    const FilterDescriptor& d = Descriptor();
    if (d.exit != nullptr) d.exit(&instance_);
}

int FilterSession::SliderIndex(std::string_view name) const {
    for (int i = 0; i < SliderCount(); ++i) {
        if (name == SliderName(i)) return i;
    }
    return -1;
}

SliderRange FilterSession::Range(int index) const {
    return SliderRange{Descriptor().sliderMinimums[index], Descriptor().sliderMaximums[index]};
}

bool FilterSession::CallUpdate(int32_t status) {
    const FilterDescriptor& d = Descriptor();
    return d.update == nullptr || d.update(&instance_, status) != 0;
}

bool FilterSession::MoveSlider(int index, int32_t value, int32_t status) {
    SetValue(index, value);
    return CallUpdate(status);
}

int32_t FilterSession::Process(FrameRequest* request) { return Descriptor().process(&instance_, request); }

}  // namespace qv::cli
