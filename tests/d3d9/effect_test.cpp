// The effect runtime: parsing the effect source, the compiler messages of a broken source,
// the filter's own effect, and the parameter, technique and pass calls.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "d3d9/d3d9_test_support.h"
#include "effect/constant_blocks.h"
#include "effect/effect_resource.h"
#include "gpu/gpu_context.h"
#include "passes/program_names.h"
#include "platform/d3d9/effect_source.h"

namespace qv::d3d9::test {
namespace {

using Effects = StandInTest;

struct Compiled {
    HRESULT hr;
    bool created;
    bool hasMessage;
    std::string message;
    DWORD messageSize;
};

Compiled Compile(IDirect3DDevice9* device, const std::string& source) {
    Ref<ID3DXEffect> effect;
    Ref<ID3DXBuffer> errors;
    Compiled c{};
    c.hr = D3DXCreateEffect(device, source.data(), UINT(source.size()), nullptr, nullptr, 0, nullptr, effect.Out(),
                            errors.Out());
    c.created = bool(effect);
    c.hasMessage = bool(errors);
    if (errors) {
        c.message = static_cast<const char*>(errors->GetBufferPointer());
        c.messageSize = errors->GetBufferSize();
    }
    return c;
}

const std::string kSampler1 =
    "texture Tex;\n"
    "sampler s1 { Texture = Tex; AddressU = CLAMP; AddressV = CLAMP; MinFilter = POINT; MagFilter = POINT; }\n";
const std::string kTechnique = "technique T { pass p0 { VertexShader = NULL; PixelShader = test_fill; } }\n";

TEST_F(Effects, BrokenSourcesFailWithAMessageNamingTheLine) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kReferenceAdapter);
    struct Case {
        const char* what;
        std::string source;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"missing semicolon", "texture Tex\nsampler s1 { }\n", 2, "expected ';'"},
        {"unknown declaration", kSampler1 + "\nshader x;\n" + kTechnique, 4, "unknown declaration 'shader'"},
        {"stray character", kSampler1 + "#define X\n" + kTechnique, 3, "unexpected character '#'"},
        {"open comment", kSampler1 + kTechnique + "/* never closed\n\n", 4, "comment is not closed"},
        {"end inside a technique", kSampler1 + "technique T {\n  pass p0 { PixelShader = test_fill; }\n", 4,
         "the end of the source"},
        {"unknown program", kSampler1 + "technique T {\n  pass p0 {\n    PixelShader = no_such_program;\n  }\n}\n", 5,
         "unknown pixel program 'no_such_program'"},
        {"wrapping",
         "texture Tex;\nsampler s1 {\n Texture = Tex;\n AddressU = WRAP;\n AddressV = CLAMP;\n}\n" + kTechnique, 4,
         "AddressU = WRAP is not implemented"},
        {"mirroring",
         "texture Tex;\nsampler s1 { Texture = Tex; AddressU = CLAMP;\n AddressV = MIRROR; }\n" + kTechnique, 3,
         "AddressV = MIRROR"},
        {"default addressing", "texture Tex;\nsampler s1 { Texture = Tex; AddressU = CLAMP; }\n" + kTechnique, 2,
         "leaves AddressV at WRAP"},
        {"anisotropic filter",
         kSampler1 +
             "texture T2;\nsampler s2 { Texture = T2; AddressU = CLAMP; AddressV = CLAMP;\n"
             "  MinFilter = ANISOTROPIC; }\n" +
             kTechnique,
         5, "MinFilter = ANISOTROPIC"},
        {"mip filter",
         kSampler1 +
             "texture T2;\nsampler s2 { Texture = T2; AddressU = CLAMP; AddressV = CLAMP;\n"
             "  MipFilter = LINEAR; }\n" +
             kTechnique,
         5, "MipFilter = LINEAR"},
        {"border colour", "texture Tex;\nsampler s1 { Texture = Tex;\n BorderColor = 0; }\n" + kTechnique, 3,
         "sampler state 'BorderColor'"},
        {"unknown texture",
         "texture Tex;\nsampler s1 { Texture = Text; AddressU = CLAMP; AddressV = CLAMP; }\n" + kTechnique, 2,
         "'Text' is not a texture"},
        {"sampler without a slot", "texture Tex;\nsampler s12 { Texture = Tex; }\n" + kTechnique, 2, "s1 to s11"},
        {"vertex program",
         kSampler1 + "technique T {\n pass p0 { VertexShader = vs_main; PixelShader = test_fill; } }\n", 4,
         "no vertex programs"},
        {"render state in a pass", kSampler1 + "technique T {\n pass p0 {\n AlphaBlendEnable = TRUE; } }\n", 5,
         "pass state 'AlphaBlendEnable'"},
        {"pass without a program", kSampler1 + "technique T {\n pass p0 { VertexShader = NULL; } }\n", 4,
         "names no pixel program"},
        {"technique without passes", kSampler1 + "technique T { }\n", 3, "has no passes"},
        {"declared twice", kSampler1 + "texture Tex;\n" + kTechnique, 3, "'Tex' is already declared"},
        {"unknown member type", "struct params {\n float a;\n double b;\n}\n" + kTechnique, 3, "member type 'double'"},
        {"empty array", "struct params { float a[0]; }\n" + kTechnique, 1, "array length '0'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Compiled result = Compile(device.get(), c.source);
        EXPECT_EQ(result.hr, D3DXERR_INVALIDDATA);
        EXPECT_FALSE(result.created);
        ASSERT_TRUE(result.hasMessage);
        const std::string prefix = "line " + std::to_string(c.line) + ": ";
        EXPECT_EQ(result.message.rfind(prefix, 0), 0u) << result.message;
        EXPECT_NE(result.message.find(c.says), std::string::npos) << result.message;
        EXPECT_EQ(result.messageSize, result.message.size() + 1) << "the text ends with one terminator";
    }
}

