// Quad draws on both adapters: what a draw covers, what it refuses, what the program sees,
// and the copy of a render target into system memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "d3d9/d3d9_test_support.h"
#include "effect/constant_blocks.h"

namespace qv::d3d9::test {
namespace {

class QuadDraw : public StandInTest, public ::testing::WithParamInterface<UINT> {};

INSTANTIATE_TEST_SUITE_P(BothAdapters, QuadDraw, ::testing::Values(kOptimisedAdapter, kReferenceAdapter),
                         AdapterName);

constexpr uint16_t kBackground[4] = {32768, 16384, 65535, 0};  // the fill (0.5, 0.25, 1, 0)

// Fills the whole target with the background, then draws the coordinates quad W x H.
std::vector<uint16_t> DrawCoordsOverBackground(DrawRig& rig, float w, float h) {
    Ref<IDirect3DVertexBuffer9> quads =
        CreateVertices(rig.device.get(), {{0, 0, 0, 1},
                                          {float(rig.targetWidth), 0, 0, 1},
                                          {0, float(rig.targetHeight), 0, 1},
                                          {float(rig.targetWidth), float(rig.targetHeight), 0, 1},
                                          {0, 0, 0, 1},
                                          {w, 0, 0, 1},
                                          {0, h, 0, 1},
                                          {w, h, 0, 1}});
    rig.SetFill(0.5f, 0.25f, 1.0f, 0.0f);
    EXPECT_EQ(rig.Draw(kFillPass, quads.get(), 0), D3D_OK);
    EXPECT_EQ(rig.Draw(kCoordsPass, quads.get(), 4), D3D_OK);
    return rig.Read();
}

TEST_P(QuadDraw, CoversExactlyItsRectangleFromTheTopLeftCorner) {
    struct Case {
        UINT targetW, targetH;
        int w, h;
    };
    // Odd sizes, sizes smaller than the target in one or both directions, the whole target.
    const Case cases[] = {{13, 9, 7, 5}, {13, 9, 13, 9}, {13, 9, 1, 1}, {10, 6, 10, 3}, {10, 6, 4, 6}, {1, 1, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " on " + std::to_string(c.targetW) + "x" +
                     std::to_string(c.targetH));
        DrawRig rig(GetParam(), c.targetW, c.targetH);
        const std::vector<uint16_t> texels = DrawCoordsOverBackground(rig, float(c.w), float(c.h));
        for (int y = 0; y < int(c.targetH); ++y) {
            for (int x = 0; x < int(c.targetW); ++x) {
                const uint16_t* t = &texels[(size_t(y) * c.targetW + x) * 4];
                if (x < c.w && y < c.h) {
                    const uint16_t expected[4] = {uint16_t(x), uint16_t(y), 7, 9};
                    ASSERT_EQ(std::memcmp(t, expected, 8), 0) << "pixel " << x << "," << y << " not drawn";
                } else {
                    ASSERT_EQ(std::memcmp(t, kBackground, 8), 0) << "pixel " << x << "," << y << " drawn";
                }
            }
        }
        EXPECT_EQ(LastProgramRecord().optimised, GetParam() == kOptimisedAdapter);
    }
}

TEST_P(QuadDraw, IsClippedToTheRenderTarget) {
    DrawRig rig(GetParam(), 11, 7);
    const std::vector<uint16_t> texels = DrawCoordsOverBackground(rig, 40, 30);
    const ProgramRecord r = LastProgramRecord();
    EXPECT_EQ(r.context.width, 11);
    EXPECT_EQ(r.context.height, 7);
    EXPECT_EQ(r.context.target.width, 11);
    EXPECT_EQ(r.context.target.height, 7);
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 11; ++x) {
            ASSERT_EQ(texels[(size_t(y) * 11 + x) * 4], x);
            ASSERT_EQ(texels[(size_t(y) * 11 + x) * 4 + 1], y);
        }
    }
}

