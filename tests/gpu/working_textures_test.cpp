// initTexture on the stand-in: the sizes and kinds of the working textures, the six quads, the
// state it records, and every failure with its box.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chain/device_fixture.h"
#include "gpu/gpu_lifecycle.h"
#include "gpu/working_textures.h"

namespace qv::gpu {
namespace {

using test::Failed;

struct Size {
    UINT width;
    UINT height;
    bool operator==(const Size&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Size& s) { return out << s.width << "x" << s.height; }

Size SizeOf(IDirect3DTexture9* texture) {
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetLevelDesc(0, &desc))) return {0, 0};
    return {desc.Width, desc.Height};
}

class InitTextureTest : public test::DeviceTest {
protected:
    void SetUp() override {
        test::DeviceTest::SetUp();
        ASSERT_TRUE(CreateDevice());
    }

    // Tex, Tex2..Tex10, packed target, read-back.
    static std::vector<Size> Sizes() {
        const GpuContext& c = Context();
        std::vector<Size> sizes;
        for (int slot = 1; slot <= 10; ++slot) sizes.push_back(SizeOf(c.textures[slot]));
        sizes.push_back(SizeOf(c.packedTarget));
        sizes.push_back(SizeOf(c.readBack));
        return sizes;
    }
};

TEST_F(InitTextureTest, UpscalingSizes) {
    ASSERT_TRUE(InitTexture(1280, 720, 1920, 1080));
    const Size src{1280, 720}, wide{1920, 720}, big{1920, 1080}, packed{1440, 1080};
    EXPECT_EQ(Sizes(), (std::vector<Size>{{960, 720}, src, src, wide, big, big, big, big, big, big, packed, packed}));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(InitTextureTest, DownscalingSizes) {
    ASSERT_TRUE(InitTexture(1920, 1080, 1280, 720));
    const Size big{1920, 1080}, narrow{1280, 1080}, dst{1280, 720}, packed{960, 720};
    EXPECT_EQ(Sizes(),
              (std::vector<Size>{{1440, 1080}, big, big, big, big, big, big, big, narrow, dst, packed, packed}));
}

TEST_F(InitTextureTest, EqualSizesAndAnOddWidth) {
    ASSERT_TRUE(InitTexture(701, 33, 701, 33));
    const Size s{701, 33}, packed{526, 33};
    EXPECT_EQ(Sizes(), (std::vector<Size>{packed, s, s, s, s, s, s, s, s, s, packed, packed}));
}

TEST_F(InitTextureTest, TextureKindsAndHeldSurfaces) {
    ASSERT_TRUE(InitTexture(64, 48, 96, 24));
    const GpuContext& c = Context();
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(c.textures[1]->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_A16B16G16R16);
    EXPECT_EQ(desc.Usage, D3DUSAGE_DYNAMIC);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(c.surfaces[1], nullptr);
    for (int slot = 2; slot <= 10; ++slot) {
        SCOPED_TRACE(slot);
        ASSERT_EQ(c.textures[slot]->GetLevelDesc(0, &desc), D3D_OK);
        EXPECT_EQ(desc.Format, D3DFMT_A16B16G16R16);
        EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);
        EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
        ASSERT_NE(c.surfaces[slot], nullptr);
    }
    ASSERT_EQ(c.packedTarget->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);
    EXPECT_NE(c.packedTargetSurface, nullptr);
    ASSERT_EQ(c.readBack->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_A16B16G16R16);
    EXPECT_EQ(desc.Usage, 0u);
    EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
    EXPECT_NE(c.readBackSurface, nullptr);
}

TEST_F(InitTextureTest, SixQuadsOnThePixelGrid) {
    ASSERT_TRUE(InitTexture(1280, 720, 1920, 540));
    IDirect3DVertexBuffer9* buffer = Context().vertexBuffer;
    ASSERT_NE(buffer, nullptr);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    std::vector<float> v(96);
    std::memcpy(v.data(), data, 384);
    buffer->Unlock();
    const float quads[6][2] = {{1280, 720}, {1920, 720}, {1920, 720}, {1920, 720}, {1920, 540}, {1440, 540}};
    for (int q = 0; q < 6; ++q) {
        const float w = quads[q][0], h = quads[q][1];
        const std::vector<float> expected = {0, 0, 0, 1, w, 0, 0, 1, 0, h, 0, 1, w, h, 0, 1};
        EXPECT_EQ(std::vector<float>(v.begin() + 16 * q, v.begin() + 16 * q + 16), expected) << "quad " << q;
    }
}

TEST_F(InitTextureTest, RecordsTheSizesOnlyOnSuccess) {
    Context().paramsDirty.store(0);
    ASSERT_TRUE(InitTexture(320, 240, 640, 200));
    const GpuContext& c = Context();
    EXPECT_EQ(c.srcW, 320);
    EXPECT_EQ(c.srcH, 240);
    EXPECT_EQ(c.dstW, 640);
    EXPECT_EQ(c.dstH, 200);
    EXPECT_EQ(c.maxW, 640);
    EXPECT_EQ(c.maxH, 240);
    // Building the set released the old one, so the constants are due again.
    EXPECT_EQ(c.paramsDirty.load(), 1);
}

TEST_F(InitTextureTest, RebuildingReplacesEveryObject) {
    ASSERT_TRUE(InitTexture(320, 240, 640, 200));
    const size_t live = d3d9::testing::LiveObjectCount();
    ASSERT_TRUE(InitTexture(100, 100, 50, 50));
    EXPECT_EQ(d3d9::testing::LiveObjectCount(), live);
    EXPECT_EQ(SizeOf(Context().textures[10]), (Size{50, 50}));
}

TEST_F(InitTextureTest, EveryTextureCreationFailureShowsItsBox) {
    // Twelve textures: Tex, nine render targets, packed target, read-back.
    for (int nth = 1; nth <= 12; ++nth) {
        SCOPED_TRACE(nth);
        ASSERT_TRUE(InitTexture(64, 48, 32, 24));
        boxes.shown.clear();
        d3d9::testing::FailOperation("D3DXCreateTexture", nth, D3DERR_OUTOFVIDEOMEMORY);
        EXPECT_FALSE(InitTexture(64, 48, 96, 24));
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Failed("D3DXCreateTexture")});
        EXPECT_EQ(boxes.shown.at(0).caption, "warning");
        EXPECT_EQ(Context().srcW, 0);
        EXPECT_EQ(Context().dstW, 0);
    }
    // Eleven held surfaces: nine render targets, packed target, read-back.
    for (int nth = 1; nth <= 11; ++nth) {
        SCOPED_TRACE(nth);
        boxes.shown.clear();
        d3d9::testing::FailOperation("GetSurfaceLevel", nth, E_FAIL);
        EXPECT_FALSE(InitTexture(64, 48, 96, 24));
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Failed("GetSurfaceLevel")});
        EXPECT_EQ(Context().srcH, 0);
    }
}

