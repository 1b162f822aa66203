// Byte images of the effect's constant blocks: 4-byte little-endian members in effect order.
#pragma once

#include <cstdint>
#include <cstring>

namespace qv::effect {

struct ParamsBlock {
    float usm;
    float max;
    float min;
    float denoise;
    float recovery;
    float sharp;
    float H2;
    int32_t radius;
    int32_t htap;
    int32_t vtap;
    int32_t htap2;
    int32_t vtap2;
};
static_assert(sizeof(ParamsBlock) == 48);

struct Float2 {
    float x;
    float y;
};

struct ScaleBlock {
    float hscale;
    float vscale;
    float hscaleInverse;
    float vscaleInverse;
    Float2 inputTexSizeInverse;
    Float2 srcTexSizeInverse;
    Float2 tmpTexSizeInverse;
    Float2 tmpTex2SizeInverse;
    Float2 workTexSizeInverse;
    Float2 destTexSizeInverse;
};
static_assert(sizeof(ScaleBlock) == 64);

struct WeightBlock {
    float gw_r4[5];
    float gw_r3[4];
};
static_assert(sizeof(WeightBlock) == 36);

template <class Block>
inline Block ReadBlock(const uint8_t* bytes) {
    Block b;
    std::memcpy(&b, bytes, sizeof(Block));
    return b;
}

}  // namespace qv::effect