TEST_P(QuadDraw, RefusesEveryOtherGeometryAndDrawsNothing) {
    DrawRig rig(GetParam(), 8, 6);
    const auto drawn = [&](const std::vector<Vertex>& vertices) {
        Ref<IDirect3DVertexBuffer9> buffer = CreateVertices(rig.device.get(), vertices);
        return rig.Draw(kCoordsPass, buffer.get());
    };
    rig.SetFill(0.5f, 0.25f, 1.0f, 0.0f);
    Ref<IDirect3DVertexBuffer9> full = CreateVertices(rig.device.get(), QuadVertices(8, 6));
    ASSERT_EQ(rig.Draw(kFillPass, full.get()), D3D_OK);
    const std::vector<uint16_t> before = rig.Read();

    const std::vector<std::pair<const char*, std::vector<Vertex>>> refused = {
        {"fractional width", QuadVertices(4.5f, 6)},
        {"fractional height", QuadVertices(4, 2.25f)},
        {"zero width", QuadVertices(0, 6)},
        {"negative height", QuadVertices(4, -6)},
        {"half-pixel shift", {{-0.5f, -0.5f, 0, 1}, {3.5f, -0.5f, 0, 1}, {-0.5f, 5.5f, 0, 1}, {3.5f, 5.5f, 0, 1}}},
        {"offset corner", {{1, 0, 0, 1}, {4, 0, 0, 1}, {1, 6, 0, 1}, {4, 6, 0, 1}}},
        {"corners out of order", {{0, 0, 0, 1}, {0, 6, 0, 1}, {4, 0, 0, 1}, {4, 6, 0, 1}}},
        {"slanted edge", {{0, 0, 0, 1}, {4, 0, 0, 1}, {0, 6, 0, 1}, {5, 6, 0, 1}}},
        {"depth", {{0, 0, 0.5f, 1}, {4, 0, 0.5f, 1}, {0, 6, 0.5f, 1}, {4, 6, 0.5f, 1}}},
        {"rhw", {{0, 0, 0, 2}, {4, 0, 0, 2}, {0, 6, 0, 2}, {4, 6, 0, 2}}},
        {"not a number", QuadVertices(std::nanf(""), 6)},
        {"too few vertices", {{0, 0, 0, 1}, {4, 0, 0, 1}, {0, 6, 0, 1}}},
    };
    for (const auto& [what, vertices] : refused) {
        EXPECT_EQ(drawn(vertices), D3DERR_INVALIDCALL) << what;
    }
    EXPECT_EQ(rig.Read(), before) << "a refused draw changed the target";

    // The right quad, but drawn as something else or from past the buffer's end.
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(4, 3));
    ASSERT_EQ(rig.device->BeginScene(), D3D_OK);
    ASSERT_EQ(rig.effect->Begin(nullptr, 0), D3D_OK);
    ASSERT_EQ(rig.device->SetStreamSource(0, quad.get(), 0, sizeof(Vertex)), D3D_OK);
    ASSERT_EQ(rig.effect->BeginPass(kCoordsPass), D3D_OK);
    EXPECT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 3), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);
    ASSERT_EQ(rig.device->SetStreamSource(0, quad.get(), 0, 12), D3D_OK);
    EXPECT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL) << "stride below a vertex";
    ASSERT_EQ(rig.device->SetStreamSource(0, quad.get(), 16, sizeof(Vertex)), D3D_OK);
    EXPECT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL) << "offset";
    ASSERT_EQ(rig.device->SetStreamSource(0, quad.get(), 0, sizeof(Vertex)), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(quad->Lock(0, 0, &data, 0), D3D_OK);
    EXPECT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL) << "stream locked";
    ASSERT_EQ(quad->Unlock(), D3D_OK);
    ASSERT_EQ(rig.effect->EndPass(), D3D_OK);
    ASSERT_EQ(rig.effect->End(), D3D_OK);
    ASSERT_EQ(rig.device->EndScene(), D3D_OK);
    EXPECT_EQ(rig.Read(), before);
}

