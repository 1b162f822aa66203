// The calls with which the pass chain records a frame, and the code it ends a failed frame
// with, checked on recording objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chain/recording_d3d.h"
#include "gpu/gpu_lifecycle.h"
#include "passes/pass_chain.h"

namespace qv::passes {
namespace {

using Log = std::vector<std::string>;

void SetStrengths(float usm, float denoise, float recovery, float sharp) {
    effect::ParamsBlock& p = gpu::Context().params;
    p = {};
    p.usm = usm;
    p.denoise = denoise;
    p.recovery = recovery;
    p.sharp = sharp;
}

Log Bindings() {
    return {"SetTexture Tex Tex",   "SetTexture Tex2 Tex2", "SetTexture Tex3 Tex3",   "SetTexture Tex4 Tex4",
            "SetTexture Tex5 Tex5", "SetTexture Tex6 Tex6", "SetTexture Tex7 Tex7",   "SetTexture Tex8 Tex8",
            "SetTexture Tex9 Tex9", "SetTexture Tex10 Tex10", "SetTexture Tex11 Tex11"};
}

void Append(Log& log, const Log& more) { log.insert(log.end(), more.begin(), more.end()); }

Log Pass(int pass, const std::string& target, int firstVertex) {
    return {"SetRenderTarget 0 " + target, "BeginPass " + std::to_string(pass),
            "DrawPrimitive 5 " + std::to_string(firstVertex) + " 2", "EndPass"};
}

TEST(PassChainCalls, DefaultSlidersRecordEveryDetailPassInOrder) {
    test::RecordedContext context(64, 48, 64, 48);
    SetStrengths(1.0f, 0.75f, 0.75f, 0.25f);
    EXPECT_EQ(gpu::RunPassChain(), kChainReady);

    Log expected = {"SetVertexDeclaration vertex declaration", "BeginScene", "Begin null 0"};
    Append(expected, Bindings());
    // The stream source is set once, for pass 0, between its render target and its begin.
    expected.insert(expected.end(), {"SetRenderTarget 0 Tex2 surface", "SetStreamSource 0 vertex buffer 0 16",
                                     "BeginPass 0", "DrawPrimitive 5 0 2", "EndPass"});
    Append(expected, Pass(1, "Tex5 surface", 0));
    Append(expected, Pass(4, "Tex6 surface", 8));
    Append(expected, Pass(5, "Tex7 surface", 8));
    Append(expected, Pass(7, "Tex6 surface", 8));
    Append(expected, Pass(8, "Tex5 surface", 8));
    Append(expected, Pass(9, "Tex6 surface", 8));
    Append(expected, Pass(10, "Tex10 surface", 8));
    Append(expected, Pass(13, "packed target surface", 20));
    expected.insert(expected.end(),
                    {"End", "EndScene", "GetRenderTargetData packed target surface read-back surface"});
    EXPECT_EQ(context.log.entries, expected);
}

TEST(PassChainCalls, ResizingPassesDrawTheirOwnQuads) {
    test::RecordedContext context(1280, 720, 1920, 540);
    SetStrengths(0, 0, 0, 0);
    EXPECT_EQ(gpu::RunPassChain(), kChainReady);

    Log expected = {"SetVertexDeclaration vertex declaration", "BeginScene", "Begin null 0"};
    Append(expected, Bindings());
    expected.insert(expected.end(), {"SetRenderTarget 0 Tex3 surface", "SetStreamSource 0 vertex buffer 0 16",
                                     "BeginPass 0", "DrawPrimitive 5 0 2", "EndPass"});
    Append(expected, Pass(2, "Tex9 surface", 4));
    Append(expected, Pass(12, "Tex10 surface", 16));
    Append(expected, Pass(13, "packed target surface", 20));
    expected.insert(expected.end(),
                    {"End", "EndScene", "GetRenderTargetData packed target surface read-back surface"});
    EXPECT_EQ(context.log.entries, expected);

    // Reductions in both directions: passes 11 (quad 3) and 12 (quad 4).
    test::RecordedContext smaller(1920, 1080, 1280, 720);
    EXPECT_EQ(gpu::RunPassChain(), kChainReady);
    const Log& calls = smaller.log.entries;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "DrawPrimitive 5 12 2"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "DrawPrimitive 5 16 2"), calls.end());
}

TEST(PassChainCalls, VertexDeclarationFailureEndsTheFrameBeforeTheScene) {
    test::RecordedContext context;
    context.device.results["SetVertexDeclaration"] = E_FAIL;
    EXPECT_EQ(gpu::RunPassChain(), kChainVertexDeclarationFailed);
    EXPECT_EQ(context.log.entries, Log{"SetVertexDeclaration vertex declaration"});
}

TEST(PassChainCalls, EndSceneFailureSkipsTheReadBack) {
    test::RecordedContext context;
    context.device.results["EndScene"] = D3DERR_INVALIDCALL;
    EXPECT_EQ(gpu::RunPassChain(), kChainEndSceneFailed);
    EXPECT_EQ(context.log.entries.back(), "EndScene");
}

TEST(PassChainCalls, ReadBackResultsMapToTheirCodes) {
    const std::pair<HRESULT, int32_t> cases[] = {
        {D3DERR_DRIVERINTERNALERROR, kChainReadBackDriverError},
        {D3DERR_DEVICELOST, kChainReadBackDeviceLost},
        {D3DERR_INVALIDCALL, kChainReadBackInvalidCall},
        // Any other result, a success code other than D3D_OK included, is no finished frame.
        {E_OUTOFMEMORY, kChainReadBackFailed},
        {D3DERR_DEVICENOTRESET, kChainReadBackFailed},
        {1, kChainReadBackFailed},
    };
    for (const auto& [result, code] : cases) {
        test::RecordedContext context;
        context.device.results["GetRenderTargetData"] = result;
        EXPECT_EQ(gpu::RunPassChain(), code) << std::hex << result;
    }
}

TEST(PassChainCalls, ResultsBetweenTheSceneBeginAndEndAreNotLookedAt) {
    test::RecordedContext context;
    context.device.results["BeginScene"] = E_FAIL;
    context.device.results["SetRenderTarget"] = D3DERR_INVALIDCALL;
    context.device.results["SetStreamSource"] = D3DERR_INVALIDCALL;
    context.device.results["DrawPrimitive"] = D3DERR_INVALIDCALL;
    EXPECT_EQ(gpu::RunPassChain(), kChainReady);
    EXPECT_EQ(context.log.entries.back(), "GetRenderTargetData packed target surface read-back surface");
}

TEST(PassChainCalls, AMissingObjectEndsTheFrameWithoutRecordingAnything) {
    for (int which = 0; which < 5; ++which) {
        test::RecordedContext context;
        gpu::GpuContext& c = gpu::Context();
        switch (which) {
            case 0: c.vertexDeclaration = nullptr; break;
            case 1: c.vertexBuffer = nullptr; break;
            case 2: c.surfaces[10] = nullptr; break;  // the pack input, written by every frame
            case 3: c.readBackSurface = nullptr; break;
            case 4: c.effect = nullptr; break;
        }
        EXPECT_EQ(gpu::RunPassChain(), kChainMissingObject) << which;
        EXPECT_TRUE(context.log.entries.empty()) << which;
    }
}

}  // namespace
}  // namespace qv::passes
