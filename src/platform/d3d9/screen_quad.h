// The only geometry the rasteriser draws: a strip of two triangles over the pre-transformed
// corners (0, 0), (W, 0), (0, H), (W, H), with z = 0 and rhw = 1, that covers pixels
// x = 0 .. W-1, y = 0 .. H-1. Anything else is refused rather than drawn wrongly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/d3d9/d3d9.h"

namespace qv::d3d9 {

struct ScreenQuad {
    int width = 0;
    int height = 0;
};

// Largest corner coordinate accepted: every integer up to it is exact in float.
inline constexpr float kMaxQuadExtent = 16777216.0f;

// Reads the strip's four vertices starting at `firstVertex` from a stream of `streamBytes`
// bytes (vertex i at offset + i * stride). False when they lie outside the stream or are not
// the quad above.
bool ReadScreenQuad(const uint8_t* stream, size_t streamBytes, UINT offset, UINT stride, UINT firstVertex,
                    ScreenQuad* quad);

}  // namespace qv::d3d9
