#include "d3d9/d3d9_test_support.h"

#include <algorithm>
#include <cstring>

#include "effect/constant_blocks.h"
#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::d3d9::test {
namespace {

std::mutex recordMutex;
ProgramRecord record;

std::vector<uint8_t> CopyBlock(const uint8_t* bytes, size_t size) {
    return bytes ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>();
}

void Record(const gfx::DrawContext& ctx, bool optimised, int workers) {
    std::lock_guard<std::mutex> lock(recordMutex);
    ++record.draws;
    record.optimised = optimised;
    record.workers = workers;
    record.context = ctx;
    record.params = CopyBlock(ctx.params, sizeof(effect::ParamsBlock));
    record.scale = CopyBlock(ctx.scale, sizeof(effect::ScaleBlock));
    record.weight = CopyBlock(ctx.weight, sizeof(effect::WeightBlock));
}

gfx::QFloat4 FillColour(const gfx::DrawContext& ctx) {
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    return gfx::QFloat4{params.usm, params.max, params.min, params.denoise};
}

// test_fill: the first four members of params, everywhere in the rectangle.
void FillReference(const gfx::DrawContext& ctx) {
    Record(ctx, false, 1);
    const gfx::QFloat4 c = FillColour(ctx);
    gfx::RunOnQuads(ctx, [&](const gfx::QuadPosition&) { return c; });
}

void FillOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    Record(ctx, true, scheduler.Workers());
    const gfx::QFloat4 c = FillColour(ctx);
    const uint16_t v[4] = {gfx::StoreUnorm(c.x[0]), gfx::StoreUnorm(c.y[0]), gfx::StoreUnorm(c.z[0]),
                           gfx::StoreUnorm(c.w[0])};
    scheduler.Run(ctx.height, 4, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            for (int x = 0; x < ctx.width; ++x) std::memcpy(ctx.target.Row(y) + 4 * x, v, sizeof(v));
        }
    });
}

// test_coords: the pixel position as stored steps, so every pixel says where it was drawn.
constexpr float kStep = 1.0f / 65535.0f;

void CoordsReference(const gfx::DrawContext& ctx) {
    Record(ctx, false, 1);
    gfx::RunOnQuads(ctx, [](const gfx::QuadPosition& p) {
        return gfx::QFloat4{p.x * kStep, p.y * kStep, gfx::QFloat(7 * kStep), gfx::QFloat(9 * kStep)};
    });
}

void CoordsOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    Record(ctx, true, scheduler.Workers());
    scheduler.Run(ctx.height, 1, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            for (int x = 0; x < ctx.width; ++x) {
                const uint16_t v[4] = {static_cast<uint16_t>(x), static_cast<uint16_t>(y), 7, 9};
                std::memcpy(ctx.target.Row(y) + 4 * x, v, sizeof(v));
            }
        }
    });
}

// test_copy: texel (x, y) of s1, read at the texel's centre through the generic sampler.
void CopyReference(const gfx::DrawContext& ctx) {
    Record(ctx, false, 1);
    const gfx::SamplerBinding& s = ctx.samplers[1];
    const float iw = 1.0f / static_cast<float>(s.texture.width);
    const float ih = 1.0f / static_cast<float>(s.texture.height);
    gfx::RunOnQuads(ctx,
                    [&](const gfx::QuadPosition& p) { return gfx::Tex2D(s, (p.x + 0.5f) * iw, (p.y + 0.5f) * ih); });
}

void CopyOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    Record(ctx, true, scheduler.Workers());
    const gfx::TextureView& t = ctx.samplers[1].texture;
    scheduler.Run(ctx.height, 2, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint16_t* in = t.Row16(std::min(y, t.height - 1));
            for (int x = 0; x < ctx.width; ++x) {
                std::memcpy(ctx.target.Row(y) + 4 * x, in + 4 * std::min(x, t.width - 1), 4 * sizeof(uint16_t));
            }
        }
    });
}

void ProbeReference(const gfx::DrawContext& ctx) { Record(ctx, false, 1); }
void ProbeOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    Record(ctx, true, scheduler.Workers());
}

