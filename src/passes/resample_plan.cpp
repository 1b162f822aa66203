#include "passes/resample_plan.h"

#include <algorithm>
#include <cmath>

#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/shader_quad.h"

namespace qv::passes {
namespace {

struct Entry {
    float c[4];
};

// The table entries of a pair of neighbouring output positions (2b, 2b+1), read as the
// reference's quad reads them: the pair lies along the row in a horizontal pass (lanes 0, 1)
// and down the column in a vertical one (lanes 0, 2). The other two lanes repeat the pair's
// coordinates, because a coordinate that depends only on the pass's direction is the same
// across it; so the sampler's point-or-linear choice is the reference's to the bit.
void ReadTablePair(const gfx::SamplerBinding& table, Axis axis, float p0, float p1, Entry& e0, Entry& e1) {
    const bool horizontal = axis == Axis::Horizontal;
    const gfx::QFloat u = horizontal ? gfx::QFloat(p0, p1, p0, p1) : gfx::QFloat(p0, p0, p1, p1);
    const gfx::QFloat4 e = gfx::Tex2D(table, u, u);
    const int second = horizontal ? 1 : 2;
    e0 = Entry{{e.x[0], e.y[0], e.z[0], e.w[0]}};
    e1 = Entry{{e.x[second], e.y[second], e.z[second], e.w[second]}};
}

// Output positions including the helper position that completes the last 2x2 block of an odd
// extent: its coordinates take part in the block's filter choice, its results are not stored.
int BlockPositions(int count) { return count + (count & 1); }

ResamplePlan EmptyPlan(int count, int taps, int window) {
    ResamplePlan plan;
    plan.count = std::max(count, 0);
    plan.stride = (plan.count + kPlanPad - 1) / kPlanPad * kPlanPad;
    plan.taps = std::max(taps, 0);
    plan.window = std::max(window, 0);
    const size_t stride = static_cast<size_t>(plan.stride);
    plan.tapIndex.assign(stride * static_cast<size_t>(plan.taps), 0);
    plan.tapWeight.assign(stride * static_cast<size_t>(plan.taps), 0.0f);
    plan.weightSum.assign(stride, 0.0f);
    plan.windowIndex.assign(stride * static_cast<size_t>(plan.window), 0);
    return plan;
}

// Padding positions divide 0 by 1 rather than by 0; their results are never stored.
void PadWeightSum(ResamplePlan& plan) {
    std::fill(plan.weightSum.begin() + plan.count, plan.weightSum.end(), 1.0f);
}

}  // namespace

int ResamplePlan::Span() const {
    int span = 1;
    for (int i = 0; i < count; ++i) {
        int lo = taps > 0 ? TapIndex(0)[i] : window > 0 ? WindowIndex(0)[i] : 0;
        int hi = lo;
        for (int k = 0; k < taps; ++k) lo = std::min(lo, TapIndex(k)[i]), hi = std::max(hi, TapIndex(k)[i]);
        for (int k = 0; k < window; ++k) lo = std::min(lo, WindowIndex(k)[i]), hi = std::max(hi, WindowIndex(k)[i]);
        span = std::max(span, hi - lo + 1);
    }
    return span;
}

int TexelIndex(float i, const ImageAxis& axis) {
    const float u = (i + 0.25f) * axis.inverseSize;
    return gfx::ClampedIndex(u * static_cast<float>(axis.size), axis.size);
}

ResamplePlan PlanEnlargement(const gfx::SamplerBinding& table, Axis axis, float r, const ImageAxis& input,
                             int count) {
    constexpr int kTaps = 6;
    constexpr int kWindow = 3;
    ResamplePlan plan = EmptyPlan(count, kTaps, kWindow);
    const int positions = BlockPositions(plan.count);
    std::vector<float> right(static_cast<size_t>(positions));  // phase a
    std::vector<float> left(static_cast<size_t>(positions));   // phase t = 1 - a
    for (int i = 0; i < positions; ++i) {
        const float x = static_cast<float>(i);
        const float u = (x + 0.5f) * r;
        const float n = std::floor(u + 0.5f);
        const float a = (n + 0.5f) - u;
        right[static_cast<size_t>(i)] = a;
        left[static_cast<size_t>(i)] = 1.0f - a;
        if (i >= plan.count) continue;
        const float m = std::floor(u);
        for (int k = 0; k < kTaps; ++k) {
            plan.tapIndex[static_cast<size_t>(k) * plan.stride + i] =
                TexelIndex(n + static_cast<float>(k - 3), input);
        }
        for (int k = 0; k < kWindow; ++k) {
            plan.windowIndex[static_cast<size_t>(k) * plan.stride + i] =
                TexelIndex(m + static_cast<float>(k - 1), input);
        }
    }
    for (int b = 0; b < positions; b += 2) {
        Entry r0, r1, l0, l1;
        ReadTablePair(table, axis, right[static_cast<size_t>(b)], right[static_cast<size_t>(b) + 1], r0, r1);
        ReadTablePair(table, axis, left[static_cast<size_t>(b)], left[static_cast<size_t>(b) + 1], l0, l1);
        for (int lane = 0; lane < 2 && b + lane < plan.count; ++lane) {
            const Entry& R = lane ? r1 : r0;
            const Entry& L = lane ? l1 : l0;
            // Taps n-3 .. n+2: the left entry's phases t+2, t+1, t, then the right's a, a+1, a+2.
            const float weights[kTaps] = {L.c[2], L.c[1], L.c[0], R.c[0], R.c[1], R.c[2]};
            float sum = 0.0f;
            for (int k = 0; k < kTaps; ++k) {
                plan.tapWeight[static_cast<size_t>(k) * plan.stride + b + lane] = weights[k];
                sum = sum + weights[k];
            }
            plan.weightSum[static_cast<size_t>(b + lane)] = sum;
        }
    }
    PadWeightSum(plan);
    return plan;
}

ResamplePlan PlanReduction(const gfx::SamplerBinding& table, Axis axis, float s, float r, float radius,
                           int taps, int window, const ImageAxis& input, int count) {
    ResamplePlan plan = EmptyPlan(count, taps, window);
    const int positions = BlockPositions(plan.count);
    std::vector<float> first(static_cast<size_t>(positions));
    for (int i = 0; i < positions; ++i) {
        const float x = static_cast<float>(i);
        first[static_cast<size_t>(i)] = std::floor(((x - radius) + 0.5f) * r + 0.5f);
        if (i >= plan.count) continue;
        const float windowStart = std::floor((x - 0.5f) * r + 0.5f);
        for (int k = 0; k < plan.window; ++k) {
            plan.windowIndex[static_cast<size_t>(k) * plan.stride + i] =
                TexelIndex(windowStart + static_cast<float>(k), input);
        }
    }
    std::vector<float> phase(static_cast<size_t>(positions));
    std::vector<float> whole(static_cast<size_t>(positions));
    for (int k = 0; k < plan.taps; ++k) {
        int32_t* index = plan.tapIndex.data() + static_cast<size_t>(k) * plan.stride;
        float* weight = plan.tapWeight.data() + static_cast<size_t>(k) * plan.stride;
        for (int i = 0; i < positions; ++i) {
            const float x = static_cast<float>(i);
            const float j = first[static_cast<size_t>(i)] + static_cast<float>(k);
            const float d = (j + 0.5f) * s - (x + 0.5f);
            const float ad = std::fabs(d);
            const float f = ad - std::floor(ad);
            phase[static_cast<size_t>(i)] = f;
            whole[static_cast<size_t>(i)] = ad - f;
            if (i < plan.count) index[i] = TexelIndex(j, input);
        }
        for (int b = 0; b < positions; b += 2) {
            Entry e[2];
            ReadTablePair(table, axis, phase[static_cast<size_t>(b)], phase[static_cast<size_t>(b) + 1], e[0], e[1]);
            for (int lane = 0; lane < 2 && b + lane < plan.count; ++lane) {
                // Entry channels hold the kernel at the phase plus 0, 1, 2 and 3 (always 0);
                // distances of 4 output pixels and more weigh nothing.
                const float q = whole[static_cast<size_t>(b + lane)];
                float w = 0.0f;
                for (int c = 0; c < 4; ++c) {
                    if (q == static_cast<float>(c)) w = e[lane].c[c];
                }
                weight[b + lane] = w;
                plan.weightSum[static_cast<size_t>(b + lane)] = plan.weightSum[static_cast<size_t>(b + lane)] + w;
            }
        }
    }
    PadWeightSum(plan);
    return plan;
}

}  // namespace qv::passes
