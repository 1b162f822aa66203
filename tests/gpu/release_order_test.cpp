// Release all and the release of the size-dependent set: order, holders emptied first, and
// the state they leave behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chain/recording_d3d.h"
#include "gpu/gpu_lifecycle.h"
#include "gpu/working_textures.h"

namespace qv::gpu {
namespace {

// True when any holder of the context still points at `object`.
bool HeldByContext(const test::Named& object) {
    const GpuContext& c = Context();
    const auto same = [&](const IUnknown* held) {
        return held && dynamic_cast<const test::Named*>(held) == &object;
    };
    if (same(c.d3d) || same(c.device) || same(c.vertexDeclaration) || same(c.effect) || same(c.vertexBuffer) ||
        same(c.weightTable) || same(c.packedTarget) || same(c.packedTargetSurface) || same(c.readBack) ||
        same(c.readBackSurface)) {
        return true;
    }
    for (int slot = 0; slot < kWorkingTextureSlots; ++slot) {
        if (same(c.textures[slot]) || same(c.surfaces[slot])) return true;
    }
    return false;
}

// Each release checks that the context let go of the object before releasing it.
std::vector<std::string>* WatchReleases(test::RecordedContext& context) {
    static std::vector<std::string> stillHeld;
    stillHeld.clear();
    for (test::Named* object : context.All()) {
        object->onRelease = [](const test::Named& released) {
            if (HeldByContext(released)) stillHeld.push_back(released.Name());
        };
    }
    return &stillHeld;
}

const std::vector<std::string> kSizeDependentReleases = {
    "Release Tex",           "Release Tex2",          "Release Tex2 surface",   "Release Tex3",
    "Release Tex3 surface",  "Release Tex4",          "Release Tex4 surface",   "Release Tex9",
    "Release Tex9 surface",  "Release Tex5",          "Release Tex5 surface",   "Release Tex6",
    "Release Tex6 surface",  "Release Tex7",          "Release Tex7 surface",   "Release Tex8",
    "Release Tex8 surface",  "Release Tex10",         "Release Tex10 surface",  "Release packed target surface",
    "Release packed target", "Release read-back surface", "Release read-back"};

TEST(ReleaseAll, ReleasesEveryObjectOnceInItsOrderAfterEmptyingItsHolder) {
    test::RecordedContext context(1280, 720, 1920, 1080);
    std::vector<std::string>* stillHeld = WatchReleases(context);
    Context().paramsDirty.store(0);

    ReleaseAll();

    std::vector<std::string> expected = kSizeDependentReleases;
    expected.insert(expected.end(), {"Release Tex11", "Release effect", "Release vertex declaration",
                                     "Release vertex buffer", "Release device", "Release Direct3D"});
    EXPECT_EQ(context.log.entries, expected);
    EXPECT_TRUE(stillHeld->empty()) << "released while still held: " << stillHeld->front();

    const GpuContext& c = Context();
    EXPECT_EQ(c.ready.load(), 0);
    EXPECT_EQ(c.paramsDirty.load(), 1);
    EXPECT_EQ(c.srcW, 0);
    EXPECT_EQ(c.srcH, 0);
    EXPECT_EQ(c.dstW, 0);
    EXPECT_EQ(c.dstH, 0);
    EXPECT_EQ(c.technique, nullptr);
    for (const D3DXHANDLE handle : c.parameters) EXPECT_EQ(handle, nullptr);

    // A second release all finds nothing left to release.
    context.log.entries.clear();
    ReleaseAll();
    EXPECT_TRUE(context.log.entries.empty());
}

TEST(ReleaseAll, ReleasingTheWorkingSetKeepsTheDeviceLevelObjectsAndTheLargerSizes) {
    test::RecordedContext context(1280, 720, 1920, 540);
    std::vector<std::string>* stillHeld = WatchReleases(context);
    Context().paramsDirty.store(0);

    ReleaseSizeDependentSet(Context());

    EXPECT_EQ(context.log.entries, kSizeDependentReleases);
    EXPECT_TRUE(stillHeld->empty());
    const GpuContext& c = Context();
    EXPECT_EQ(c.paramsDirty.load(), 1);
    EXPECT_EQ(c.srcW + c.srcH + c.dstW + c.dstH, 0);
    EXPECT_EQ(c.maxW, 1920);
    EXPECT_EQ(c.maxH, 720);
    EXPECT_NE(c.vertexBuffer, nullptr);
    EXPECT_NE(c.weightTable, nullptr);
    EXPECT_NE(c.device, nullptr);
    EXPECT_EQ(c.ready.load(), 1);
}

}  // namespace
}  // namespace qv::gpu
