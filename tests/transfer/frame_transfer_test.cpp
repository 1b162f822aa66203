// Upload and download of whole frames: what is locked and how, the pitches on both sides,
// the conversion finished before the unlock, and every failure with its box and its release.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "gpu/gpu_context.h"
#include "host/host_records.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"
#include "transfer/frame_transfer.h"
#include "transfer/packed_frame.h"

namespace qv::test {
namespace {

constexpr uint16_t kUntouched = 0x5A5A;

// A lockable block of texel rows with a padded pitch, as the graphics stand-in reports it.
struct LockableBits {
    LockableBits(int texelsPerRow, int rows, int padBytes)
        : pitchBytes(texelsPerRow * 8 + padBytes),
          rows(rows),
          bits(static_cast<size_t>(pitchBytes / 2) * rows, kUntouched) {}

    HRESULT Lock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
        ++locks;
        lockFlags = flags;
        lockedWholeArea = rect == nullptr;
        if (FAILED(lockResult)) return lockResult;
        locked->Pitch = pitchBytes;
        locked->pBits = bits.data();
        return D3D_OK;
    }
    HRESULT Unlock() {
        ++unlocks;
        atUnlock = bits;
        return unlockResult;
    }
    uint16_t* Row(int r) { return bits.data() + static_cast<size_t>(r) * (pitchBytes / 2); }

    int pitchBytes;
    int rows;
    std::vector<uint16_t> bits;
    std::vector<uint16_t> atUnlock;  // the content when it was unlocked
    HRESULT lockResult = D3D_OK;
    HRESULT unlockResult = D3D_OK;
    int locks = 0;
    int unlocks = 0;
    DWORD lockFlags = 0;
    bool lockedWholeArea = false;
    int releases = 0;
};

class FakeTexture final : public IDirect3DTexture9 {
public:
    explicit FakeTexture(LockableBits& b) : b_(b) {}
    ULONG AddRef() override { return 2; }
    ULONG Release() override {
        ++b_.releases;
        return 1;
    }
    HRESULT GetLevelDesc(UINT, D3DSURFACE_DESC*) override { return E_FAIL; }
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9**) override { return E_FAIL; }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        lockedLevel = level;
        return b_.Lock(locked, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override {
        unlockedLevel = level;
        return b_.Unlock();
    }
    UINT lockedLevel = 99;
    UINT unlockedLevel = 99;

private:
    LockableBits& b_;
};

class FakeSurface final : public IDirect3DSurface9 {
public:
    explicit FakeSurface(LockableBits& b) : b_(b) {}
    ULONG AddRef() override { return 2; }
    ULONG Release() override {
        ++b_.releases;
        return 1;
    }
    HRESULT GetDesc(D3DSURFACE_DESC*) override { return E_FAIL; }
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        return b_.Lock(locked, rect, flags);
    }
    HRESULT UnlockRect() override { return b_.Unlock(); }

private:
    LockableBits& b_;
};

struct Box {
    std::string text;
    std::string caption;
    bool readBackHeldAtBox;
};

