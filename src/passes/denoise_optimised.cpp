// The optimised denoise: row bands, each streamed row by row through per-offset rings, with
// the same arithmetic per pixel as the reference and therefore the same bits.
//
// With P the luma made infinite by edge replication (P(q) = Y(clamp(q))), the block distance of
// candidate o at pixel p is D_o(p) = sum over (a, b) of w(a, b) * Q_o(p + (a, b)), where
// Q_o(q) = (P(q) - P(q + o))^2. Since (P(q) - P(q - o))^2 = Q_o(q - o) exactly, the candidate -o
// has D_-o(p) = D_o(p - o), summed in the same order; its weight is therefore the weight of o
// taken at p - o. So the twelve offsets o with j > 0, or j = 0 and i > 0, are computed once per
// position and serve all 24 off-centre candidates. The centre candidate's distance is exactly 0.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/denoise_optimised.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/aligned_allocator.h>
#include <hwy/highway.h>

#include "effect/constant_blocks.h"
#include "passes/denoise.h"
#include "passes/exp2-inl.h"
#include "passes/exp2.h"
#include "passes/number_rules-inl.h"
#include "platform/d3d9/number_rules.h"

#ifndef QV_PASSES_DENOISE_OPTIMISED_SHARED_
#define QV_PASSES_DENOISE_OPTIMISED_SHARED_
namespace qv::passes::denoise_detail {

// Row buffers hold columns -kOrigin .. paddedWidth + kOrigin - 1 of a row; paddedWidth is the
// drawn width rounded up to 16, a multiple of every target's float lane count, so each stage
// below covers its column range in whole vectors.
inline constexpr int kOrigin = 32;
inline constexpr int kAlign = 16;
// Column ranges past [0, paddedWidth) per stage: weights are needed 2 columns out (candidate
// offsets), squared differences one further (block), luma two further again (offsets).
inline constexpr int kWeightMargin = 8;
inline constexpr int kSquaredMargin = 16;

inline constexpr int kLumaRing = 8;  // luma rows r - 2 .. r + 3 live at row r
inline constexpr int kRing = 4;      // squared-difference rows r - 1 .. r + 1, weight rows r - 2 .. r

struct Offset {
    int i;
    int j;
};
inline constexpr int kWindow = 2 * kDenoiseSearchRadius + 1;
inline constexpr int kHalfOffsets = (kWindow * kWindow - 1) / 2;
inline constexpr Offset kHalfOffset[kHalfOffsets] = {
    {1, 0}, {2, 0}, {-2, 1}, {-1, 1}, {0, 1}, {1, 1}, {2, 1}, {-2, 2}, {-1, 2}, {0, 2}, {1, 2}, {2, 2},
};
static_assert(kDenoiseSearchRadius == 2 && kDenoiseBlockRadius == 1, "the offsets and margins here are for a 5x5 window of 3x3 blocks");

// Index into kHalfOffset of candidate (i, j) or of its mirror (-i, -j).
inline int HalfOffsetIndex(int i, int j) {
    if (j < 0 || (j == 0 && i < 0)) {
        i = -i;
        j = -j;
    }
    for (int k = 0; k < kHalfOffsets; ++k)
        if (kHalfOffset[k].i == i && kHalfOffset[k].j == j) return k;
    return -1;
}

inline int Clamp(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

}  // namespace qv::passes::denoise_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using namespace denoise_detail;

namespace {

// One thread's scratch, kept between bands and draws so a band allocates nothing.
struct BandScratch {
    hwy::AlignedFreeUniquePtr<float[]> floats;
    hwy::AlignedFreeUniquePtr<uint16_t[]> stores;
    size_t floatCapacity = 0;
    size_t storeCapacity = 0;

    void Reserve(size_t floatCount, size_t storeCount) {
        if (floatCount > floatCapacity) {
            floats = hwy::AllocateAligned<float>(floatCount);
            floatCapacity = floatCount;
        }
        if (storeCount > storeCapacity) {
            stores = hwy::AllocateAligned<uint16_t>(storeCount);
            storeCapacity = storeCount;
        }
    }
};

class DenoiseBand {
public:
    DenoiseBand(const gfx::DrawContext& ctx, float h2, float centreWeight)
        : ctx_(ctx),
          src_(ctx.samplers[kDenoiseInputSampler].texture),
          width_(ctx.width),
          paddedWidth_((ctx.width + kAlign - 1) / kAlign * kAlign),
          stride_(static_cast<size_t>(paddedWidth_ + 2 * kOrigin)),
          h2_(h2),
          centreWeight_(centreWeight) {}

