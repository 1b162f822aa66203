// Passes p0 (unpack) and p13 (pack): between the packed frame layout (four pixels in three
// texels, transfer/packed_frame.h) and one pixel per texel (luma, first chroma, second chroma,
// side channel). Neither changes a value: every output channel is a copy of one input channel,
// and the side channel is 0 after unpacking.
//
// Reference: the per-pixel programs on 2x2 quads through the generic sampler, with the texel
// and place indices formed in float as the effect forms them. Optimised: row kernels that use
// the integer relations those floats reproduce for every column up to 20000.
#pragma once

#include <cstdint>

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

inline constexpr int kPackedSampler = 1;  // s1: Tex, the packed source
inline constexpr int kFinalSampler = 10;  // s10: Tex10, the final image

void UnpackReference(const gfx::DrawContext& ctx);
void PackReference(const gfx::DrawContext& ctx);

void UnpackOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);
void PackOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

// One row of each kernel. `texels` is the input row's width in texels (packed for unpack,
// pixels for pack); `width` is the count of output texels to write. Columns the input cannot
// supply read its last texel, as a clamped read does.
void UnpackRow(const uint16_t* packed, int texels, uint16_t* out, int width);
void PackRow(const uint16_t* pixels, int texels, uint16_t* out, int width);

}  // namespace qv::passes
