// The Direct3D object, its adapters and devices, textures, surfaces and vertex objects.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstring>
#include <string>

#include "d3d9/d3d9_test_support.h"
#include "platform/d3d9/texture.h"

namespace qv::d3d9::test {
namespace {

using Direct3DObject = StandInTest;

TEST_F(Direct3DObject, IsCreatedOnlyForItsSdkVersionAndWhenNotFailed) {
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    EXPECT_EQ(Direct3DCreate9(33), nullptr);
    testing::FailDirect3DCreate(true);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr) << "fails until cleared";
    testing::FailDirect3DCreate(false);
    Ref<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
    EXPECT_EQ(d3d->GetAdapterCount(), 2u);
}

TEST_F(Direct3DObject, DescribesTheOptimisedAndTheReferenceAdapter) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    testing::SetRowScheduling(3, false);
    D3DADAPTER_IDENTIFIER9 id{};
    ASSERT_EQ(d3d->GetAdapterIdentifier(kOptimisedAdapter, 0, &id), D3D_OK);
    const std::string best = hwy::TargetName(hwy::SupportedAndGeneratedTargets().front());
    EXPECT_EQ(std::string(id.Description), "Quillervantis software rasteriser (" + best + ", 3 threads)");
    EXPECT_GT(std::strlen(id.Driver), 0u);
    ASSERT_EQ(d3d->GetAdapterIdentifier(kReferenceAdapter, 0, &id), D3D_OK);
    EXPECT_EQ(std::string(id.Description), "Quillervantis reference rasteriser");
    EXPECT_EQ(d3d->GetAdapterIdentifier(2, 0, &id), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->GetAdapterIdentifier(0, 0, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(Direct3DObject, RefusesDevicesOnMissingAdaptersAndWithoutAnOutput) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    D3DPRESENT_PARAMETERS presentation{};
    presentation.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentation.Windowed = 1;
    Ref<IDirect3DDevice9> device;
    EXPECT_EQ(d3d->CreateDevice(2, D3DDEVTYPE_HAL, nullptr, 0x46, &presentation, device.Out()), D3DERR_INVALIDCALL);
    EXPECT_FALSE(device);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0x46, &presentation, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0x46, nullptr, device.Out()), D3DERR_INVALIDCALL);
    EXPECT_FALSE(device);
    // Any behaviour flags are accepted.
    EXPECT_EQ(d3d->CreateDevice(1, D3DDEVTYPE_HAL, nullptr, 0, &presentation, device.Out()), D3D_OK);
    EXPECT_TRUE(device);
}

TEST_F(Direct3DObject, DevicesReportLossUntilItIsCleared) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    testing::SetDeviceLost(true);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    testing::SetDeviceLost(false);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

using Textures = StandInTest;

TEST_F(Textures, AreExactlyTheRequestedSizeWithPaddedRows) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    struct Case {
        UINT width, height;
        D3DFORMAT format;
        DWORD usage;
        D3DPOOL pool;
        bool viaD3dx;
    };
    const Case cases[] = {
        {513, 1, D3DFMT_A32B32G32R32F, D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT, true},
        {1440, 1080, D3DFMT_A16B16G16R16, D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT, true},
        {961, 719, D3DFMT_A16B16G16R16, 0, D3DPOOL_SYSTEMMEM, true},
        {8, 8, D3DFMT_A16B16G16R16, 0, D3DPOOL_SYSTEMMEM, false},
        {1, 1, D3DFMT_A32B32G32R32F, 0, D3DPOOL_SYSTEMMEM, false},
        {3, 7, D3DFMT_A16B16G16R16, D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Ref<IDirect3DTexture9> texture;
        const HRESULT hr =
            c.viaD3dx ? D3DXCreateTexture(device.get(), c.width, c.height, 1, c.usage, c.format, c.pool, texture.Out())
                      : device->CreateTexture(c.width, c.height, 0, c.usage, c.format, c.pool, texture.Out(), nullptr);
        ASSERT_EQ(hr, D3D_OK);
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, c.width);
        EXPECT_EQ(desc.Height, c.height);
        EXPECT_EQ(desc.Format, c.format);
        EXPECT_EQ(desc.Usage, c.usage);
        EXPECT_EQ(desc.Pool, c.pool);

        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK), D3D_OK);
        const INT texel = c.format == D3DFMT_A16B16G16R16 ? 8 : 16;
        EXPECT_EQ(locked.Pitch % 64, 0);
        EXPECT_GE(locked.Pitch, INT(c.width) * texel + 64) << "rows carry no slack";
        EXPECT_EQ(reinterpret_cast<uintptr_t>(locked.pBits) % 64, 0u);
        // The whole of every row is writable.
        for (UINT y = 0; y < c.height; ++y) {
            std::memset(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, 0x11, c.width * texel);
        }
        ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    }
}

