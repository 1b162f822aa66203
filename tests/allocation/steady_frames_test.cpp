// Once a video's first frames have run, later frames allocate nothing from the heap: textures,
// row buffers, resampling plans, pass bindings and band jobs are all kept from the frames
// before. Every operator new of this test program is counted while the steady frames run, on
// every thread (the render-ahead thread and the device's workers included).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <ostream>

#include "frame/render_pipeline.h"
#include "gpu/gpu_context.h"
#include "host/sliders.h"
#include "platform/d3d9/d3d9.h"
#include "support/scripted_host.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void* Allocate(std::size_t bytes) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void* AllocateAligned(std::size_t bytes, std::align_val_t alignment) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    const auto a = static_cast<std::size_t>(alignment);
    return std::aligned_alloc(a, (bytes + a - 1) / a * a);
}

}  // namespace

// The replacements below pair malloc with free themselves; the compiler, seeing free in an
// operator delete, would take it for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t bytes) {
    if (void* p = Allocate(bytes)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) {
    if (void* p = Allocate(bytes)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void* operator new(std::size_t bytes, std::align_val_t alignment) {
    if (void* p = AllocateAligned(bytes, alignment)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
    if (void* p = AllocateAligned(bytes, alignment)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace qv::test {
namespace {

constexpr int kWarmFrames = 3;
constexpr int kSteadyFrames = 4;

struct SizeCase {
    const char* name;
    int srcW, srcH, dstW, dstH;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.srcW << "x" << c.srcH << " -> " << c.dstW << "x" << c.dstH;
}

class SteadyFramesTest : public ::testing::TestWithParam<SizeCase> {
protected:
    void SetUp() override {
        gpu::Context().disabled.store(0);
        frame::ForgetPrefetchedFrame();
    }
    void TearDown() override { gCounting.store(false); }

    // Heap allocations made while the steady frames run, after the warm-up frames.
    long SteadyAllocations(bool saving) {
        const SizeCase& c = GetParam();
        ScriptedHost host(c.srcW, c.srcH, kWarmFrames + kSteadyFrames);
        host.fetched.reserve(16 * (kWarmFrames + kSteadyFrames));
        host.Init();
        host.sliders[host::kWidth] = c.dstW;
        host.sliders[host::kHeight] = c.dstH;
        host.Update();
        host.saving.store(saving ? 1 : 0);
        for (int f = 0; f < kWarmFrames; ++f) EXPECT_EQ(host.Process(f), 1) << "warm-up frame " << f;
        gAllocations.store(0);
        gCounting.store(true);
        for (int f = kWarmFrames; f < kWarmFrames + kSteadyFrames; ++f) EXPECT_EQ(host.Process(f), 1) << "frame " << f;
        gCounting.store(false);
        EXPECT_EQ(host.outputWidth(), c.dstW);
        EXPECT_EQ(host.outputHeight(), c.dstH);
        EXPECT_TRUE(host.boxes.empty());
        return gAllocations.load();
    }
};

TEST_P(SteadyFramesTest, SavingWithRenderAheadAllocatesNothing) { EXPECT_EQ(SteadyAllocations(true), 0); }

TEST_P(SteadyFramesTest, PreviewFramesAllocateNothing) { EXPECT_EQ(SteadyAllocations(false), 0); }

// Enlarged (upscale plans), equal, reduced (downscale plans) in both directions, and mixed.
INSTANTIATE_TEST_SUITE_P(Sizes, SteadyFramesTest,
                         ::testing::Values(SizeCase{"up", 160, 90, 240, 135}, SizeCase{"equal", 120, 72, 120, 72},
                                           SizeCase{"down", 240, 136, 100, 70}, SizeCase{"mixed", 120, 90, 190, 61}),
                         [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace qv::test
