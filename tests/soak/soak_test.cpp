// A long save under fire. The host's processing thread saves a clip of small frames, one
// process call after the other, with the next frame rendered ahead; meanwhile its interface
// thread moves random sliders, invalidates the prefetched frame (0x464), switches the filter off
// and on (0x46D) and changes the adapter, and now and then an operation of the graphics
// stand-in or a thread start fails or the device is lost. Every frame must end either with
// result 1 and exactly the frame the reference rasteriser makes, on its own, from the same
// source with the slider values in force when the call began, or with result 0 at the source
// size and the frame after it processed again from nothing. Nothing may hang, leak or race
// (the ThreadSanitizer build runs this test too).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frame/render_pipeline.h"
#include "gpu/gpu_context.h"
#include "gpu/gpu_lifecycle.h"
#include "host/sliders.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"
#include "support/scripted_host.h"

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define QV_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define QV_SOAK_SANITIZED 1
#endif
#endif

namespace qv::test {
namespace {

constexpr int kSourceW = 24;
constexpr int kSourceH = 16;
// A sanitised build runs the same scenario on fewer frames.
#ifdef QV_SOAK_SANITIZED
constexpr int kDefaultFrames = 300;
#else
constexpr int kDefaultFrames = 2000;
#endif
// Far beyond the slowest build's run: reaching it means something waits for ever.
constexpr auto kHangLimit = std::chrono::seconds(600);

int FrameCount() {
    const char* text = std::getenv("QV_SOAK_FRAMES");
    const int n = text ? std::atoi(text) : 0;
    return n > 1 ? n : kDefaultFrames;
}

using SliderValues = std::array<int32_t, host::kSliderCount>;

bool SamePixels(const std::vector<YcPixel>& a, const std::vector<YcPixel>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const YcPixel& p, const YcPixel& q) {
               return p.y == q.y && p.cb == q.cb && p.cr == q.cr;
           });
}

// What decides a frame's pixels: the source frame and every slider but the adapter (both
// rasterisers give the same bits).
struct FrameKey {
    int frame;
    SliderValues sliders;
    bool operator<(const FrameKey& o) const {
        if (frame != o.frame) return frame < o.frame;
        return sliders < o.sliders;
    }
};

struct FrameRecord {
    int32_t result = -1;
    SliderValues sliders{};
    int width = 0, height = 0;
    std::vector<YcPixel> output;
    std::string fault;  // the failure armed for this call, if any
};

// The failures armed between frames: operations whose failure the module detects. (Draws and
// constant uploads inside a scene are not looked at by design, so their failures are not armed:
// they would show as wrong pixels with result 1.)
struct Fault {
    const char* operation;
    HRESULT code;
    int maxNth;  // armed on one of the next 1..maxNth calls
};
constexpr Fault kFaults[] = {
    {"TestCooperativeLevel", D3DERR_DEVICELOST, 1},
    {"GetRenderTargetData", D3DERR_DEVICELOST, 2},
    {"GetRenderTargetData", D3DERR_DRIVERINTERNALERROR, 2},
    {"EndScene", D3DERR_INVALIDCALL, 2},
    {"SetVertexDeclaration", D3DERR_INVALIDCALL, 2},
    {"LockRect", D3DERR_INVALIDCALL, 4},
    {"UnlockRect", D3DERR_INVALIDCALL, 4},
    {"D3DXCreateTexture", D3DERR_OUTOFVIDEOMEMORY, 14},
    {"GetSurfaceLevel", D3DERR_INVALIDCALL, 12},
    {"CreateVertexBuffer", D3DERR_OUTOFVIDEOMEMORY, 1},
    {"CreateDevice", D3DERR_NOTAVAILABLE, 1},
    {"CreateVertexDeclaration", E_OUTOFMEMORY, 1},
    {"D3DXCreateEffect", E_OUTOFMEMORY, 1},
};
constexpr int kFaultKinds = static_cast<int>(sizeof(kFaults) / sizeof(kFaults[0]));
constexpr const char* kThreadStartFault = "CreateThread";

