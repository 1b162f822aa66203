// Which of the fourteen passes run for a frame, into which texture each one writes and which
// quad it draws: the one place the routing is decided, as data the pass chain then records.
#pragma once

#include <array>
#include <cstdint>

#include "effect/constant_blocks.h"
#include "gpu/working_sizes.h"

namespace qv::passes {

inline constexpr int kPassCount = 14;

// A pass's render target: slots 2..10 are Tex2..Tex10 (GpuContext::surfaces), then the packed
// target of the pack pass.
enum RenderTarget : int {
    kTargetTex2 = 2,
    kTargetTex3,
    kTargetTex4,
    kTargetTex5,
    kTargetTex6,
    kTargetTex7,
    kTargetTex8,
    kTargetTex9,
    kTargetTex10,
    kTargetPacked,
};

struct PassStep {
    int pass;             // effect pass index 0..13
    RenderTarget target;
    gpu::Quad quad;       // drawn from vertex FirstVertex(quad)
};

// Passes in pass order, each at most once.
struct PassPlan {
    std::array<PassStep, kPassCount> steps{};
    int count = 0;

    const PassStep* begin() const { return steps.data(); }
    const PassStep* end() const { return steps.data() + count; }
};

// The stages in their fixed order and whether each runs, from the strengths of params
// (compared with 0 in single precision) and the working sizes.
struct StageSwitches {
    bool denoise;
    bool upscaleH;
    bool upscaleV;
    bool detail;
    bool downscaleH;
    bool downscaleV;
};
StageSwitches SwitchesFor(const effect::ParamsBlock& params, const gpu::WorkingSizes& sizes);

PassPlan PlanPasses(const effect::ParamsBlock& params, const gpu::WorkingSizes& sizes);

}  // namespace qv::passes
