// Frame transfers (upload, download) and the unpack and pack programs on a 1920x1080 frame,
// on one worker and on all cores, each timed against a plain memcpy of the same bytes in the
// same run: MB/s of the work and its throughput relative to memcpy (vs_memcpy, 1 = as fast).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "bench_support.h"
#include "effect/constant_blocks.h"
#include "host/host_records.h"
#include "passes/program_names.h"
#include "platform/d3d9/pixel_program.h"
#include "platform/d3d9/row_schedulers.h"
#include "transfer/packed_frame.h"

namespace {

using qv::transfer::PackedTexelWidth;

constexpr int kW = 1920;
constexpr int kH = 1080;

using qv::bench::SharedPool;
using qv::bench::ThreadsArgument;

// Times `work` and, outside the measured time, a memcpy of `memcpyBytes` after each run.
void TimeAgainstMemcpy(benchmark::State& state, qv::WorkerPool& pool, size_t workBytes, size_t memcpyBytes,
                       const std::function<void()>& work) {
    qv::bench::CopyBaseline baseline(memcpyBytes);
    const qv::bench::Timing t = qv::bench::TimeAgainstCopy(state, pool, baseline, work);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(workBytes));
    state.counters["MB/s"] = static_cast<double>(workBytes) * t.iterations / t.workSeconds / 1e6;
    state.counters["memcpy_MB/s"] = static_cast<double>(memcpyBytes) * t.iterations / t.copySeconds / 1e6;
    // Same bytes moved in both: the ratio of their times is the ratio of their throughputs.
    state.counters["vs_memcpy"] =
        (t.copySeconds * static_cast<double>(workBytes)) / (t.workSeconds * static_cast<double>(memcpyBytes));
    state.counters["threads"] = pool.Size();
}

struct Frames {
    Frames() : host(static_cast<size_t>(3) * kW * kH), packed(static_cast<size_t>(4) * PackedTexelWidth(kW) * kH) {
        std::mt19937 rng(1);
        for (auto& s : host) s = static_cast<int16_t>(static_cast<int>(rng() % 6000) - 2500);
        for (auto& s : packed) s = static_cast<int16_t>(rng() % 4097);
    }
    std::vector<int16_t> host;
    std::vector<int16_t> packed;
};

void RunWorker(qv::WorkerPool& pool, qv::WorkerFunction worker, qv::transfer::RowTransfer* rows) {
    pool.RunOnEach([&](int i, int n) { worker(i, n, rows, nullptr); });
}

void BM_Upload(benchmark::State& state) {
    qv::WorkerPool& pool = SharedPool(ThreadsArgument(state));
    Frames f;
    auto rows = qv::transfer::MakeRowTransfer(f.host.data(), 3 * kW, f.packed.data(), 4 * PackedTexelWidth(kW), kW, kH);
    const size_t bytes = f.host.size() * sizeof(int16_t);
    TimeAgainstMemcpy(state, pool, bytes, bytes, [&] { RunWorker(pool, qv::transfer::UploadWorker, &rows); });
}

void BM_Download(benchmark::State& state) {
    qv::WorkerPool& pool = SharedPool(ThreadsArgument(state));
    Frames f;
    auto rows = qv::transfer::MakeRowTransfer(f.packed.data(), 4 * PackedTexelWidth(kW), f.host.data(), 3 * kW, kW, kH);
    const size_t bytes = f.host.size() * sizeof(int16_t);
    TimeAgainstMemcpy(state, pool, bytes, bytes, [&] { RunWorker(pool, qv::transfer::DownloadWorker, &rows); });
}

// A pixel program on images of its real sizes. The memcpy moves as many bytes as the program
// reads and writes together (it reads them once and writes them once).
void RunProgram(benchmark::State& state, const char* name, int inTexels, int outTexels) {
    qv::WorkerPool& pool = SharedPool(ThreadsArgument(state));
    qv::gfx::PoolRowScheduler scheduler(pool);
    const qv::gfx::PixelProgram* program = qv::gfx::FindPixelProgram(name);
    if (!program) {
        state.SkipWithError("pixel program not registered");
        return;
    }
    std::vector<uint16_t> in(static_cast<size_t>(4) * inTexels * kH);
    std::vector<uint16_t> out(static_cast<size_t>(4) * outTexels * kH);
    std::mt19937 rng(2);
    for (auto& v : in) v = static_cast<uint16_t>(rng() % 4097);
    qv::effect::ScaleBlock scale{};
    scale.inputTexSizeInverse = {1.0f / static_cast<float>(inTexels), 1.0f / kH};
    scale.destTexSizeInverse = {1.0f / static_cast<float>(inTexels), 1.0f / kH};
    qv::gfx::DrawContext ctx;
    ctx.samplers[1].texture = qv::bench::ImageView(in, inTexels, kH);
    ctx.samplers[10].texture = ctx.samplers[1].texture;
    ctx.scale = reinterpret_cast<const uint8_t*>(&scale);
    ctx.target = qv::bench::ImageTarget(out, outTexels, kH);
    ctx.width = outTexels;
    ctx.height = kH;
    const size_t bytes = (in.size() + out.size()) * sizeof(uint16_t);
    TimeAgainstMemcpy(state, pool, bytes, bytes / 2, [&] { program->optimised(ctx, scheduler); });
}

void BM_Unpack(benchmark::State& state) { RunProgram(state, qv::passes::kUnpackProgram, PackedTexelWidth(kW), kW); }
void BM_Pack(benchmark::State& state) { RunProgram(state, qv::passes::kPackProgram, kW, PackedTexelWidth(kW)); }

void BM_Memcpy(benchmark::State& state) {
    qv::WorkerPool& pool = SharedPool(ThreadsArgument(state));
    qv::bench::CopyBaseline baseline(static_cast<size_t>(6) * kW * kH);
    for (auto _ : state) baseline.Run(pool);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(baseline.Bytes()));
    state.counters["threads"] = pool.Size();
}

// Argument: worker threads, 0 = one per hardware thread.
BENCHMARK(BM_Upload)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Download)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Unpack)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pack)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
