// The command-line host's colour conversions on one frame: a 4:2:0 8-bit frame to host pixels
// (the clip read in) and host pixels back to it (the result written out), each on the host's
// processing thread alone, beside a memcpy of the host pixels' bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench_support.h"
#include "host/host_records.h"
#include "yuv_converter.h"
#include "yuv_format.h"

namespace {

using qv::YcPixel;
using qv::cli::YuvFormat;

YuvFormat Format420(int width, int height) {
    YuvFormat f;
    f.width = width;
    f.height = height;
    return f;
}

// Noise around mid-grey, in a frame laid out as a Y4M frame's planes.
std::vector<uint8_t> NoisyFrame(const YuvFormat& f) {
    std::vector<uint8_t> frame(qv::cli::FrameBytes(f));
    std::mt19937 rng(7);
    for (auto& b : frame) b = static_cast<uint8_t>(96 + rng() % 64);
    return frame;
}

void Report(benchmark::State& state, const qv::bench::Timing& t, const YuvFormat& f) {
    qv::bench::ReportFrame(state, t, static_cast<double>(f.width) * f.height, qv::bench::SharedPool(1));
}

void BM_YuvToHost(benchmark::State& state) {
    const YuvFormat f = Format420(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const std::vector<uint8_t> frame = NoisyFrame(f);
    std::vector<YcPixel> pixels(static_cast<size_t>(f.width) * static_cast<size_t>(f.height));
    qv::cli::YuvToHost converter(f);
    qv::bench::CopyBaseline copy(pixels.size() * sizeof(YcPixel));
    const qv::bench::Timing t =
        qv::bench::TimeAgainstCopy(state, qv::bench::SharedPool(1), copy, [&] { converter.Convert(frame.data(), pixels.data()); });
    Report(state, t, f);
}

void BM_HostToYuv(benchmark::State& state) {
    const YuvFormat f = Format420(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<uint8_t> frame(qv::cli::FrameBytes(f));
    std::vector<YcPixel> pixels(static_cast<size_t>(f.width) * static_cast<size_t>(f.height));
    std::mt19937 rng(9);
    for (YcPixel& p : pixels) {
        p.y = static_cast<int16_t>(rng() % 4097);
        p.cb = static_cast<int16_t>(static_cast<int>(rng() % 1025) - 512);
        p.cr = static_cast<int16_t>(static_cast<int>(rng() % 1025) - 512);
    }
    qv::cli::HostToYuv converter(f, qv::cli::Dither::kOrdered);
    qv::bench::CopyBaseline copy(pixels.size() * sizeof(YcPixel));
    const qv::bench::Timing t = qv::bench::TimeAgainstCopy(state, qv::bench::SharedPool(1), copy, [&] {
        converter.Convert(pixels.data(), 3 * static_cast<ptrdiff_t>(f.width), frame.data());
    });
    Report(state, t, f);
}

}  // namespace

BENCHMARK(BM_YuvToHost)->Args({1280, 720})->Args({1920, 1080})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostToYuv)->Args({1920, 1080})->UseRealTime()->Unit(benchmark::kMillisecond);
