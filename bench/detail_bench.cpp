// The detail stage's programs (usm_blur p4, usm_limit p5, recovery p6, mask_blur_h p7,
// mask_blur_v p8, warp_h p9, warp_v p10) on the optimised rasteriser at 1920x1080, on all cores
// and on one worker, at the default sliders. Each program reads what the stage before it stored:
// the input is the sample clip's first frame enlarged to 1080p with noise and a removed-luma
// channel, and the stage is run once beforehand to give the later programs their inputs. Each
// run also times, outside the measured time, a memcpy of the output image's bytes on the same
// workers: ms per frame and megapixels per second of the program, the memcpy's ms beside it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "effect/constant_blocks.h"
#include "gpu/filter_constants.h"
#include "gpu/weight_table.h"
#include "passes/program_names.h"
#include "platform/d3d9/pixel_program.h"
#include "platform/d3d9/row_schedulers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kImageTexels = static_cast<size_t>(kWidth) * kHeight;

qv::WorkerPool& DetailPool(int threads) {
    static std::map<int, std::unique_ptr<qv::WorkerPool>> pools;
    auto& p = pools[threads];
    if (!p) p = std::make_unique<qv::WorkerPool>(threads);
    return *p;
}

// The sample clip's first frame (8-bit luma, 640x360) enlarged three times by repetition, in
// host steps, with noise; neutral chroma; channel w holds a little removed luma. An unreadable
// clip leaves noise on grey, which times the same.
std::vector<uint16_t> WorkingFrame() {
    std::vector<uint8_t> luma(640 * 360, 128);
    std::ifstream in(std::string(QV_SAMPLES_DIR) + "/ladybird_640x360.y4m", std::ios::binary);
    std::string header, frameHeader;
    if (std::getline(in, header) && std::getline(in, frameHeader))
        in.read(reinterpret_cast<char*>(luma.data()), static_cast<std::streamsize>(luma.size()));
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> noise(-40, 40);
    std::vector<uint16_t> texels(4 * kImageTexels);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int v = (luma[static_cast<size_t>((y / 3) * 640 + x / 3)] - 16) * 4096 / 219 + noise(rng);
            uint16_t* t = &texels[(static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)) * 4];
            t[0] = static_cast<uint16_t>(std::clamp(v, 0, 4096));
            t[1] = 2048;
            t[2] = 2048;
            t[3] = static_cast<uint16_t>(std::abs(noise(rng)));
        }
    return texels;
}

qv::gfx::TextureView ViewOf(const std::vector<uint16_t>& texels) {
    qv::gfx::TextureView v;
    v.bits = reinterpret_cast<const uint8_t*>(texels.data());
    v.width = kWidth;
    v.height = kHeight;
    v.pitch = static_cast<ptrdiff_t>(kWidth) * 8;
    v.format = D3DFMT_A16B16G16R16;
    return v;
}

// One program's draw: its input slots and the image it writes.
struct PassPlan {
    const char* program;
    std::vector<std::pair<int, const std::vector<uint16_t>*>> inputs;
    std::vector<uint16_t>* output;
};

// The stage's images, constants and weight table, and a draw context per program.
struct DetailStage {
    DetailStage()
        : frame(WorkingFrame()),
          blurred(frame.size()),
          limited(frame.size()),
          rowBlur(frame.size()),
          map(frame.size()),
          warpedH(frame.size()),
          out(frame.size()),
          table(static_cast<size_t>(qv::gpu::kWeightTableEntries) * 4) {
        const int32_t sliders[] = {1, kWidth, kHeight, 100, 15, 0, 100, 75, 75, 25, 0};  // defaults
        params.usm = qv::gpu::Percent(sliders[3]);
        params.max = qv::gpu::Percent(sliders[5]);
        params.min = qv::gpu::Percent(sliders[6]);
        params.recovery = qv::gpu::Percent(sliders[8]);
        params.sharp = qv::gpu::Percent(sliders[9]);
        const auto gw_r4 = qv::gpu::ComputeGwR4Table();
        const auto gw_r3 = qv::gpu::ComputeGwR3(sliders[4]);
        std::copy(gw_r4.begin(), gw_r4.end(), weight.gw_r4);
        std::copy(gw_r3.begin(), gw_r3.end(), weight.gw_r3);
        scale.workTexSizeInverse = {1.0f / static_cast<float>(kWidth), 1.0f / static_cast<float>(kHeight)};
        qv::gpu::FillWeightTable(table.data());

        plans = {
            {qv::passes::kUsmBlurProgram, {{5, &frame}}, &blurred},
            {qv::passes::kUsmLimitProgram, {{5, &frame}, {6, &blurred}}, &limited},
            {qv::passes::kRecoveryProgram, {{5, &frame}}, &out},
            {qv::passes::kMaskBlurHProgram, {{7, &limited}}, &rowBlur},
            {qv::passes::kMaskBlurVProgram, {{6, &rowBlur}}, &map},
            {qv::passes::kWarpHProgram, {{5, &map}, {7, &limited}}, &warpedH},
            {qv::passes::kWarpVProgram, {{5, &map}, {6, &warpedH}}, &out},
        };
        // Fill every program's inputs once, in pass order.
        qv::gfx::SerialRowScheduler serial;
        for (const PassPlan& p : plans) {
            const qv::gfx::PixelProgram* program = qv::gfx::FindPixelProgram(p.program);
            if (program) program->optimised(Context(p), serial);
        }
    }
    DetailStage(const DetailStage&) = delete;
    DetailStage& operator=(const DetailStage&) = delete;

