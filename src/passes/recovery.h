// The recovery program (p6), run instead of the unsharp-mask pair when neither the mask nor the
// warps are on: it adds the share `recovery` of the luma the denoise pass removed (channel w)
// back to the luma and clears w; chroma passes through.
#pragma once

#include "platform/d3d9/pixel_program.h"

namespace qv::passes {

inline constexpr int kRecoveryImageSampler = 5;  // s5: the working image (Tex5)

void RecoveryReference(const gfx::DrawContext& ctx);
void RecoveryOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler);

}  // namespace qv::passes