    void Run(int y0, int y1) {
        thread_local BandScratch scratch;
        scratch.Reserve(stride_ * (kLumaRing + 2 * kHalfOffsets * kRing), 2 * static_cast<size_t>(paddedWidth_));
        luma_ = scratch.floats.get();
        squared_ = luma_ + stride_ * kLumaRing;
        weights_ = squared_ + stride_ * kHalfOffsets * kRing;
        outLuma_ = scratch.stores.get();
        outRemoved_ = outLuma_ + paddedWidth_;

        for (int q = y0 - kDenoiseBorder; q <= y0; ++q) FillLuma(q);
        for (int k = 0; k < kHalfOffsets; ++k) {
            SquaredRow(k, y0 - kDenoiseBorder);
            SquaredRow(k, y0 - kDenoiseBorder + 1);
        }
        for (int r = y0 - kDenoiseSearchRadius; r < y1; ++r) {
            FillLuma(r + kDenoiseBorder);
            for (int k = 0; k < kHalfOffsets; ++k) {
                SquaredRow(k, r + 1);
                WeightRow(k, r);
            }
            if (r >= y0) OutputRow(r);
        }
    }

private:
    float* LumaRow(int q) const { return luma_ + stride_ * static_cast<size_t>(q & (kLumaRing - 1)) + kOrigin; }
    float* SquaredRowPtr(int k, int q) const {
        return squared_ + stride_ * static_cast<size_t>(k * kRing + (q & (kRing - 1))) + kOrigin;
    }
    float* WeightRowPtr(int k, int q) const {
        return weights_ + stride_ * static_cast<size_t>(k * kRing + (q & (kRing - 1))) + kOrigin;
    }

    // Luma of texture row clamp(q) over every buffered column, edges replicated.
    void FillLuma(int q) const {
        const hn::ScalableTag<float> df;
        const hn::Rebind<uint16_t, decltype(df)> du16;
        const int lanes = static_cast<int>(hn::Lanes(df));
        const uint16_t* src = src_.Row16(Clamp(q, src_.height - 1));
        float* row = LumaRow(q);
        const int last = src_.width - 1;
        const int end = paddedWidth_ + kOrigin;
        const float left = gfx::ReadUnorm(src[0]);
        const float right = gfx::ReadUnorm(src[4 * last]);
        for (int c = -kOrigin; c < 0; ++c) row[c] = left;
        const int inside = std::min(end, last + 1);
        int c = 0;
        for (; c + lanes <= inside; c += lanes) {
            hn::Vec<decltype(du16)> luma, cb, cr, aux;
            hn::LoadInterleaved4(du16, src + 4 * c, luma, cb, cr, aux);
            hn::StoreU(ReadUnormVec(df, luma), df, row + c);
        }
        for (; c < inside; ++c) row[c] = gfx::ReadUnorm(src[4 * c]);
        for (; c < end; ++c) row[c] = right;
    }

    // Q_o row q = (P(q, c) - P(q + j, c + i))^2.
    void SquaredRow(int k, int q) const {
        const hn::ScalableTag<float> df;
        const Offset o = kHalfOffset[k];
        const float* a = LumaRow(q);
        const float* b = LumaRow(q + o.j) + o.i;
        float* out = SquaredRowPtr(k, q);
        for (int c = -kSquaredMargin; c < paddedWidth_ + kSquaredMargin; c += static_cast<int>(hn::Lanes(df))) {
            const auto d = hn::Sub(hn::LoadU(df, a + c), hn::LoadU(df, b + c));
            hn::StoreU(hn::Mul(d, d), df, out + c);
        }
    }

    // Weights of offset o at row r: the block distance summed row by row (b outer, a inner),
    // z = (D * H2) * scale, and 2^z. The row's z are formed first and raised to weights after:
    // iterations of each loop are independent, which keeps the distance's chain of additions and
    // the exponential's chain of operations both in flight.
    void WeightRow(int k, int r) const {
        const hn::ScalableTag<float> df;
        const float* rows[3] = {SquaredRowPtr(k, r - 1), SquaredRowPtr(k, r), SquaredRowPtr(k, r + 1)};
        float* out = WeightRowPtr(k, r);
        const auto h2 = hn::Set(df, h2_);
        const auto scale = hn::Set(df, kDenoiseExponentScale);
        const int lanes = static_cast<int>(hn::Lanes(df));
        auto distanceAt = [&](int c) {
            // The sum starts from its first term: 0 + t is t for every non-negative t.
            auto distance = hn::Mul(hn::Set(df, kDenoiseBlockWeights[0][0]), hn::LoadU(df, rows[0] + c - 1));
            for (int b = -1; b <= 1; ++b) {
                for (int a = -1; a <= 1; ++a) {
                    if (a == -1 && b == -1) continue;
                    const auto term = hn::Mul(hn::Set(df, kDenoiseBlockWeights[b + 1][a + 1]),
                                              hn::LoadU(df, rows[b + 1] + c + a));
                    distance = hn::Add(distance, term);
                }
            }
            return hn::Mul(hn::Mul(distance, h2), scale);
        };
        for (int c = -kWeightMargin; c < paddedWidth_ + kWeightMargin; c += lanes) hn::StoreU(distanceAt(c), df, out + c);
        for (int c = -kWeightMargin; c < paddedWidth_ + kWeightMargin; c += lanes)
            hn::StoreU(Exp2ToFloatVec(df, hn::LoadU(df, out + c)), df, out + c);
    }

