// The device shared by a render thread and a processing thread, as the filter shares it: the
// render thread draws and reads back while the processing thread fills the other of two input
// textures, and constants change only while the render thread waits. Built with
// ThreadSanitizer, this shows the stand-in's own state free of races.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "d3d9/d3d9_test_support.h"

namespace qv::d3d9::test {
namespace {

using Threading = StandInTest;

// Start and done signals between the two threads.
class Handshake {
public:
    void Signal(bool& flag) {
        std::lock_guard<std::mutex> lock(mutex_);
        flag = true;
        changed_.notify_all();
    }
    void Wait(bool& flag) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return flag; });
        flag = false;
    }
    bool start = false;
    bool done = false;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

void Fill(IDirect3DTexture9* texture, UINT width, UINT height, uint16_t value) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK), D3D_OK);
    for (UINT y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (UINT i = 0; i < width * 4; ++i) row[i] = uint16_t(value + y);
    }
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
}

TEST_F(Threading, TheRenderThreadDrawsWhileTheProcessingThreadFillsTheOtherInput) {
    for (const UINT adapter : {kOptimisedAdapter, kReferenceAdapter}) {
        SCOPED_TRACE(adapter);
        constexpr UINT kW = 33, kH = 17;
        constexpr int kFrames = 12;
        DrawRig rig(adapter, kW, kH);
        Ref<IDirect3DTexture9> inputs[2] = {
            CreateFilledTexture(rig.device.get(), kW, kH, std::vector<uint16_t>(kW * kH * 4)),
            CreateFilledTexture(rig.device.get(), kW, kH, std::vector<uint16_t>(kW * kH * 4))};
        RenderTarget readBack = CreateSystemCopy(rig.device.get(), kW, kH);
        Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(kW, kH));
        const D3DXHANDLE texA = rig.effect->GetParameterByName(nullptr, "TexA");
        const D3DXHANDLE params = rig.effect->GetParameterByName(nullptr, "params");

        Handshake handshake;
        int frame = 0;  // written by the processing thread before start, read by the render thread after
        bool stop = false;
        HRESULT renderResult = D3D_OK;
        std::thread render([&] {
            for (;;) {
                handshake.Wait(handshake.start);
                if (stop) break;
                IDirect3DDevice9* d = rig.device.get();
                HRESULT hr = d->SetVertexDeclaration(rig.declaration.get());
                d->BeginScene();
                rig.effect->Begin(nullptr, 0);
                rig.effect->SetTexture(texA, inputs[frame % 2].get());
                d->SetRenderTarget(0, rig.target.surface.get());
                d->SetStreamSource(0, quad.get(), 0, sizeof(Vertex));
                rig.effect->BeginPass(kCopyPass);
                if (SUCCEEDED(hr)) hr = d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
                rig.effect->EndPass();
                rig.effect->End();
                if (SUCCEEDED(hr)) hr = d->EndScene();
                if (SUCCEEDED(hr)) hr = d->GetRenderTargetData(rig.target.surface.get(), readBack.surface.get());
                renderResult = hr;
                handshake.Signal(handshake.done);
            }
        });

        // A failed check ends the frames early; the render thread is stopped either way.
        const auto runFrames = [&] {
            Fill(inputs[0].get(), kW, kH, 100);
            for (frame = 0; frame < kFrames; ++frame) {
                float fill[12] = {float(frame)};
                ASSERT_EQ(rig.effect->SetValue(params, fill, sizeof(fill)), D3D_OK);  // the render thread waits
                handshake.Signal(handshake.start);
                // While the frame renders: the other input, fresh objects, and references to shared ones.
                Fill(inputs[(frame + 1) % 2].get(), kW, kH, uint16_t(100 + 1000 * (frame + 1)));
                Ref<IDirect3DTexture9> scratch;
                ASSERT_EQ(rig.device->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT,
                                                    scratch.Out(), nullptr),
                          D3D_OK);
                Fill(scratch.get(), 8, 8, 5);
                rig.target.surface->AddRef();
                rig.target.surface->Release();
                handshake.Wait(handshake.done);
                ASSERT_EQ(renderResult, D3D_OK);
                D3DLOCKED_RECT locked{};
                ASSERT_EQ(readBack.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
                for (UINT y = 0; y < kH; ++y) {
                    const auto* row =
                        reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch);
                    ASSERT_EQ(row[0], uint16_t(100 + 1000 * frame + y)) << "frame " << frame << " row " << y;
                    ASSERT_EQ(row[kW * 4 - 1], uint16_t(100 + 1000 * frame + y));
                }
                ASSERT_EQ(readBack.surface->UnlockRect(), D3D_OK);
            }
        };
        runFrames();
        stop = true;
        handshake.Signal(handshake.start);
        render.join();
    }
}

}  // namespace
}  // namespace qv::d3d9::test