// A minimal host: frames of full-range samples, rows back to back, and three worker threads.
class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        current_ = this;
        services_.FetchSourceFrame = Fetch;
        services_.RunOnWorkerThreads = RunWorkers;
        instance_.services = &services_;
        request_.edit = &editHandle_;
        win32::SetMessageBoxHandler([this](HWND, const std::string& text, const std::string& caption, UINT) {
            boxes_.push_back(Box{text, caption, gpu::Context().readBackSurface != nullptr});
            return IDOK;
        });
    }
    void TearDown() override {
        win32::SetMessageBoxHandler(nullptr);
        gpu::GpuContext& c = gpu::Context();
        c.textures[1] = nullptr;
        c.readBackSurface = nullptr;
        c.srcW = c.srcH = c.dstW = c.dstH = 0;
        current_ = nullptr;
    }

    void MakeSource(int w, int h, int frames) {
        sourceWidth_ = w;
        frames_.clear();
        std::mt19937 rng(w * 31 + h);
        for (int f = 0; f < frames; ++f) {
            std::vector<YcPixel> frame(static_cast<size_t>(w) * h);
            for (YcPixel& p : frame) {
                p.y = static_cast<int16_t>(rng());
                p.cb = static_cast<int16_t>(rng());
                p.cr = static_cast<int16_t>(rng());
            }
            frames_.push_back(frame);
        }
    }

    static YcPixel* Fetch(FilterInstance* instance, EditHandle edit, int32_t frame, int32_t* w, int32_t* h) {
        TransferTest* t = current_;
        t->fetchCalls_.push_back(frame);
        EXPECT_EQ(instance, &t->instance_);
        EXPECT_EQ(edit, &t->editHandle_);
        EXPECT_EQ(w, nullptr);
        EXPECT_EQ(h, nullptr);
        if (frame < 0 || frame >= static_cast<int32_t>(t->frames_.size())) return nullptr;
        return t->frames_[frame].data();
    }
    static int32_t RunWorkers(WorkerFunction fn, void* p1, void* p2) {
        ++current_->workerRuns_;
        current_->pool_.RunOnEach([&](int i, int n) { fn(i, n, p1, p2); });
        return 1;
    }

    static inline TransferTest* current_ = nullptr;
    WorkerPool pool_{3};
    HostServices services_{};
    FilterInstance instance_{};
    FrameRequest request_{};
    int editHandle_ = 0;
    int sourceWidth_ = 0;
    std::vector<std::vector<YcPixel>> frames_;
    std::vector<int32_t> fetchCalls_;
    int workerRuns_ = 0;
    std::vector<Box> boxes_;
};

int16_t Stored(int16_t sample, int component) {
    return static_cast<int16_t>(std::clamp(sample + (component ? 2048 : 0), 0, 4096));
}

TEST_F(TransferTest, UploadConvertsTheSourceIntoTexBeforeUnlockingIt) {
    const int w = 13, h = 5;  // rows of 39 samples: the host's pitch is not a multiple of 8 pixels
    MakeSource(w, h, 3);
    LockableBits bits(transfer::PackedTexelWidth(w), h, 24);
    FakeTexture tex(bits);
    gpu::GpuContext& c = gpu::Context();
    c.textures[1] = &tex;
    c.srcW = w;
    c.srcH = h;

    ASSERT_TRUE(transfer::UploadFrame(&instance_, &request_, 2));
    EXPECT_EQ(fetchCalls_, std::vector<int32_t>{2});
    EXPECT_EQ(workerRuns_, 1);
    EXPECT_EQ(bits.locks, 1);
    EXPECT_EQ(bits.unlocks, 1);
    EXPECT_EQ(tex.lockedLevel, 0u);
    EXPECT_EQ(tex.unlockedLevel, 0u);
    EXPECT_EQ(bits.lockFlags, 0x2800u);
    EXPECT_TRUE(bits.lockedWholeArea);
    EXPECT_TRUE(boxes_.empty());

    const int pitch = bits.pitchBytes / 2;
    for (int y = 0; y < h; ++y) {
        for (int k = 0; k < pitch; ++k) {
            const uint16_t got = bits.atUnlock[static_cast<size_t>(y) * pitch + k];
            if (k < 3 * w) {
                const YcPixel& p = frames_[2][static_cast<size_t>(y) * w + k / 3];
                const int16_t sample = k % 3 == 0 ? p.y : (k % 3 == 1 ? p.cb : p.cr);
                ASSERT_EQ(got, static_cast<uint16_t>(Stored(sample, k % 3))) << "row " << y << " sample " << k;
            } else {
                ASSERT_EQ(got, kUntouched) << "row " << y << " sample " << k;
            }
        }
    }
}

