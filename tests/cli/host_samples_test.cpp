// The host's row conversions between float planes and host pixels, on every SIMD target,
// against the one-sample forms: every row length 1..70 (whole vectors and tails), values at and
// around every rounding tie, beyond the int16 range, and grey (no chroma planes).
#include <gtest/gtest.h>

#include <hwy/targets.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "host_samples.h"

namespace qv::cli {
namespace {

void ForEachTarget(const std::function<void(const char*)>& fn) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        fn(hwy::TargetName(target));
    }
    hwy::SetSupportedTargetsForTest(0);
}

// Samples where rounding is delicate: exact ties k + 1/2 steps, their neighbours, whole steps,
// both ends of the int16 range and past them, and ordinary values.
std::vector<float> DelicateSamples(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> step(-5000, 5000);
    std::vector<float> v(count);
    for (size_t i = 0; i < count; ++i) {
        const float tie = (static_cast<float>(step(rng)) + 0.5f) / kHostScale;
        switch (rng() % 6) {
            case 0: v[i] = tie; break;
            case 1: v[i] = std::nextafter(tie, 10.0f); break;
            case 2: v[i] = std::nextafter(tie, -10.0f); break;
            case 3: v[i] = static_cast<float>(step(rng)) / kHostScale; break;
            case 4: v[i] = (rng() % 2 ? 1.0f : -1.0f) * (8.0f + static_cast<float>(rng() % 100)); break;
            default: v[i] = std::uniform_real_distribution<float>(-0.6f, 1.1f)(rng); break;
        }
    }
    return v;
}

TEST(HostSamples, FloatPlanesToHostPixelsMatchTheOneSampleForm) {
    ForEachTarget([](const char* target) {
        for (int n = 1; n <= 70; ++n) {
            const std::vector<float> y = DelicateSamples(static_cast<size_t>(n), 1u + n);
            const std::vector<float> cb = DelicateSamples(static_cast<size_t>(n), 100u + n);
            const std::vector<float> cr = DelicateSamples(static_cast<size_t>(n), 200u + n);
            std::vector<YcPixel> out(static_cast<size_t>(n) + 1, YcPixel{7, 7, 7});
            FloatPlanesToHostRow(y.data(), cb.data(), cr.data(), out.data(), n);
            for (int x = 0; x < n; ++x) {
                ASSERT_EQ(out[x].y, ToHostSample(y[x])) << target << " n " << n << " x " << x << " y " << y[x];
                ASSERT_EQ(out[x].cb, ToHostSample(cb[x])) << target << " n " << n << " x " << x;
                ASSERT_EQ(out[x].cr, ToHostSample(cr[x])) << target << " n " << n << " x " << x;
            }
            EXPECT_EQ(out[n].y, 7) << target << ": wrote past the row";
            FloatPlanesToHostRow(y.data(), nullptr, nullptr, out.data(), n);
            for (int x = 0; x < n; ++x) {
                ASSERT_EQ(out[x].y, ToHostSample(y[x])) << target << " grey n " << n;
                ASSERT_EQ(out[x].cb, 0) << target << " grey n " << n;
                ASSERT_EQ(out[x].cr, 0) << target << " grey n " << n;
            }
        }
    });
}

TEST(HostSamples, HostPixelsToFloatPlanesMatchTheOneSampleForm) {
    ForEachTarget([](const char* target) {
        std::mt19937 rng(3);
        for (int n = 1; n <= 70; ++n) {
            std::vector<YcPixel> in(static_cast<size_t>(n));
            for (YcPixel& p : in) {
                p.y = static_cast<int16_t>(rng());
                p.cb = static_cast<int16_t>(rng());
                p.cr = static_cast<int16_t>(rng());
            }
            std::vector<float> y(static_cast<size_t>(n) + 1, -7.0f), cb(y), cr(y);
            HostRowToFloatPlanes(in.data(), y.data(), cb.data(), cr.data(), n);
            for (int x = 0; x < n; ++x) {
                ASSERT_EQ(y[x], FromHostSample(in[x].y)) << target << " n " << n << " x " << x;
                ASSERT_EQ(cb[x], FromHostSample(in[x].cb)) << target << " n " << n << " x " << x;
                ASSERT_EQ(cr[x], FromHostSample(in[x].cr)) << target << " n " << n << " x " << x;
            }
            EXPECT_EQ(y[n], -7.0f) << target << ": wrote past the row";
            std::vector<float> lumaOnly(static_cast<size_t>(n), -7.0f);
            HostRowToFloatPlanes(in.data(), lumaOnly.data(), nullptr, nullptr, n);
            for (int x = 0; x < n; ++x) ASSERT_EQ(lumaOnly[x], FromHostSample(in[x].y)) << target << " luma only";
        }
    });
}

}  // namespace
}  // namespace qv::cli
