// Passes p2 (upscale_h) and p3 (upscale_v): the separable six-tap Spline36 enlargement, one
// direction each, weights from the weight table at the two phases around the sample position
// and normalised by their sum; the luma is held inside the range of the 3x3 input texels
// around the sample position, chroma and the side channel only by the store's [0, 1] clamp.
//
// Reference: per pixel on 2x2 quads through the generic sampler. Optimised: a plan per draw
// (resample_plan.h) and Highway row kernels, one lane per output pixel.
#pragma once

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

// Sampler slots the programs read.
inline constexpr int kUpscaleHInputSampler = 3;  // s3: Tex3, srcW by srcH
inline constexpr int kUpscaleVInputSampler = 4;  // s4: Tex4, maxW by srcH

void UpscaleHReference(const gfx::DrawContext& ctx);
void UpscaleVReference(const gfx::DrawContext& ctx);

void UpscaleHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);
void UpscaleVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

}  // namespace qv::passes
