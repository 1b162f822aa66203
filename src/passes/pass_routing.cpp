#include "passes/pass_routing.h"

namespace qv::passes {

namespace {

// The eight stages in their fixed order.
enum Stage : int { kUnpack, kDenoise, kUpscaleH, kUpscaleV, kDetail, kDownscaleH, kDownscaleV, kPack, kStageCount };

// The texture a stage reads. Unpack reads Tex, which the upload fills and no pass writes, so it
// is never asked for.
constexpr RenderTarget InputOf(int stage) {
    switch (stage) {
        case kDenoise: return kTargetTex2;
        case kUpscaleH: return kTargetTex3;
        case kUpscaleV: return kTargetTex4;
        case kDetail: return kTargetTex5;
        case kDownscaleH: return kTargetTex8;
        case kDownscaleV: return kTargetTex9;
        default: return kTargetTex10;  // pack
    }
}

class Planner {
public:
    Planner(const effect::ParamsBlock& params, const gpu::WorkingSizes& sizes)
        : sharp_(params.sharp > 0.0f), usm_(params.usm > 0.0f) {
        const StageSwitches on = SwitchesFor(params, sizes);
        on_[kUnpack] = true;
        on_[kDenoise] = on.denoise;
        on_[kUpscaleH] = on.upscaleH;
        on_[kUpscaleV] = on.upscaleV;
        on_[kDetail] = on.detail;
        on_[kDownscaleH] = on.downscaleH;
        on_[kDownscaleV] = on.downscaleV;
        on_[kPack] = true;
    }

    PassPlan Plan() {
        Add(0, Next(kUnpack), gpu::kQuadSource);
        if (on_[kDenoise]) Add(1, Next(kDenoise), gpu::kQuadSource);
        if (on_[kUpscaleH]) Add(2, Next(kUpscaleH), gpu::kQuadWideSource);
        if (on_[kUpscaleV]) Add(3, Next(kUpscaleV), gpu::kQuadWork);
        if (on_[kDetail]) PlanDetail();
        if (on_[kDownscaleH]) Add(11, Next(kDownscaleH), gpu::kQuadNarrowWork);
        if (on_[kDownscaleV]) Add(12, Next(kDownscaleV), gpu::kQuadTarget);
        Add(13, kTargetPacked, gpu::kQuadPacked);
        return plan_;
    }

private:
    // The input of the next switched-on stage after `stage`; pack is always on.
    RenderTarget Next(Stage stage) const {
        int s = stage + 1;
        while (!on_[s]) ++s;
        return InputOf(s);
    }

    // Unsharp mask (4, 5) with the optional warp sharpening (7 to 10), or recovery alone (6).
    void PlanDetail() {
        const RenderTarget out = Next(kDetail);
        if (usm_ || sharp_) {
            Add(4, kTargetTex6, gpu::kQuadWork);
            Add(5, sharp_ ? kTargetTex7 : out, gpu::kQuadWork);
            if (sharp_) {
                Add(7, kTargetTex6, gpu::kQuadWork);
                Add(8, kTargetTex5, gpu::kQuadWork);
                Add(9, kTargetTex6, gpu::kQuadWork);
                Add(10, out, gpu::kQuadWork);
            }
        } else {
            Add(6, out, gpu::kQuadWork);
        }
    }

    void Add(int pass, RenderTarget target, gpu::Quad quad) {
        plan_.steps[plan_.count++] = PassStep{pass, target, quad};
    }

    bool sharp_;
    bool usm_;
    bool on_[kStageCount] = {};
    PassPlan plan_;
};

}  // namespace

StageSwitches SwitchesFor(const effect::ParamsBlock& p, const gpu::WorkingSizes& s) {
    const bool denoise = p.denoise > 0.0f;
    return StageSwitches{
        denoise,
        s.maxW > s.srcW,
        s.maxH > s.srcH,
        p.usm > 0.0f || p.sharp > 0.0f || (denoise && p.recovery > 0.0f),
        s.dstW < s.maxW,
        s.dstH < s.maxH,
    };
}

PassPlan PlanPasses(const effect::ParamsBlock& params, const gpu::WorkingSizes& sizes) {
    return Planner(params, sizes).Plan();
}

}  // namespace qv::passes
