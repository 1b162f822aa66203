// Injected failures: every operation the filter calls fails on the chosen call with the chosen
// code, once, and works again after.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "d3d9/d3d9_test_support.h"

namespace qv::d3d9::test {
namespace {

using FaultInjection = StandInTest;

// Stands for "the lookup returned no handle".
constexpr HRESULT kNoHandle = E_FAIL;

struct Operation {
    const char* name;
    std::function<HRESULT()> call;  // one call of the operation; leaves things as it found them
};

TEST_F(FaultInjection, EveryOperationFailsOnItsNthCallWithTheInjectedCode) {
    DrawRig rig(kOptimisedAdapter, 4, 4);
    IDirect3DDevice9* device = rig.device.get();
    ID3DXEffect* effect = rig.effect.get();
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(device, QuadVertices(4, 4));
    RenderTarget copy = CreateSystemCopy(device, 4, 4);
    Ref<IDirect3DTexture9> dynamic = CreateFilledTexture(device, 2, 2, std::vector<uint16_t>(16, 1));
    const D3DXHANDLE params = effect->GetParameterByName(nullptr, "params");
    const D3DXHANDLE texA = effect->GetParameterByName(nullptr, "TexA");
    const D3DXHANDLE test = effect->GetTechniqueByName("Test");
    D3DPRESENT_PARAMETERS presentation{};
    presentation.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentation.Windowed = 1;
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
                                          D3DDECL_END()};
    const std::string source = kTestEffectSource;
    float block[12] = {};

