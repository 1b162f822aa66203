// The optimised denoise: row bands cut into column tiles, each tile streamed in blocks of rows,
// with the same arithmetic per pixel as the reference and therefore the same bits.
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
#include <utility>

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

// A band is processed in column tiles of at most kTileWidth columns: the rows a tile keeps stay
// in the core's own caches, and every row buffer has the same compile-time stride, so the output
// loop addresses all its rows from a few bases. Row buffers hold columns -kOrigin ..
// kTileWidth + kOrigin - 1 of the tile; a tile's width is rounded up to kAlign, a multiple of
// every target's float lane count, so each stage below covers its column range in whole vectors.
inline constexpr int kTileWidth = 1024;
inline constexpr int kOrigin = 32;
inline constexpr int kAlign = 16;
inline constexpr size_t kStride = kTileWidth + 2 * kOrigin;
static_assert(kTileWidth % kAlign == 0, "tiles hold whole vectors");
// Column ranges past [0, paddedWidth) per stage: weights are needed 2 columns out (candidate
// offsets), squared differences one further (block), luma two further again (offsets).
inline constexpr int kWeightMargin = 8;
inline constexpr int kSquaredMargin = 16;
static_assert(kSquaredMargin + kDenoiseSearchRadius <= kOrigin, "luma reads stay inside the row buffer");

// A tile is streamed in blocks of rows: each offset's weights are computed for the whole block
// while that offset's rows of squared differences stay in the nearest cache, then the block's
// rows are output. Rings hold what a block uses: luma rows rb - 2 .. re + 2 and weight rows
// rb - 2 .. re - 1 for a block of rows rb .. re - 1, and each offset's squared-difference rows
// r - 1 .. r + 1.
inline constexpr int kBlockRows = 6;
inline constexpr int kLumaRing = 16;
inline constexpr int kWeightRing = 8;
inline constexpr int kRing = 4;
static_assert(kBlockRows + 2 * kDenoiseSearchRadius + 1 <= kLumaRing && kBlockRows + kDenoiseSearchRadius <= kWeightRing,
              "a block's rows fit the rings");

// Vectors of output pixels summed side by side: a pixel's sums are chains of 25 dependent
// additions, and two independent chains overlap their latencies.
inline constexpr int kOutputVectors = 2;

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
constexpr int HalfOffsetIndex(int i, int j) {
    if (j < 0 || (j == 0 && i < 0)) {
        i = -i;
        j = -j;
    }
    for (int k = 0; k < kHalfOffsets; ++k)
        if (kHalfOffset[k].i == i && kHalfOffset[k].j == j) return k;
    return -1;
}

// Where candidate n (j outer, i inner) finds its weight for the pixel at column x of row y: the
// centre's is one value; a computed candidate's is offset k's weight at (x, y); a mirrored one's
// is offset k's weight at (x + i, y + j), j being 0, -1 or -2.
struct Candidate {
    int i;
    int j;
    bool centre;
    int k;
    int row;    // weight row relative to y
    int shift;  // weight column relative to x
};

constexpr Candidate CandidateAt(int n) {
    const int i = n % kWindow - kDenoiseSearchRadius;
    const int j = n / kWindow - kDenoiseSearchRadius;
    const bool computed = j > 0 || (j == 0 && i > 0);
    return {i, j, i == 0 && j == 0, HalfOffsetIndex(i, j), computed ? 0 : j, computed ? 0 : i};
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
    static constexpr size_t kFloats = kStride * (kLumaRing + kHalfOffsets * kRing + kHalfOffsets * kWeightRing);
    static constexpr size_t kStores = 2 * static_cast<size_t>(kTileWidth);
    hwy::AlignedFreeUniquePtr<float[]> floats = hwy::AllocateAligned<float>(kFloats);
    hwy::AlignedFreeUniquePtr<uint16_t[]> stores = hwy::AllocateAligned<uint16_t>(kStores);
};