const bool registered = [] {
    gfx::RegisterPixelProgram(gfx::PixelProgram{kFillProgram, FillReference, FillOptimised});
    gfx::RegisterPixelProgram(gfx::PixelProgram{kCoordsProgram, CoordsReference, CoordsOptimised});
    gfx::RegisterPixelProgram(gfx::PixelProgram{kCopyProgram, CopyReference, CopyOptimised});
    gfx::RegisterPixelProgram(gfx::PixelProgram{kProbeProgram, ProbeReference, ProbeOptimised});
    gfx::RegisterPixelProgram(
        gfx::PixelProgram{kProbeTableProgram, ProbeReference, ProbeOptimised, gfx::Samplers(11)});
    return true;
}();

}  // namespace

const char* const kTestEffectSource = R"(// Test effect: three texture slots and the three blocks.
texture TexA;
sampler s1 { Texture = TexA; AddressU = CLAMP; AddressV = CLAMP; MinFilter = POINT; MagFilter = POINT; MipFilter = NONE; }
texture TexB;
sampler s11 {
    Texture = TexB;
    AddressU = clamp; AddressV = CLAMP;
    MinFilter = POINT; MagFilter = LINEAR;
}
texture TexC;
sampler s5 { Texture = TexC; AddressU = CLAMP; AddressV = CLAMP; }
struct params { float fill[4]; float rest[4]; int counts[4]; };
struct scale { float ratio; float3 three; float2 sizes[6]; }
struct weight { float gw_r4[5]; float gw_r3[4]; }
technique Test {
    pass fill { VertexShader = NULL; PixelShader = test_fill; }
    pass coords { PixelShader = test_coords; }
    pass copy { VertexShader = NULL; PixelShader = test_copy; }
    pass probe { VertexShader = NULL; PixelShader = test_probe; }
    pass probe_table { VertexShader = NULL; PixelShader = test_probe_table; }
}
technique Other { pass only { PixelShader = test_coords; } }
)";

ProgramRecord LastProgramRecord() {
    std::lock_guard<std::mutex> lock(recordMutex);
    return record;
}

void ResetProgramRecord() {
    std::lock_guard<std::mutex> lock(recordMutex);
    record = ProgramRecord{};
}

Ref<IDirect3D9> CreateDirect3D() {
    Ref<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    EXPECT_TRUE(d3d);
    return d3d;
}

Ref<IDirect3DDevice9> CreateDevice(IDirect3D9* d3d, UINT adapter) {
    D3DPRESENT_PARAMETERS presentation{};
    presentation.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentation.Windowed = 1;
    Ref<IDirect3DDevice9> device;
    EXPECT_EQ(d3d->CreateDevice(adapter, D3DDEVTYPE_HAL, nullptr, 0x46, &presentation, device.Out()), D3D_OK);
    return device;
}

RenderTarget CreateRenderTarget(IDirect3DDevice9* device, UINT width, UINT height) {
    RenderTarget rt;
    EXPECT_EQ(D3DXCreateTexture(device, width, height, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT,
                                rt.texture.Out()),
              D3D_OK);
    if (rt.texture) {
        EXPECT_EQ(rt.texture->GetSurfaceLevel(0, rt.surface.Out()), D3D_OK);
    }
    return rt;
}

RenderTarget CreateSystemCopy(IDirect3DDevice9* device, UINT width, UINT height) {
    RenderTarget copy;
    EXPECT_EQ(
        D3DXCreateTexture(device, width, height, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, copy.texture.Out()),
        D3D_OK);
    if (copy.texture) {
        EXPECT_EQ(copy.texture->GetSurfaceLevel(0, copy.surface.Out()), D3D_OK);
    }
    return copy;
}

Ref<IDirect3DVertexDeclaration9> CreateScreenDeclaration(IDirect3DDevice9* device) {
    static constexpr D3DVERTEXELEMENT9 kElements[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
        D3DDECL_END(),
    };
    Ref<IDirect3DVertexDeclaration9> declaration;
    EXPECT_EQ(device->CreateVertexDeclaration(kElements, declaration.Out()), D3D_OK);
    return declaration;
}