    const auto lockTexture = [&] {
        D3DLOCKED_RECT locked{};
        const HRESULT hr = dynamic->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK);
        if (SUCCEEDED(hr)) dynamic->UnlockRect(0);
        return hr;
    };
    const auto unlockTexture = [&] {
        D3DLOCKED_RECT locked{};
        dynamic->LockRect(0, &locked, nullptr, 0);
        const HRESULT hr = dynamic->UnlockRect(0);
        if (FAILED(hr)) dynamic->UnlockRect(0);
        return hr;
    };
    const auto lockSurface = [&] {
        D3DLOCKED_RECT locked{};
        const HRESULT hr = copy.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY);
        if (SUCCEEDED(hr)) copy.surface->UnlockRect();
        return hr;
    };
    const auto unlockSurface = [&] {
        D3DLOCKED_RECT locked{};
        copy.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY);
        const HRESULT hr = copy.surface->UnlockRect();
        if (FAILED(hr)) copy.surface->UnlockRect();
        return hr;
    };
    const auto lockBuffer = [&] {
        void* data = nullptr;
        const HRESULT hr = quad->Lock(0, 0, &data, 0);
        if (SUCCEEDED(hr)) quad->Unlock();
        return hr;
    };
    const auto unlockBuffer = [&] {
        void* data = nullptr;
        quad->Lock(0, 0, &data, 0);
        const HRESULT hr = quad->Unlock();
        if (FAILED(hr)) quad->Unlock();
        return hr;
    };
    const auto beginScene = [&] {
        const HRESULT hr = device->BeginScene();
        if (SUCCEEDED(hr)) device->EndScene();
        return hr;
    };
    const auto endScene = [&] {
        device->BeginScene();
        const HRESULT hr = device->EndScene();
        if (FAILED(hr)) device->EndScene();
        return hr;
    };
    const auto begin = [&] {
        const HRESULT hr = effect->Begin(nullptr, 0);
        if (SUCCEEDED(hr)) effect->End();
        return hr;
    };
    const auto beginPass = [&] {
        effect->Begin(nullptr, 0);
        const HRESULT hr = effect->BeginPass(kFillPass);
        if (SUCCEEDED(hr)) effect->EndPass();
        effect->End();
        return hr;
    };
    const auto endPass = [&] {
        effect->Begin(nullptr, 0);
        effect->BeginPass(kFillPass);
        const HRESULT hr = effect->EndPass();
        if (FAILED(hr)) effect->EndPass();
        effect->End();
        return hr;
    };
    const auto end = [&] {
        effect->Begin(nullptr, 0);
        const HRESULT hr = effect->End();
        if (FAILED(hr)) effect->End();
        return hr;
    };

    const Operation operations[] = {
        {"CreateDevice",
         [&] {
             Ref<IDirect3DDevice9> d;
             return rig.d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0x46, &presentation, d.Out());
         }},
        {"GetAdapterIdentifier",
         [&] {
             D3DADAPTER_IDENTIFIER9 id{};
             return rig.d3d->GetAdapterIdentifier(0, 0, &id);
         }},
        {"TestCooperativeLevel", [&] { return device->TestCooperativeLevel(); }},
        {"CreateTexture",
         [&] {
             Ref<IDirect3DTexture9> t;
             return device->CreateTexture(4, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, t.Out(), nullptr);
         }},
        {"D3DXCreateTexture",
         [&] {
             Ref<IDirect3DTexture9> t;
             return D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, t.Out());
         }},
        {"LockRect", lockTexture},
        {"LockRect", lockSurface},
        {"UnlockRect", unlockTexture},
        {"UnlockRect", unlockSurface},
        {"GetSurfaceLevel",
         [&] {
             Ref<IDirect3DSurface9> s;
             return copy.texture->GetSurfaceLevel(0, s.Out());
         }},
        {"CreateVertexBuffer",
         [&] {
             Ref<IDirect3DVertexBuffer9> b;
             return device->CreateVertexBuffer(384, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, b.Out(), nullptr);
         }},
        {"Lock", lockBuffer},
        {"Unlock", unlockBuffer},
        {"CreateVertexDeclaration",
         [&] {
             Ref<IDirect3DVertexDeclaration9> d;
             return device->CreateVertexDeclaration(elements, d.Out());
         }},
        {"SetVertexDeclaration", [&] { return device->SetVertexDeclaration(rig.declaration.get()); }},
        {"SetRenderState", [&] { return device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE); }},
        {"SetStreamSource", [&] { return device->SetStreamSource(0, quad.get(), 0, 16); }},
        {"SetRenderTarget", [&] { return device->SetRenderTarget(0, rig.target.surface.get()); }},
        {"BeginScene", beginScene},
        {"EndScene", endScene},
        {"DrawPrimitive", [&] { return rig.Draw(kFillPass, quad.get()); }},
        {"GetRenderTargetData",
         [&] { return device->GetRenderTargetData(rig.target.surface.get(), copy.surface.get()); }},
        {"D3DXCreateEffect",
         [&] {
             Ref<ID3DXEffect> e;
             return D3DXCreateEffect(device, source.data(), UINT(source.size()), nullptr, nullptr, 0, nullptr, e.Out(),
                                     nullptr);
         }},
        {"GetTechniqueByName", [&] { return effect->GetTechniqueByName("Test") ? D3D_OK : kNoHandle; }},
        {"GetParameterByName", [&] { return effect->GetParameterByName(nullptr, "params") ? D3D_OK : kNoHandle; }},
        {"SetTechnique", [&] { return effect->SetTechnique(test); }},
        {"SetValue", [&] { return effect->SetValue(params, block, sizeof(block)); }},
        {"SetTexture", [&] { return effect->SetTexture(texA, dynamic.get()); }},
        {"Begin", begin},
        {"BeginPass", beginPass},
        {"EndPass", endPass},
        {"End", end},
    };
    const HRESULT codes[] = {D3DERR_DRIVERINTERNALERROR, E_OUTOFMEMORY, D3DERR_OUTOFVIDEOMEMORY, D3DERR_NOTAVAILABLE};
    int n = 0;
    for (const Operation& op : operations) {
        const bool lookup =
            std::string(op.name).rfind("Get", 0) == 0 && std::string(op.name).find("ByName") != std::string::npos;
        const HRESULT code = lookup ? kNoHandle : codes[n++ % std::size(codes)];
        SCOPED_TRACE(op.name);
        ASSERT_EQ(op.call(), D3D_OK) << "works before any fault";
        testing::FailOperation(op.name, 2, code);
        EXPECT_EQ(op.call(), D3D_OK) << "the first call from now still works";
        EXPECT_EQ(op.call(), code) << "the second call fails";
        EXPECT_EQ(op.call(), D3D_OK) << "once only";
    }
}

