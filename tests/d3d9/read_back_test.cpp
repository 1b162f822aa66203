// The copy of a render target into system memory, which the stand-in puts off until the target
// is drawn again: whatever comes between (more draws, partial draws, locks held across draws,
// writes to the copy, releases, other copies, another thread), the copy holds what the target
// held when it was taken, and the target what was drawn to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "d3d9/d3d9_test_support.h"

namespace qv::d3d9::test {
namespace {

class ReadBack : public StandInTest, public ::testing::WithParamInterface<UINT> {};

INSTANTIATE_TEST_SUITE_P(BothAdapters, ReadBack, ::testing::Values(kOptimisedAdapter, kReferenceAdapter),
                         AdapterName);

constexpr UINT kWidth = 6, kHeight = 4;

// The texels a fill of (v, 0.25, v, 0.25) stores, v a multiple of 0.2 (13107 steps).
std::vector<uint16_t> Filled(float v, UINT texels = kWidth * kHeight) {
    const auto v16 = static_cast<uint16_t>(v * 65535.0f + 0.5f);
    std::vector<uint16_t> out;
    for (UINT i = 0; i < texels; ++i) {
        for (uint16_t c : {v16, uint16_t{16384}, v16, uint16_t{16384}}) out.push_back(c);
    }
    return out;
}

// Filled(v), its top-left w x h corner Filled(corner)'s texel instead.
std::vector<uint16_t> FilledWithCorner(float v, float corner, UINT w, UINT h) {
    std::vector<uint16_t> out = Filled(v);
    const std::vector<uint16_t> texel = Filled(corner, 1);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) std::copy(texel.begin(), texel.end(), out.begin() + 4 * (y * kWidth + x));
    return out;
}

// Fills the rig's target, or its top-left w x h corner, with Filled(v)'s texel.
void Fill(DrawRig& rig, float v, float w = kWidth, float h = kHeight) {
    Ref<IDirect3DVertexBuffer9> quad = CreateVertices(rig.device.get(), QuadVertices(w, h));
    rig.SetFill(v, 0.25f, v, 0.25f);
    EXPECT_EQ(rig.Draw(kFillPass, quad.get()), D3D_OK);
}

// The texels of a system-memory surface, through a lock with `flags`.
std::vector<uint16_t> Texels(IDirect3DSurface9* surface, DWORD flags = D3DLOCK_READONLY) {
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(surface->LockRect(&locked, nullptr, flags), D3D_OK);
    std::vector<uint16_t> texels(size_t{kWidth} * kHeight * 4);
    for (UINT y = 0; y < kHeight; ++y) {
        std::memcpy(texels.data() + y * kWidth * 4, static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch,
                    kWidth * 4 * sizeof(uint16_t));
    }
    EXPECT_EQ(surface->UnlockRect(), D3D_OK);
    return texels;
}

// A rig whose target holds Filled(0.2f), read back into `copy`.
struct ReadBackRig {
    DrawRig rig;
    RenderTarget copy;