TEST_P(QuadDraw, NeedsASceneAPassADeclarationAStreamAndATarget) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), GetParam());
    Ref<IDirect3DVertexDeclaration9> declaration = CreateScreenDeclaration(device.get());
    Ref<ID3DXEffect> effect = CreateTestEffect(device.get());
    RenderTarget rt = CreateRenderTarget(device.get(), 4, 4);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(device.get(), QuadVertices(4, 4));
    const auto draw = [&] { return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2); };

    ASSERT_EQ(effect->Begin(nullptr, 0), D3D_OK);
    ASSERT_EQ(effect->BeginPass(kProbePass), D3D_OK);
    ASSERT_EQ(device->SetVertexDeclaration(declaration.get()), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, quad.get(), 0, sizeof(Vertex)), D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(0, rt.surface.get()), D3D_OK);
    EXPECT_EQ(draw(), D3DERR_INVALIDCALL) << "outside a scene";
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL) << "scenes do not nest";
    EXPECT_EQ(draw(), D3D_OK);
    ASSERT_EQ(device->SetVertexDeclaration(nullptr), D3D_OK);
    EXPECT_EQ(draw(), D3DERR_INVALIDCALL) << "no declaration";
    ASSERT_EQ(device->SetVertexDeclaration(declaration.get()), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, nullptr, 0, 0), D3D_OK);
    EXPECT_EQ(draw(), D3DERR_INVALIDCALL) << "no stream";
    ASSERT_EQ(device->SetStreamSource(0, quad.get(), 0, sizeof(Vertex)), D3D_OK);
    ASSERT_EQ(effect->EndPass(), D3D_OK);
    EXPECT_EQ(draw(), D3DERR_INVALIDCALL) << "no pass";
    ASSERT_EQ(effect->End(), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL) << "end without begin";
    EXPECT_EQ(LastProgramRecord().draws, 1);

    Ref<IDirect3DDevice9> fresh = CreateDevice(d3d.get(), GetParam());
    ASSERT_EQ(fresh->BeginScene(), D3D_OK);
    ASSERT_EQ(fresh->SetVertexDeclaration(declaration.get()), D3D_OK);
    ASSERT_EQ(fresh->SetStreamSource(0, quad.get(), 0, sizeof(Vertex)), D3D_OK);
    EXPECT_EQ(fresh->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL) << "no target, no pass";
    ASSERT_EQ(fresh->EndScene(), D3D_OK);
}

TEST_P(QuadDraw, RenderTargetsMustBeRenderTargetSurfacesInSlotZero) {
    DrawRig rig(GetParam(), 4, 4);
    RenderTarget copy = CreateSystemCopy(rig.device.get(), 4, 4);
    EXPECT_EQ(rig.device->SetRenderTarget(0, copy.surface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->SetRenderTarget(1, rig.target.surface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->SetRenderTarget(0, rig.target.surface.get()), D3D_OK);
}

TEST_P(QuadDraw, CullingClockwiseTrianglesRemovesTheQuad) {
    DrawRig rig(GetParam(), 5, 3);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(5, 3));
    rig.SetFill(0.5f, 0.25f, 1.0f, 0.0f);
    ASSERT_EQ(rig.Draw(kFillPass, quad.get()), D3D_OK);
    const std::vector<uint16_t> before = rig.Read();
    ASSERT_EQ(rig.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW), D3D_OK);
    EXPECT_EQ(rig.Draw(kCoordsPass, quad.get()), D3D_OK);
    EXPECT_EQ(rig.Read(), before);
    ASSERT_EQ(rig.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW), D3D_OK);
    EXPECT_EQ(rig.Draw(kCoordsPass, quad.get()), D3D_OK);
    EXPECT_NE(rig.Read(), before) << "the quad winds clockwise and survives counter-clockwise culling";
    EXPECT_EQ(rig.device->SetRenderState(D3DRS_CULLMODE, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->SetRenderState(D3DRENDERSTATETYPE(7) /* ZENABLE */, 0), D3DERR_INVALIDCALL);
}

// TexA (3x2 texels of 77, read by s1) and a 513x1 float table as TexB (s11), bound to the rig's
// effect for as long as this lives.
struct BoundImageAndTable {
    Ref<IDirect3DTexture9> image;
    Ref<IDirect3DTexture9> table;

    explicit BoundImageAndTable(DrawRig& rig) {
        image = CreateFilledTexture(rig.device.get(), 3, 2, std::vector<uint16_t>(3 * 2 * 4, 77));
        EXPECT_EQ(D3DXCreateTexture(rig.device.get(), 513, 1, 1, D3DUSAGE_DYNAMIC, D3DFMT_A32B32G32R32F,
                                    D3DPOOL_DEFAULT, table.Out()),
                  D3D_OK);
        EXPECT_EQ(rig.effect->SetTexture(rig.effect->GetParameterByName(nullptr, "TexA"), image.get()), D3D_OK);
        EXPECT_EQ(rig.effect->SetTexture(rig.effect->GetParameterByName(nullptr, "TexB"), table.get()), D3D_OK);
    }
};

