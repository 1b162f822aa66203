// Creating the device-level objects on the stand-in: success, and every failure with the box it
// shows, by fault injection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chain/device_fixture.h"
#include "gpu/gpu_lifecycle.h"
#include "gpu/weight_table.h"

namespace qv::gpu {
namespace {

using test::Failed;

class CreateTest : public test::DeviceTest {
protected:
    // Create fails with exactly the one warning box `text`, leaving the GPU path enabled.
    void ExpectFailureBox(const std::string& text) {
        EXPECT_FALSE(CreateDevice());
        ASSERT_EQ(boxes.shown.size(), 1u) << "boxes: " << ::testing::PrintToString(boxes.Texts());
        EXPECT_EQ(boxes.shown[0].text, text);
        EXPECT_EQ(boxes.shown[0].caption, "warning");
        EXPECT_EQ(boxes.shown[0].type, MB_OK);
        EXPECT_EQ(Context().ready.load(), 0);
        EXPECT_EQ(Context().disabled.load(), 0);
    }
};

TEST_F(CreateTest, CreatesDeviceEffectHandlesAndWeightTable) {
    ASSERT_TRUE(CreateDevice());
    EXPECT_TRUE(boxes.shown.empty());
    const GpuContext& c = Context();
    EXPECT_EQ(c.ready.load(), 1);
    EXPECT_EQ(c.disabled.load(), 0);
    EXPECT_NE(c.d3d, nullptr);
    EXPECT_NE(c.device, nullptr);
    EXPECT_NE(c.vertexDeclaration, nullptr);
    EXPECT_NE(c.effect, nullptr);
    EXPECT_STREQ(c.technique, kTechniqueName);
    for (int i = 0; i < kEffectParameterCount; ++i) EXPECT_STREQ(c.parameters[i], kEffectParameterNames[i]);
    // The size-dependent set waits for the first frame.
    EXPECT_EQ(c.textures[1], nullptr);
    EXPECT_EQ(c.vertexBuffer, nullptr);

    ASSERT_NE(c.weightTable, nullptr);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(c.weightTable->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 513u);
    EXPECT_EQ(desc.Height, 1u);
    EXPECT_EQ(desc.Format, D3DFMT_A32B32G32R32F);
    EXPECT_EQ(desc.Usage, D3DUSAGE_DYNAMIC);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);

    std::vector<float> expected(4 * kWeightTableEntries);
    FillWeightTable(expected.data());
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(c.weightTable->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    const std::vector<float> stored(static_cast<const float*>(locked.pBits),
                                    static_cast<const float*>(locked.pBits) + expected.size());
    c.weightTable->UnlockRect(0);
    EXPECT_EQ(stored, expected);
}

TEST_F(CreateTest, LoadsTheFiltersOwnEffect) {
    // Every pass of the module's own effect names a pixel program that the passes register.
    const test::EffectResource own(
        std::string(reinterpret_cast<const char*>(effect::EffectSourceBytes()), effect::EffectSourceSize()));
    EXPECT_TRUE(CreateDevice()) << ::testing::PrintToString(boxes.Texts());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(CreateTest, CreatesOnTheChosenAdapter) {
    ASSERT_TRUE(gpu::Create(nullptr, nullptr, static_cast<int32_t>(d3d9::kReferenceAdapter)));
    EXPECT_EQ(Context().adapter, static_cast<int32_t>(d3d9::kReferenceAdapter));
}

TEST_F(CreateTest, WithoutDirect3DTheGpuPathIsDisabled) {
    d3d9::testing::FailDirect3DCreate(true);
    EXPECT_FALSE(CreateDevice());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Failed("Direct3DCreate9"));
    EXPECT_EQ(boxes.shown[0].caption, "warning");
    EXPECT_EQ(boxes.shown[0].type, MB_OK);
    EXPECT_EQ(Context().disabled.load(), 1);
    EXPECT_EQ(Context().ready.load(), 0);
    EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u);
}

TEST_F(CreateTest, CancellingDeviceCreationDisablesTheGpuPath) {
    d3d9::testing::FailOperation("CreateDevice", 1, D3DERR_NOTAVAILABLE);
    boxes.answers = {IDCANCEL};
    EXPECT_FALSE(CreateDevice());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Failed("CreateDevice"));
    EXPECT_EQ(boxes.shown[0].caption, "Quillervantis");
    EXPECT_EQ(boxes.shown[0].type, 0x35u);
    EXPECT_EQ(Context().disabled.load(), 1);
    EXPECT_EQ(Context().ready.load(), 0);
    EXPECT_EQ(Context().device, nullptr);
    // What was created before the failure stays until the next release all.
    EXPECT_NE(Context().d3d, nullptr);
}

