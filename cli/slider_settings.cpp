#include "slider_settings.h"

#include "desktop.h"
#include "errors.h"

namespace qv::cli {

std::string DescribeRange(const FilterSession& session, int index) {
    const SliderRange r = session.Range(index);
    return std::string("the filter's ") + session.SliderName(index) + " slider runs " +
           std::to_string(r.minimum) + ".." + std::to_string(r.maximum);
}

std::string PassthroughRefusal() {
    return "the filter's GPU path is disabled, so it would pass frames through unfiltered; "
           "stopping (--allow-passthrough writes them anyway)";
}

void ApplySliderOptions(FilterSession& session, const SliderOptions& sliders, bool allowPassthrough) {
    for (int s = 0; s < host::kSliderCount; ++s) {
        const auto& value = sliders[static_cast<size_t>(s)];
        if (!value) continue;
        const char* name = host::kSliderSpecs[s].name;
        const int index = session.SliderIndex(name);
        if (index < 0) throw UsageError(std::string("--") + name + ": the filter has no slider of that name");
        const SliderRange range = session.Range(index);
        if (s == host::kSize && range.maximum < range.minimum) {
            throw UsageError("--size: the filter has no preset sizes (no resizelist in the host's "
                             "quillervantis.ini)");
        }
        if (*value < range.minimum || *value > range.maximum) {
            throw UsageError(std::string("--") + name + " " + std::to_string(*value) + " is out of range: " +
                             DescribeRange(session, index));
        }
        const size_t boxes = Desktop::Instance().BoxCount();
        const int32_t status = s == host::kSize ? host::kSizeSliderMoved : 0;
        if (session.MoveSlider(index, *value, status)) continue;
        if (Desktop::Instance().GpuDisabledSince(boxes)) {
            if (allowPassthrough) continue;
            throw FilterError(PassthroughRefusal());
        }
        throw FilterError(std::string("the filter could not take --") + name + " " + std::to_string(*value) +
                          " (its update callback failed; see the messages above)");
    }
}

}  // namespace qv::cli