class DenoiseBand {
public:
    DenoiseBand(const gfx::DrawContext& ctx, float h2, float centreWeight)
        : ctx_(ctx), src_(ctx.samplers[kDenoiseInputSampler].texture), h2_(h2), centreWeight_(centreWeight) {}

    void Run(int y0, int y1) {
        thread_local BandScratch scratch;
        luma_ = scratch.floats.get();
        squared_ = luma_ + kStride * kLumaRing;
        weights_ = squared_ + kStride * kHalfOffsets * kRing;
        outLuma_ = scratch.stores.get();
        outRemoved_ = outLuma_ + kTileWidth;

        // Tiles of equal width (whole vectors), at most kTileWidth each.
        const int tiles = (ctx_.width + kTileWidth - 1) / kTileWidth;
        const int tileWidth = ((ctx_.width + tiles - 1) / tiles + kAlign - 1) / kAlign * kAlign;
        for (int x0 = 0; x0 < ctx_.width; x0 += tileWidth) RunTile(x0, std::min(x0 + tileWidth, ctx_.width), y0, y1);
    }

private:
    void RunTile(int x0, int x1, int y0, int y1) {
        x0_ = x0;
        x1_ = x1;
        paddedWidth_ = (x1 - x0 + kAlign - 1) / kAlign * kAlign;
        int lumaEnd = y0 - kDenoiseBorder;  // the next luma row to fill
        for (; lumaEnd <= y0; ++lumaEnd) FillLuma(lumaEnd);
        for (int k = 0; k < kHalfOffsets; ++k) {
            SquaredRow(k, y0 - kDenoiseBorder);
            SquaredRow(k, y0 - kDenoiseBorder + 1);
        }
        // Weights from row y0 - 2 on: the first pixels' mirrored candidates read them.
        for (int rb = y0 - kDenoiseSearchRadius; rb < y1;) {
            const int re = std::min(rb + kBlockRows, y1);
            for (; lumaEnd <= re + kDenoiseSearchRadius; ++lumaEnd) FillLuma(lumaEnd);
            for (int k = 0; k < kHalfOffsets; ++k) {
                for (int r = rb; r < re; ++r) {
                    SquaredRow(k, r + 1);
                    WeightRow(k, r);
                }
            }
            for (int y = std::max(rb, y0); y < re; ++y) OutputRow(y);
            rb = re;
        }
    }

    float* LumaRow(int q) const { return luma_ + kStride * static_cast<size_t>(q & (kLumaRing - 1)) + kOrigin; }
    float* SquaredRowPtr(int k, int q) const {
        return squared_ + kStride * static_cast<size_t>(k * kRing + (q & (kRing - 1))) + kOrigin;
    }
    // Offset k's weight row q is WeightRows(q) + k * kWeightOffsetStride.
    static constexpr size_t kWeightOffsetStride = kStride * kWeightRing;
    float* WeightRows(int q) const { return weights_ + kStride * static_cast<size_t>(q & (kWeightRing - 1)) + kOrigin; }

