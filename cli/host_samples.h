// Rows of host pixels to and from the 4:4:4 float planes that zimg reads and writes (luma 0..1
// for nominal black..white, chroma -0.5..0.5), on the best SIMD target the machine has. Every
// target gives the results of the one-sample forms below.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "host/host_records.h"

namespace qv::cli {

// One host step: nominal white minus black is 4096 steps, nominal chroma span 4096 as well.
inline constexpr float kHostScale = 4096.0f;

// A float sample to host steps: the nearest step (ties to even), held to the int16 range.
inline int16_t ToHostSample(float v) {
    const float scaled = v * kHostScale;  // exact: a power of two
    const long n = std::lrint(scaled);
    return static_cast<int16_t>(std::clamp<long>(n, INT16_MIN, INT16_MAX));
}

// A host sample to float: exact (a power-of-two scale).
inline float FromHostSample(int16_t v) { return static_cast<float>(v) * (1.0f / kHostScale); }

// out[x] from y[x], cb[x], cr[x] for x < count; cb and cr null give chroma 0 (a grey frame).
void FloatPlanesToHostRow(const float* y, const float* cb, const float* cr, YcPixel* out, int count);

// y[x], cb[x], cr[x] from in[x] for x < count; cb and cr null: luma only.
void HostRowToFloatPlanes(const YcPixel* in, float* y, float* cb, float* cr, int count);

}  // namespace qv::cli