TEST_F(TransferTest, UploadLockFailureShowsItsBoxAndReleasesNothing) {
    MakeSource(8, 2, 1);
    LockableBits bits(transfer::PackedTexelWidth(8), 2, 0);
    bits.lockResult = D3DERR_INVALIDCALL;
    FakeTexture tex(bits);
    gpu::GpuContext& c = gpu::Context();
    c.textures[1] = &tex;
    c.srcW = 8;
    c.srcH = 2;

    EXPECT_FALSE(transfer::UploadFrame(&instance_, &request_, 0));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "LockRectに失敗");
    EXPECT_EQ(boxes_[0].caption, "warning");
    EXPECT_TRUE(fetchCalls_.empty());
    EXPECT_EQ(bits.unlocks, 0);
    EXPECT_EQ(bits.releases, 0);
    EXPECT_EQ(c.textures[1], &tex);
}

TEST_F(TransferTest, UploadUnlockFailureShowsItsBoxAfterConverting) {
    MakeSource(9, 2, 1);
    LockableBits bits(transfer::PackedTexelWidth(9), 2, 0);
    bits.unlockResult = D3DERR_INVALIDCALL;
    FakeTexture tex(bits);
    gpu::GpuContext& c = gpu::Context();
    c.textures[1] = &tex;
    c.srcW = 9;
    c.srcH = 2;

    EXPECT_FALSE(transfer::UploadFrame(&instance_, &request_, 0));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "UnlockRectに失敗");
    EXPECT_EQ(boxes_[0].caption, "warning");
    EXPECT_EQ(workerRuns_, 1);
    EXPECT_EQ(bits.atUnlock[0], static_cast<uint16_t>(Stored(frames_[0][0].y, 0)));
    EXPECT_EQ(bits.releases, 0);
    EXPECT_EQ(c.textures[1], &tex);
}

TEST_F(TransferTest, UploadWithoutTexOrWithoutASourceFrameFailsCleanly) {
    MakeSource(4, 1, 1);
    gpu::GpuContext& c = gpu::Context();
    c.srcW = 4;
    c.srcH = 1;
    EXPECT_FALSE(transfer::UploadFrame(&instance_, &request_, 0));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "LockRectに失敗");

    // A frame the host cannot deliver: the texture is still unlocked, and the box names the call.
    boxes_.clear();
    LockableBits bits(transfer::PackedTexelWidth(4), 1, 0);
    FakeTexture tex(bits);
    c.textures[1] = &tex;
    EXPECT_FALSE(transfer::UploadFrame(&instance_, &request_, 7));
    EXPECT_EQ(bits.locks, 1);
    EXPECT_EQ(bits.unlocks, 1);
    EXPECT_EQ(workerRuns_, 0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "FetchSourceFrameに失敗");
    EXPECT_EQ(boxes_[0].caption, "warning");
}

class DownloadTest : public TransferTest {
protected:
    static constexpr int kW = 11, kH = 4, kRowLength = 20, kBufferRows = 6;

    void SetUp() override {
        TransferTest::SetUp();
        std::mt19937 rng(3);
        for (int y = 0; y < kH; ++y)
            for (int k = 0; k < 4 * transfer::PackedTexelWidth(kW); ++k) bits_.Row(y)[k] = static_cast<uint16_t>(rng());
        bits_.Row(0)[0] = 4096;  // the example texel: full luma, lowest and highest chroma
        bits_.Row(0)[1] = 0;
        bits_.Row(0)[2] = 4096;
        bits_.Row(1)[0] = 65535;
        edit_.assign(static_cast<size_t>(kRowLength) * kBufferRows, YcPixel{0x5A5A, 0x5A5A, 0x5A5A});
        request_.editBuffer = edit_.data();
        request_.rowLength = kRowLength;
        gpu::GpuContext& c = gpu::Context();
        c.readBackSurface = &surface_;
        c.dstW = kW;
        c.dstH = kH;
    }

