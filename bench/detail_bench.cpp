// The detail stage's programs (usm_blur p4, usm_limit p5, recovery p6, mask_blur_h p7,
// mask_blur_v p8, warp_h p9, warp_v p10) on the optimised rasteriser at 1920x1080, on all cores
// and on one worker, at the default sliders. Each program reads what the stage before it stored:
// the input is the sample clip's first frame enlarged to 1080p with noise and a removed-luma
// channel, and the stage is run once beforehand to give the later programs their inputs. Each
// run also times, outside the measured time, a memcpy of the output image's bytes on the same
// workers: ms per frame and megapixels per second of the program, the memcpy's ms beside it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "effect/constant_blocks.h"
#include "gpu/filter_constants.h"
#include "gpu/weight_table.h"
#include "passes/program_names.h"
#include "platform/d3d9/row_schedulers.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kImageTexels = static_cast<size_t>(kWidth) * kHeight;
constexpr int kNoise = 40;  // host steps

// One program's draw: its input slots and the image it writes.
struct PassPlan {
    const char* program;
    std::vector<std::pair<int, const std::vector<uint16_t>*>> inputs;
    std::vector<uint16_t>* output;
};

// The stage's images, constants and weight table, and a draw context per program.
struct DetailStage {
    DetailStage()
        : frame(qv::bench::NoisySampleTexels(kWidth, kHeight, 5, kNoise, true)),
          blurred(frame.size()),
          limited(frame.size()),
          rowBlur(frame.size()),
          map(frame.size()),
          warpedH(frame.size()),
          out(frame.size()),
          table(static_cast<size_t>(qv::gpu::kWeightTableEntries) * 4) {
        const auto sliders = qv::bench::DefaultSliders();
        params = qv::gpu::ComputeParams(sliders.data(), qv::gpu::WorkingSizes::For(kWidth, kHeight, kWidth, kHeight));
        const auto gw_r4 = qv::gpu::ComputeGwR4Table();
        const auto gw_r3 = qv::gpu::ComputeGwR3(sliders[qv::host::kRadius]);
        std::copy(gw_r4.begin(), gw_r4.end(), weight.gw_r4);
        std::copy(gw_r3.begin(), gw_r3.end(), weight.gw_r3);
        scale = qv::gpu::ComputeScale(kWidth, kHeight, kWidth, kHeight);
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
        for (const auto& [slot, texels] : p.inputs) ctx.samplers[slot].texture = qv::bench::ImageView(*texels, kWidth, kHeight);
        ctx.samplers[11] = qv::bench::WeightTableBinding(table);
        ctx.params = reinterpret_cast<const uint8_t*>(&params);
        ctx.scale = reinterpret_cast<const uint8_t*>(&scale);
        ctx.weight = reinterpret_cast<const uint8_t*>(&weight);
        ctx.target = qv::bench::ImageTarget(*p.output, kWidth, kHeight);
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

void RunDetailPass(benchmark::State& state, const char* name, int threads) {
    const DetailStage& stage = TheStage();
    const PassPlan* plan = stage.Plan(name);
    if (!plan) {
        state.SkipWithError("pixel program not registered");
        return;
    }
    qv::bench::RunProgram(state, qv::bench::SharedPool(threads), name, stage.Context(*plan), kImageTexels * 8);
}

// BM_Detail/<program>/<workers>, workers 0 = one per hardware thread.
const bool kDetailRegistered = [] {
    for (const char* name : {qv::passes::kUsmBlurProgram, qv::passes::kUsmLimitProgram, qv::passes::kRecoveryProgram,
                             qv::passes::kMaskBlurHProgram, qv::passes::kMaskBlurVProgram, qv::passes::kWarpHProgram,
                             qv::passes::kWarpVProgram}) {
        benchmark::RegisterBenchmark((std::string("BM_Detail/") + name).c_str(),
                                     [name](benchmark::State& state) {
                                         RunDetailPass(state, name, qv::bench::ThreadsArgument(state));
                                     })
            ->Arg(0)
            ->Arg(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
