// The values of the effect's constant blocks params, scale and weight, computed from the
// slider values and the working sizes with the exact single- and double-precision steps the
// passes were tuned with. Pure functions; gpu_lifecycle.h sets the results on the effect.
#pragma once

#include <array>
#include <cstdint>

#include "effect/constant_blocks.h"
#include "gpu/working_sizes.h"

namespace qv::gpu {

// Kernel radius of the downscale passes; a constant of the effect, not a slider.
inline constexpr int32_t kDownscaleRadius = 3;

// Slider value as a strength: value x 0.01 in double, rounded to float.
float Percent(int32_t sliderValue);

// Denoise filter parameter from the denoise strength: 1 / (40 d^2)^2, or 0 when 40 d^2 is 0.
float ComputeH2(float denoise);

// params from the eleven slider values (host/sliders.h order) and the working sizes. Tap
// counts need a target size; with none (a zero or negative target) they are 0.
effect::ParamsBlock ComputeParams(const int32_t* sliderValues, const WorkingSizes& sizes);

// scale: the size ratios and the reciprocal sizes of the working textures, in single precision.
effect::ScaleBlock ComputeScale(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH);

// The fixed 9-tap Gaussian (sigma 4): entries for distances 0..4.
std::array<float, 5> ComputeGwR4Table();

// The 7-tap Gaussian of the radius slider (sigma = radius / 10): entries for distances 0..3,
// zero beyond ceil(sigma).
std::array<float, 4> ComputeGwR3(int32_t radiusSlider);

}  // namespace qv::gpu