    void OutputRow(int y) const {
        const hn::ScalableTag<float> df;
        const hn::Rebind<uint16_t, decltype(df)> du16;
        const int lanes = static_cast<int>(hn::Lanes(df));
        // Per candidate (j outer, i inner): where its weights and its centre lumas start. The
        // computed half is read in place; a mirrored candidate reads its partner's weight at
        // p + o. The centre candidate has no row: its weight is one value.
        constexpr int R = kDenoiseSearchRadius;
        const float* weightRow[kWindow][kWindow];
        const float* lumaRow[kWindow];
        for (int j = -R; j <= R; ++j) {
            lumaRow[j + R] = LumaRow(y + j) - R;
            for (int i = -R; i <= R; ++i) {
                const bool computed = j > 0 || (j == 0 && i > 0);
                const bool centre = i == 0 && j == 0;
                const int k = HalfOffsetIndex(i, j);
                weightRow[j + R][i + R] = centre ? nullptr : computed ? WeightRowPtr(k, y) : WeightRowPtr(k, y + j) + i;
            }
        }
        const auto centreWeight = hn::Set(df, centreWeight_);
        const uint16_t* src = src_.Row16(Clamp(y, src_.height - 1));
        uint16_t* dst = ctx_.target.Row(y);
        // Whole vectors of pixels inside both the drawn row and the texture row are written in
        // place; the rest go through the row buffers below.
        const int direct = std::min(width_, src_.width) / lanes * lanes;
        for (int x = 0; x < paddedWidth_; x += lanes) {
            auto sum = hn::Zero(df);
            auto weightSum = hn::Zero(df);
            for (int j = 0; j < kWindow; ++j) {
                for (int i = 0; i < kWindow; ++i) {
                    const auto e = weightRow[j][i] ? hn::LoadU(df, weightRow[j][i] + x) : centreWeight;
                    sum = hn::Add(sum, hn::Mul(e, hn::LoadU(df, lumaRow[j] + x + i)));
                    weightSum = hn::Add(weightSum, e);
                }
            }
            const auto denoised = hn::Div(sum, weightSum);
            const auto luma = hn::LoadU(df, lumaRow[R] + x + R);
            const auto lumaOut = StoreUnormVec(df, denoised);
            const auto removedOut = StoreUnormVec(df, hn::Sub(luma, denoised));
            if (x < direct) {
                // Chroma is copied as stored: reading a step and storing the reading gives the
                // step back.
                hn::Vec<decltype(du16)> lumaIn, cb, cr, aux;
                hn::LoadInterleaved4(du16, src + 4 * x, lumaIn, cb, cr, aux);
                hn::StoreInterleaved4(lumaOut, cb, cr, removedOut, du16, dst + 4 * x);
            } else {
                hn::StoreU(lumaOut, du16, outLuma_ + x);
                hn::StoreU(removedOut, du16, outRemoved_ + x);
            }
        }
        const int last = src_.width - 1;
        for (int x = direct; x < width_; ++x) {
            const uint16_t* s = src + 4 * std::min(x, last);
            dst[4 * x + 0] = outLuma_[x];
            dst[4 * x + 1] = s[1];
            dst[4 * x + 2] = s[2];
            dst[4 * x + 3] = outRemoved_[x];
        }
    }

    const gfx::DrawContext& ctx_;
    const gfx::TextureView& src_;
    const int width_;
    const int paddedWidth_;
    const size_t stride_;
    const float h2_;
    const float centreWeight_;
    float* luma_ = nullptr;
    float* squared_ = nullptr;
    float* weights_ = nullptr;
    uint16_t* outLuma_ = nullptr;
    uint16_t* outRemoved_ = nullptr;
};

}  // namespace

void DenoiseRows(const gfx::DrawContext& ctx, float h2, float centreWeight, int y0, int y1) {
    DenoiseBand(ctx, h2, centreWeight).Run(y0, y1);
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::passes {

HWY_EXPORT(DenoiseRows);

void DenoiseOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::TextureView& src = ctx.samplers[kDenoiseInputSampler].texture;
    if (src.bits == nullptr || src.width <= 0 || src.height <= 0 || ctx.width <= 0 || ctx.height <= 0) return;
    const float h2 = effect::ReadBlock<effect::ParamsBlock>(ctx.params).H2;
    // The centre candidate's distance is 0 at every pixel, so its weight is one value per draw.
    const float centreWeight = Exp2ToFloat((0.0f * h2) * kDenoiseExponentScale);
    // Each band recomputes two rows of weights above it; a few bands per worker keep that small
    // and still balance the load.
    const int workers = std::max(1, scheduler.Workers());
    const int grain = std::max(16, (ctx.height + 2 * workers - 1) / (2 * workers));
    scheduler.Run(ctx.height, grain, [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(DenoiseRows)(ctx, h2, centreWeight, y0, y1); });
}

}  // namespace qv::passes
#endif