TEST_F(Textures, RefuseFormatsPoolsUsagesAndLevelsTheRasteriserLacks) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    Ref<IDirect3DTexture9> t;
    const auto create = [&](UINT w, UINT h, UINT levels, DWORD usage, uint32_t format, D3DPOOL pool) {
        return device->CreateTexture(w, h, levels, usage, D3DFORMAT(format), pool, t.Out(), nullptr);
    };
    EXPECT_EQ(create(4, 4, 1, 0, 21 /* A8R8G8B8 */, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(4, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(4, 4, 2, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(0, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(4, 0, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(16385, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(4, 4, 1, 0x100 /* AUTOGENMIPMAP */, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(4, 4, 1, D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(create(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_FALSE(t);
    EXPECT_EQ(D3DXCreateTexture(nullptr, 4, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, t.Out()),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, nullptr, nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(Textures, LockOnceAtATimeAndOnlyWhenLockable) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    RenderTarget copy = CreateSystemCopy(device.get(), 5, 3);
    D3DLOCKED_RECT a{}, b{};
    EXPECT_EQ(copy.texture->UnlockRect(0), D3DERR_INVALIDCALL) << "unlock without a lock";
    ASSERT_EQ(copy.texture->LockRect(0, &a, nullptr, 0), D3D_OK);
    EXPECT_EQ(copy.texture->LockRect(0, &b, nullptr, 0), D3DERR_INVALIDCALL) << "second lock";
    EXPECT_EQ(copy.surface->LockRect(&b, nullptr, 0), D3DERR_INVALIDCALL) << "the surface shares the lock";
    EXPECT_EQ(copy.surface->UnlockRect(), D3D_OK);
    EXPECT_EQ(copy.texture->UnlockRect(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(copy.texture->LockRect(1, &a, nullptr, 0), D3DERR_INVALIDCALL) << "there is no level 1";
    EXPECT_EQ(copy.texture->LockRect(0, nullptr, nullptr, 0), D3DERR_INVALIDCALL);

    // A sub-rectangle starts at its own corner.
    D3DLOCKED_RECT whole{}, part{};
    ASSERT_EQ(copy.texture->LockRect(0, &whole, nullptr, D3DLOCK_READONLY), D3D_OK);
    ASSERT_EQ(copy.texture->UnlockRect(0), D3D_OK);
    const RECT rect{2, 1, 4, 3};
    ASSERT_EQ(copy.texture->LockRect(0, &part, &rect, 0), D3D_OK);
    EXPECT_EQ(static_cast<uint8_t*>(part.pBits), static_cast<uint8_t*>(whole.pBits) + whole.Pitch + 2 * 8);
    ASSERT_EQ(copy.texture->UnlockRect(0), D3D_OK);
    const RECT outside{2, 1, 6, 3};
    EXPECT_EQ(copy.texture->LockRect(0, &part, &outside, 0), D3DERR_INVALIDCALL);

    // Render targets live on the card: only a copy in system memory can be read.
    RenderTarget rt = CreateRenderTarget(device.get(), 5, 3);
    EXPECT_EQ(rt.texture->LockRect(0, &a, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(rt.surface->LockRect(&a, nullptr, D3DLOCK_READONLY), D3DERR_INVALIDCALL);
}

TEST_F(Textures, StartWithAPatternAndKeepWhatWasWritten) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device->CreateTexture(3, 2, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, texture.Out(), nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const std::vector<uint8_t> zeros(24, 0);
    for (int y = 0; y < 2; ++y) {
        EXPECT_NE(std::memcmp(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, zeros.data(), 24), 0)
            << "a new texture reads as zeros, which nothing promises";
    }
    std::vector<uint16_t> texels(3 * 2 * 4);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = uint16_t(1000 + i);
    for (int y = 0; y < 2; ++y)
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, &texels[y * 12], 24);
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, &texels[y * 12], 24), 0);
    }
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
}

TEST_F(Textures, HoldThePatternEverywhereWhateverTheFirstAccessReaches) {
    // Frame-sized textures get fresh pages and take the pattern only when first reached, here by
    // a lock of a corner: the whole texture, row padding included, must hold it all the same.
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    constexpr UINT kWidth = 1920, kHeight = 1080;
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device->CreateTexture(kWidth, kHeight, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, texture.Out(),
                                    nullptr),
              D3D_OK);
    const RECT corner{int32_t(kWidth) - 2, int32_t(kHeight) - 1, int32_t(kWidth), int32_t(kHeight)};
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, &corner, D3DLOCK_READONLY), D3D_OK);
    const uint8_t* base = static_cast<const uint8_t*>(locked.pBits) - corner.top * locked.Pitch - corner.left * 8;
    size_t wrong = 0;
    for (size_t i = 0; i < size_t(locked.Pitch) * kHeight; ++i) wrong += base[i] != qv::d3d9::kFillByte;
    EXPECT_EQ(wrong, 0u);
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
}

TEST_F(Textures, HandOutOneSurfaceForLevelZero) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    RenderTarget rt = CreateRenderTarget(device.get(), 7, 5);
    Ref<IDirect3DSurface9> again;
    ASSERT_EQ(rt.texture->GetSurfaceLevel(0, again.Out()), D3D_OK);
    EXPECT_EQ(again.get(), rt.surface.get());
    Ref<IDirect3DSurface9> none;
    EXPECT_EQ(rt.texture->GetSurfaceLevel(1, none.Out()), D3DERR_INVALIDCALL);
    EXPECT_FALSE(none);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(again->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 7u);
    EXPECT_EQ(desc.Height, 5u);
    EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(desc.Format, D3DFMT_A16B16G16R16);
}

using VertexObjects = StandInTest;

TEST_F(VertexObjects, OnlyTheScreenPositionDeclarationIsAccepted) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    const D3DVERTEXELEMENT9 good = {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0};
    const D3DVERTEXELEMENT9 end = D3DDECL_END();
    Ref<IDirect3DVertexDeclaration9> declaration;
    {
        const D3DVERTEXELEMENT9 elements[] = {good, end};
        EXPECT_EQ(device->CreateVertexDeclaration(elements, declaration.Out()), D3D_OK);
        EXPECT_TRUE(declaration);
    }
    D3DVERTEXELEMENT9 variants[5] = {good, good, good, good, good};
    variants[0].Type = 2;   // FLOAT3
    variants[1].Usage = 0;  // POSITION
    variants[2].Stream = 1;
    variants[3].Offset = 4;
    variants[4].UsageIndex = 1;
    for (const D3DVERTEXELEMENT9& v : variants) {
        const D3DVERTEXELEMENT9 elements[] = {v, end};
        EXPECT_EQ(device->CreateVertexDeclaration(elements, declaration.Out()), D3DERR_INVALIDCALL);
        EXPECT_FALSE(declaration);
    }
    const D3DVERTEXELEMENT9 twoElements[] = {good, {0, 16, D3DDECLTYPE_FLOAT4, 0, 5, 0}, end};
    EXPECT_EQ(device->CreateVertexDeclaration(twoElements, declaration.Out()), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 onlyEnd[] = {end};
    EXPECT_EQ(device->CreateVertexDeclaration(onlyEnd, declaration.Out()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexDeclaration(nullptr, declaration.Out()), D3DERR_INVALIDCALL);
}

TEST_F(VertexObjects, BuffersLockWholeOrInRangeOnceAtATime) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kOptimisedAdapter);
    Ref<IDirect3DVertexBuffer9> buffer;
    EXPECT_EQ(device->CreateVertexBuffer(0, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, buffer.Out(), nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(
        device->CreateVertexBuffer(384, D3DUSAGE_WRITEONLY, 0x4 /* XYZRHW */, D3DPOOL_DEFAULT, buffer.Out(), nullptr),
        D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateVertexBuffer(384, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, buffer.Out(), nullptr), D3D_OK);
    void* whole = nullptr;
    void* part = nullptr;
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
    ASSERT_EQ(buffer->Lock(0, 0, &whole, 0), D3D_OK);
    EXPECT_EQ(buffer->Lock(0, 0, &part, 0), D3DERR_INVALIDCALL);
    std::memset(whole, 0x5A, 384);  // every byte of the buffer is writable
    ASSERT_EQ(buffer->Unlock(), D3D_OK);
    ASSERT_EQ(buffer->Lock(64, 32, &part, 0), D3D_OK);
    EXPECT_EQ(static_cast<uint8_t*>(part), static_cast<uint8_t*>(whole) + 64);
    ASSERT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(buffer->Lock(380, 8, &part, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(buffer->Lock(384, 0, &part, 0), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace qv::d3d9::test
