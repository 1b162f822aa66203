// The resampling programs on the optimised rasteriser at the sizes the filter meets most:
// upscale_h and upscale_v for 1280x720 -> 1920x1080, downscale_h and downscale_v for
// 1920x1080 -> 1280x720, on one worker and on all cores. Each run also times, outside the
// measured time, a memcpy of the program's output image bytes on the same workers: ms per
// frame and megapixels per second of the program, the memcpy's ms beside it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench_support.h"
#include "effect/constant_blocks.h"
#include "gpu/filter_constants.h"
#include "gpu/weight_table.h"
#include "passes/downscale.h"
#include "passes/program_names.h"
#include "passes/resample_plan.h"
#include "passes/upscale.h"

namespace {

struct Sizes {
    int srcW, srcH, dstW, dstH;
};
constexpr Sizes kEnlarge{1280, 720, 1920, 1080};
constexpr Sizes kReduce{1920, 1080, 1280, 720};

// A pass's input and output images, the weight table and the blocks, bound as the device
// binds them.
struct Draw {
    Draw(const Sizes& s, int sampler, int inW, int inH, int outW, int outH)
        : input(static_cast<size_t>(4) * inW * inH),
          output(static_cast<size_t>(4) * outW * outH),
          table(static_cast<size_t>(qv::gpu::kWeightTableEntries) * 4),
          scale(qv::gpu::ComputeScale(s.srcW, s.srcH, s.dstW, s.dstH)),
          params(qv::gpu::ComputeParams(qv::bench::DefaultSliders().data(),
                                        qv::gpu::WorkingSizes::For(s.srcW, s.srcH, s.dstW, s.dstH))) {
        std::mt19937 rng(3);
        for (auto& v : input) v = static_cast<uint16_t>(rng() % 4097);
        qv::gpu::FillWeightTable(table.data());
        ctx.samplers[sampler].texture = qv::bench::ImageView(input, inW, inH);
        ctx.samplers[qv::passes::kWeightTableSampler] = qv::bench::WeightTableBinding(table);
        ctx.params = reinterpret_cast<const uint8_t*>(&params);
        ctx.scale = reinterpret_cast<const uint8_t*>(&scale);
        ctx.target = qv::bench::ImageTarget(output, outW, outH);
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

void RunPass(benchmark::State& state, const char* name, Draw& draw) {
    qv::bench::RunProgram(state, qv::bench::SharedPool(qv::bench::ThreadsArgument(state)), name, draw.ctx,
                          draw.output.size() * sizeof(uint16_t));
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
