#include "passes/upscale_lanes.h"

#include <algorithm>

namespace qv::passes {
namespace {

constexpr int kTaps = 6;

// The unclamped first tap column s of output column x: taps s .. s+5, each clamped to the row,
// are the plan's. The largest such s, so that a one-texel row gives 0.
bool FirstTap(const ResamplePlan& plan, int x, int width, int32_t& first) {
    const int32_t top = plan.TapIndex(0)[x];
    for (int32_t s = top; s >= top - (kTaps - 1); --s) {
        bool fits = true;
        for (int k = 0; k < kTaps && fits; ++k) fits = std::clamp(s + k, 0, width - 1) == plan.TapIndex(k)[x];
        if (fits) {
            first = s;
            return true;
        }
    }
    return false;
}

// The window centre c of output column x: the window is c-1, c, c+1 clamped to the row.
bool WindowCentre(const ResamplePlan& plan, int x, int width, int32_t& centre) {
    const int32_t c = plan.WindowIndex(1)[x];
    centre = c;
    return plan.WindowIndex(0)[x] == std::max(c - 1, 0) && plan.WindowIndex(2)[x] == std::min(c + 1, width - 1);
}

}  // namespace

LaneGroups GroupEnlargementLanes(const ResamplePlan& plan, int lanes, int inputWidth) {
    LaneGroups g;
    g.lanes = lanes;
    g.groups = (plan.count + lanes - 1) / lanes;
    const size_t groups = static_cast<size_t>(g.groups);
    g.regular.assign(groups, 0);
    g.tapStart.assign(groups, 0);
    g.windowStart.assign(groups, 0);
    g.tapLane.assign(groups * static_cast<size_t>(lanes), 0);
    g.windowLane.assign(groups * static_cast<size_t>(lanes), 0);
    if (plan.taps != kTaps || plan.window != 3) return g;

    const int padAfter = LaneRowPadAfter(lanes);
    for (int group = 0; group < g.groups; ++group) {
        bool regular = true;
        int32_t tap0 = 0, centre0 = 0;
        for (int l = 0; l < lanes && regular; ++l) {
            const int x = std::min(group * lanes + l, plan.count - 1);
            int32_t tap = 0, centre = 0;
            regular = FirstTap(plan, x, inputWidth, tap) && WindowCentre(plan, x, inputWidth, centre);
            if (l == 0) tap0 = tap, centre0 = centre;
            const int32_t tapLane = tap - tap0, windowLane = centre - centre0;
            regular = regular && tapLane >= 0 && tapLane < lanes && windowLane >= 0 && windowLane < lanes;
            const size_t at = static_cast<size_t>(group) * static_cast<size_t>(lanes) + static_cast<size_t>(l);
            g.tapLane[at] = tapLane;
            g.windowLane[at] = windowLane;
        }
        // Tap k's vector covers columns tap0 + k .. tap0 + k + lanes - 1.
        regular = regular && tap0 >= -kLaneRowPadBefore && tap0 + (kTaps - 1) + lanes <= inputWidth + padAfter &&
                  centre0 >= 0 && centre0 < inputWidth;
        const size_t at = static_cast<size_t>(group);
        g.regular[at] = regular ? 1 : 0;
        g.tapStart[at] = tap0;
        g.windowStart[at] = centre0;
    }
    return g;
}

}  // namespace qv::passes
