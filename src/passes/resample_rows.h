// What one band of rows of a resampling row kernel works from.
#pragma once

#include "passes/resample_plan.h"
#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

struct ResampleJob {
    const ResamplePlan* plan = nullptr;  // along the pass's direction
    gfx::TextureView input;
    // Horizontal passes: the input's rows, so each output row finds the row its reads land on.
    ImageAxis rows;
    gfx::TargetView target;
    int width = 0;  // drawn rectangle
    int height = 0;
    int cachedRows = 0;   // input rows a band keeps converted to float
    int columnChunk = 0;  // columns a vertical band converts at once
};

// A draw's job: its plan, the image it reads and the rectangle it writes. A horizontal pass
// adds the input's rows, a vertical one its cache sizes.
inline ResampleJob MakeResampleJob(const ResamplePlan& plan, const gfx::TextureView& input,
                                   const gfx::DrawContext& ctx) {
    ResampleJob job;
    job.plan = &plan;
    job.input = input;
    job.target = ctx.target;
    job.width = ctx.width;
    job.height = ctx.height;
    return job;
}

}  // namespace qv::passes