TEST_F(Effects, CreationChecksItsArguments) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kReferenceAdapter);
    const std::string source = kSampler1 + kTechnique;
    Ref<ID3DXEffect> effect;
    EXPECT_EQ(D3DXCreateEffect(nullptr, source.data(), UINT(source.size()), nullptr, nullptr, 0, nullptr, effect.Out(),
                               nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateEffect(device.get(), nullptr, 10, nullptr, nullptr, 0, nullptr, effect.Out(), nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateEffect(device.get(), source.data(), 0, nullptr, nullptr, 0, nullptr, effect.Out(), nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateEffect(device.get(), source.data(), UINT(source.size()), nullptr, nullptr, 0, nullptr, nullptr,
                               nullptr),
              D3DERR_INVALIDCALL);
    // A stored terminator after the text is no part of it; no message buffer on success.
    Ref<ID3DXBuffer> errors;
    EXPECT_EQ(D3DXCreateEffect(device.get(), source.c_str(), UINT(source.size() + 1), nullptr, nullptr, 0, nullptr,
                               effect.Out(), errors.Out()),
              D3D_OK);
    EXPECT_TRUE(effect);
    EXPECT_FALSE(errors);
}

TEST_F(Effects, TheTestEffectParsesIntoItsDeclaredLayout) {
    EffectLayout layout;
    std::string error;
    ASSERT_TRUE(ParseEffectSource(kTestEffectSource, &layout, &error)) << error;
    const char* names[] = {"TexA", "s1", "TexB", "s11", "TexC", "s5", "params", "scale", "weight"};
    ASSERT_EQ(layout.parameters.size(), std::size(names));
    for (size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(layout.parameters[i].name, names[i]);
    const Parameter& scale = layout.parameters[7];
    ASSERT_EQ(scale.kind, ParameterKind::Block);
    EXPECT_EQ(scale.bytes, 64);
    ASSERT_EQ(scale.members.size(), 3u);
    EXPECT_EQ(scale.members[1].type, MemberType::Float3);
    EXPECT_EQ(scale.members[1].offset, 4);
    EXPECT_EQ(scale.members[2].offset, 16);
    EXPECT_EQ(scale.members[2].arrayLength, 6);
    EXPECT_EQ(scale.members[2].bytes, 48);
    EXPECT_EQ(layout.parameters[6].bytes, 48);
    EXPECT_EQ(layout.parameters[8].bytes, 36);
    const Parameter& s11 = layout.parameters[3];
    EXPECT_EQ(s11.slot, 11);
    EXPECT_EQ(s11.texture, "TexB");
    EXPECT_EQ(s11.state.magFilter, gfx::Filter::Linear);
    ASSERT_EQ(layout.techniques.size(), 2u);
    EXPECT_EQ(layout.techniques[0].passes.size(), size_t(kTestPassCount));
    EXPECT_EQ(layout.techniques[0].passes[kCopyPass].program, kCopyProgram);
}

// The member layout of a block of the filter's effect, checked against the byte image the
// processor side writes.
struct ExpectedMember {
    const char* name;
    MemberType type;
    int arrayLength;
    size_t offset;
};

void ExpectBlock(const Parameter& block, size_t bytes, const std::vector<ExpectedMember>& members) {
    SCOPED_TRACE(block.name);
    ASSERT_EQ(block.kind, ParameterKind::Block);
    EXPECT_EQ(size_t(block.bytes), bytes);
    ASSERT_EQ(block.members.size(), members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(block.members[i].name, members[i].name);
        EXPECT_EQ(block.members[i].type, members[i].type) << members[i].name;
        EXPECT_EQ(block.members[i].arrayLength, members[i].arrayLength) << members[i].name;
        EXPECT_EQ(size_t(block.members[i].offset), members[i].offset) << members[i].name;
    }
}

std::string FilterEffectSource() {
    return std::string(reinterpret_cast<const char*>(effect::EffectSourceBytes()), effect::EffectSourceSize());
}

TEST(FilterEffect, DeclaresTheSlotsSamplersBlocksAndPassesOfTheFilter) {
    EffectLayout layout;
    std::string error;
    ASSERT_TRUE(ParseEffectSource(FilterEffectSource(), &layout, &error)) << error;

    // Tex, s1, Tex2, s2, ... Tex11, s11, params, scale, weight.
    ASSERT_EQ(layout.parameters.size(), 25u);
    for (int slot = 1; slot <= 11; ++slot) {
        const Parameter& texture = layout.parameters[size_t(2 * (slot - 1))];
        const Parameter& sampler = layout.parameters[size_t(2 * (slot - 1) + 1)];
        const std::string textureName = gpu::kEffectParameterNames[slot - 1];
        EXPECT_EQ(texture.name, textureName);
        EXPECT_EQ(texture.kind, ParameterKind::Texture);
        EXPECT_EQ(sampler.name, "s" + std::to_string(slot));
        EXPECT_EQ(sampler.kind, ParameterKind::Sampler);
        EXPECT_EQ(sampler.slot, slot);
        EXPECT_EQ(sampler.texture, textureName);
        EXPECT_EQ(sampler.state.minFilter, gfx::Filter::Point) << sampler.name;
        EXPECT_EQ(sampler.state.magFilter, slot == 11 ? gfx::Filter::Linear : gfx::Filter::Point) << sampler.name;
    }
    using effect::ParamsBlock;
    using effect::ScaleBlock;
    using effect::WeightBlock;
    const MemberType F = MemberType::Float, I = MemberType::Int, F2 = MemberType::Float2;
    ExpectBlock(layout.parameters[22], sizeof(ParamsBlock),
                {{"usm", F, 0, offsetof(ParamsBlock, usm)},
                 {"max", F, 0, offsetof(ParamsBlock, max)},
                 {"min", F, 0, offsetof(ParamsBlock, min)},
                 {"denoise", F, 0, offsetof(ParamsBlock, denoise)},
                 {"recovery", F, 0, offsetof(ParamsBlock, recovery)},
                 {"sharp", F, 0, offsetof(ParamsBlock, sharp)},
                 {"H2", F, 0, offsetof(ParamsBlock, H2)},
                 {"radius", I, 0, offsetof(ParamsBlock, radius)},
                 {"htap", I, 0, offsetof(ParamsBlock, htap)},
                 {"vtap", I, 0, offsetof(ParamsBlock, vtap)},
                 {"htap2", I, 0, offsetof(ParamsBlock, htap2)},
                 {"vtap2", I, 0, offsetof(ParamsBlock, vtap2)}});
    ExpectBlock(layout.parameters[23], sizeof(ScaleBlock),
                {{"hscale", F, 0, offsetof(ScaleBlock, hscale)},
                 {"vscale", F, 0, offsetof(ScaleBlock, vscale)},
                 {"hscaleInverse", F, 0, offsetof(ScaleBlock, hscaleInverse)},
                 {"vscaleInverse", F, 0, offsetof(ScaleBlock, vscaleInverse)},
                 {"inputTexSizeInverse", F2, 0, offsetof(ScaleBlock, inputTexSizeInverse)},
                 {"srcTexSizeInverse", F2, 0, offsetof(ScaleBlock, srcTexSizeInverse)},
                 {"tmpTexSizeInverse", F2, 0, offsetof(ScaleBlock, tmpTexSizeInverse)},
                 {"tmpTex2SizeInverse", F2, 0, offsetof(ScaleBlock, tmpTex2SizeInverse)},
                 {"workTexSizeInverse", F2, 0, offsetof(ScaleBlock, workTexSizeInverse)},
                 {"destTexSizeInverse", F2, 0, offsetof(ScaleBlock, destTexSizeInverse)}});
    ExpectBlock(layout.parameters[24], sizeof(WeightBlock),
                {{"gw_r4", F, 5, offsetof(WeightBlock, gw_r4)}, {"gw_r3", F, 4, offsetof(WeightBlock, gw_r3)}});
    for (int i = 11; i < gpu::kEffectParameterCount; ++i) {
        EXPECT_EQ(layout.parameters[size_t(22 + i - 11)].name, gpu::kEffectParameterNames[i]);
    }

    ASSERT_EQ(layout.techniques.size(), 1u);
    const Technique& technique = layout.techniques[0];
    EXPECT_EQ(technique.name, gpu::kTechniqueName);
    const char* programs[] = {passes::kUnpackProgram,     passes::kDenoiseProgram,   passes::kUpscaleHProgram,
                              passes::kUpscaleVProgram,   passes::kUsmBlurProgram,   passes::kUsmLimitProgram,
                              passes::kRecoveryProgram,   passes::kMaskBlurHProgram, passes::kMaskBlurVProgram,
                              passes::kWarpHProgram,      passes::kWarpVProgram,     passes::kDownscaleHProgram,
                              passes::kDownscaleVProgram, passes::kPackProgram};
    ASSERT_EQ(technique.passes.size(), std::size(programs));
    for (size_t i = 0; i < std::size(programs); ++i) {
        EXPECT_EQ(technique.passes[i].name, "p" + std::to_string(i));
        EXPECT_EQ(technique.passes[i].program, programs[i]);
    }
}

TEST(FilterEffect, IsCreatedOnceEveryPassProgramIsRegistered) {
    EffectLayout layout;
    ASSERT_TRUE(ParseEffectSource(FilterEffectSource(), &layout, nullptr));
    std::string missing;
    for (const Pass& pass : layout.techniques[0].passes) {
        if (!gfx::FindPixelProgram(pass.program)) missing += " " + pass.program;
    }
    ASSERT_TRUE(missing.empty()) << "pixel programs not registered:" << missing;

    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kReferenceAdapter);
    Ref<ID3DXEffect> effect;
    Ref<ID3DXBuffer> errors;
    ASSERT_EQ(D3DXCreateEffect(device.get(), effect::EffectSourceBytes(), effect::EffectSourceSize(), nullptr, nullptr,
                               0, nullptr, effect.Out(), errors.Out()),
              D3D_OK);
    const D3DXHANDLE technique = effect->GetTechniqueByName(gpu::kTechniqueName);
    ASSERT_NE(technique, nullptr);
    ASSERT_EQ(effect->SetTechnique(technique), D3D_OK);
    for (const char* name : gpu::kEffectParameterNames) EXPECT_NE(effect->GetParameterByName(nullptr, name), nullptr);
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), D3D_OK);
    EXPECT_EQ(passes, 14u);
    ASSERT_EQ(effect->End(), D3D_OK);
}

