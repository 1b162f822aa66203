// The preset output sizes the host keeps in its settings file (section "system", key
// "resizelist"), e.g. "1280x720,1920x1080".
#pragma once

#include <cstdint>

namespace qv::host {

inline constexpr int kMaxPresets = 20;

struct ResizeList {
    int32_t widths[kMaxPresets] = {};
    int32_t heights[kMaxPresets] = {};
    int32_t count = 0;
};

// Parses the key's text: pairs "WxH" separated by ","; at most 20; values saturate at INT32_MAX.
ResizeList ParseResizeList(const char* text);

// The list GetFilterTable read; lives for the life of the module.
const ResizeList& Presets();

}  // namespace qv::host
