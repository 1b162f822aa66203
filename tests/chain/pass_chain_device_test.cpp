// The pass chain on the stand-in device: what each planned pass really writes, the codes of a
// failed frame by fault injection, and a whole frame through the unpack and pack programs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "chain/device_fixture.h"
#include "gpu/gpu_lifecycle.h"
#include "host/sliders.h"
#include "passes/pass_chain.h"

namespace qv::passes {
namespace {

using test::MarkerOf;

struct Strengths {
    int32_t usm = 0, denoise = 0, recovery = 0, sharp = 0;
};

class PassChainDeviceTest : public test::DeviceTest {
protected:
    // A created device with the working set for the sizes and params from the strengths.
    void Prepare(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, const Strengths& s) {
        ASSERT_TRUE(CreateDevice());
        ASSERT_TRUE(gpu::InitTexture(srcW, srcH, dstW, dstH));
        int32_t sliders[host::kSliderCount] = {};
        sliders[host::kWidth] = dstW;
        sliders[host::kHeight] = dstH;
        sliders[host::kUsm] = s.usm;
        sliders[host::kRadius] = 15;
        sliders[host::kMin] = 100;
        sliders[host::kDenoise] = s.denoise;
        sliders[host::kRecovery] = s.recovery;
        sliders[host::kSharp] = s.sharp;
        gpu::UpdateParamsAndWeight(sliders);
    }

    // Every texel of the target has x = the writer's marker and, unless `reads` is negative,
    // y = the marker of the pass whose output the writer read.
    static void ExpectWrittenBy(IDirect3DTexture9* target, int writer, int reads, const char* name) {
        SCOPED_TRACE(name);
        const std::vector<uint16_t> texels = test::ReadRenderTarget(target);
        ASSERT_FALSE(texels.empty());
        size_t wrong = 0;
        for (size_t i = 0; i < texels.size(); i += 4) {
            if (texels[i] != MarkerOf(writer) || (reads >= 0 && texels[i + 1] != MarkerOf(reads))) ++wrong;
        }
        EXPECT_EQ(wrong, 0u) << "texels not written by pass " << writer << " from pass " << reads;
    }
};

TEST_F(PassChainDeviceTest, ResizingChainWritesEachTargetWhole) {
    Prepare(16, 12, 24, 9, {});
    ASSERT_EQ(gpu::RunPassChain(), kChainReady);
    const gpu::GpuContext& c = gpu::Context();
    ExpectWrittenBy(c.textures[3], 0, -1, "Tex3");
    ExpectWrittenBy(c.textures[9], 2, 0, "Tex9");
    ExpectWrittenBy(c.textures[10], 12, 2, "Tex10");
    ExpectWrittenBy(c.packedTarget, 13, 12, "packed target");
}

TEST_F(PassChainDeviceTest, DetailChainHandsEachPassThePreviousOutput) {
    Prepare(10, 6, 10, 6, {100, 75, 75, 25});
    ASSERT_EQ(gpu::RunPassChain(), kChainReady);
    const gpu::GpuContext& c = gpu::Context();
    ExpectWrittenBy(c.textures[2], 0, -1, "Tex2");
    ExpectWrittenBy(c.textures[7], 5, 4, "Tex7");   // pass 5 read pass 4's Tex6
    ExpectWrittenBy(c.textures[5], 8, 7, "Tex5");   // pass 8 overwrote pass 1's output
    ExpectWrittenBy(c.textures[6], 9, 8, "Tex6");
    ExpectWrittenBy(c.textures[10], 10, 9, "Tex10");
    ExpectWrittenBy(c.packedTarget, 13, 10, "packed target");

    // The read-back texture holds the packed target after the frame.
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(c.readBack->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<const uint16_t*>(locked.pBits)[0], MarkerOf(13));
    c.readBack->UnlockRect(0);
}

TEST_F(PassChainDeviceTest, EachFailureEndsTheFrameWithItsCode) {
    struct Case {
        const char* operation;
        HRESULT result;
        int32_t code;
    };
    const Case cases[] = {
        {"SetVertexDeclaration", E_FAIL, kChainVertexDeclarationFailed},
        {"EndScene", D3DERR_INVALIDCALL, kChainEndSceneFailed},
        {"GetRenderTargetData", D3DERR_DRIVERINTERNALERROR, kChainReadBackDriverError},
        {"GetRenderTargetData", D3DERR_DEVICELOST, kChainReadBackDeviceLost},
        {"GetRenderTargetData", D3DERR_INVALIDCALL, kChainReadBackInvalidCall},
        {"GetRenderTargetData", E_OUTOFMEMORY, kChainReadBackFailed},
        // Failures inside the scene are not looked at.
        {"DrawPrimitive", D3DERR_INVALIDCALL, kChainReady},
        {"SetRenderTarget", D3DERR_INVALIDCALL, kChainReady},
        {"BeginPass", D3DERR_INVALIDCALL, kChainReady},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.operation) + " " + std::to_string(k.code));
        Prepare(8, 8, 8, 8, {100, 0, 0, 0});
        d3d9::testing::FailOperation(k.operation, 1, k.result);
        EXPECT_EQ(gpu::RunPassChain(), k.code);
        gpu::ReleaseAll();
        d3d9::testing::ClearFaults();
        EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u);
    }
}

TEST_F(PassChainDeviceTest, ALostDeviceShowsAtTheReadBack) {
    Prepare(8, 8, 8, 8, {});
    d3d9::testing::SetDeviceLost(true);
    EXPECT_EQ(gpu::RunPassChain(), kChainReadBackDeviceLost);
}

// The filter's own effect, equal sizes and every strength at 0: unpack and pack alone give
// back the uploaded frame.
class UnpackPackChainTest : public PassChainDeviceTest {
protected:
    test::EffectResource own{
        std::string(reinterpret_cast<const char*>(effect::EffectSourceBytes()), effect::EffectSourceSize())};
};

TEST_F(UnpackPackChainTest, AFrameComesBackUnchanged) {
    for (const int width : {1, 4, 37, 64}) {
        SCOPED_TRACE(width);
        const int height = 5;
        Prepare(width, height, width, height, {});
        const gpu::GpuContext& c = gpu::Context();
        const int samples = 3 * width;

        std::mt19937 random(static_cast<uint32_t>(width));
        std::uniform_int_distribution<int> sample(0, 4096);
        std::vector<uint16_t> frame(static_cast<size_t>(samples) * height);
        for (uint16_t& s : frame) s = static_cast<uint16_t>(sample(random));

        D3DLOCKED_RECT locked{};
        ASSERT_EQ(c.textures[1]->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < height; ++y) {
            std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, frame.data() + y * samples,
                        sizeof(uint16_t) * samples);
        }
        ASSERT_EQ(c.textures[1]->UnlockRect(0), D3D_OK);

        ASSERT_EQ(gpu::RunPassChain(), kChainReady);

        ASSERT_EQ(c.readBack->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        std::vector<uint16_t> result(frame.size());
        for (int y = 0; y < height; ++y) {
            std::memcpy(result.data() + y * samples, static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch,
                        sizeof(uint16_t) * samples);
        }
        c.readBack->UnlockRect(0);
        EXPECT_EQ(result, frame);
        gpu::ReleaseAll();
    }
}

}  // namespace
}  // namespace qv::passes
