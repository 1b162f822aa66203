// The sizes the working textures are built for, and the six screen quads drawn into them.
#pragma once

#include <array>
#include <cstdint>

#include "transfer/packed_frame.h"

namespace qv::gpu {

// Source srcW x srcH, target dstW x dstH, and the larger of the two in each direction.
struct WorkingSizes {
    int32_t srcW = 0;
    int32_t srcH = 0;
    int32_t dstW = 0;
    int32_t dstH = 0;
    int32_t maxW = 0;
    int32_t maxH = 0;

    static constexpr WorkingSizes For(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH) {
        return WorkingSizes{srcW, srcH, dstW, dstH, srcW > dstW ? srcW : dstW, srcH > dstH ? srcH : dstH};
    }
    // Widths of the packed input texture Tex and of the packed target.
    constexpr int32_t texWSrc() const { return transfer::PackedTexelWidth(srcW); }
    constexpr int32_t texWDst() const { return transfer::PackedTexelWidth(dstW); }
};

// One quad of four vertices for each image size a pass writes, in vertex-buffer order.
enum Quad : int {
    kQuadSource = 0,      // srcW x srcH: unpack, denoise
    kQuadWideSource = 1,  // maxW x srcH: horizontal upscale
    kQuadWork = 2,        // maxW x maxH: vertical upscale and the detail stage
    kQuadNarrowWork = 3,  // dstW x maxH: horizontal downscale
    kQuadTarget = 4,      // dstW x dstH: vertical downscale
    kQuadPacked = 5,      // texW_dst x dstH: pack
    kQuadCount
};

inline constexpr int kVerticesPerQuad = 4;
inline constexpr int kFloatsPerVertex = 4;  // x, y, z, rhw: one pre-transformed position
inline constexpr int kVertexStride = kFloatsPerVertex * static_cast<int>(sizeof(float));
inline constexpr int kVertexCount = kQuadCount * kVerticesPerQuad;
inline constexpr int kVertexBufferBytes = kVertexCount * kVertexStride;
static_assert(kVertexStride == 16 && kVertexBufferBytes == 384);

constexpr int FirstVertex(Quad quad) { return static_cast<int>(quad) * kVerticesPerQuad; }

struct QuadSize {
    int32_t width;
    int32_t height;
};

constexpr QuadSize SizeOf(Quad quad, const WorkingSizes& s) {
    switch (quad) {
        case kQuadSource: return {s.srcW, s.srcH};
        case kQuadWideSource: return {s.maxW, s.srcH};
        case kQuadWork: return {s.maxW, s.maxH};
        case kQuadNarrowWork: return {s.dstW, s.maxH};
        case kQuadTarget: return {s.dstW, s.dstH};
        case kQuadPacked: return {s.texWDst(), s.dstH};
        case kQuadCount: break;
    }
    return {0, 0};
}

// The 24 vertices: each quad (0, 0), (W, 0), (0, H), (W, H) as a two-triangle strip, corners
// exactly on the pixel grid (no half-pixel shift), z = 0, rhw = 1.
using QuadVertices = std::array<float, kVertexCount * kFloatsPerVertex>;
QuadVertices BuildQuadVertices(const WorkingSizes& sizes);

}  // namespace qv::gpu
