// The denoise program (p1) on the optimised rasteriser at 1920x1080: on one worker and on all
// cores, and on one worker for each SIMD target compiled in. The input is the sample clip's
// first frame enlarged to 1080p with noise added, at the default strength (slider 75). Each run
// also times, outside the measured time, a memcpy of the output image's bytes on the same
// workers: ms per frame and megapixels per second of the program, the memcpy's ms beside it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <hwy/targets.h>

#include "common/worker_pool.h"
#include "effect/constant_blocks.h"
#include "gpu/filter_constants.h"
#include "passes/denoise.h"
#include "passes/program_names.h"
#include "platform/d3d9/pixel_program.h"
#include "platform/d3d9/row_schedulers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDefaultSlider = 75;

qv::WorkerPool& Pool(int threads) {
    static std::map<int, std::unique_ptr<qv::WorkerPool>> pools;
    auto& p = pools[threads];
    if (!p) p = std::make_unique<qv::WorkerPool>(threads);
    return *p;
}

// Luma of the sample clip's first frame (8-bit, 640x360) enlarged three times by repetition,
// mapped to host steps, with uniform noise; chroma neutral. An unreadable clip leaves noise on
// grey, which times the same: the pass does the same work for any content.
std::vector<uint16_t> NoisyFrame() {
    std::vector<uint8_t> luma(640 * 360, 128);
    std::ifstream in(std::string(QV_SAMPLES_DIR) + "/ladybird_640x360.y4m", std::ios::binary);
    std::string header, frameHeader;
    if (std::getline(in, header) && std::getline(in, frameHeader))
        in.read(reinterpret_cast<char*>(luma.data()), static_cast<std::streamsize>(luma.size()));
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> noise(-60, 60);
    std::vector<uint16_t> texels(static_cast<size_t>(4) * kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int v = (luma[(y / 3) * 640 + x / 3] - 16) * 4096 / 219 + noise(rng);
            uint16_t* t = &texels[(static_cast<size_t>(y) * kWidth + x) * 4];
            t[0] = static_cast<uint16_t>(std::clamp(v, 0, 4096));
            t[1] = 2048;
            t[2] = 2048;
            t[3] = 0;
        }
    return texels;
}

struct Draw {
    Draw() : input(NoisyFrame()), output(input.size()) {
        params.H2 = qv::gpu::ComputeH2(qv::gpu::Percent(kDefaultSlider));
        scale = qv::gpu::ComputeScale(kWidth, kHeight, kWidth, kHeight);
        qv::gfx::TextureView& in = ctx.samplers[qv::passes::kDenoiseInputSampler].texture;
        in.bits = reinterpret_cast<const uint8_t*>(input.data());
        in.width = kWidth;
        in.height = kHeight;
        in.pitch = static_cast<ptrdiff_t>(kWidth) * 8;
        in.format = D3DFMT_A16B16G16R16;
        ctx.params = reinterpret_cast<const uint8_t*>(&params);
        ctx.scale = reinterpret_cast<const uint8_t*>(&scale);
        ctx.weight = reinterpret_cast<const uint8_t*>(&weight);
        ctx.target.bits = reinterpret_cast<uint8_t*>(output.data());
        ctx.target.width = kWidth;
        ctx.target.height = kHeight;
        ctx.target.pitch = static_cast<ptrdiff_t>(kWidth) * 8;
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

// A memcpy of `bytes`, split into equal parts over the pool's workers.
struct MemcpyBaseline {
    explicit MemcpyBaseline(size_t bytes) : from(bytes, 1), to(bytes, 0) {}
    void Run(qv::WorkerPool& pool) {
        pool.RunOnEach([&](int i, int n) {
            const size_t first = from.size() * static_cast<size_t>(i) / static_cast<size_t>(n);
            const size_t end = from.size() * static_cast<size_t>(i + 1) / static_cast<size_t>(n);
            std::memcpy(to.data() + first, from.data() + first, end - first);
        });
    }
    std::vector<uint8_t> from;
    std::vector<uint8_t> to;
};

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void RunDenoise(benchmark::State& state, int threads) {
    qv::WorkerPool& pool = Pool(threads);
    qv::gfx::PoolRowScheduler scheduler(pool);
    const qv::gfx::PixelProgram* program = qv::gfx::FindPixelProgram(qv::passes::kDenoiseProgram);
    if (!program) {
        state.SkipWithError("pixel program not registered");
        return;
    }
    Draw& draw = TheDraw();
    MemcpyBaseline baseline(draw.output.size() * sizeof(uint16_t));
    program->optimised(draw.ctx, scheduler);
    baseline.Run(pool);
    double workSeconds = 0.0, memcpySeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        program->optimised(draw.ctx, scheduler);
        workSeconds += Seconds(t0, Clock::now());
        state.PauseTiming();
        const auto m0 = Clock::now();
        baseline.Run(pool);
        memcpySeconds += Seconds(m0, Clock::now());
        state.ResumeTiming();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["ms/frame"] = workSeconds / iterations * 1e3;
    state.counters["MP/s"] = static_cast<double>(kWidth) * kHeight * iterations / workSeconds / 1e6;
    state.counters["memcpy_ms"] = memcpySeconds / iterations * 1e3;
    state.counters["threads"] = pool.Size();
}

// Argument: worker threads, 0 = one per hardware thread.
void BM_Denoise(benchmark::State& state) {
    RunDenoise(state, state.range(0) > 0 ? static_cast<int>(state.range(0)) : qv::WorkerPool::HardwareThreads());
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
