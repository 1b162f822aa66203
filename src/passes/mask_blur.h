// The edge-mask blurs: mask_blur_h (p7) blurs channel w of usm_limit's result along rows and
// mask_blur_v (p8) blurs that down the columns, both with the fixed 9-tap Gaussian gw_r4; the
// result is the warp map the warps read their slopes from.
#pragma once

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

inline constexpr int kMaskBlurHSampler = 7;  // s7: usm_limit's result (Tex7), edge mask in w
inline constexpr int kMaskBlurVSampler = 6;  // s6: mask_blur_h's result (Tex6), in x

// Taps on either side of the blurred pixel (9 in all).
inline constexpr int kMaskBlurRadius = 4;

void MaskBlurHReference(const gfx::DrawContext& ctx);
void MaskBlurVReference(const gfx::DrawContext& ctx);

void MaskBlurHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);
void MaskBlurVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

}  // namespace qv::passes
