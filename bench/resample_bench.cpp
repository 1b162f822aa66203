// The resampling programs on the optimised rasteriser at the sizes the filter meets most:
// upscale_h and upscale_v for 1280x720 -> 1920x1080, downscale_h and downscale_v for
// 1920x1080 -> 1280x720, on one worker and on all cores. Each run also times, outside the
// measured time, a memcpy of the program's output image bytes on the same workers: ms per
// frame and megapixels per second of the program, the memcpy's ms beside it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "common/worker_pool.h"
#include "effect/constant_blocks.h"
#include "gpu/weight_table.h"
#include "passes/downscale.h"
#include "passes/program_names.h"
#include "passes/resample_plan.h"
#include "passes/upscale.h"
#include "platform/d3d9/pixel_program.h"
#include "platform/d3d9/row_schedulers.h"

namespace {

using Clock = std::chrono::steady_clock;

qv::WorkerPool& Pool(int threads) {
    static std::map<int, std::unique_ptr<qv::WorkerPool>> pools;
    auto& p = pools[threads];
    if (!p) p = std::make_unique<qv::WorkerPool>(threads);
    return *p;
}

int Threads(const benchmark::State& state) {
    return state.range(0) > 0 ? static_cast<int>(state.range(0)) : qv::WorkerPool::HardwareThreads();
}

struct Sizes {
    int srcW, srcH, dstW, dstH;
};
constexpr Sizes kEnlarge{1280, 720, 1920, 1080};
constexpr Sizes kReduce{1920, 1080, 1280, 720};

// The constant blocks of a resize, formed as the constants code forms them: reciprocals in
// single precision, ratios as numerator times reciprocal, tap counts rounded up.
qv::effect::ScaleBlock ScaleOf(const Sizes& s) {
    const auto inv = [](int n) { return 1.0f / static_cast<float>(n); };
    const int maxW = s.srcW > s.dstW ? s.srcW : s.dstW;
    const int maxH = s.srcH > s.dstH ? s.srcH : s.dstH;
    qv::effect::ScaleBlock b{};
    b.hscale = static_cast<float>(s.dstW) * inv(s.srcW);
    b.vscale = static_cast<float>(s.dstH) * inv(s.srcH);
    b.hscaleInverse = static_cast<float>(s.srcW) * inv(s.dstW);
    b.vscaleInverse = static_cast<float>(s.srcH) * inv(s.dstH);
    b.srcTexSizeInverse = {inv(s.srcW), inv(s.srcH)};
    b.tmpTexSizeInverse = {inv(maxW), inv(s.srcH)};
    b.tmpTex2SizeInverse = {inv(s.dstW), inv(maxH)};
    b.workTexSizeInverse = {inv(maxW), inv(maxH)};
    b.destTexSizeInverse = {inv(s.dstW), inv(s.dstH)};
    return b;
}

qv::effect::ParamsBlock ParamsOf(const Sizes& s) {
    qv::effect::ParamsBlock p{};
    p.radius = 3;
    p.htap = (6 * s.srcW + s.dstW - 1) / s.dstW;
    p.vtap = (6 * s.srcH + s.dstH - 1) / s.dstH;
    p.htap2 = (2 * s.srcW + s.dstW - 1) / s.dstW;
    p.vtap2 = (2 * s.srcH + s.dstH - 1) / s.dstH;
    return p;
}

// A pass's input and output images, the weight table and the blocks, bound as the device
// binds them.
struct Draw {
    Draw(const Sizes& s, int sampler, int inW, int inH, int outW, int outH)
        : input(static_cast<size_t>(4) * inW * inH),
          output(static_cast<size_t>(4) * outW * outH),
          table(static_cast<size_t>(qv::gpu::kWeightTableEntries) * 4),
          scale(ScaleOf(s)),
          params(ParamsOf(s)) {
        std::mt19937 rng(3);
        for (auto& v : input) v = static_cast<uint16_t>(rng() % 4097);
        qv::gpu::FillWeightTable(table.data());
        qv::gfx::TextureView& in = ctx.samplers[sampler].texture;
        in.bits = reinterpret_cast<const uint8_t*>(input.data());
        in.width = inW;
        in.height = inH;
        in.pitch = static_cast<ptrdiff_t>(inW) * 8;
        in.format = D3DFMT_A16B16G16R16;
        qv::gfx::SamplerBinding& t = ctx.samplers[qv::passes::kWeightTableSampler];
        t.texture.bits = reinterpret_cast<const uint8_t*>(table.data());
        t.texture.width = qv::gpu::kWeightTableEntries;
        t.texture.height = 1;
        t.texture.pitch = qv::gpu::kWeightTableEntries * 16;
        t.texture.format = D3DFMT_A32B32G32R32F;
        t.state = qv::gfx::SamplerState{qv::gfx::Filter::Point, qv::gfx::Filter::Linear};
        ctx.params = reinterpret_cast<const uint8_t*>(&params);
        ctx.scale = reinterpret_cast<const uint8_t*>(&scale);
        ctx.target.bits = reinterpret_cast<uint8_t*>(output.data());
        ctx.target.width = outW;
        ctx.target.height = outH;
        ctx.target.pitch = static_cast<ptrdiff_t>(outW) * 8;
        ctx.width = outW;
        ctx.height = outH;
    }
    Draw(const Draw&) = delete;
    Draw& operator=(const Draw&) = delete;