TEST_F(Effects, HandlesComeFromNamesOfThisEffectOnly) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kReferenceAdapter);
    Ref<ID3DXEffect> effect = CreateTestEffect(device.get());
    Ref<ID3DXEffect> other = CreateTestEffect(device.get());
    EXPECT_EQ(effect->GetTechniqueByName("Quillervantis"), nullptr);
    EXPECT_EQ(effect->GetTechniqueByName(nullptr), nullptr);
    EXPECT_EQ(effect->GetParameterByName(nullptr, "Tex"), nullptr);
    EXPECT_EQ(effect->GetParameterByName(nullptr, nullptr), nullptr);
    const D3DXHANDLE params = effect->GetParameterByName(nullptr, "params");
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(effect->GetParameterByName(nullptr, "params"), params) << "one handle per parameter";
    EXPECT_EQ(effect->GetParameterByName(params, "fill"), nullptr) << "block members are not handed out";

    float bytes[12] = {};
    EXPECT_EQ(effect->SetValue(params, bytes, 48), D3D_OK);
    EXPECT_EQ(effect->SetValue(params, bytes, 49), D3DERR_INVALIDCALL) << "more than the block";
    EXPECT_EQ(effect->SetValue(params, nullptr, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetValue(other->GetParameterByName(nullptr, "params"), bytes, 48), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetValue("params", bytes, 48), D3DERR_INVALIDCALL) << "a name is not a handle";
    EXPECT_EQ(effect->SetValue(effect->GetParameterByName(nullptr, "TexA"), bytes, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetValue(effect->GetTechniqueByName("Test"), bytes, 4), D3DERR_INVALIDCALL);

    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTexture(device.get(), 2, 2, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, texture.Out()),
              D3D_OK);
    EXPECT_EQ(effect->SetTexture(params, texture.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetTexture(effect->GetParameterByName(nullptr, "s1"), texture.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetTexture(effect->GetParameterByName(nullptr, "TexA"), texture.get()), D3D_OK);
    EXPECT_EQ(effect->SetTechnique(other->GetTechniqueByName("Test")), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetTechnique(nullptr), D3DERR_INVALIDCALL);
}

TEST_F(Effects, BeginPassAndEndFollowTheirOrder) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kReferenceAdapter);
    Ref<ID3DXEffect> effect = CreateTestEffect(device.get());
    EXPECT_EQ(effect->BeginPass(0), D3DERR_INVALIDCALL) << "pass before Begin";
    EXPECT_EQ(effect->EndPass(), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->End(), D3DERR_INVALIDCALL) << "End before Begin";
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), D3D_OK);
    EXPECT_EQ(passes, UINT(kTestPassCount)) << "the first technique until one is set";
    EXPECT_EQ(effect->Begin(&passes, 0), D3DERR_INVALIDCALL) << "Begin twice";
    EXPECT_EQ(effect->SetTechnique(effect->GetTechniqueByName("Other")), D3DERR_INVALIDCALL) << "inside Begin";
    EXPECT_EQ(effect->BeginPass(kTestPassCount), D3DERR_INVALIDCALL) << "no such pass";
    ASSERT_EQ(effect->BeginPass(kFillPass), D3D_OK);
    EXPECT_EQ(effect->BeginPass(kCoordsPass), D3DERR_INVALIDCALL) << "passes do not nest";
    EXPECT_EQ(effect->End(), D3DERR_INVALIDCALL) << "End with a pass open";
    ASSERT_EQ(effect->EndPass(), D3D_OK);
    EXPECT_EQ(effect->EndPass(), D3DERR_INVALIDCALL);
    ASSERT_EQ(effect->End(), D3D_OK);

    ASSERT_EQ(effect->SetTechnique(effect->GetTechniqueByName("Other")), D3D_OK);
    ASSERT_EQ(effect->Begin(&passes, 0), D3D_OK);
    EXPECT_EQ(passes, 1u);
    EXPECT_EQ(effect->BeginPass(1), D3DERR_INVALIDCALL);
    ASSERT_EQ(effect->End(), D3D_OK);
}

