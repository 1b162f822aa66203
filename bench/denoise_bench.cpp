// The denoise program (p1) on the optimised rasteriser at 1920x1080: on one worker and on all
// cores, and on one worker for each SIMD target compiled in. The input is the sample clip's
// first frame enlarged to 1080p with noise added, at the default strength (slider 75). Each run
// also times, outside the measured time, a memcpy of the output image's bytes on the same
// workers: ms per frame and megapixels per second of the program, the memcpy's ms beside it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <hwy/targets.h>

#include "bench_support.h"
#include "effect/constant_blocks.h"
#include "gpu/filter_constants.h"
#include "passes/denoise.h"
#include "passes/program_names.h"

namespace {

using qv::bench::SharedPool;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDefaultSlider = 75;
constexpr int kNoise = 60;  // host steps

struct Draw {
    Draw() : input(qv::bench::NoisySampleTexels(kWidth, kHeight, 11, kNoise, false)), output(input.size()) {
        params.H2 = qv::gpu::ComputeH2(qv::gpu::Percent(kDefaultSlider));
        scale = qv::gpu::ComputeScale(kWidth, kHeight, kWidth, kHeight);
        ctx.samplers[qv::passes::kDenoiseInputSampler].texture = qv::bench::ImageView(input, kWidth, kHeight);
        ctx.params = reinterpret_cast<const uint8_t*>(&params);
        ctx.scale = reinterpret_cast<const uint8_t*>(&scale);
        ctx.weight = reinterpret_cast<const uint8_t*>(&weight);
        ctx.target = qv::bench::ImageTarget(output, kWidth, kHeight);
        ctx.width = kWidth;
        ctx.height = kHeight;
    }
    Draw(const Draw&) = delete;
    Draw& operator=(const Draw&) = delete;

    std::vector<uint16_t> input;
    std::vector<uint16_t> output;
    qv::effect::ParamsBlock params{};
    qv::effect::ScaleBlock scale{};
    qv::effect::WeightBlock weight{};
    qv::gfx::DrawContext ctx;
};

Draw& TheDraw() {
    static Draw draw;
    return draw;
}

void RunDenoise(benchmark::State& state, int threads) {
    Draw& draw = TheDraw();
    qv::bench::RunProgram(state, SharedPool(threads), qv::passes::kDenoiseProgram, draw.ctx,
                          draw.output.size() * sizeof(uint16_t));
}

// Argument: worker threads, 0 = one per hardware thread.
void BM_Denoise(benchmark::State& state) {
    RunDenoise(state, qv::bench::ThreadsArgument(state));
}
BENCHMARK(BM_Denoise)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

// One worker with dispatch forced to each SIMD target in turn.
const bool kPerTargetRegistered = [] {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        benchmark::RegisterBenchmark((std::string("BM_DenoiseTarget/") + hwy::TargetName(target)).c_str(),
                                     [target](benchmark::State& state) {
                                         hwy::SetSupportedTargetsForTest(target);
                                         RunDenoise(state, 1);
                                         hwy::SetSupportedTargetsForTest(0);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
