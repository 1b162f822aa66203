// The per-draw plan of the resampling programs (upscale_h/v, downscale_h/v): everything that
// depends only on the output column (horizontal passes) or row (vertical passes) and on the
// constants, computed once per draw so the row kernels only gather, weigh and store.
//
// The plan follows the programs' float arithmetic operation by operation, and takes its
// weight-table entries from the generic sampler itself on the same 2x2 block coordinates the
// reference rasteriser forms, so a kernel that applies it gives the reference's bits.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

inline constexpr int kWeightTableSampler = 11;  // s11: Tex11, read by every resampling program

// A program draws nothing when a texture or a constant block it reads is not bound.
inline bool IsBound(const gfx::SamplerBinding& s) {
    return s.texture.bits && s.texture.width > 0 && s.texture.height > 0;
}

// Plan rows are padded to a whole number of vectors of the widest target, so row kernels load
// full vectors; padding entries read texel 0 with weight 0.
inline constexpr int kPlanPad = 64;

enum class Axis { Horizontal, Vertical };

// The input image along the pass's direction: its extent in texels and the reciprocal of the
// extent that the scale block holds for it (image reads are formed with the reciprocal and
// turned back into texels by the sampler).
struct ImageAxis {
    int size = 0;
    float inverseSize = 0.0f;
};

// The texel an image read at integer position i lands on: the read is addressed a quarter
// texel inside, at (i + 0.25) * inverseSize, and the point sampler floors and clamps.
int TexelIndex(float i, const ImageAxis& axis);

// Per output position i (0 .. count-1) and tap k: the clamped input index and the weight of
// the tap, the weight sum, and the input indices of the range window.
struct ResamplePlan {
    int count = 0;
    int stride = 0;  // count rounded up to kPlanPad
    int taps = 0;
    int window = 0;
    std::vector<int32_t> tapIndex;     // [k * stride + i]
    std::vector<float> tapWeight;      // [k * stride + i]
    std::vector<float> weightSum;      // [i], summed tap by tap from 0
    std::vector<int32_t> windowIndex;  // [k * stride + i]

    const int32_t* TapIndex(int k) const { return tapIndex.data() + static_cast<size_t>(k) * stride; }
    const float* TapWeight(int k) const { return tapWeight.data() + static_cast<size_t>(k) * stride; }
    const int32_t* WindowIndex(int k) const {
        return windowIndex.data() + static_cast<size_t>(k) * stride;
    }
    // The most input positions that one output position's taps and window reach over, from the
    // lowest to the highest.
    int Span() const;
};

// Six-tap enlargement with ratio r (input units per output pixel): taps n-3 .. n+2 around
// n = floor((i + 0.5) * r + 0.5), weights from the table at the phases a and 1 - a, and the
// range window m-1 .. m+1 along the pass's direction, m = floor((i + 0.5) * r).
ResamplePlan PlanEnlargement(const gfx::SamplerBinding& table, Axis axis, float r, const ImageAxis& input,
                             int count);

// Reduction with the kernel stretched to the output spacing: `taps` taps from
// floor((i - radius + 0.5) * r + 0.5), each weighted by the table at the fraction of its
// distance in output pixels, and a range window of `window` texels from
// floor((i - 0.5) * r + 0.5). s is the output-per-input ratio, r its separately rounded inverse.
ResamplePlan PlanReduction(const gfx::SamplerBinding& table, Axis axis, float s, float r, float radius,
                           int taps, int window, const ImageAxis& input, int count);

}  // namespace qv::passes