// Counts of what the interface thread did, and of what it found in flight.
struct InterfaceCounts {
    std::atomic<int> sliderMoves{0}, invalidations{0}, switches{0}, adapterChanges{0}, duringFlight{0};
};

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        d3d9::testing::ClearFaults();
        win32::ClearInjectedFailures();
        gpu::Context().disabled.store(0);
        frame::ForgetPrefetchedFrame();
    }
    void TearDown() override {
        d3d9::testing::ClearFaults();
        win32::ClearInjectedFailures();
        win32::SetMessageBoxHandler(nullptr);
    }
};

void RandomStrengths(std::mt19937& rng, int32_t* sliders, int count) {
    const int picks[] = {host::kUsm, host::kRadius, host::kMax, host::kMin, host::kDenoise, host::kRecovery, host::kSharp};
    for (int i = 0; i < count; ++i) {
        const int s = picks[rng() % 7];
        const host::SliderSpec& range = host::kSliderSpecs[s];
        // A strength of 0 takes its passes out of the chain: pick it often.
        const bool zero = range.minimum == 0 && rng() % 4 == 0;
        sliders[s] = zero ? 0 : range.minimum + static_cast<int32_t>(rng() % static_cast<uint32_t>(range.maximum - range.minimum + 1));
    }
}

TEST_F(Soak, SavingWhileTheInterfaceThreadAndFaultsInterfere) {
    const int frames = FrameCount();
    std::map<std::string, int> boxes;
    std::mutex boxMutex;

    std::vector<FrameRecord> records(static_cast<size_t>(frames));
    InterfaceCounts ui;
    std::map<std::string, int> armed;
    size_t liveHandlesAfterInit = 0;
    {
        ScriptedHost host(kSourceW, kSourceH, frames);
        // Boxes are counted; a failed device creation is answered Retry, so the GPU path is
        // never given up and every frame is the filter's.
        win32::SetMessageBoxHandler([&](HWND, const std::string& text, const std::string&, UINT type) {
            std::lock_guard<std::mutex> lock(boxMutex);
            ++boxes[text];
            return (type & 0xF) == MB_RETRYCANCEL ? IDRETRY : IDOK;
        });
        ASSERT_EQ(host.Init(), 1);
        liveHandlesAfterInit = win32::LiveHandleCount();
        host.saving = 1;
        host.sliders[host::kWidth] = 32;
        host.sliders[host::kHeight] = 20;
        host.Update();

        // The host's own rule: a slider change and the update callback that announces it are one
        // step of its interface thread, never split by a process call. Window messages and
        // faults need no such step and meet the process calls at the module's own lock.
        std::mutex hostLock;
        std::atomic<bool> done{false};

        // The watchdog: a hang ends the test loudly instead of stalling the suite.
        std::mutex watchMutex;
        std::condition_variable watchWake;
        std::atomic<int> currentFrame{-1};
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(watchMutex);
            if (!watchWake.wait_for(lock, kHangLimit, [&] { return done.load(); })) {
                std::fprintf(stderr, "soak: no progress within the limit at frame %d; the pipeline hangs\n",
                             currentFrame.load());
                std::abort();
            }
        });

        std::thread interfaceThread([&] {
            std::mt19937 rng(20240611);
            while (!done.load()) {
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 400));
                if (frame::Pipeline().inFlight.load()) ++ui.duringFlight;
                const uint32_t action = rng() % 100;
                if (action < 55) {
                    std::lock_guard<std::mutex> lock(hostLock);
                    if (rng() % 3 == 0) {
                        host.sliders[host::kWidth] = 8 + static_cast<int32_t>(rng() % 41);
                        host.sliders[host::kHeight] = 8 + static_cast<int32_t>(rng() % 41);
                    }
                    RandomStrengths(rng, host.sliders, 1 + static_cast<int>(rng() % 3));
                    host.Update();
                    ++ui.sliderMoves;
                } else if (action < 75) {
                    host.WindowMessage(host::kMessageInvalidate);
                    ++ui.invalidations;
                } else if (action < 88) {
                    host.filterActive = 0;
                    host.WindowMessage(host::kMessageFilterSwitched);
                    host.filterActive = 1;
                    host.WindowMessage(host::kMessageFilterSwitched);
                    ++ui.switches;
                } else {
                    std::lock_guard<std::mutex> lock(hostLock);
                    host.sliders[host::kAdapter] = 1 - host.sliders[host::kAdapter];
                    host.Update();
                    ++ui.adapterChanges;
                }
            }
        });

        // The processing thread: this one.
        std::mt19937 rng(777);
        int callsSinceArmed = 2;
        for (int n = 0; n < frames; ++n) {
            currentFrame = n;
            FrameRecord& r = records[static_cast<size_t>(n)];
            // Whatever did not fire is taken back after the call. A call also starts the next
            // frame on the render thread, which may meet the failure after the call returned, so
            // the next frame may fail for it too; the one after that runs clean. Failures are
            // armed at most every third call.
            const bool arm = callsSinceArmed >= 2 && rng() % 6 == 0;
            if (arm) {
                if (rng() % 10 == 0) {
                    win32::InjectFailure(kThreadStartFault, 1);
                    r.fault = kThreadStartFault;
                } else {
                    const Fault& f = kFaults[rng() % kFaultKinds];
                    d3d9::testing::FailOperation(f.operation, 1 + static_cast<int>(rng() % f.maxNth), f.code);
                    r.fault = f.operation;
                }
                ++armed[r.fault];
            }
            {
                std::lock_guard<std::mutex> lock(hostLock);
                std::copy(host.sliders, host.sliders + host::kSliderCount, r.sliders.begin());
                r.result = host.Process(n);
                r.width = host.outputWidth();
                r.height = host.outputHeight();
                r.output = host.Output();
            }
            if (arm) {
                d3d9::testing::ClearFaults();
                win32::ClearInjectedFailures();
            }
            callsSinceArmed = arm ? 0 : callsSinceArmed + 1;
            // The host encodes the frame while the next one renders.
            if (rng() % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
        }
        done = true;
        watchWake.notify_all();
        interfaceThread.join();
        watchdog.join();
        win32::SetMessageBoxHandler(nullptr);
    }
    // The host is gone and with it the filter (exit callback): nothing may be left behind.
    EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u);
    EXPECT_EQ(win32::LiveHandleCount(), liveHandlesAfterInit);
    EXPECT_EQ(frame::Pipeline().renderThread, nullptr);

    // Every frame again, one at a time, on the reference rasteriser, from a fresh start.
    auto oracle = std::make_unique<ScriptedHost>(kSourceW, kSourceH, frames);
    ASSERT_EQ(oracle->Init(), 1);
    oracle->saving = 0;
    const auto renderAlone = [&](int n, const SliderValues& sliders, int32_t adapter) {
        std::copy(sliders.begin(), sliders.end(), oracle->sliders);
        oracle->sliders[host::kAdapter] = adapter;
        EXPECT_EQ(oracle->Update(), 1);
        EXPECT_EQ(oracle->Process(n), 1) << "frame " << n << " alone on adapter " << adapter;
        return oracle->Output();
    };
    std::map<FrameKey, std::vector<YcPixel>> expected;
    for (int n = 0; n < frames; ++n) {
        const FrameRecord& r = records[static_cast<size_t>(n)];
        if (r.result != 1) continue;
        FrameKey key{n, r.sliders};
        key.sliders[host::kAdapter] = 0;
        if (!expected.count(key)) expected[key] = renderAlone(n, key.sliders, 1);
    }

    int ok = 0, failed = 0, wrong = 0, failedWithoutCause = 0;
    std::map<std::string, int> failuresByFault;
    for (int n = 0; n < frames; ++n) {
        const FrameRecord& r = records[static_cast<size_t>(n)];
        if (r.result == 1) {
            ++ok;
            FrameKey key{n, r.sliders};
            key.sliders[host::kAdapter] = 0;
            const std::vector<YcPixel>& want = expected[key];
            const bool same = r.width == r.sliders[host::kWidth] && r.height == r.sliders[host::kHeight] &&
                              SamePixels(r.output, want);
            if (!same && ++wrong <= 5) {
                int differing = 0, largest = 0;
                for (size_t i = 0; i < std::min(want.size(), r.output.size()); ++i) {
                    const int d = std::max({std::abs(r.output[i].y - want[i].y), std::abs(r.output[i].cb - want[i].cb),
                                            std::abs(r.output[i].cr - want[i].cr)});
                    differing += d != 0;
                    largest = std::max(largest, d);
                }
                std::string values;
                for (const int32_t v : r.sliders) values += " " + std::to_string(v);
                // Told apart: the optimised rasteriser disagreeing with the reference, or the
                // pipeline delivering some other frame.
                const bool optimisedAgrees = SamePixels(renderAlone(n, key.sliders, 0), want);
                ADD_FAILURE() << "frame " << n << " (" << (r.fault.empty() ? "no fault" : r.fault) << ", "
                              << r.width << "x" << r.height << ", sliders" << values
                              << ") is not the reference frame for its sliders: " << differing
                              << " pixels differ, by up to " << largest
                              << (optimisedAgrees ? "; rendered alone, the optimised rasteriser gives the reference frame"
                                                  : "; the optimised rasteriser disagrees with the reference even alone");
            }
            continue;
        }
        ++failed;
        // The cause: the failure armed for this call, or the one armed for the call before,
        // met by the frame that call started ahead.
        const std::string& before = n > 0 ? records[static_cast<size_t>(n - 1)].fault : std::string();
        const std::string cause = !r.fault.empty() ? r.fault : !before.empty() ? before + " (ahead)" : "";
        ++failuresByFault[cause.empty() ? "none" : cause];
        EXPECT_EQ(r.result, 0) << "frame " << n;
        // A failed call leaves the request at the source size.
        EXPECT_EQ(r.width, kSourceW) << "frame " << n;
        EXPECT_EQ(r.height, kSourceH) << "frame " << n;
        if (cause.empty() && ++failedWithoutCause <= 5) {
            ADD_FAILURE() << "frame " << n << " failed with no failure armed for it or for the call before";
        }
    }
    EXPECT_EQ(wrong, 0);
    // Only an armed failure fails a frame; as the calls two after an armed one run clean, this
    // also says that every failure is followed by a frame processed again from nothing.
    EXPECT_EQ(failedWithoutCause, 0);
    oracle.reset();
    EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u);
    // The scenario really did what it claims.
    EXPECT_GT(failed, 0);
    EXPECT_GT(ui.sliderMoves.load(), 0);
    EXPECT_GT(ui.adapterChanges.load(), 0);
    EXPECT_GT(ui.switches.load(), 0);

    std::printf("soak: %d frames: %d processed, %d failed; %zu distinct reference frames\n", frames, ok, failed,
                expected.size());
    std::printf("soak: interface thread: %d slider moves, %d invalidations, %d off/on switches, %d adapter changes, "
                "%d of them with a frame in flight\n",
                ui.sliderMoves.load(), ui.invalidations.load(), ui.switches.load(), ui.adapterChanges.load(),
                ui.duringFlight.load());
    std::string armedText, failedText, boxText;
    for (const auto& [name, count] : armed) armedText += " " + name + "=" + std::to_string(count);
    for (const auto& [name, count] : failuresByFault) failedText += " " + name + "=" + std::to_string(count);
    for (const auto& [text, count] : boxes) boxText += " [" + text + "]=" + std::to_string(count);
    std::printf("soak: armed:%s\nsoak: failed frames by armed fault:%s\nsoak: boxes:%s\n", armedText.c_str(),
                failedText.c_str(), boxText.c_str());
}

}  // namespace
}  // namespace qv::test
