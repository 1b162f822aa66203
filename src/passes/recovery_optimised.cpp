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
    const VU32 zero = hn::Zero(DU32());
    for (int y = y0; y < y1; ++y) {
        const uint16_t* texels = image.Row16(std::clamp(y, 0, image.height - 1));
        const uint16_t* next = image.Row16(std::clamp(y + 1, 0, image.height - 1));
        uint16_t* out = ctx.target.Row(y);
        for (size_t x = 0; x < width; x += N) {
            PrefetchTexels(next, image.width, x);
            VU32 low, high;
            LoadTexelPairs(texels, image.width, x, low, high);
            const VF luma = hn::Add(ReadUnormWideVec(df, LowChannel(low)),
                                    hn::Mul(recovery, ReadUnormWideVec(df, HighChannel(high))));
            StoreTexelPairs(PairOf(StoreUnormWideVec(df, luma), HighChannel(low)), PairOf(LowChannel(high), zero),
                            out + 4 * x, std::min(N, width - x));
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

QV_REGISTER_PIXEL_PROGRAM(kRecoveryProgram, RecoveryReference, RecoveryOptimised, gfx::Samplers(kRecoveryImageSampler));

}  // namespace qv::passes
#endif
