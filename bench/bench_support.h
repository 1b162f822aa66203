// What every benchmark of the passes and transfers shares: worker pools that live for the whole
// run, the sample clip as input, and the memcpy of the same bytes timed beside each run.
#pragma once

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/worker_pool.h"
#include "host/sliders.h"
#include "platform/d3d9/pixel_program.h"

namespace qv::bench {

using Clock = std::chrono::steady_clock;

double SecondsBetween(Clock::time_point a, Clock::time_point b);

// A pool of `threads` workers, made on first use and kept, so no benchmark pays for threads.
WorkerPool& SharedPool(int threads);
// The benchmark's argument as a worker count: 0 means one per hardware thread.
int ThreadsArgument(const benchmark::State& state);

// The sliders at the module's defaults.
std::array<int32_t, host::kSliderCount> DefaultSliders();

// One 4:2:0 frame of the sample clip (8-bit planes); empty when the clip cannot be read.
struct SamplePlanes {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, cb, cr;
};
// Frame `index` of the sample clip, counted modulo the clip's length.
SamplePlanes ReadSampleFrame(int index);

// Working texels (four 16-bit channels) of the sample's first frame enlarged to width x height
// by repetition: luma in host steps with uniform noise of +-`noise`, neutral chroma, and in
// channel w a little noise when `noisySide` (what a detail pass finds there after denoise),
// else 0. An unreadable clip leaves noise on grey, which times the same.
std::vector<uint16_t> NoisySampleTexels(int width, int height, unsigned seed, int noise, bool noisySide);

// Views of a width x height image of four 16-bit channels a texel, rows back to back.
gfx::TextureView ImageView(const std::vector<uint16_t>& texels, int width, int height);
gfx::TargetView ImageTarget(std::vector<uint16_t>& texels, int width, int height);
// The weight table (four floats an entry) as the device binds it: point when minified, linear
// when magnified.
gfx::SamplerBinding WeightTableBinding(const std::vector<float>& table);

// A memcpy of `bytes` split into equal parts over a pool's workers: the machine's speed limit
// for moving that many bytes, timed beside each benchmark.
class CopyBaseline {
public:
    explicit CopyBaseline(size_t bytes);
    size_t Bytes() const { return from_.size(); }
    // Seconds one copy took.
    double Run(WorkerPool& pool);

private:
    std::vector<uint8_t> from_;
    std::vector<uint8_t> to_;
};

// Seconds summed over a benchmark's iterations.
struct Timing {
    double workSeconds = 0.0;
    double copySeconds = 0.0;
    double iterations = 0.0;
};

// Times `work` once per iteration and, outside the measured time, the copy after each run;
// one untimed run of each first.
Timing TimeAgainstCopy(benchmark::State& state, WorkerPool& pool, CopyBaseline& copy, const std::function<void()>& work);

// ms/frame, MP/s (of `pixels` a frame), memcpy_ms and threads.
void ReportFrame(benchmark::State& state, const Timing& timing, double pixels, const WorkerPool& pool);

// A pixel program's optimised variant on `ctx`, timed against a copy of `copyBytes`; reports
// per frame of the drawn pixels. Skips when the program is not registered.
void RunProgram(benchmark::State& state, WorkerPool& pool, const char* name, const gfx::DrawContext& ctx,
                size_t copyBytes);

}  // namespace qv::bench
