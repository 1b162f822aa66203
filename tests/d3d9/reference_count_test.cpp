// Reference counts: who keeps what alive, and that everything goes once the last holder lets go,
// in whatever order the holders let go.
#include <gtest/gtest.h>

#include <memory>

#include "d3d9/d3d9_test_support.h"

namespace qv::d3d9::test {
namespace {

using ReferenceCounts = StandInTest;

TEST_F(ReferenceCounts, AddRefAndReleaseReportTheNewCount) {
    const size_t before = testing::LiveObjectCount();
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(testing::LiveObjectCount(), before + 1);
    EXPECT_EQ(d3d->AddRef(), 2u);
    EXPECT_EQ(d3d->AddRef(), 3u);
    EXPECT_EQ(d3d->Release(), 2u);
    EXPECT_EQ(d3d->Release(), 1u);
    EXPECT_EQ(d3d->Release(), 0u);
    EXPECT_EQ(testing::LiveObjectCount(), before);
}

TEST_F(ReferenceCounts, ASurfaceKeepsItsTextureAlive) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    const size_t base = testing::LiveObjectCount();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(
        D3DXCreateTexture(device.get(), 6, 2, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT, &texture),
        D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    EXPECT_EQ(testing::LiveObjectCount(), base + 2);
    EXPECT_EQ(surface->AddRef(), 2u);
    EXPECT_EQ(surface->Release(), 1u);
    EXPECT_EQ(texture->Release(), 1u) << "the caller's reference is gone, the surface's remains";
    EXPECT_EQ(testing::LiveObjectCount(), base + 2) << "the surface still holds the texture";
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(surface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 6u);
    EXPECT_EQ(surface->Release(), 0u);
    EXPECT_EQ(testing::LiveObjectCount(), base);
}

TEST_F(ReferenceCounts, TheDeviceKeepsItsTargetStreamDeclarationAndDirect3D) {
    const size_t base = testing::LiveObjectCount();
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    {
        RenderTarget rt = CreateRenderTarget(device.get(), 4, 4);
        Ref<IDirect3DVertexBuffer9> quad = CreateVertices(device.get(), QuadVertices(4, 4));
        Ref<IDirect3DVertexDeclaration9> declaration = CreateScreenDeclaration(device.get());
        ASSERT_EQ(device->SetRenderTarget(0, rt.surface.get()), D3D_OK);
        ASSERT_EQ(device->SetStreamSource(0, quad.get(), 0, 16), D3D_OK);
        ASSERT_EQ(device->SetVertexDeclaration(declaration.get()), D3D_OK);
        // Setting the same object again does not lose it.
        ASSERT_EQ(device->SetRenderTarget(0, rt.surface.get()), D3D_OK);
        ASSERT_EQ(device->SetVertexDeclaration(declaration.get()), D3D_OK);
    }
    EXPECT_EQ(testing::LiveObjectCount(), base + 6) << "Direct3D, device, texture, surface, buffer, declaration";
    d3d.reset();
    EXPECT_EQ(testing::LiveObjectCount(), base + 6);
    Ref<IDirect3DTexture9> t;
    EXPECT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, t.Out(), nullptr), D3D_OK);
    t.reset();
    // Unbinding lets the stream go at once.
    ASSERT_EQ(device->SetStreamSource(0, nullptr, 0, 0), D3D_OK);
    EXPECT_EQ(testing::LiveObjectCount(), base + 5);
    device.reset();
    EXPECT_EQ(testing::LiveObjectCount(), base);
}

TEST_F(ReferenceCounts, TheEffectKeepsItsTexturesAndItsDevice) {
    const size_t base = testing::LiveObjectCount();
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    Ref<ID3DXEffect> effect = CreateTestEffect(device.get());
    Ref<IDirect3DTexture9> a = CreateFilledTexture(device.get(), 2, 2, std::vector<uint16_t>(16, 3));
    Ref<IDirect3DTexture9> b = CreateFilledTexture(device.get(), 2, 2, std::vector<uint16_t>(16, 4));
    const D3DXHANDLE texA = effect->GetParameterByName(nullptr, "TexA");
    const D3DXHANDLE texB = effect->GetParameterByName(nullptr, "TexB");
    ASSERT_EQ(effect->SetTexture(texA, a.get()), D3D_OK);
    ASSERT_EQ(effect->SetTexture(texB, a.get()), D3D_OK);
    ASSERT_EQ(effect->SetTexture(texA, a.get()), D3D_OK);
    ASSERT_EQ(effect->SetTexture(texB, b.get()), D3D_OK);
    a.reset();
    b.reset();
    d3d.reset();
    device.reset();
    EXPECT_EQ(testing::LiveObjectCount(), base + 5) << "Direct3D, device, effect and both textures";
    ASSERT_EQ(effect->SetTexture(texB, nullptr), D3D_OK);
    EXPECT_EQ(testing::LiveObjectCount(), base + 4) << "unbinding releases";
    effect.reset();
    EXPECT_EQ(testing::LiveObjectCount(), base);
}

TEST_F(ReferenceCounts, EverythingGoesWhateverTheReleaseOrderEvenMidPass) {
    const size_t base = testing::LiveObjectCount();
    for (int order = 0; order < 3; ++order) {
        SCOPED_TRACE(order);
        auto rig = std::make_unique<DrawRig>(order == 1 ? kReferenceAdapter : kOptimisedAdapter, 8, 8);
        Ref<IDirect3DTexture9> input = CreateFilledTexture(rig->device.get(), 8, 8, std::vector<uint16_t>(256, 9));
        Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig->device.get(), QuadVertices(8, 8));
        ASSERT_EQ(rig->effect->SetTexture(rig->effect->GetParameterByName(nullptr, "TexA"), input.get()), D3D_OK);
        ASSERT_EQ(rig->Draw(kCopyPass, quad.get()), D3D_OK);
        // Leave a pass open on the device, then let go of everything.
        ASSERT_EQ(rig->device->SetStreamSource(0, quad.get(), 0, 16), D3D_OK);
        ASSERT_EQ(rig->device->BeginScene(), D3D_OK);
        ASSERT_EQ(rig->effect->Begin(nullptr, 0), D3D_OK);
        ASSERT_EQ(rig->effect->BeginPass(kCopyPass), D3D_OK);
        input.reset();
        quad.reset();
        if (order == 0) {
            rig->effect.reset();
            rig->device.reset();
        } else if (order == 1) {
            rig->device.reset();
            rig->target.texture.reset();
        } else {
            rig->target.surface.reset();
            rig->d3d.reset();
            rig->declaration.reset();
        }
        rig.reset();
        EXPECT_EQ(testing::LiveObjectCount(), base);
    }
}

}  // namespace
}  // namespace qv::d3d9::test