    bool EditUntouched() const {
        return std::all_of(edit_.begin(), edit_.end(),
                           [](const YcPixel& p) { return p.y == 0x5A5A && p.cb == 0x5A5A && p.cr == 0x5A5A; });
    }

    // The converted pixels in the first kW of each of kH rows; nothing written elsewhere.
    void ExpectConverted() const {
        for (int y = 0; y < kBufferRows; ++y) {
            for (int x = 0; x < kRowLength; ++x) {
                const YcPixel& p = edit_[static_cast<size_t>(y) * kRowLength + x];
                const int16_t got[3] = {p.y, p.cb, p.cr};
                for (int c = 0; c < 3; ++c) {
                    int16_t want = 0x5A5A;
                    if (y < kH && x < kW) {
                        const int16_t stored = static_cast<int16_t>(
                            bits_.bits[static_cast<size_t>(y) * (bits_.pitchBytes / 2) + 3 * x + c]);
                        want = static_cast<int16_t>(std::clamp<int>(stored, 0, 4096) - (c ? 2048 : 0));
                    }
                    ASSERT_EQ(got[c], want) << "pixel " << x << ", row " << y << ", component " << c;
                }
            }
        }
    }

    LockableBits bits_{transfer::PackedTexelWidth(kW), kH, 40};
    FakeSurface surface_{bits_};
    std::vector<YcPixel> edit_;
};

TEST_F(DownloadTest, ConvertsTheReadBackSurfaceIntoTheEditBuffer) {
    ASSERT_TRUE(transfer::DownloadFrame(&instance_, &request_));
    EXPECT_EQ(bits_.locks, 1);
    EXPECT_EQ(bits_.unlocks, 1);
    EXPECT_EQ(bits_.lockFlags, 0x10u);
    EXPECT_TRUE(bits_.lockedWholeArea);
    EXPECT_EQ(workerRuns_, 1);
    EXPECT_TRUE(boxes_.empty());
    ExpectConverted();
    EXPECT_EQ(edit_[0].y, 4096);
    EXPECT_EQ(edit_[0].cb, -2048);
    EXPECT_EQ(edit_[0].cr, 2048);
    EXPECT_EQ(edit_[kRowLength].y, 0);
}

TEST_F(DownloadTest, LockFailureReleasesEverythingThenShowsItsBox) {
    bits_.lockResult = D3DERR_INVALIDCALL;
    EXPECT_FALSE(transfer::DownloadFrame(&instance_, &request_));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "LockRectに失敗");
    EXPECT_EQ(boxes_[0].caption, "warning");
    EXPECT_FALSE(boxes_[0].readBackHeldAtBox);
    EXPECT_EQ(gpu::Context().readBackSurface, nullptr);
    EXPECT_EQ(bits_.releases, 1);
    EXPECT_EQ(gpu::Context().ready.load(), 0);
    EXPECT_EQ(bits_.unlocks, 0);
    EXPECT_TRUE(EditUntouched());
}

TEST_F(DownloadTest, UnlockFailureReleasesEverythingWithTheFrameAlreadyConverted) {
    bits_.unlockResult = D3DERR_INVALIDCALL;
    EXPECT_FALSE(transfer::DownloadFrame(&instance_, &request_));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "UnlockRectに失敗");
    EXPECT_EQ(boxes_[0].caption, "warning");
    EXPECT_FALSE(boxes_[0].readBackHeldAtBox);
    EXPECT_EQ(gpu::Context().readBackSurface, nullptr);
    EXPECT_EQ(bits_.releases, 1);
    ExpectConverted();
}

TEST_F(DownloadTest, AMissingReadBackSurfaceCountsAsAFailedLock) {
    gpu::Context().readBackSurface = nullptr;
    EXPECT_FALSE(transfer::DownloadFrame(&instance_, &request_));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "LockRectに失敗");
    EXPECT_TRUE(EditUntouched());
}

}  // namespace
}  // namespace qv::test
