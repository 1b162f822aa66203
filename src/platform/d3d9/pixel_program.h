// What a pixel program sees when a pass draws: its bound samplers, the effect's constant
// blocks, the render target and the drawn rectangle. Each program comes as a reference
// variant (per pixel, on 2x2 quads, through the generic sampler) and an optimised variant
// (row kernels over bands), bit-identical by the number rules in number_rules.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/function_ref.h"
#include "platform/d3d9/d3d9.h"

namespace qv::gfx {

enum class Filter : uint8_t { Point, Linear };

// Addressing is always CLAMP in this effect; only the filters vary.
struct SamplerState {
    Filter minFilter = Filter::Point;
    Filter magFilter = Filter::Point;
};

// Bytes of one texel as the samplers read it: four floats, else four unorm16 values.
inline size_t SampledTexelBytes(D3DFORMAT format) { return format == D3DFMT_A32B32G32R32F ? 16 : 8; }

struct TextureView {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t pitch = 0;  // bytes
    D3DFORMAT format = D3DFMT_UNKNOWN;

    const uint16_t* Row16(int y) const { return reinterpret_cast<const uint16_t*>(bits + y * pitch); }
    const float* RowF(int y) const { return reinterpret_cast<const float*>(bits + y * pitch); }
};

struct SamplerBinding {
    TextureView texture;
    SamplerState state;
};

struct TargetView {
    uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t pitch = 0;  // bytes; format is always D3DFMT_A16B16G16R16

    uint16_t* Row(int y) const { return reinterpret_cast<uint16_t*>(bits + y * pitch); }
};

inline constexpr int kSamplerSlots = 12;  // index 1..11 = s1..s11; 0 unused

struct DrawContext {
    SamplerBinding samplers[kSamplerSlots];
    const uint8_t* params = nullptr;  // 48 bytes, effect/constant_blocks.h
    const uint8_t* scale = nullptr;   // 64 bytes
    const uint8_t* weight = nullptr;  // 36 bytes
    TargetView target;
    int width = 0;   // drawn rectangle (0,0)-(width,height), clipped to the target
    int height = 0;
};

// Runs band(y0, y1) over disjoint row ranges covering [0, rows); may run them in parallel and
// in any order. Bands are at least `grain` rows except the last.
class RowScheduler {
public:
    virtual ~RowScheduler() = default;
    virtual void Run(int rows, int grain, FunctionRef<void(int y0, int y1)> band) = 0;
    virtual int Workers() const = 0;
};

// The sampler slots a program reads, one bit each (bit i for s<i>).
using SamplerSet = uint32_t;
inline constexpr SamplerSet kEverySampler = ((SamplerSet{1} << kSamplerSlots) - 1) & ~SamplerSet{1};
template <class... Slot>
constexpr SamplerSet Samplers(Slot... slot) {
    return ((SamplerSet{1} << slot) | ... | SamplerSet{0});
}

struct PixelProgram {
    const char* name;
    void (*reference)(const DrawContext&);
    void (*optimised)(const DrawContext&, RowScheduler&);
    // As a compiled shader binds only the samplers it reads, a draw sees (and the device makes
    // ready) only these; the other slots of its context stay empty.
    SamplerSet samplers = kEverySampler;
};

// Programs are registered by name; the effect's passes name the program they run.
void RegisterPixelProgram(const PixelProgram& program);
const PixelProgram* FindPixelProgram(std::string_view name);

}  // namespace qv::gfx
