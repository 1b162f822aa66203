// The unsharp-mask pair: usm_blur (p4) blurs the luma along rows with the 7-tap Gaussian gw_r3;
// usm_limit (p5) blurs that result down the columns, applies the unsharp mask of strength usm
// held inside the 3x3 neighbourhood's range widened by the strengths max and min, adds the
// recovery share of the luma the denoise pass removed, and writes the edge mask for the warps.
//
// Reference: per pixel on 2x2 quads through the generic sampler. Optimised: Highway row
// kernels, one lane per pixel, keeping every product, sum and min/max in the same order.
#pragma once

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

inline constexpr int kUsmImageSampler = 5;  // s5: the working image (Tex5)
inline constexpr int kUsmBlurSampler = 6;   // s6: usm_blur's result (Tex6), read by usm_limit

// Taps on either side of the blurred pixel (7 in all); the 3x3 range reaches one texel.
inline constexpr int kUsmBlurRadius = 3;
inline constexpr int kUsmRangeRadius = 1;

// The edge mask is -kEdgeMaskGain * detail, clamped to [0, 1]: full where the pixel is darker
// than its blurred surroundings by 1/512 of the range.
inline constexpr float kEdgeMaskGain = 512.0f;

void UsmBlurReference(const gfx::DrawContext& ctx);
void UsmLimitReference(const gfx::DrawContext& ctx);

void UsmBlurOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);
void UsmLimitOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

}  // namespace qv::passes
