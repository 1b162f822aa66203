// Shared setup of the detail-stage tests (unsharp mask, recovery, edge-mask blurs, warps): the
// slider sets, pass setups with the constant blocks the constants code computes, and the
// schedulers every comparison runs under.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "common/worker_pool.h"
#include "effect/constant_blocks.h"
#include "gpu/filter_constants.h"
#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/row_schedulers.h"
#include "support/pass_harness.h"

namespace qv::test::detail {

// The slider values that reach these passes, in slider units (percent; radius in tenths).
struct DetailSliders {
    int usm = 100;
    int radius = 15;
    int max = 0;
    int min = 100;
    int recovery = 75;
    int sharp = 25;
};

inline DetailSliders DefaultSliders() { return {}; }
inline DetailSliders StrongSliders() { return {300, 30, 300, 0, 100, 100}; }

// A pass setup at the working size of `reference` (every input of these passes has that size),
// with the constant blocks for `sliders`.
inline PassSetup DetailSetup(const Image& reference, const DetailSliders& sliders) {
    PassSetup s;
    s.params = DefaultParams();
    s.params.usm = gpu::Percent(sliders.usm);
    s.params.max = gpu::Percent(sliders.max);
    s.params.min = gpu::Percent(sliders.min);
    s.params.recovery = gpu::Percent(sliders.recovery);
    s.params.sharp = gpu::Percent(sliders.sharp);
    const auto gw_r4 = gpu::ComputeGwR4Table();
    const auto gw_r3 = gpu::ComputeGwR3(sliders.radius);
    std::copy(gw_r4.begin(), gw_r4.end(), s.weight.gw_r4);
    std::copy(gw_r3.begin(), gw_r3.end(), s.weight.gw_r3);
    s.scale.workTexSizeInverse = {1.0f / static_cast<float>(reference.width()),
                                  1.0f / static_cast<float>(reference.height())};
    s.width = reference.width();
    s.height = reference.height();
    return s;
}

// Serial, shuffled bands of one and of three rows, and a pool of workers.
inline void ForEachScheduler(const std::function<void(gfx::RowScheduler&, const std::string&)>& check) {
    gfx::SerialRowScheduler serial;
    check(serial, "serial");
    gfx::ShuffledRowScheduler shuffled1(21, 1);
    check(shuffled1, "shuffled 1-row bands");
    gfx::ShuffledRowScheduler shuffled3(22, 3);
    check(shuffled3, "shuffled 3-row bands");
    WorkerPool pool(4);
    gfx::PoolRowScheduler pooled(pool);
    check(pooled, "pool of 4");
}

// The reference's result, after checking that the optimised variant gives the same bits under
// every scheduler on the current SIMD target, with the guards around both outputs intact.
inline Image RunBoth(const std::string& program, const PassSetup& setup) {
    Image ref = RunReference(program, setup);
    EXPECT_TRUE(ref.GuardsIntact()) << program << " reference wrote outside its target";
    ForEachScheduler([&](gfx::RowScheduler& scheduler, const std::string& name) {
        const Image opt = RunOptimised(program, setup, scheduler);
        std::string diff;
        EXPECT_TRUE(opt.SameAs(ref, &diff)) << program << ", " << name << ": " << diff;
        EXPECT_TRUE(opt.GuardsIntact()) << program << ", " << name << " wrote outside its target";
    });
    return ref;
}

// Stored value of a unit-range level.
inline uint16_t Stored(double level) { return gfx::StoreUnorm(static_cast<float>(level)); }
inline double Level(uint16_t stored) { return static_cast<double>(stored) / 65535.0; }

}  // namespace qv::test::detail
