#include "bench_support.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "platform/d3d9/row_schedulers.h"

namespace qv::bench {

double SecondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

WorkerPool& SharedPool(int threads) {
    static std::map<int, std::unique_ptr<WorkerPool>> pools;
    auto& p = pools[threads];
    if (!p) p = std::make_unique<WorkerPool>(threads);
    return *p;
}

int ThreadsArgument(const benchmark::State& state) {
    return state.range(0) > 0 ? static_cast<int>(state.range(0)) : WorkerPool::HardwareThreads();
}

std::array<int32_t, host::kSliderCount> DefaultSliders() {
    std::array<int32_t, host::kSliderCount> values{};
    for (int i = 0; i < host::kSliderCount; ++i) values[static_cast<size_t>(i)] = host::kSliderSpecs[i].defaultValue;
    return values;
}

SamplePlanes ReadSampleFrame(int index) {
    SamplePlanes planes;
    std::ifstream in(std::string(QV_SAMPLES_DIR) + "/ladybird_640x360.y4m", std::ios::binary);
    std::string header;
    if (!std::getline(in, header)) return {};
    const size_t w = header.find(" W"), h = header.find(" H");
    if (w == std::string::npos || h == std::string::npos) return {};
    planes.width = std::stoi(header.substr(w + 2));
    planes.height = std::stoi(header.substr(h + 2));
    const size_t lumaBytes = static_cast<size_t>(planes.width) * static_cast<size_t>(planes.height);
    const size_t chromaBytes = static_cast<size_t>((planes.width + 1) / 2) * static_cast<size_t>((planes.height + 1) / 2);
    planes.y.resize(lumaBytes);
    planes.cb.resize(chromaBytes);
    planes.cr.resize(chromaBytes);
    const std::streamoff dataStart = in.tellg();
    for (int pass = 0; pass < 2; ++pass) {
        in.clear();
        in.seekg(dataStart);
        int frame = 0;
        std::string frameHeader;
        while (std::getline(in, frameHeader)) {
            if (frameHeader.rfind("FRAME", 0) != 0) return {};
            in.read(reinterpret_cast<char*>(planes.y.data()), static_cast<std::streamsize>(lumaBytes));
            in.read(reinterpret_cast<char*>(planes.cb.data()), static_cast<std::streamsize>(chromaBytes));
            in.read(reinterpret_cast<char*>(planes.cr.data()), static_cast<std::streamsize>(chromaBytes));
            if (!in) return {};
            if (frame == index) return planes;
            ++frame;
        }
        if (frame == 0) return {};
        index %= frame;
    }
    return {};
}

std::vector<uint16_t> NoisySampleTexels(int width, int height, unsigned seed, int noise, bool noisySide) {
    SamplePlanes sample = ReadSampleFrame(0);
    if (sample.y.empty()) sample = SamplePlanes{1, 1, {128}, {}, {}};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> offset(-noise, noise);
    std::vector<uint16_t> texels(static_cast<size_t>(4) * static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(sample.height) / static_cast<size_t>(height);
        for (int x = 0; x < width; ++x) {
            const size_t column = static_cast<size_t>(x) * static_cast<size_t>(sample.width) / static_cast<size_t>(width);
            const int luma = sample.y[row * static_cast<size_t>(sample.width) + column];
            const int v = (luma - 16) * 4096 / 219 + offset(rng);
            uint16_t* t = &texels[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
            t[0] = static_cast<uint16_t>(std::clamp(v, 0, 4096));
            t[1] = 2048;
            t[2] = 2048;
            t[3] = noisySide ? static_cast<uint16_t>(std::abs(offset(rng))) : 0;
        }
    }
    return texels;
}

gfx::TextureView ImageView(const std::vector<uint16_t>& texels, int width, int height) {
    gfx::TextureView v;
    v.bits = reinterpret_cast<const uint8_t*>(texels.data());
    v.width = width;
    v.height = height;
    v.pitch = static_cast<ptrdiff_t>(width) * 8;
    v.format = D3DFMT_A16B16G16R16;
    return v;
}

gfx::TargetView ImageTarget(std::vector<uint16_t>& texels, int width, int height) {
    gfx::TargetView t;
    t.bits = reinterpret_cast<uint8_t*>(texels.data());
    t.width = width;
    t.height = height;
    t.pitch = static_cast<ptrdiff_t>(width) * 8;
    return t;
}

gfx::SamplerBinding WeightTableBinding(const std::vector<float>& table) {
    gfx::SamplerBinding b;
    b.texture.bits = reinterpret_cast<const uint8_t*>(table.data());
    b.texture.width = static_cast<int>(table.size() / 4);
    b.texture.height = 1;
    b.texture.pitch = static_cast<ptrdiff_t>(table.size()) * sizeof(float);
    b.texture.format = D3DFMT_A32B32G32R32F;
    b.state = gfx::SamplerState{gfx::Filter::Point, gfx::Filter::Linear};
    return b;
}

CopyBaseline::CopyBaseline(size_t bytes) : from_(bytes, 1), to_(bytes, 0) {}

double CopyBaseline::Run(WorkerPool& pool) {
    const auto t0 = Clock::now();
    pool.RunOnEach([&](int i, int n) {
        const size_t first = from_.size() * static_cast<size_t>(i) / static_cast<size_t>(n);
        const size_t end = from_.size() * static_cast<size_t>(i + 1) / static_cast<size_t>(n);
        std::memcpy(to_.data() + first, from_.data() + first, end - first);
    });
    return SecondsBetween(t0, Clock::now());
}

Timing TimeAgainstCopy(benchmark::State& state, WorkerPool& pool, CopyBaseline& copy, const std::function<void()>& work) {
    work();
    copy.Run(pool);
    Timing timing;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        work();
        timing.workSeconds += SecondsBetween(t0, Clock::now());
        state.PauseTiming();
        timing.copySeconds += copy.Run(pool);
        state.ResumeTiming();
    }
    timing.iterations = static_cast<double>(state.iterations());
    return timing;
}

void ReportFrame(benchmark::State& state, const Timing& timing, double pixels, const WorkerPool& pool) {
    state.counters["ms/frame"] = timing.workSeconds / timing.iterations * 1e3;
    state.counters["MP/s"] = pixels * timing.iterations / timing.workSeconds / 1e6;
    state.counters["memcpy_ms"] = timing.copySeconds / timing.iterations * 1e3;
    state.counters["threads"] = pool.Size();
}

void RunProgram(benchmark::State& state, WorkerPool& pool, const char* name, const gfx::DrawContext& ctx,
                size_t copyBytes) {
    const gfx::PixelProgram* program = gfx::FindPixelProgram(name);
    if (!program) {
        state.SkipWithError("pixel program not registered");
        return;
    }
    gfx::PoolRowScheduler scheduler(pool);
    CopyBaseline copy(copyBytes);
    const Timing timing = TimeAgainstCopy(state, pool, copy, [&] { program->optimised(ctx, scheduler); });
    ReportFrame(state, timing, static_cast<double>(ctx.width) * ctx.height, pool);
}

}  // namespace qv::bench
