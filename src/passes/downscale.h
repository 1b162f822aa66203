// Passes p11 (downscale_h) and p12 (downscale_v): the separable Spline36 reduction, one
// direction each. The kernel is stretched to the output spacing (it reaches `radius` output
// pixels to each side and covers htap or vtap input texels), each tap weighted by one
// weight-table read and the sum normalised; every channel is then held inside the range of the
// input texels between the neighbouring output pixels' centres (htap2 or vtap2 of them).
// Both run the full tap count whatever the ratio.
//
// Reference: per pixel on 2x2 quads through the generic sampler. Optimised: a plan per draw
// (resample_plan.h) and Highway row kernels, one lane per output pixel.
#pragma once

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

// Sampler slots the programs read.
inline constexpr int kDownscaleHInputSampler = 8;  // s8: Tex8, maxW by maxH
inline constexpr int kDownscaleVInputSampler = 9;  // s9: Tex9, dstW by maxH

void DownscaleHReference(const gfx::DrawContext& ctx);
void DownscaleVReference(const gfx::DrawContext& ctx);

void DownscaleHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);
void DownscaleVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

}  // namespace qv::passes
