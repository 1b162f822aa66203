// The sliders the user set on the command line, moved one by one as in an editor's settings
// window: checked against the filter's ranges, stored, and announced with the update callback.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "filter_session.h"
#include "host/sliders.h"

namespace qv::cli {

using SliderOptions = std::array<std::optional<int32_t>, host::kSliderCount>;

// Moves each given slider in the filter's slider order (size first, so that --width and
// --height refine a preset). Throws UsageError for a missing slider or a value outside its
// range, FilterError when the update callback fails, unless it failed because the filter's GPU
// path is disabled and `allowPassthrough` lets the run go on.
void ApplySliderOptions(FilterSession& session, const SliderOptions& sliders, bool allowPassthrough);

// "the filter's width slider runs 32..4096"
std::string DescribeRange(const FilterSession& session, int index);

// The message the run stops with when the filter has switched its GPU path off.
std::string PassthroughRefusal();

}  // namespace qv::cli
