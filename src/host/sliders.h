// The filter's eleven sliders: one table for names, defaults and ranges.
#pragma once

#include <cstdint>

namespace qv::host {

enum Slider : int {
    kSize = 0,
    kWidth,
    kHeight,
    kUsm,
    kRadius,
    kMax,
    kMin,
    kDenoise,
    kRecovery,
    kSharp,
    kAdapter,
    kSliderCount
};

struct SliderSpec {
    const char* name;
    int32_t defaultValue;
    int32_t minimum;
    int32_t maximum;
};

// Ranges before GetFilterTable and the init callback complete them from the machine and host.
inline constexpr SliderSpec kSliderSpecs[kSliderCount] = {
    {"size", 0, 0, 0},          {"width", 1280, 32, 1920}, {"height", 720, 32, 1080},
    {"usm", 100, 0, 300},       {"radius", 15, 1, 30},     {"max", 0, 0, 300},
    {"min", 100, 0, 300},       {"denoise", 75, 0, 100},   {"recovery", 75, 0, 100},
    {"sharp", 25, 0, 100},      {"adapter", 0, 0, 0},
};

inline constexpr const char* kFilterName = "Quillervantis";
inline constexpr const char* kFilterInformation = "Quillervantis Ver.131215";
inline constexpr int32_t kFilterFlags = 0x40000;

// Largest request the filter processes (1088, not 1080: a padded 1080p frame).
inline constexpr int32_t kMaxRequestWidth = 1920;
inline constexpr int32_t kMaxRequestHeight = 1088;

// Update-callback status meaning "the size slider was moved".
inline constexpr int32_t kSizeSliderMoved = 0x10000;
// Window messages the filter reacts to.
inline constexpr uint32_t kMessageInvalidate = 0x464;
inline constexpr uint32_t kMessageFilterSwitched = 0x46D;

}  // namespace qv::host