    std::vector<uint16_t> input;
    std::vector<uint16_t> output;
    std::vector<float> table;
    qv::effect::ScaleBlock scale;
    qv::effect::ParamsBlock params;
    qv::gfx::DrawContext ctx;
};

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

void RunPass(benchmark::State& state, const char* name, Draw& draw) {
    qv::WorkerPool& pool = Pool(Threads(state));
    qv::gfx::PoolRowScheduler scheduler(pool);
    const qv::gfx::PixelProgram* program = qv::gfx::FindPixelProgram(name);
    if (!program) {
        state.SkipWithError("pixel program not registered");
        return;
    }
    const size_t outputBytes = draw.output.size() * sizeof(uint16_t);
    MemcpyBaseline baseline(outputBytes);
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
    const double pixels = static_cast<double>(draw.ctx.width) * draw.ctx.height;
    state.counters["ms/frame"] = workSeconds / iterations * 1e3;
    state.counters["MP/s"] = pixels * iterations / workSeconds / 1e6;
    state.counters["memcpy_ms"] = memcpySeconds / iterations * 1e3;
    state.counters["threads"] = pool.Size();
}

// upscale_h reads the 1280x720 source and draws 1920x720; upscale_v reads that and draws
// 1920x1080. downscale_h reads the 1920x1080 frame and draws 1280x1080; downscale_v reads
// that and draws 1280x720.
void BM_UpscaleH(benchmark::State& state) {
    static Draw draw(kEnlarge, qv::passes::kUpscaleHInputSampler, 1280, 720, 1920, 720);
    RunPass(state, qv::passes::kUpscaleHProgram, draw);
}
void BM_UpscaleV(benchmark::State& state) {
    static Draw draw(kEnlarge, qv::passes::kUpscaleVInputSampler, 1920, 720, 1920, 1080);
    RunPass(state, qv::passes::kUpscaleVProgram, draw);
}
void BM_DownscaleH(benchmark::State& state) {
    static Draw draw(kReduce, qv::passes::kDownscaleHInputSampler, 1920, 1080, 1280, 1080);
    RunPass(state, qv::passes::kDownscaleHProgram, draw);
}
void BM_DownscaleV(benchmark::State& state) {
    static Draw draw(kReduce, qv::passes::kDownscaleVInputSampler, 1280, 1080, 1280, 720);
    RunPass(state, qv::passes::kDownscaleVProgram, draw);
}

// Argument: worker threads, 0 = one per hardware thread.
BENCHMARK(BM_UpscaleH)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpscaleV)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownscaleH)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownscaleV)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