TEST_F(FaultInjection, FailuresLeaveNoObjectAndNoOutput) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kReferenceAdapter);
    const size_t live = testing::LiveObjectCount();
    Ref<IDirect3DTexture9> texture;
    testing::FailOperation("D3DXCreateTexture", 1, E_OUTOFMEMORY);
    EXPECT_EQ(D3DXCreateTexture(device.get(), 4, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, texture.Out()),
              E_OUTOFMEMORY);
    EXPECT_FALSE(texture);
    ASSERT_EQ(D3DXCreateTexture(device.get(), 4, 4, 1, 0, D3DFMT_A16B16G16R16, D3DPOOL_SYSTEMMEM, texture.Out()),
              D3D_OK);
    D3DLOCKED_RECT locked{1, &locked};
    testing::FailOperation("LockRect", 1, D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(locked.pBits, nullptr);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL) << "the failed lock left the texture unlocked";
    texture.reset();
    Ref<ID3DXEffect> effect;
    Ref<ID3DXBuffer> errors;
    testing::FailOperation("D3DXCreateEffect", 1, D3DXERR_INVALIDDATA);
    EXPECT_EQ(D3DXCreateEffect(device.get(), kTestEffectSource, UINT(std::strlen(kTestEffectSource)), nullptr, nullptr,
                               0, nullptr, effect.Out(), errors.Out()),
              D3DXERR_INVALIDDATA);
    EXPECT_FALSE(effect);
    EXPECT_EQ(testing::LiveObjectCount(), live);
}

TEST_F(FaultInjection, FaultsQueueUpAndClearTogether) {
    Ref<IDirect3D9> d3d = CreateDirect3D();
    Ref<IDirect3DDevice9> device = CreateDevice(d3d.get(), kReferenceAdapter);
    testing::FailOperation("BeginScene", 1, E_FAIL);
    testing::FailOperation("BeginScene", 1, E_OUTOFMEMORY);
    EXPECT_EQ(device->BeginScene(), E_FAIL);
    EXPECT_EQ(device->BeginScene(), E_OUTOFMEMORY) << "a second fault due on the same call waits for the next";
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    testing::FailOperation("EndScene", 1, E_FAIL);
    testing::FailDirect3DCreate(true);
    testing::SetDeviceLost(true);
    testing::ClearFaults();
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    Ref<IDirect3D9> another(Direct3DCreate9(D3D_SDK_VERSION));
    EXPECT_TRUE(another);
}

TEST_F(FaultInjection, AnInjectedSuccessCodeStillDoesTheWork) {
    DrawRig rig(kReferenceAdapter, 3, 2);
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(3, 2));
    rig.SetFill(1.0f, 0.0f, 0.0f, 1.0f);
    ASSERT_EQ(rig.Draw(kFillPass, quad.get()), D3D_OK);
    RenderTarget copy = CreateSystemCopy(rig.device.get(), 3, 2);
    constexpr HRESULT kOddSuccess = 0x0876086C;  // not one of the documented results
    testing::FailOperation("GetRenderTargetData", 1, kOddSuccess);
    EXPECT_EQ(rig.device->GetRenderTargetData(rig.target.surface.get(), copy.surface.get()), kOddSuccess);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(copy.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<const uint16_t*>(locked.pBits)[0], 65535);
    EXPECT_EQ(static_cast<const uint16_t*>(locked.pBits)[1], 0);
    ASSERT_EQ(copy.surface->UnlockRect(), D3D_OK);
}

}  // namespace
}  // namespace qv::d3d9::test
