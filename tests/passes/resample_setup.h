// Shared set-up of the resampling program tests: the constants the system computes for a
// pair of sizes, the draw of each pass, and a run of both rasterisers that insists they agree.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effect/constant_blocks.h"
#include "gpu/weight_table.h"
#include "passes/program_names.h"
#include "platform/d3d9/row_schedulers.h"
#include "support/pass_harness.h"

namespace qv::test::resample {

struct Sizes {
    int srcW, srcH, dstW, dstH;
    int maxW() const { return srcW > dstW ? srcW : dstW; }
    int maxH() const { return srcH > dstH ? srcH : dstH; }
};

// The scale block: each reciprocal is 1 divided by the size in single precision, each ratio
// the numerator times the reciprocal.
inline effect::ScaleBlock ScaleFor(const Sizes& s) {
    const auto inv = [](int n) { return 1.0f / static_cast<float>(n); };
    effect::ScaleBlock b{};
    b.hscale = static_cast<float>(s.dstW) * inv(s.srcW);
    b.vscale = static_cast<float>(s.dstH) * inv(s.srcH);
    b.hscaleInverse = static_cast<float>(s.srcW) * inv(s.dstW);
    b.vscaleInverse = static_cast<float>(s.srcH) * inv(s.dstH);
    b.inputTexSizeInverse = {inv((3 * s.srcW + 3) / 4), inv(s.srcH)};
    b.srcTexSizeInverse = {inv(s.srcW), inv(s.srcH)};
    b.tmpTexSizeInverse = {inv(s.maxW()), inv(s.srcH)};
    b.tmpTex2SizeInverse = {inv(s.dstW), inv(s.maxH())};
    b.workTexSizeInverse = {inv(s.maxW()), inv(s.maxH())};
    b.destTexSizeInverse = {inv(s.dstW), inv(s.dstH)};
    return b;
}

// The default sliders' params with the tap counts of the sizes (divisions rounding up).
inline effect::ParamsBlock ParamsFor(const Sizes& s) {
    effect::ParamsBlock p = DefaultParams();
    p.htap = (6 * s.srcW + s.dstW - 1) / s.dstW;
    p.vtap = (6 * s.srcH + s.dstH - 1) / s.dstH;
    p.htap2 = (2 * s.srcW + s.dstW - 1) / s.dstW;
    p.vtap2 = (2 * s.srcH + s.dstH - 1) / s.dstH;
    return p;
}

enum class Pass { UpscaleH, UpscaleV, DownscaleH, DownscaleV };

inline const char* ProgramOf(Pass p) {
    switch (p) {
        case Pass::UpscaleH: return passes::kUpscaleHProgram;
        case Pass::UpscaleV: return passes::kUpscaleVProgram;
        case Pass::DownscaleH: return passes::kDownscaleHProgram;
        default: return passes::kDownscaleVProgram;
    }
}

inline bool IsHorizontal(Pass p) { return p == Pass::UpscaleH || p == Pass::DownscaleH; }

// One pass resizing `input` to `size` along its direction, the other extent kept. The input
// has the size of the texture that pass reads (Tex3, Tex4, Tex8, Tex9).
inline Sizes SizesFor(Pass p, const Image& input, int size) {
    if (IsHorizontal(p)) return Sizes{input.width(), input.height(), size, input.height()};
    return Sizes{input.width(), input.height(), input.width(), size};
}

inline PassSetup SetupFor(Pass p, const Image& input, int size) {
    const Sizes s = SizesFor(p, input, size);
    PassSetup setup;
    setup.params = ParamsFor(s);
    setup.scale = ScaleFor(s);
    switch (p) {
        case Pass::UpscaleH: setup.inputs[3] = &input; setup.width = s.maxW(); setup.height = s.srcH; break;
        case Pass::UpscaleV: setup.inputs[4] = &input; setup.width = s.maxW(); setup.height = s.maxH(); break;
        case Pass::DownscaleH: setup.inputs[8] = &input; setup.width = s.dstW; setup.height = s.maxH(); break;
        case Pass::DownscaleV: setup.inputs[9] = &input; setup.width = s.dstW; setup.height = s.dstH; break;
    }
    return setup;
}

// Runs the reference and the optimised program (one worker); they must agree bit for bit and
// leave the guard bands alone. Returns the reference's image.
inline Image RunBoth(Pass p, const Image& input, int size) {
    const PassSetup setup = SetupFor(p, input, size);
    Image reference = RunReference(ProgramOf(p), setup);
    gfx::SerialRowScheduler serial;
    Image optimised = RunOptimised(ProgramOf(p), setup, serial);
    std::string difference;
    EXPECT_TRUE(optimised.SameAs(reference, &difference)) << ProgramOf(p) << ": " << difference;
    EXPECT_TRUE(reference.GuardsIntact());
    EXPECT_TRUE(optimised.GuardsIntact());
    return reference;
}

// An image laid out along a pass's direction: `length` texels along it, `across` across.
inline Image LineImage(Pass p, int length, int across) {
    return IsHorizontal(p) ? Image(length, across) : Image(across, length);
}
// Texel at position i along the pass's direction, j across it.
inline uint16_t* Along(Image& im, Pass p, int i, int j) { return IsHorizontal(p) ? im.Texel(i, j) : im.Texel(j, i); }
inline const uint16_t* Along(const Image& im, Pass p, int i, int j) {
    return IsHorizontal(p) ? im.Texel(i, j) : im.Texel(j, i);
}

// The weight table as the device holds it, bound as s11 is.
inline gfx::SamplerBinding WeightTableBinding() {
    static const std::vector<float> table = [] {
        std::vector<float> t(static_cast<size_t>(gpu::kWeightTableEntries) * 4);
        gpu::FillWeightTable(t.data());
        return t;
    }();
    gfx::SamplerBinding b;
    b.texture.bits = reinterpret_cast<const uint8_t*>(table.data());
    b.texture.width = gpu::kWeightTableEntries;
    b.texture.height = 1;
    b.texture.pitch = gpu::kWeightTableEntries * 16;
    b.texture.format = D3DFMT_A32B32G32R32F;
    b.state = gfx::SamplerState{gfx::Filter::Point, gfx::Filter::Linear};
    return b;
}
inline const float* TableEntry(int e) {
    return reinterpret_cast<const float*>(WeightTableBinding().texture.bits) + 4 * e;
}

}  // namespace qv::test::resample
