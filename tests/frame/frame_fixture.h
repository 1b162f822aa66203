// Shared set-up for the frame-processing scenarios: a scripted host on a small clip, faults
// cleared before and after.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "frame/render_pipeline.h"
#include "gpu/gpu_context.h"
#include "gpu/gpu_lifecycle.h"
#include "host/sliders.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"
#include "support/scripted_host.h"

namespace qv::test {

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d9::testing::ClearFaults();
        win32::ClearInjectedFailures();
        gpu::Context().disabled.store(0);
        frame::ForgetPrefetchedFrame();
    }
    void TearDown() override {
        host_.reset();
        gpu::Context().disabled.store(0);
        d3d9::testing::ClearFaults();
        win32::ClearInjectedFailures();
        EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u);
    }

    // A host with a clip of `frames` frames; strengths as given (all 0 = identity at equal size).
    ScriptedHost& MakeHost(int width, int height, int frames, bool strengthsZero = true) {
        host_.reset();
        host_ = std::make_unique<ScriptedHost>(width, height, frames);
        host_->Init();
        host_->sliders[host::kWidth] = width;
        host_->sliders[host::kHeight] = height;
        if (strengthsZero) {
            host_->sliders[host::kUsm] = 0;
            host_->sliders[host::kDenoise] = 0;
            host_->sliders[host::kSharp] = 0;
        }
        host_->Update();
        // Every scenario starts with the device made, so counted operations (the weight table's
        // lock at device creation, for one) are the frame's own.
        if (!gpu::Context().ready.load()) {
            gpu::Create(host_->instance().window, host_->instance().module, host_->sliders[host::kAdapter]);
        }
        host_->ClearRecords();
        return *host_;
    }

    std::unique_ptr<ScriptedHost> host_;
};

inline bool SamePixels(const std::vector<YcPixel>& a, const std::vector<YcPixel>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].y != b[i].y || a[i].cb != b[i].cb || a[i].cr != b[i].cr) return false;
    }
    return true;
}

}  // namespace qv::test
