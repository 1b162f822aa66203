// The denoise pass (p1): a small non-local-means filter on the luma. Each pixel's new luma is
// the mean of the 5x5 window around it, each candidate weighted by 2^z with z falling with the
// weighted squared difference between the 3x3 blocks around candidate and pixel. Chroma passes
// through; channel w receives the luma removed. Shared by the reference and optimised variants.
#pragma once

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

// The pass reads the unpacked source through s2.
inline constexpr int kDenoiseInputSampler = 2;

// The window spans candidates -2..+2 in each direction; blocks span -1..+1 around their centre.
inline constexpr int kDenoiseSearchRadius = 2;
inline constexpr int kDenoiseBlockRadius = 1;
// Rows and columns read around an output pixel: a candidate's block reaches this far.
inline constexpr int kDenoiseBorder = kDenoiseSearchRadius + kDenoiseBlockRadius;

// Block weights w(a, b), indexed [b + 1][a + 1]; their sum is 0.96 and they are used as is.
inline constexpr float kDenoiseBlockWeights[3][3] = {
    {0.07f, 0.12f, 0.07f},
    {0.12f, 0.2f, 0.12f},
    {0.07f, 0.12f, 0.07f},
};

// z = (D * H2) * kDenoiseExponentScale gives the candidate weight 2^z; the constant is the float
// nearest -4194304 * log2(e), so 2^z is exp(-4194304 * H2 * D) to float precision.
inline constexpr float kDenoiseExponentScale = -6051101.5f;

// Texture coordinate of the texel `offset` columns (or rows) from the pixel at `position`: a
// quarter texel into it, times the texture's inverse size. Used by the reference for both axes.
// Its rounding error stays far below a quarter texel for any frame size the filter accepts, so
// the read lands in the intended texel; that is what lets the optimised variant address whole
// texels directly.
template <class T>
inline T DenoiseReadCoordinate(const T& position, int offset, float inverseSize) {
    return (position + static_cast<float>(offset) + 0.25f) * inverseSize;
}

void DenoiseReference(const gfx::DrawContext& ctx);
void DenoiseOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

}  // namespace qv::passes
