// The horizontal enlargement's plan regrouped for a row kernel with one lane per output column:
// a group is a vector's worth of neighbouring output columns. Their six taps are consecutive
// input columns, and the start moves by at most one column per output column (the ratio is
// below 1), so tap k of every lane lies in one vector loaded at the group's start plus k, and a
// single lane permutation per group picks each lane's texel from it. The same holds for the
// range window's centre column.
#pragma once

#include <cstdint>
#include <vector>

#include "passes/resample_plan.h"

namespace qv::passes {

// Converted input rows of the horizontal pass reach this many columns past either edge (holding
// the edge texel there): a regular group's tap loads, and the range rows formed a vector at a
// time from the three rows of the window, stay inside.
inline constexpr int kLaneRowPadBefore = 8;
inline int LaneRowPadAfter(int lanes) { return 3 * lanes; }

struct LaneGroups {
    int lanes = 0;
    int groups = 0;
    // Per group: whether every lane's taps and window follow the pattern above; groups that
    // do not (input reads that skip or repeat columns) gather each lane's texels by the plan.
    std::vector<uint8_t> regular;
    std::vector<int32_t> tapStart;     // [g]: input column of lane 0's first tap, unclamped
    std::vector<int32_t> tapLane;      // [g * lanes + l]: lane l's first tap column less tapStart
    std::vector<int32_t> windowStart;  // [g]: lane 0's window centre column
    std::vector<int32_t> windowLane;   // [g * lanes + l]: lane l's centre less windowStart
};

// Groups of `lanes` output columns of a six-tap enlargement plan over an input row of
// `inputWidth` texels; lanes past the plan's count repeat its last column.
LaneGroups GroupEnlargementLanes(const ResamplePlan& plan, int lanes, int inputWidth);

}  // namespace qv::passes
