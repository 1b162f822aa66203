// The whole chain through the module and the stand-in device, as a host saving a clip drives
// it: one process call per frame (fetch, upload, the planned passes on the optimised adapter,
// read-back, download), with the next frame rendered ahead. At 1920x1080 -> 1920x1080,
// 1280x720 -> 1920x1080 and 1920x1080 -> 1280x720, default strengths, noisy frames made from
// the sample clip. Beside each, in the same run, a memcpy of the frame's bytes (source and
// result in host pixels) on the same number of workers. BM_PassChain runs the render thread's
// part alone (the passes and the read-back), BM_ChainSteps times each pass inside it.
//
// Then every pass on its own, inside the chain that runs it: the passes before it are drawn once
// so that it reads exactly what the chain gives it, and it is then drawn alone, beside a memcpy
// that moves as many bytes as the pass reads and writes (half of them read, half written).
// Passes 0, 1, 4, 5 and 7 to 10 and 13 come from 1920x1080 -> 1920x1080 at the default sliders;
// 2 and 3 from 1280x720 -> 1920x1080; 11 and 12 from 1920x1080 -> 1280x720; 6 from 1920x1080
// with usm and sharp at 0.
//
// QV_BENCH_WORKERS=n runs the optimised rasteriser on n workers instead of one per core (the
// host's conversions and the memcpy keep all cores).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_host.h"
#include "gpu/gpu_context.h"
#include "gpu/gpu_lifecycle.h"
#include "gpu/working_sizes.h"
#include "host/sliders.h"
#include "passes/pass_routing.h"
#include "passes/program_names.h"
#include "platform/d3d9/d3d9.h"

namespace {

using Clock = std::chrono::steady_clock;
using qv::bench::BenchHost;
using qv::bench::CopyBaseline;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

struct ChainSetup {
    const char* name;
    int srcW, srcH, dstW, dstH;
    int usm = 100;   // the module's defaults
    int sharp = 25;
};

constexpr ChainSetup kSame{"1920x1080->1920x1080", 1920, 1080, 1920, 1080};
constexpr ChainSetup kUp{"1280x720->1920x1080", 1280, 720, 1920, 1080};
constexpr ChainSetup kDown{"1920x1080->1280x720", 1920, 1080, 1280, 720};
constexpr ChainSetup kRecoveryOnly{"1920x1080->1920x1080,usm=0,sharp=0", 1920, 1080, 1920, 1080, 0, 0};

bool StartHost(BenchHost& host, const ChainSetup& setup, benchmark::State& state) {
    host.sliders[qv::host::kWidth] = setup.dstW;
    host.sliders[qv::host::kHeight] = setup.dstH;
    host.sliders[qv::host::kUsm] = setup.usm;
    host.sliders[qv::host::kSharp] = setup.sharp;
    host.sliders[qv::host::kAdapter] = 0;  // the optimised rasteriser
    if (!host.Start() || !host.Process(0, false)) {
        state.SkipWithError(host.Problem().c_str());
        return false;
    }
    return true;
}

void BM_Chain(benchmark::State& state, ChainSetup setup) {
    BenchHost host(setup.srcW, setup.srcH);
    if (!StartHost(host, setup, state)) return;
    const size_t pixels = static_cast<size_t>(setup.srcW) * setup.srcH + static_cast<size_t>(setup.dstW) * setup.dstH;
    CopyBaseline baseline(pixels * sizeof(qv::YcPixel));
    baseline.Run(host.Workers());
    // Frame 1 starts the render-ahead; each timed call then takes its frame and starts the next.
    int32_t n = 1;
    if (!host.Process(n++, true)) {
        state.SkipWithError(host.Problem().c_str());
        return;
    }
    double copySeconds = 0.0, frameSeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const bool ok = host.Process(n++, true);
        const double s = Since(t0);
        state.SetIterationTime(s);
        frameSeconds += s;
        if (!ok) {
            state.SkipWithError(host.Problem().c_str());
            return;
        }
        copySeconds += baseline.Run(host.Workers());
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["ms/frame"] = frameSeconds / frames * 1e3;
    state.counters["MP/s"] = frames * setup.dstW * setup.dstH / frameSeconds / 1e6;
    state.counters["memcpy_ms"] = copySeconds / frames * 1e3;
    state.counters["vs_memcpy"] = frameSeconds / copySeconds;
}

// The passes of the frame's plan drawn one at a time on the module's device, with the same
// bindings the render thread makes. Used only while no frame is in flight.
class PassDrawer {
public:
    PassDrawer() : c_(qv::gpu::Context()) {
        const auto sizes = qv::gpu::WorkingSizes::For(c_.srcW, c_.srcH, c_.dstW, c_.dstH);
        plan_ = qv::passes::PlanPasses(c_.params, sizes);
        c_.device->SetVertexDeclaration(c_.vertexDeclaration);
        c_.device->BeginScene();
        c_.effect->Begin(nullptr, 0);
        for (int slot = 1; slot <= 10; ++slot)
            c_.effect->SetTexture(c_.parameters[qv::gpu::kParamTex + slot - 1], c_.textures[slot]);
        c_.effect->SetTexture(c_.parameters[qv::gpu::kParamTex11], c_.weightTable);
        c_.device->SetStreamSource(0, c_.vertexBuffer, 0, qv::gpu::kVertexStride);
    }
    ~PassDrawer() {
        c_.effect->End();
        c_.device->EndScene();
    }

