// Optimised variant of recovery: one lane per pixel; chroma copied as stored, since a stored
// value read and stored again is the same value.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/recovery_optimised.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "effect/constant_blocks.h"
#include "passes/detail_rows-inl.h"
#include "passes/program_names.h"
#include "passes/recovery.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace {

using namespace detail_rows;  // NOLINT: the row helpers of this stage

void RecoveryRows(const gfx::DrawContext& ctx, int y0, int y1) {
    const DF df;
    const size_t N = hn::Lanes(df);
    const auto params = effect::ReadBlock<effect::ParamsBlock>(ctx.params);
    const gfx::TextureView& image = ctx.samplers[kRecoveryImageSampler].texture;
    const size_t width = static_cast<size_t>(ctx.width);
    const VF recovery = hn::Set(df, params.recovery);
    const VU16 zero = hn::Zero(DU16());
    for (int y = y0; y < y1; ++y) {
        const uint16_t* texels = image.Row16(std::clamp(y, 0, image.height - 1));
        uint16_t* out = ctx.target.Row(y);
        for (size_t x = 0; x < width; x += N) {
            VU16 s0, s1, s2, s3;
            LoadTexels(texels, image.width, x, s0, s1, s2, s3);
            const VF luma = hn::Add(ReadUnormVec(df, s0), hn::Mul(recovery, ReadUnormVec(df, s3)));
            StoreTexelBits(StoreUnormVec(df, luma), s1, s2, zero, out + 4 * x, std::min(N, width - x));
        }
    }
}

}  // namespace

void RecoveryBands(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    if (ctx.width <= 0 || ctx.height <= 0) return;
    scheduler.Run(ctx.height, detail_rows::BandRows(ctx.height, scheduler.Workers()),
                  [&](int y0, int y1) { RecoveryRows(ctx, y0, y1); });
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::passes {

HWY_EXPORT(RecoveryBands);

void RecoveryOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    HWY_DYNAMIC_DISPATCH(RecoveryBands)(ctx, scheduler);
}

QV_REGISTER_PIXEL_PROGRAM(kRecoveryProgram, RecoveryReference, RecoveryOptimised);

}  // namespace qv::passes
#endif