Ref<IDirect3DVertexBuffer9> CreateVertices(IDirect3DDevice9* device, const std::vector<Vertex>& vertices) {
    const UINT bytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
    Ref<IDirect3DVertexBuffer9> buffer;
    EXPECT_EQ(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, buffer.Out(), nullptr), D3D_OK);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    std::memcpy(data, vertices.data(), bytes);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    return buffer;
}

std::string AdapterName(const ::testing::TestParamInfo<UINT>& info) {
    return info.param == kReferenceAdapter ? "Reference" : "Optimised";
}

std::vector<Vertex> QuadVertices(float width, float height) {
    return {{0, 0, 0, 1}, {width, 0, 0, 1}, {0, height, 0, 1}, {width, height, 0, 1}};
}

Ref<ID3DXEffect> CreateTestEffect(IDirect3DDevice9* device) {
    Ref<ID3DXEffect> effect;
    Ref<ID3DXBuffer> errors;
    const HRESULT hr = D3DXCreateEffect(device, kTestEffectSource, static_cast<UINT>(std::strlen(kTestEffectSource)),
                                        nullptr, nullptr, 0, nullptr, effect.Out(), errors.Out());
    EXPECT_EQ(hr, D3D_OK) << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    return effect;
}

Ref<IDirect3DTexture9> CreateFilledTexture(IDirect3DDevice9* device, UINT width, UINT height,
                                           const std::vector<uint16_t>& texels) {
    Ref<IDirect3DTexture9> texture;
    EXPECT_EQ(D3DXCreateTexture(device, width, height, 1, D3DUSAGE_DYNAMIC, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT,
                                texture.Out()),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK), D3D_OK);
    for (UINT y = 0; y < height; ++y) {
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, texels.data() + y * width * 4,
                    width * 4 * sizeof(uint16_t));
    }
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    return texture;
}

std::vector<uint16_t> ReadTarget(IDirect3DDevice9* device, IDirect3DSurface9* target) {
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(target->GetDesc(&desc), D3D_OK);
    RenderTarget copy = CreateSystemCopy(device, desc.Width, desc.Height);
    EXPECT_EQ(device->GetRenderTargetData(target, copy.surface.get()), D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(copy.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<uint16_t> texels(size_t{desc.Width} * desc.Height * 4);
    for (UINT y = 0; y < desc.Height; ++y) {
        std::memcpy(texels.data() + y * desc.Width * 4, static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch,
                    desc.Width * 4 * sizeof(uint16_t));
    }
    EXPECT_EQ(copy.surface->UnlockRect(), D3D_OK);
    return texels;
}

DrawRig::DrawRig(UINT adapter, UINT width, UINT height) : targetWidth(width), targetHeight(height) {
    d3d = CreateDirect3D();
    device = CreateDevice(d3d.get(), adapter);
    declaration = CreateScreenDeclaration(device.get());
    effect = CreateTestEffect(device.get());
    target = CreateRenderTarget(device.get(), width, height);
    EXPECT_EQ(device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), D3D_OK);
}

void DrawRig::SetFill(float x, float y, float z, float w) {
    effect::ParamsBlock params{};
    params.usm = x;
    params.max = y;
    params.min = z;
    params.denoise = w;
    EXPECT_EQ(effect->SetValue(effect->GetParameterByName(nullptr, "params"), &params, sizeof(params)), D3D_OK);
}

HRESULT DrawRig::Draw(UINT pass, IDirect3DVertexBuffer9* buffer, UINT first) {
    EXPECT_EQ(device->SetVertexDeclaration(declaration.get()), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(effect->Begin(nullptr, 0), D3D_OK);
    EXPECT_EQ(device->SetRenderTarget(0, target.surface.get()), D3D_OK);
    EXPECT_EQ(device->SetStreamSource(0, buffer, 0, sizeof(Vertex)), D3D_OK);
    EXPECT_EQ(effect->BeginPass(pass), D3D_OK);
    const HRESULT hr = device->DrawPrimitive(D3DPT_TRIANGLESTRIP, first, 2);
    EXPECT_EQ(effect->EndPass(), D3D_OK);
    EXPECT_EQ(effect->End(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    return hr;
}

}  // namespace qv::d3d9::test