    const qv::passes::PassStep* Find(int pass) const {
        for (const auto& step : plan_)
            if (step.pass == pass) return &step;
        return nullptr;
    }
    // Draws the plan's passes before `pass`, so that `pass` reads what the chain gives it.
    void DrawBefore(int pass) {
        for (const auto& step : plan_)
            if (step.pass < pass) Draw(step);
    }
    void Draw(const qv::passes::PassStep& step) {
        c_.device->SetRenderTarget(0, step.target == qv::passes::kTargetPacked ? c_.packedTargetSurface
                                                                               : c_.surfaces[step.target]);
        c_.effect->BeginPass(static_cast<UINT>(step.pass));
        c_.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, static_cast<UINT>(qv::gpu::FirstVertex(step.quad)), 2);
        c_.effect->EndPass();
    }
    // Bytes a pass reads (its input images whole) and writes (its drawn rectangle).
    size_t BytesMoved(const qv::passes::PassStep& step) const {
        // Image slots each pass reads (Tex = 1, TexN = N); the weight table is a few kilobytes.
        static const std::vector<int> kInputs[qv::passes::kPassCount] = {
            {1}, {2}, {3}, {4}, {5}, {5, 6}, {5}, {7}, {6}, {5, 7}, {5, 6}, {8}, {9}, {10}};
        size_t bytes = 0;
        for (int slot : kInputs[step.pass]) {
            D3DSURFACE_DESC desc{};
            c_.textures[slot]->GetLevelDesc(0, &desc);
            bytes += static_cast<size_t>(desc.Width) * desc.Height * 8;
        }
        const auto sizes = qv::gpu::WorkingSizes::For(c_.srcW, c_.srcH, c_.dstW, c_.dstH);
        const qv::gpu::QuadSize drawn = qv::gpu::SizeOf(step.quad, sizes);
        return bytes + static_cast<size_t>(drawn.width) * drawn.height * 8;
    }
    size_t Pixels(const qv::passes::PassStep& step) const {
        const qv::gpu::QuadSize drawn =
            qv::gpu::SizeOf(step.quad, qv::gpu::WorkingSizes::For(c_.srcW, c_.srcH, c_.dstW, c_.dstH));
        return static_cast<size_t>(drawn.width) * drawn.height;
    }

private:
    const qv::gpu::GpuContext& c_;
    qv::passes::PassPlan plan_;
};

void BM_Pass(benchmark::State& state, ChainSetup setup, int pass) {
    BenchHost host(setup.srcW, setup.srcH);
    if (!StartHost(host, setup, state)) return;
    PassDrawer drawer;
    const qv::passes::PassStep* step = drawer.Find(pass);
    if (!step) {
        state.SkipWithError("the pass does not run in this chain");
        return;
    }
    drawer.DrawBefore(pass);
    const size_t moved = drawer.BytesMoved(*step);
    CopyBaseline baseline(moved / 2);
    baseline.Run(host.Workers());
    drawer.Draw(*step);
    double copySeconds = 0.0, passSeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        drawer.Draw(*step);
        const double s = Since(t0);
        state.SetIterationTime(s);
        passSeconds += s;
        copySeconds += baseline.Run(host.Workers());
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["ms/frame"] = passSeconds / frames * 1e3;
    state.counters["MP/s"] = static_cast<double>(drawer.Pixels(*step)) * frames / passSeconds / 1e6;
    state.counters["memcpy_ms"] = copySeconds / frames * 1e3;
    state.counters["vs_memcpy"] = passSeconds / copySeconds;
}