TEST_P(QuadDraw, GivesTheProgramItsSamplersBlocksAndTarget) {
    DrawRig rig(GetParam(), 6, 4);
    const BoundImageAndTable bound(rig);
    effect::ScaleBlock scale{};
    scale.hscale = 1.5f;
    scale.destTexSizeInverse = {0.25f, 0.125f};
    effect::WeightBlock weight{};
    weight.gw_r3[3] = 0.75f;
    ASSERT_EQ(rig.effect->SetValue(rig.effect->GetParameterByName(nullptr, "scale"), &scale, sizeof(scale)), D3D_OK);
    // Fewer bytes than the block: the rest keeps its value (zero).
    ASSERT_EQ(rig.effect->SetValue(rig.effect->GetParameterByName(nullptr, "weight"), &weight, 32), D3D_OK);
    rig.SetFill(0.1f, 0.2f, 0.3f, 0.4f);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(5, 3));
    ASSERT_EQ(rig.Draw(kProbePass, quad.get()), D3D_OK);

    const ProgramRecord r = LastProgramRecord();
    ASSERT_EQ(r.draws, 1);
    const gfx::DrawContext& c = r.context;
    EXPECT_EQ(c.width, 5);
    EXPECT_EQ(c.height, 3);
    EXPECT_EQ(c.target.width, 6);
    EXPECT_EQ(c.target.height, 4);
    EXPECT_GE(c.target.pitch, 6 * 8 + 64);
    // s1 reads TexA with point filters; s11 reads the table, point when minified, linear when
    // magnified; s5's texture is unbound, and every other slot is empty.
    EXPECT_EQ(c.samplers[1].texture.width, 3);
    EXPECT_EQ(c.samplers[1].texture.height, 2);
    EXPECT_EQ(c.samplers[1].texture.format, D3DFMT_A16B16G16R16);
    EXPECT_EQ(c.samplers[1].texture.Row16(1)[5], 77);
    EXPECT_EQ(c.samplers[1].state.minFilter, gfx::Filter::Point);
    EXPECT_EQ(c.samplers[1].state.magFilter, gfx::Filter::Point);
    EXPECT_EQ(c.samplers[11].texture.width, 513);
    EXPECT_EQ(c.samplers[11].texture.format, D3DFMT_A32B32G32R32F);
    EXPECT_EQ(c.samplers[11].state.minFilter, gfx::Filter::Point);
    EXPECT_EQ(c.samplers[11].state.magFilter, gfx::Filter::Linear);
    for (int i : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10}) {
        EXPECT_EQ(c.samplers[i].texture.bits, nullptr) << "slot " << i;
        EXPECT_EQ(c.samplers[i].texture.width, 0) << "slot " << i;
    }
    const auto params = effect::ReadBlock<effect::ParamsBlock>(r.params.data());
    EXPECT_EQ(params.usm, 0.1f);
    EXPECT_EQ(params.denoise, 0.4f);
    EXPECT_EQ(params.vtap2, 0);
    ASSERT_EQ(r.scale.size(), sizeof(effect::ScaleBlock));
    EXPECT_EQ(std::memcmp(r.scale.data(), &scale, sizeof(scale)), 0);
    EXPECT_EQ(effect::ReadBlock<effect::WeightBlock>(r.weight.data()).gw_r3[3], 0.0f);
}

// A compiled shader binds only the samplers it reads: the others stay empty in the draw, and a
// texture that only they name is not made ready for it.
TEST_P(QuadDraw, AProgramSeesOnlyTheSamplersItReads) {
    DrawRig rig(GetParam(), 4, 2);
    const BoundImageAndTable bound(rig);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(4, 2));

    ASSERT_EQ(rig.Draw(kProbeTablePass, quad.get()), D3D_OK);
    ProgramRecord r = LastProgramRecord();
    ASSERT_EQ(r.draws, 1);
    EXPECT_EQ(r.context.samplers[11].texture.width, 513);
    EXPECT_NE(r.context.samplers[11].texture.bits, nullptr);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(r.context.samplers[i].texture.bits, nullptr) << "slot " << i;

    // The program that reads every slot still sees TexA.
    ASSERT_EQ(rig.Draw(kProbePass, quad.get()), D3D_OK);
    r = LastProgramRecord();
    ASSERT_EQ(r.draws, 2);
    EXPECT_EQ(r.context.samplers[1].texture.Row16(1)[5], 77);
}

TEST_P(QuadDraw, ALostDeviceDrawsNothing) {
    DrawRig rig(GetParam(), 4, 2);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(4, 2));
    testing::SetDeviceLost(true);
    EXPECT_EQ(rig.Draw(kProbePass, quad.get()), D3D_OK);
    EXPECT_EQ(LastProgramRecord().draws, 0);
    RenderTarget copy = CreateSystemCopy(rig.device.get(), 4, 2);
    EXPECT_EQ(rig.device->GetRenderTargetData(rig.target.surface.get(), copy.surface.get()), D3DERR_DEVICELOST);
}

