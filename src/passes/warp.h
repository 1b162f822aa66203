// The warps: warp_h (p9) resamples each pixel along its row and warp_v (p10) down its column at a
// point moved by up to `sharp` pixels towards the side where the warp map (the blurred edge mask)
// is lower, with six Spline36 taps from the weight table, normalised by their sum. Dark features
// and the dark side of edges become narrower and steeper.
//
// Reference: per pixel on 2x2 quads through the generic sampler, whose point-or-linear choice
// for the weight table follows the block's phases. Optimised: Highway row kernels, one lane per
// pixel, making the same choice per 2x2 block from the phases of the block's top-left pixel and
// its right and lower neighbours.
#pragma once

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

inline constexpr int kWarpMapSampler = 5;     // s5: the warp map (Tex5), in x
inline constexpr int kWarpHImageSampler = 7;  // s7: usm_limit's result (Tex7)
inline constexpr int kWarpVImageSampler = 6;  // s6: warp_h's result (Tex6)
inline constexpr int kWarpTableSampler = 11;  // s11: the weight table (Tex11)

// The shift is kWarpSlopeGain * sharp * slope, held to [-sharp, sharp].
inline constexpr float kWarpSlopeGain = 4.0f;
// Taps at i + kWarpFirstTap .. i + kWarpFirstTap + kWarpTaps - 1 around the shifted position's
// texel i, weighted k(2 + f), k(1 + f), k(f), k(1 - f), k(2 - f), k(3 - f).
inline constexpr int kWarpFirstTap = -2;
inline constexpr int kWarpTaps = 6;

void WarpHReference(const gfx::DrawContext& ctx);
void WarpVReference(const gfx::DrawContext& ctx);

void WarpHOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);
void WarpVOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

}  // namespace qv::passes
