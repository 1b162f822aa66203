// The effect source format and its parser. The format is the stand-in's own, a small subset
// in the spirit of an .fx file:
//
//   // comments run to the end of the line; /* block comments */ too
//   texture Tex;
//   sampler s1 {
//       Texture = Tex;
//       AddressU = CLAMP; AddressV = CLAMP;
//       MinFilter = POINT; MagFilter = POINT; MipFilter = NONE;
//   }
//   struct params { float usm; int radius; float2 size; float gw[5]; }
//   technique Quillervantis {
//       pass p0 { VertexShader = NULL; PixelShader = unpack; }
//   }
//
// Parameters are declared in file order. A sampler is named s1 .. s11 after the program slot
// it fills and must name an earlier texture. Sampler states not written keep the device's
// defaults (WRAP addressing, POINT filters, no mip filter), and the rasteriser implements CLAMP
// addressing, POINT and LINEAR filters and no mip filter only: anything else is refused here,
// so a state the programs do not honour can never be set. A struct is a constant block of
// 4-byte members packed in order (float, int, float2, float3, float4, each optionally an array).
// A pass runs no vertex program and names its pixel program; the names are bound to
// registered programs when the effect is created, not here. State and value names are
// case-insensitive, as in .fx files; keywords and declared names are not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/d3d9/pixel_program.h"

namespace qv::d3d9 {

enum class ParameterKind : uint8_t { Texture, Sampler, Block };

enum class MemberType : uint8_t { Float, Int, Float2, Float3, Float4 };

struct BlockMember {
    std::string name;
    MemberType type = MemberType::Float;
    int arrayLength = 0;  // 0: not an array
    int offset = 0;       // bytes from the start of the block
    int bytes = 0;
};

struct Parameter {
    std::string name;
    ParameterKind kind = ParameterKind::Texture;
    int line = 0;
    // Samplers.
    int slot = 0;  // 1 .. 11 from the name s1 .. s11
    std::string texture;
    gfx::SamplerState state;
    // Blocks.
    std::vector<BlockMember> members;
    int bytes = 0;
};

struct Pass {
    std::string name;
    std::string program;
    int line = 0;  // where the pass names its program
};

struct Technique {
    std::string name;
    std::vector<Pass> passes;
    int line = 0;
};

struct EffectLayout {
    std::vector<Parameter> parameters;
    std::vector<Technique> techniques;

    const Parameter* FindParameter(std::string_view name) const;
    const Technique* FindTechnique(std::string_view name) const;
};

inline constexpr int kFirstSamplerSlot = 1;
inline constexpr int kLastSamplerSlot = gfx::kSamplerSlots - 1;

// Parses `source`. On failure returns false and sets `error` to "line N: what is wrong".
bool ParseEffectSource(std::string_view source, EffectLayout* layout, std::string* error);

int MemberTypeBytes(MemberType type);

}  // namespace qv::d3d9