TEST_P(QuadDraw, CopiesOnlyAMatchingTargetIntoSystemMemory) {
    DrawRig rig(GetParam(), 6, 3);
    RenderTarget same = CreateSystemCopy(rig.device.get(), 6, 3);
    RenderTarget narrower = CreateSystemCopy(rig.device.get(), 5, 3);
    RenderTarget shorter = CreateSystemCopy(rig.device.get(), 6, 2);
    RenderTarget otherTarget = CreateRenderTarget(rig.device.get(), 6, 3);
    Ref<IDirect3DTexture9> floats;
    ASSERT_EQ(D3DXCreateTexture(rig.device.get(), 6, 3, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM, floats.Out()),
              D3D_OK);
    Ref<IDirect3DSurface9> floatSurface;
    ASSERT_EQ(floats->GetSurfaceLevel(0, floatSurface.Out()), D3D_OK);
    Ref<IDirect3DTexture9> dynamic;
    ASSERT_EQ(D3DXCreateTexture(rig.device.get(), 6, 3, 1, D3DUSAGE_DYNAMIC, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT,
                                dynamic.Out()),
              D3D_OK);
    Ref<IDirect3DSurface9> dynamicSurface;
    ASSERT_EQ(dynamic->GetSurfaceLevel(0, dynamicSurface.Out()), D3D_OK);

    IDirect3DSurface9* rt = rig.target.surface.get();
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, narrower.surface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, shorter.surface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, otherTarget.surface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, floatSurface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, dynamicSurface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->GetRenderTargetData(same.surface.get(), same.surface.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, nullptr), D3DERR_INVALIDCALL);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(same.surface->LockRect(&locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, same.surface.get()), D3DERR_INVALIDCALL) << "destination locked";
    ASSERT_EQ(same.surface->UnlockRect(), D3D_OK);
    EXPECT_EQ(rig.device->GetRenderTargetData(rt, same.surface.get()), D3D_OK);
}

TEST_P(QuadDraw, CopiesATextureThroughTheGenericSampler) {
    DrawRig rig(GetParam(), 7, 5);
    std::vector<uint16_t> texels(7 * 5 * 4);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = uint16_t(i * 2654435761u >> 16);
    Ref<IDirect3DTexture9> source = CreateFilledTexture(rig.device.get(), 7, 5, texels);
    ASSERT_EQ(rig.effect->SetTexture(rig.effect->GetParameterByName(nullptr, "TexA"), source.get()), D3D_OK);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(7, 5));
    ASSERT_EQ(rig.Draw(kCopyPass, quad.get()), D3D_OK);
    EXPECT_EQ(rig.Read(), texels);
}

TEST_P(QuadDraw, AFreshTextureReadsAsThePatternEvenWhenWorkersLayItDown) {
    // A texture first reached by a draw takes its pattern on the draw's workers, in row bands
    // whose edges fall inside pages: every texel must hold it all the same.
    testing::SetRowScheduling(3, false);
    constexpr UINT kWidth = 1920, kHeight = 270;
    DrawRig rig(GetParam(), kWidth, kHeight);
    RenderTarget fresh = CreateRenderTarget(rig.device.get(), kWidth, kHeight);
    ASSERT_EQ(rig.effect->SetTexture(rig.effect->GetParameterByName(nullptr, "TexA"), fresh.texture.get()), D3D_OK);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(kWidth, kHeight));
    ASSERT_EQ(rig.Draw(kCopyPass, quad.get()), D3D_OK);
    const std::vector<uint16_t> read = rig.Read();
    ASSERT_EQ(read.size(), size_t{kWidth} * kHeight * 4);
    EXPECT_EQ(std::count(read.begin(), read.end(), uint16_t{0xA5A5}), static_cast<std::ptrdiff_t>(read.size()));
}

using RowScheduling = StandInTest;

TEST_F(RowScheduling, FollowsTheTestSettingOnTheOptimisedAdapter) {
    std::vector<uint16_t> results[3];
    const std::pair<int, bool> settings[3] = {{1, false}, {3, false}, {2, true}};
    for (int i = 0; i < 3; ++i) {
        testing::SetRowScheduling(settings[i].first, settings[i].second);
        DrawRig rig(kOptimisedAdapter, 9, 37);
        Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(9, 37));
        ASSERT_EQ(rig.Draw(kCoordsPass, quad.get()), D3D_OK);
        EXPECT_EQ(LastProgramRecord().workers, settings[i].second ? 1 : settings[i].first);
        results[i] = rig.Read();
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
}

}  // namespace
}  // namespace qv::d3d9::test
