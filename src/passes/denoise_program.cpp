// Registers the denoise pass's pixel program under the name the effect's p1 uses.
#include "passes/denoise.h"
#include "passes/program_names.h"

namespace qv::passes {

QV_REGISTER_PIXEL_PROGRAM(kDenoiseProgram, DenoiseReference, DenoiseOptimised, gfx::Samplers(kDenoiseInputSampler));

}  // namespace qv::passes