// Each planned pass timed inside the whole chain (drawn in order, every pass reading what the one
// before it just wrote), and the read-back copy: the passes' shares of the frame.
void BM_ChainSteps(benchmark::State& state, ChainSetup setup) {
    BenchHost host(setup.srcW, setup.srcH);
    if (!StartHost(host, setup, state)) return;
    double seconds[qv::passes::kPassCount] = {};
    double readBack = 0.0;
    {
        PassDrawer drawer;
        const auto sizes = qv::gpu::WorkingSizes::For(setup.srcW, setup.srcH, setup.dstW, setup.dstH);
        const qv::passes::PassPlan plan = qv::passes::PlanPasses(qv::gpu::Context().params, sizes);
        for (auto _ : state) {
            const auto t0 = Clock::now();
            for (const auto& step : plan) {
                const auto s0 = Clock::now();
                drawer.Draw(step);
                seconds[step.pass] += Since(s0);
            }
            const auto r0 = Clock::now();
            const qv::gpu::GpuContext& c = qv::gpu::Context();
            c.device->GetRenderTargetData(c.packedTargetSurface, c.readBackSurface);
            readBack += Since(r0);
            state.SetIterationTime(Since(t0));
        }
        const double frames = static_cast<double>(state.iterations());
        for (const auto& step : plan) {
            std::string name = "p";
            name += std::to_string(step.pass);
            state.counters[name] = seconds[step.pass] / frames * 1e3;
        }
        state.counters["readback"] = readBack / frames * 1e3;
    }
}

// The planned passes alone, as the render thread runs them (no transfers), for the passes'
// share of the frame.
void BM_PassChain(benchmark::State& state, ChainSetup setup) {
    BenchHost host(setup.srcW, setup.srcH);
    if (!StartHost(host, setup, state)) return;
    double seconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int32_t code = qv::gpu::RunPassChain();
        const double s = Since(t0);
        state.SetIterationTime(s);
        seconds += s;
        if (code != 0) {
            state.SkipWithError("the pass chain failed");
            return;
        }
    }
    state.counters["ms/frame"] = seconds / static_cast<double>(state.iterations()) * 1e3;
}

const char* const kProgramOfPass[qv::passes::kPassCount] = {
    qv::passes::kUnpackProgram,     qv::passes::kDenoiseProgram,    qv::passes::kUpscaleHProgram,
    qv::passes::kUpscaleVProgram,   qv::passes::kUsmBlurProgram,    qv::passes::kUsmLimitProgram,
    qv::passes::kRecoveryProgram,   qv::passes::kMaskBlurHProgram,  qv::passes::kMaskBlurVProgram,
    qv::passes::kWarpHProgram,      qv::passes::kWarpVProgram,      qv::passes::kDownscaleHProgram,
    qv::passes::kDownscaleVProgram, qv::passes::kPackProgram};

const bool kRegistered = [] {
    if (const char* workers = std::getenv("QV_BENCH_WORKERS"))
        qv::d3d9::testing::SetRowScheduling(std::atoi(workers), false);
    for (const ChainSetup& setup : {kSame, kUp, kDown}) {
        benchmark::RegisterBenchmark((std::string("BM_Chain/") + setup.name).c_str(), BM_Chain, setup)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_PassChain/") + setup.name).c_str(), BM_PassChain, setup)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_ChainSteps/") + setup.name).c_str(), BM_ChainSteps, setup)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (int pass = 0; pass < qv::passes::kPassCount; ++pass) {
        const ChainSetup setup = pass == 2 || pass == 3     ? kUp
                                 : pass == 11 || pass == 12 ? kDown
                                 : pass == 6                ? kRecoveryOnly
                                                            : kSame;
        const std::string name =
            "BM_Pass/p" + std::to_string(pass) + "_" + kProgramOfPass[pass] + "/" + setup.name;
        benchmark::RegisterBenchmark(name.c_str(), BM_Pass, setup, pass)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