    // Luma of texture row clamp(q) over every buffered column of the tile, edges replicated.
    void FillLuma(int q) const {
        const hn::ScalableTag<float> df;
        const hn::Rebind<uint16_t, decltype(df)> du16;
        const int lanes = static_cast<int>(hn::Lanes(df));
        const uint16_t* src = src_.Row16(Clamp(q, src_.height - 1));
        float* row = LumaRow(q);
        // Image columns x0 - kOrigin .. x0 + paddedWidth + kOrigin - 1 go to row[x - x0].
        const int last = src_.width - 1;
        const int end = x0_ + paddedWidth_ + kOrigin;
        const int inside = std::min(end, last + 1);
        int x = x0_ - kOrigin;
        if (x < 0) {
            const float left = gfx::ReadUnorm(src[0]);
            for (; x < 0; ++x) row[x - x0_] = left;
        }
        for (; x + lanes <= inside; x += lanes) {
            hn::Vec<decltype(du16)> luma, cb, cr, aux;
            hn::LoadInterleaved4(du16, src + 4 * x, luma, cb, cr, aux);
            hn::StoreU(ReadUnormVec(df, luma), df, row + (x - x0_));
        }
        for (; x < inside; ++x) row[x - x0_] = gfx::ReadUnorm(src[4 * x]);
        if (x < end) {
            const float right = gfx::ReadUnorm(src[4 * last]);
            for (; x < end; ++x) row[x - x0_] = right;
        }
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
    // z = (D * H2) * scale, and 2^z.
    void WeightRow(int k, int r) const {
        const hn::ScalableTag<float> df;
        const float* rows[3] = {SquaredRowPtr(k, r - 1), SquaredRowPtr(k, r), SquaredRowPtr(k, r + 1)};
        float* out = WeightRows(r) + kWeightOffsetStride * static_cast<size_t>(k);
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
        // Each vector's distance is formed one step ahead of its exponential, so the distance's
        // chain of dependent additions runs alongside the previous vector's exponential.
        const int end = paddedWidth_ + kWeightMargin;
        auto z = distanceAt(-kWeightMargin);
        for (int c = -kWeightMargin; c < end; c += lanes) {
            const auto next = c + lanes < end ? distanceAt(c + lanes) : z;
            hn::StoreU(Exp2ToFloatVec(df, z), df, out + c);
            z = next;
        }
    }

    // S += e * Y and E += e for candidate n at `count` vectors of pixels side by side from column
    // x: its weights from its row of weights (or the centre's value), its lumas from its row of
    // lumas.
    template <size_t n, int count, class DF>
    HWY_INLINE static void AddCandidate(DF df, const float* const* weights, const float* const* lumas, int x,
                                        hn::Vec<DF> centreWeight, hn::Vec<DF>* sum, hn::Vec<DF>* weightSum) {
        constexpr Candidate c = CandidateAt(static_cast<int>(n));
        constexpr int R = kDenoiseSearchRadius;
        for (int v = 0; v < count; ++v) {
            const int xv = x + v * static_cast<int>(hn::Lanes(df));
            hn::Vec<DF> e = centreWeight;
            if constexpr (!c.centre)
                e = hn::LoadU(df, weights[c.row + R] + kWeightOffsetStride * static_cast<size_t>(c.k) + c.shift + xv);
            sum[v] = hn::Add(sum[v], hn::Mul(e, hn::LoadU(df, lumas[c.j + R] + c.i + xv)));
            weightSum[v] = hn::Add(weightSum[v], e);
        }
        // The vectors' chains of additions are independent; they stay interleaved candidate by
        // candidate, so their latencies overlap (left to itself the compiler runs the chains one
        // after another and reads every weight twice).
        for (int v = 0; v < count; ++v) KeepInterleaved(sum[v], weightSum[v]);
    }

    template <class V>
    HWY_INLINE static void KeepInterleaved(V& a, V& b) {
#if HWY_TARGET != HWY_SCALAR && (defined(__GNUC__) || defined(__clang__))
        asm volatile("" : "+v"(a.raw), "+v"(b.raw));
#else
        (void)a;
        (void)b;
#endif
    }

    template <int count, class DF, size_t... n>
    HWY_INLINE static void AddCandidates(DF df, const float* const* weights, const float* const* lumas, int x,
                                         hn::Vec<DF> centreWeight, hn::Vec<DF>* sum, hn::Vec<DF>* weightSum,
                                         std::index_sequence<n...>) {
        (AddCandidate<n, count>(df, weights, lumas, x, centreWeight, sum, weightSum), ...);
    }

    // Output pixels of row y at `count` vectors from column x.
    template <int count, class DF>
    HWY_INLINE void OutputVectors(DF df, int y, int x, const float* const* weights, const float* const* lumas) const {
        hn::Vec<DF> sum[count];
        hn::Vec<DF> weightSum[count];
        for (int v = 0; v < count; ++v) {
            sum[v] = hn::Zero(df);
            weightSum[v] = hn::Zero(df);
        }
        AddCandidates<count>(df, weights, lumas, x, hn::Set(df, centreWeight_), sum, weightSum,
                             std::make_index_sequence<kWindow * kWindow>());
        for (int v = 0; v < count; ++v)
            WriteVector(df, y, x + v * static_cast<int>(hn::Lanes(df)), lumas, sum[v], weightSum[v]);
    }

    // Yd = S / E and the four output channels of the pixels at columns x.. of row y: in place
    // where the whole vector lies inside both the tile's drawn columns and the texture row,
    // otherwise into the row buffers that OutputRow copies out.
    template <class DF>
    HWY_INLINE void WriteVector(DF df, int y, int x, const float* const* lumas, hn::Vec<DF> sum,
                                hn::Vec<DF> weightSum) const {
        const hn::Rebind<uint16_t, DF> du16;
        const auto denoised = hn::Div(sum, weightSum);
        const auto luma = hn::LoadU(df, lumas[kDenoiseSearchRadius] + x);
        const auto lumaOut = StoreUnormVec(df, denoised);
        const auto removedOut = StoreUnormVec(df, hn::Sub(luma, denoised));
        if (x < DirectWidth(static_cast<int>(hn::Lanes(df)))) {
            // Chroma is copied as stored: reading a step and storing the reading gives the step
            // back.
            const uint16_t* src = src_.Row16(Clamp(y, src_.height - 1)) + 4 * (x0_ + x);
            hn::Vec<decltype(du16)> lumaIn, cb, cr, aux;
            hn::LoadInterleaved4(du16, src, lumaIn, cb, cr, aux);
            hn::StoreInterleaved4(lumaOut, cb, cr, removedOut, du16, ctx_.target.Row(y) + 4 * (x0_ + x));
        } else {
            hn::StoreU(lumaOut, du16, outLuma_ + x);
            hn::StoreU(removedOut, du16, outRemoved_ + x);
        }
    }

    // Columns of the tile written in place by whole vectors of `lanes`.
    int DirectWidth(int lanes) const { return std::max(0, std::min(x1_, src_.width) - x0_) / lanes * lanes; }

    void OutputRow(int y) const {
        const hn::ScalableTag<float> df;
        const int lanes = static_cast<int>(hn::Lanes(df));
        constexpr int R = kDenoiseSearchRadius;
        // Weight rows of image rows y - 2 .. y (mirrored candidates read the earlier ones) and
        // luma rows y - 2 .. y + 2.
        const float* weights[R + 1];
        const float* lumas[kWindow];
        for (int j = -R; j <= 0; ++j) weights[j + R] = WeightRows(y + j);
        for (int j = -R; j <= R; ++j) lumas[j + R] = LumaRow(y + j);
        int x = 0;
        for (; x + kOutputVectors * lanes <= paddedWidth_; x += kOutputVectors * lanes)
            OutputVectors<kOutputVectors>(df, y, x, weights, lumas);
        for (; x < paddedWidth_; x += lanes) OutputVectors<1>(df, y, x, weights, lumas);

        const uint16_t* src = src_.Row16(Clamp(y, src_.height - 1));
        uint16_t* dst = ctx_.target.Row(y);
        const int last = src_.width - 1;
        for (x = DirectWidth(lanes); x < x1_ - x0_; ++x) {
            const int xa = x0_ + x;
            const uint16_t* s = src + 4 * std::min(xa, last);
            dst[4 * xa + 0] = outLuma_[x];
            dst[4 * xa + 1] = s[1];
            dst[4 * xa + 2] = s[2];
            dst[4 * xa + 3] = outRemoved_[x];
        }
    }

    const gfx::DrawContext& ctx_;
    const gfx::TextureView& src_;
    const float h2_;
    const float centreWeight_;
    int x0_ = 0;
    int x1_ = 0;
    int paddedWidth_ = 0;
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
