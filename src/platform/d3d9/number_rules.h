// The exact number rules every pixel program follows, so that every rasteriser, SIMD target
// and thread count gives the same bits.
#pragma once

#include <cmath>
#include <cstdint>

namespace qv::gfx {

inline constexpr int kTableEntries = 513;  // the weight table Tex11
inline constexpr float kTableScale = 513.0f;

// A stored unorm16 value reads as v / 65535 in float (correctly rounded division).
inline float ReadUnorm(uint16_t v) { return static_cast<float>(v) / 65535.0f; }

// Clamp to [0, 1] in float (NaN stores as 0), then the exactly nearest step; the product is
// exact in double and the only tie in range, 0.5, goes to 32768.
inline uint16_t StoreUnorm(float x) {
    x = x > 0.0f ? x : 0.0f;
    x = x < 1.0f ? x : 1.0f;
    return static_cast<uint16_t>(std::nearbyint(static_cast<double>(x) * 65535.0));
}

// Clamped texel index from a float position already scaled to texels: floor, then clamp in
// float so no out-of-range float reaches an integer conversion.
inline int ClampedIndex(float s, int size) {
    float f = std::floor(s);
    if (!(f > 0.0f)) return 0;
    const float last = static_cast<float>(size - 1);
    if (f > last) return size - 1;
    return static_cast<int>(f);
}

}  // namespace qv::gfx