TEST_F(InitTextureTest, VertexBufferFailuresAreFailures) {
    const std::pair<const char*, const char*> cases[] = {
        {"CreateVertexBuffer", "CreateVertexBuffer"}, {"Lock", "Lock"}, {"Unlock", "Unlock"}};
    for (const auto& [operation, box] : cases) {
        SCOPED_TRACE(operation);
        boxes.shown.clear();
        d3d9::testing::FailOperation(operation, 1, D3DERR_INVALIDCALL);
        EXPECT_FALSE(InitTexture(64, 48, 96, 24));
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Failed(box)});
        EXPECT_EQ(Context().dstH, 0);
    }
    boxes.shown.clear();
    EXPECT_TRUE(InitTexture(64, 48, 96, 24));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(InitTextureTest, SizesBelowOneTexelAreRefused) {
    for (const auto& [w, h] : {std::pair{0, 48}, std::pair{64, 0}, std::pair{-64, 48}}) {
        boxes.shown.clear();
        EXPECT_FALSE(InitTexture(w, h, 32, 24));
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Failed("D3DXCreateTexture")});
        EXPECT_FALSE(InitTexture(32, 24, w, h));
    }
}

TEST_F(InitTextureTest, ParamsDirtyFollowsReleasesAndUpdates) {
    ASSERT_TRUE(InitTexture(64, 48, 96, 24));
    std::vector<int32_t> sliders = {0, 96, 24, 100, 15, 0, 100, 75, 75, 25, 0};
    UpdateParamsAndWeight(sliders.data());
    EXPECT_EQ(Context().paramsDirty.load(), 0);
    EXPECT_EQ(Context().params.htap, 4);  // computed for the sizes just built
    EXPECT_EQ(Context().params.vtap, 12);
    ReleaseAll();
    EXPECT_EQ(Context().paramsDirty.load(), 1);
    // Without an effect nothing can be set, so the constants stay due.
    UpdateParamsAndWeight(sliders.data());
    EXPECT_EQ(Context().paramsDirty.load(), 1);
}

}  // namespace
}  // namespace qv::gpu