    explicit ReadBackRig(UINT adapter)
        : rig(adapter, kWidth, kHeight), copy(CreateSystemCopy(rig.device.get(), kWidth, kHeight)) {
        Fill(rig, 0.2f);
        EXPECT_EQ(rig.device->GetRenderTargetData(rig.target.surface.get(), copy.surface.get()), D3D_OK);
    }
};

TEST_P(ReadBack, KeepsWhatTheTargetHeldThroughLaterDraws) {
    ReadBackRig r(GetParam());
    DrawRig& rig = r.rig;
    RenderTarget& copy = r.copy;
    EXPECT_EQ(Texels(copy.surface.get()), Filled(0.2f)) << "before the target is drawn again";
    Fill(rig, 0.6f);
    EXPECT_EQ(Texels(copy.surface.get()), Filled(0.2f));
    EXPECT_EQ(rig.Read(), Filled(0.6f));
    // Taken again, the copy follows the target.
    ASSERT_EQ(rig.device->GetRenderTargetData(rig.target.surface.get(), copy.surface.get()), D3D_OK);
    Fill(rig, 0.8f);
    EXPECT_EQ(Texels(copy.surface.get()), Filled(0.6f));
}

TEST_P(ReadBack, APartialDrawLeavesTheTargetsOtherTexels) {
    ReadBackRig r(GetParam());
    DrawRig& rig = r.rig;
    RenderTarget& copy = r.copy;
    Fill(rig, 0.6f, 2, 3);
    EXPECT_EQ(rig.Read(), FilledWithCorner(0.2f, 0.6f, 2, 3));
    EXPECT_EQ(Texels(copy.surface.get()), Filled(0.2f));
}

TEST_P(ReadBack, AReadOnlyLockHeldAcrossADrawStillSeesTheCopy) {
    ReadBackRig r(GetParam());
    DrawRig& rig = r.rig;
    RenderTarget& copy = r.copy;
    for (float w : {float(kWidth), 3.0f}) {  // a whole and a partial draw while it is held
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(copy.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        Fill(rig, 0.6f, w);
        const auto* row = static_cast<const uint16_t*>(locked.pBits);
        const std::vector<uint16_t> first(row, row + kWidth * 4);
        EXPECT_EQ(first, Filled(0.2f, kWidth)) << w;
        ASSERT_EQ(copy.surface->UnlockRect(), D3D_OK);
        EXPECT_EQ(Texels(copy.surface.get()), Filled(0.2f)) << w;
    }
}

TEST_P(ReadBack, WritingTheCopyLeavesTheTargetAlone) {
    ReadBackRig r(GetParam());
    DrawRig& rig = r.rig;
    RenderTarget& copy = r.copy;
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(copy.surface->LockRect(&locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(std::vector<uint16_t>(static_cast<const uint16_t*>(locked.pBits),
                                    static_cast<const uint16_t*>(locked.pBits) + kWidth * 4),
              Filled(0.2f, kWidth));
    for (UINT y = 0; y < kHeight; ++y) std::memset(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, 0, kWidth * 8);
    ASSERT_EQ(copy.surface->UnlockRect(), D3D_OK);
    EXPECT_EQ(rig.Read(), Filled(0.2f));
    Fill(rig, 0.6f);
    EXPECT_EQ(Texels(copy.surface.get()), std::vector<uint16_t>(size_t{kWidth} * kHeight * 4, 0));
}

TEST_P(ReadBack, TwoCopiesOfOneTargetKeepTheirOwnTexels) {
    DrawRig rig(GetParam(), kWidth, kHeight);
    RenderTarget first = CreateSystemCopy(rig.device.get(), kWidth, kHeight);
    RenderTarget second = CreateSystemCopy(rig.device.get(), kWidth, kHeight);
    RenderTarget third = CreateSystemCopy(rig.device.get(), kWidth, kHeight);
    Fill(rig, 0.2f);
    ASSERT_EQ(rig.device->GetRenderTargetData(rig.target.surface.get(), first.surface.get()), D3D_OK);
    ASSERT_EQ(rig.device->GetRenderTargetData(rig.target.surface.get(), second.surface.get()), D3D_OK);
    Fill(rig, 0.6f);
    ASSERT_EQ(rig.device->GetRenderTargetData(rig.target.surface.get(), third.surface.get()), D3D_OK);
    Fill(rig, 0.8f);
    EXPECT_EQ(Texels(first.surface.get()), Filled(0.2f));
    EXPECT_EQ(Texels(second.surface.get()), Filled(0.2f));
    EXPECT_EQ(Texels(third.surface.get()), Filled(0.6f));
    EXPECT_EQ(rig.Read(), Filled(0.8f));
}

TEST_P(ReadBack, EitherSideMayBeReleasedFirst) {
    {
        // The target goes first: the copy keeps its texels.
        ReadBackRig r(GetParam());
        RenderTarget other = CreateRenderTarget(r.rig.device.get(), kWidth, kHeight);
        ASSERT_EQ(r.rig.device->SetRenderTarget(0, other.surface.get()), D3D_OK);  // the device lets go
        r.rig.target = RenderTarget{};
        EXPECT_EQ(Texels(r.copy.surface.get()), Filled(0.2f));
    }
    {
        // The copy goes first: the target draws on as before.
        ReadBackRig r(GetParam());
        r.copy = RenderTarget{};
        Fill(r.rig, 0.6f, 2, 2);
        EXPECT_EQ(r.rig.Read(), FilledWithCorner(0.2f, 0.6f, 2, 2));
    }
}

TEST_P(ReadBack, AReaderOnAnotherThreadSeesWholeFrames) {
    // One thread draws a frame of one value and takes its copy, over and over; another reads
    // the copy through locks, most of them read-only. Every read must find a single frame, never a mix of
    // two, and a lock or a copy that meets the other's lock is refused, not torn.
    ReadBackRig r(GetParam());
    DrawRig& rig = r.rig;
    RenderTarget& copy = r.copy;
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, mixed{0};
    std::thread reader([&] {
        for (int n = 0; !done.load(); ++n) {
            // Every fourth lock writable: the copy is then settled while frames are drawn.
            D3DLOCKED_RECT locked{};
            const DWORD flags = n % 4 == 3 ? 0 : D3DLOCK_READONLY;
            if (copy.surface->LockRect(&locked, nullptr, flags) != D3D_OK) continue;
            const auto* first = static_cast<const uint16_t*>(locked.pBits);
            bool same = true;
            for (UINT y = 0; y < kHeight; ++y) {
                const auto* row = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(locked.pBits) +
                                                                    y * locked.Pitch);
                same = same && std::memcmp(row, first, kWidth * 8) == 0 &&
                       std::memcmp(row, row + 4, (kWidth - 1) * 8) == 0;
            }
            EXPECT_EQ(copy.surface->UnlockRect(), D3D_OK);
            reads.fetch_add(1);
            if (!same) mixed.fetch_add(1);
        }
    });
    // At least 200 frames, and on until the reader has read 100 times (bounded all the same).
    for (int frame = 1; frame <= 200 || (reads.load() < 100 && frame <= 1000000); ++frame) {
        Fill(rig, static_cast<float>(frame % 17) / 16.0f, frame % 3 == 0 ? 3.0f : float(kWidth));
        if (frame % 3 == 0) Fill(rig, static_cast<float>(frame % 17) / 16.0f);  // complete the frame
        const HRESULT hr = rig.device->GetRenderTargetData(rig.target.surface.get(), copy.surface.get());
        EXPECT_TRUE(hr == D3D_OK || hr == D3DERR_INVALIDCALL) << hr;
    }
    done.store(true);
    reader.join();
    EXPECT_GE(reads.load(), 100);
    EXPECT_EQ(mixed.load(), 0);
}

}  // namespace
}  // namespace qv::d3d9::test