TEST_F(Effects, APassSeesTheValuesSetBeforeItBegan) {
    DrawRig rig(kReferenceAdapter, 4, 4);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(4, 4));
    rig.SetFill(0.25f, 0, 0, 0);
    ASSERT_EQ(rig.device->SetVertexDeclaration(rig.declaration.get()), D3D_OK);
    ASSERT_EQ(rig.device->SetRenderTarget(0, rig.target.surface.get()), D3D_OK);
    ASSERT_EQ(rig.device->SetStreamSource(0, quad.get(), 0, sizeof(Vertex)), D3D_OK);
    ASSERT_EQ(rig.device->BeginScene(), D3D_OK);
    ASSERT_EQ(rig.effect->Begin(nullptr, 0), D3D_OK);
    ASSERT_EQ(rig.effect->BeginPass(kProbePass), D3D_OK);
    rig.SetFill(0.75f, 0, 0, 0);  // applies from the next pass on
    ASSERT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(effect::ReadBlock<effect::ParamsBlock>(LastProgramRecord().params.data()).usm, 0.25f);
    ASSERT_EQ(rig.effect->EndPass(), D3D_OK);
    ASSERT_EQ(rig.effect->BeginPass(kProbePass), D3D_OK);
    ASSERT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(effect::ReadBlock<effect::ParamsBlock>(LastProgramRecord().params.data()).usm, 0.75f);
    ASSERT_EQ(rig.effect->EndPass(), D3D_OK);
    ASSERT_EQ(rig.effect->End(), D3D_OK);
    ASSERT_EQ(rig.device->EndScene(), D3D_OK);
}

}  // namespace
}  // namespace qv::d3d9::test