TEST_F(CreateTest, RetryReleasesEverythingAndCreatesAgain) {
    d3d9::testing::FailOperation("CreateDevice", 1, D3DERR_NOTAVAILABLE);
    d3d9::testing::FailOperation("CreateDevice", 2, D3DERR_NOTAVAILABLE);
    boxes.answers = {IDRETRY, IDRETRY};
    EXPECT_TRUE(CreateDevice());
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{Failed("CreateDevice"), Failed("CreateDevice")}));
    EXPECT_EQ(Context().ready.load(), 1);
    EXPECT_EQ(Context().disabled.load(), 0);
}

TEST_F(CreateTest, RetryStartsAgainFromTheDirect3DObject) {
    d3d9::testing::FailOperation("CreateDevice", 1, D3DERR_NOTAVAILABLE);
    boxes.answers = {IDRETRY};
    // While the user looks at the box, Direct3D goes away: the retry must create it anew.
    boxes.onShow = [](const test::ShownBox&) { d3d9::testing::FailDirect3DCreate(true); };
    EXPECT_FALSE(CreateDevice());
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{Failed("CreateDevice"), Failed("Direct3DCreate9")}));
    EXPECT_EQ(Context().d3d, nullptr);
    EXPECT_EQ(Context().disabled.load(), 1);
}

TEST_F(CreateTest, EachLaterStepShowsItsOwnBox) {
    struct Case {
        const char* operation;
        int nth;
        const char* box;
    };
    const Case cases[] = {
        {"CreateVertexDeclaration", 1, "CreateVertexDeclaration"},
        {"GetTechniqueByName", 1, "SetTechnique"},
        {"SetTechnique", 1, "SetTechnique"},
        {"D3DXCreateTexture", 1, "D3DXCreateTexture"},
        {"LockRect", 1, "LockRect"},
        {"UnlockRect", 1, "UnlockRect"},
        {"D3DXCreateEffect", 1, "D3DXCreateEffect"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.operation);
        d3d9::testing::FailOperation(k.operation, k.nth, E_FAIL);
        ExpectFailureBox(Failed(k.box));
        ReleaseAll();
        d3d9::testing::ClearFaults();
        boxes.shown.clear();
        EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u);
    }
}

TEST_F(CreateTest, AnyMissingParameterIsAFailure) {
    for (int nth = 1; nth <= kEffectParameterCount; ++nth) {
        SCOPED_TRACE(kEffectParameterNames[nth - 1]);
        d3d9::testing::FailOperation("GetParameterByName", nth, E_FAIL);
        ExpectFailureBox(Failed("GetParameterByName"));
        ReleaseAll();
        d3d9::testing::ClearFaults();
        boxes.shown.clear();
    }
}

TEST_F(CreateTest, EffectResourceFailures) {
    win32::InjectFailure("FindResourceA", 1);
    ExpectFailureBox(Failed("FindResource"));
    ReleaseAll();
    boxes.shown.clear();

    win32::InjectFailure("LoadResource", 1);
    ExpectFailureBox(Failed("LoadResource"));
    ReleaseAll();
    boxes.shown.clear();

    win32::InjectFailure("LockResource", 1);
    ExpectFailureBox(Failed("LockResource"));
}

TEST_F(CreateTest, MissingEffectResourceDrawsNothing) {
    win32::UnregisterResource(effect::kEffectResourceName, RT_RCDATA_ID);
    ExpectFailureBox(Failed("FindResource"));
    EXPECT_EQ(Context().effect, nullptr);
}

TEST_F(CreateTest, CompilerMessageFollowsTheEffectFailureAndIsReleased) {
    const test::EffectResource broken(test::EffectWithMarkers() + "\ntechnique Broken { pass p0 { PixelShader = ; }\n");
    EXPECT_FALSE(CreateDevice());
    ASSERT_EQ(boxes.shown.size(), 2u) << ::testing::PrintToString(boxes.Texts());
    EXPECT_EQ(boxes.shown[0].text, Failed("D3DXCreateEffect"));
    EXPECT_EQ(boxes.shown[0].caption, "warning");
    EXPECT_NE(boxes.shown[1].text.find("line"), std::string::npos) << boxes.shown[1].text;
    EXPECT_EQ(boxes.shown[1].text.find('\0'), std::string::npos);
    EXPECT_EQ(boxes.shown[1].caption, "warning");
    EXPECT_EQ(boxes.shown[1].type, MB_OK);
    // Only the Direct3D object, the device and the declaration remain: the buffer is gone.
    EXPECT_EQ(d3d9::testing::LiveObjectCount(), 3u);
}

TEST_F(CreateTest, AFailedCreateCanBeRepeatedWithoutLeaking) {
    d3d9::testing::FailOperation("SetTechnique", 1, E_FAIL);
    EXPECT_FALSE(CreateDevice());
    // The process callback creates again after a failure; every held object is replaced.
    EXPECT_TRUE(CreateDevice());
    ReleaseAll();
    EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u);
}

}  // namespace
}  // namespace qv::gpu
