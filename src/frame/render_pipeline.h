// The render-ahead pipeline: Render prepares frame n on the processing thread and wakes the
// render thread; Acquire obtains frame n's result; Stop ends the render thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/host_records.h"
#include "platform/win32/win32.h"

namespace qv::frame {

struct PipelineState {
    HANDLE startEvent = nullptr;
    HANDLE doneEvent = nullptr;
    HANDLE renderThread = nullptr;
    std::atomic<int32_t> stop{0};
    std::atomic<int32_t> error{0};
    std::atomic<int32_t> prefetched{-1};
    std::atomic<int32_t> stale{0};
    // 1 from the start signal Render gives until the processing thread (or Stop) took the done
    // signal that answers it: acquire waits only for a frame that is really in flight.
    std::atomic<int32_t> inFlight{0};
};

PipelineState& Pipeline();

// Creates the start and done events (init callback).
bool CreateEvents();

bool Render(FilterInstance* instance, FrameRequest* request, int32_t n);
bool Acquire(FilterInstance* instance, FrameRequest* request, int32_t n);
// Ends the render thread if one is recorded (first step of release all). Waits for the thread
// to end and drops any start or done signal left pending, so a later thread or wait never
// takes a leftover for a new signal.
void Stop();

// Drops the prefetched frame: no frame number, no stale flag (a stale flag without a frame
// would make acquire wait for a done signal that never comes).
void ForgetPrefetchedFrame();

}  // namespace qv::frame
