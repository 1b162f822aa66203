#include "platform/d3d9/screen_quad.h"

#include <cmath>
#include <cstring>

namespace qv::d3d9 {
namespace {

struct ScreenVertex {
    float x, y, z, rhw;
};
static_assert(sizeof(ScreenVertex) == 16);

bool IsExtent(float v) { return v >= 1.0f && v <= kMaxQuadExtent && std::floor(v) == v; }

}  // namespace

bool ReadScreenQuad(const uint8_t* stream, size_t streamBytes, UINT offset, UINT stride, UINT firstVertex,
                    ScreenQuad* quad) {
    if (!stream || stride < sizeof(ScreenVertex)) return false;
    ScreenVertex v[4];
    for (int i = 0; i < 4; ++i) {
        const uint64_t at = uint64_t{offset} + (uint64_t{firstVertex} + static_cast<uint64_t>(i)) * stride;
        if (at + sizeof(ScreenVertex) > streamBytes) return false;
        std::memcpy(&v[i], stream + at, sizeof(ScreenVertex));
    }
    for (const ScreenVertex& p : v) {
        if (p.z != 0.0f || p.rhw != 1.0f) return false;
    }
    const float w = v[1].x;
    const float h = v[2].y;
    if (!IsExtent(w) || !IsExtent(h)) return false;
    const bool corners =
        v[0].x == 0.0f && v[0].y == 0.0f && v[1].y == 0.0f && v[2].x == 0.0f && v[3].x == w && v[3].y == h;
    if (!corners) return false;
    quad->width = static_cast<int>(w);
    quad->height = static_cast<int>(h);
    return true;
}

}  // namespace qv::d3d9