    qv::gfx::DrawContext Context(const PassPlan& p) const {
        qv::gfx::DrawContext ctx;
        for (const auto& [slot, texels] : p.inputs) ctx.samplers[slot].texture = ViewOf(*texels);
        qv::gfx::TextureView& t = ctx.samplers[11].texture;
        t.bits = reinterpret_cast<const uint8_t*>(table.data());
        t.width = qv::gpu::kWeightTableEntries;
        t.height = 1;
        t.pitch = qv::gpu::kWeightTableEntries * 16;
        t.format = D3DFMT_A32B32G32R32F;
        ctx.samplers[11].state = {qv::gfx::Filter::Point, qv::gfx::Filter::Linear};
        ctx.params = reinterpret_cast<const uint8_t*>(&params);
        ctx.scale = reinterpret_cast<const uint8_t*>(&scale);
        ctx.weight = reinterpret_cast<const uint8_t*>(&weight);
        ctx.target.bits = reinterpret_cast<uint8_t*>(p.output->data());
        ctx.target.width = kWidth;
        ctx.target.height = kHeight;
        ctx.target.pitch = static_cast<ptrdiff_t>(kWidth) * 8;
        ctx.width = kWidth;
        ctx.height = kHeight;
        return ctx;
    }

    const PassPlan* Plan(const std::string& program) const {
        for (const PassPlan& p : plans)
            if (program == p.program) return &p;
        return nullptr;
    }

    std::vector<uint16_t> frame, blurred, limited, rowBlur, map, warpedH, out;
    std::vector<float> table;
    qv::effect::ParamsBlock params{};
    qv::effect::ScaleBlock scale{};
    qv::effect::WeightBlock weight{};
    std::vector<PassPlan> plans;
};

DetailStage& TheStage() {
    static DetailStage stage;
    return stage;
}

// A memcpy of `bytes`, split into equal parts over the pool's workers.
struct CopyBaseline {
    explicit CopyBaseline(size_t bytes) : from(bytes, 1), to(bytes, 0) {}
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

double SecondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void RunDetailPass(benchmark::State& state, const char* name, int threads) {
    qv::WorkerPool& pool = DetailPool(threads);
    qv::gfx::PoolRowScheduler scheduler(pool);
    const qv::gfx::PixelProgram* program = qv::gfx::FindPixelProgram(name);
    const DetailStage& stage = TheStage();
    const PassPlan* plan = stage.Plan(name);
    if (!program || !plan) {
        state.SkipWithError("pixel program not registered");
        return;
    }
    const qv::gfx::DrawContext ctx = stage.Context(*plan);
    CopyBaseline baseline(kImageTexels * 8);
    program->optimised(ctx, scheduler);
    baseline.Run(pool);
    double workSeconds = 0.0, copySeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        program->optimised(ctx, scheduler);
        workSeconds += SecondsBetween(t0, Clock::now());
        state.PauseTiming();
        const auto m0 = Clock::now();
        baseline.Run(pool);
        copySeconds += SecondsBetween(m0, Clock::now());
        state.ResumeTiming();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["ms/frame"] = workSeconds / iterations * 1e3;
    state.counters["MP/s"] = static_cast<double>(kImageTexels) * iterations / workSeconds / 1e6;
    state.counters["memcpy_ms"] = copySeconds / iterations * 1e3;
    state.counters["threads"] = pool.Size();
}

// BM_Detail/<program>/<workers>, workers 0 = one per hardware thread.
const bool kDetailRegistered = [] {
    for (const char* name : {qv::passes::kUsmBlurProgram, qv::passes::kUsmLimitProgram, qv::passes::kRecoveryProgram,
                             qv::passes::kMaskBlurHProgram, qv::passes::kMaskBlurVProgram, qv::passes::kWarpHProgram,
                             qv::passes::kWarpVProgram}) {
        benchmark::RegisterBenchmark((std::string("BM_Detail/") + name).c_str(),
                                     [name](benchmark::State& state) {
                                         const int threads = state.range(0) > 0 ? static_cast<int>(state.range(0))
                                                                                 : qv::WorkerPool::HardwareThreads();
                                         RunDetailPass(state, name, threads);
                                     })
            ->Arg(0)
            ->Arg(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
