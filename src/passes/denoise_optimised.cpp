// The optimised denoise: row bands cut into column tiles, each tile streamed in blocks of rows,
// with the same arithmetic per pixel as the reference and therefore the same bits.
//
// With P the luma made infinite by edge replication (P(q) = Y(clamp(q))), the block distance of
// candidate o at pixel p is D_o(p) = sum over (a, b) of w(a, b) * Q_o(p + (a, b)), where
// Q_o(q) = (P(q) - P(q + o))^2. Since (P(q) - P(q - o))^2 = Q_o(q - o) exactly, the candidate -o
// has D_-o(p) = D_o(p - o), summed in the same order; its weight is therefore the weight of o
// taken at p - o. So the twelve offsets o with j > 0, or j = 0 and i > 0, are computed once per
// position and serve all 24 off-centre candidates. The centre candidate's distance is exactly 0.
// The nine block weights take three values (corners, edges, centre), so each row of Q_o is
// multiplied by each of them once, into rows of products: the very terms w(a, b) * Q_o that the
// reference forms one by one. A row of Q_o takes part in three rows' distances, as their row
// b = -1, 0 and 1, so each offset keeps two running rows of partial sums: H, the sum of a row's
// b = -1 terms, and M, H plus the next row's b = 0 terms. Each new row of products turns M into
// the distances of the row above it, H into the next M, and starts the next H: every distance
// is still its nine terms added one by one in their order, b outer and a inner.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
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
#include "passes/row_bands.h"
#include "platform/d3d9/number_rules.h"

#ifndef QV_PASSES_DENOISE_OPTIMISED_SHARED_
#define QV_PASSES_DENOISE_OPTIMISED_SHARED_
namespace qv::passes::denoise_detail {

// A band is processed in column tiles of at most kTileWidth columns. A frame of any width the
// filter takes is one tile: whole rows stream from memory best, and what a block of rows keeps
// of one offset at a time fits the core's own caches even so. Every row buffer has the same
// compile-time stride, so the output loop addresses all its rows from a few bases. Row buffers
// hold columns -kOrigin .. kTileWidth + kOrigin - 1 of the tile; a tile's width is rounded up
// to kAlign, a multiple of every target's float lane count, so each stage below covers its
// column range in whole vectors.
inline constexpr int kTileWidth = 2048;
inline constexpr int kOrigin = 48;
inline constexpr int kAlign = 16;
inline constexpr size_t kStride = kTileWidth + 2 * kOrigin;
static_assert(kTileWidth % kAlign == 0, "tiles hold whole vectors");
// Column ranges past [0, paddedWidth) per stage, whole vectors of the widest target, so that
// the rows of weights and partial sums are read and written at whole vectors: weights are
// needed 2 columns out (candidate offsets), products one further (block), luma two further
// again (offsets).
inline constexpr int kWeightMargin = kAlign;
inline constexpr int kSquaredMargin = 2 * kAlign;
static_assert(kSquaredMargin + kDenoiseSearchRadius <= kOrigin, "luma reads stay inside the row buffer");

// A tile is streamed in blocks of rows: each offset's weights are computed for the whole block
// while the block's luma and that offset's partial sums stay in the nearest cache, then the
// block's rows are output. Rings hold what a block uses: luma rows rb - 2 .. re + 2 and weight
// rows rb - 2 .. re - 1 for a block of rows rb .. re - 1.
inline constexpr int kBlockRows = 6;
inline constexpr int kLumaRing = 16;
inline constexpr int kWeightRing = 8;
static_assert(kBlockRows + 2 * kDenoiseSearchRadius + 1 <= kLumaRing && kBlockRows + kDenoiseSearchRadius <= kWeightRing,
              "a block's rows fit the rings");

// The three products of a squared difference: by the corner, the edge and the centre weight.
inline constexpr int kProducts = 3;
inline constexpr float kProductWeight[kProducts] = {kDenoiseBlockWeights[0][0], kDenoiseBlockWeights[0][1],
                                                    kDenoiseBlockWeights[1][1]};
constexpr int ProductIndex(int a, int b) { return (a == 0 ? 1 : 0) + (b == 0 ? 1 : 0); }
constexpr bool BlockWeightsAreProducts() {
    for (int b = -1; b <= 1; ++b)
        for (int a = -1; a <= 1; ++a)
            if (kDenoiseBlockWeights[b + 1][a + 1] != kProductWeight[ProductIndex(a, b)]) return false;
    return true;
}
static_assert(BlockWeightsAreProducts(), "the block weights are symmetric: corners, edges and centre");

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

// One thread's scratch, kept between bands and draws so a band allocates nothing. The rows of
// products serve the targets that pass products through memory.
struct BandScratch {
    static constexpr size_t kFloats =
        kStride * (kLumaRing + kProducts + 2 * kHalfOffsets + kHalfOffsets * kWeightRing);
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
        products_ = luma_ + kStride * kLumaRing;
        sums_ = products_ + kStride * kProducts;
        weights_ = sums_ + kStride * 2 * kHalfOffsets;
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
        // Weights from row y0 - 2 on (the first pixels' mirrored candidates read them): their
        // distances start with rows y0 - 3 and y0 - 2.
        for (int k = 0; k < kHalfOffsets; ++k) {
            AddRow<kFirstRow>(k, y0 - kDenoiseBorder);
            AddRow<kSecondRow>(k, y0 - kDenoiseBorder + 1);
        }
        for (int rb = y0 - kDenoiseSearchRadius; rb < y1;) {
            const int re = std::min(rb + kBlockRows, y1);
            for (; lumaEnd <= re + kDenoiseSearchRadius; ++lumaEnd) FillLuma(lumaEnd);
            for (int k = 0; k < kHalfOffsets; ++k) {
                for (int r = rb; r < re; ++r) AddRow<kLaterRow>(k, r + 1);
            }
            for (int y = std::max(rb, y0); y < re; ++y) OutputRow(y);
            rb = re;
        }
    }

    float* LumaRow(int q) const { return luma_ + kStride * static_cast<size_t>(q & (kLumaRing - 1)) + kOrigin; }
    // The latest row of products by weight p.
    float* ProductRow(int p) const { return products_ + kStride * static_cast<size_t>(p) + kOrigin; }
    // Offset k's running partial sums: H (s = 0) and M (s = 1).
    float* SumRow(int k, int s) const { return sums_ + kStride * static_cast<size_t>(2 * k + s) + kOrigin; }
    // Offset k's weight row q is WeightRows(q) + k * kWeightOffsetStride.
    static constexpr size_t kWeightOffsetStride = kStride * kWeightRing;
    float* WeightRows(int q) const { return weights_ + kStride * static_cast<size_t>(q & (kWeightRing - 1)) + kOrigin; }

    // Luma of texture row clamp(q) over every buffered column of the tile, edges replicated.
    void FillLuma(int q) const {
        const hn::ScalableTag<float> df;
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
        for (; x + lanes <= inside; x += lanes) hn::StoreU(LoadLuma(df, src + 4 * x), df, row + (x - x0_));
        for (; x < inside; ++x) row[x - x0_] = gfx::ReadUnorm(src[4 * x]);
        if (x < end) {
            const float right = gfx::ReadUnorm(src[4 * last]);
            for (; x < end; ++x) row[x - x0_] = right;
        }
    }

    // The luma of the pixels from `pixels` on (four stored values each), as read.
    template <class DF>
    HWY_INLINE static hn::Vec<DF> LoadLuma(DF df, const uint16_t* pixels) {
#if HWY_TARGET == HWY_SCALAR
        const hn::Rebind<uint16_t, DF> du16;
        hn::Vec<decltype(du16)> luma, cb, cr, aux;
        hn::LoadInterleaved4(du16, pixels, luma, cb, cr, aux);
        return ReadUnormWideVec(df, hn::PromoteTo(hn::Rebind<uint32_t, DF>(), luma));
#else
        // A pixel is two 32-bit lanes, luma in the low half of the first.
        const hn::RebindToUnsigned<DF> du32;
        const hn::Repartition<uint16_t, DF> du16;
        const auto first = hn::BitCast(du32, hn::LoadU(du16, pixels));
        const auto second = hn::BitCast(du32, hn::LoadU(du16, pixels + 2 * hn::Lanes(df)));
        const auto luma = hn::And(hn::ConcatEven(du32, second, first), hn::Set(du32, 0xFFFF));
        return ReadUnormWideVec(df, luma);
#endif
    }

    // Offset k's products of row q at one vector of columns: Q_o(q, c) = (P(q, c) -
    // P(q + j, c + i))^2 times each weight.
    template <class DF>
    struct Products {
        hn::Vec<DF> by[kProducts];
    };

    template <class DF>
    struct ProductsOfRow {
        const float* a;
        const float* b;
        hn::Vec<DF> weight[kProducts];

        HWY_INLINE Products<DF> At(DF df, int c) const {
            const auto d = hn::Sub(hn::LoadU(df, a + c), hn::LoadU(df, b + c));
            const auto squared = hn::Mul(d, d);
            Products<DF> out;
            for (int p = 0; p < kProducts; ++p) out.by[p] = hn::Mul(weight[p], squared);
            return out;
        }
    };

    template <class DF>
    ProductsOfRow<DF> ProductsOf(DF df, int k, int q) const {
        const Offset o = kHalfOffset[k];
        ProductsOfRow<DF> products{LumaRow(q), LumaRow(q + o.j) + o.i, {}};
        for (int p = 0; p < kProducts; ++p) products.weight[p] = hn::Set(df, kProductWeight[p]);
        return products;
    }

    // The terms one row of products gives the distances at one vector of columns: term (a, b)
    // of a distance whose row b this is, the product by w(a, b) at column offset a.
    template <class DF>
    struct RowTerms {
        hn::Vec<DF> shifted[kProducts][3];  // [p][a + 1]
        HWY_INLINE hn::Vec<DF> Term(int a, int b) const { return shifted[ProductIndex(a, b)][a + 1]; }
    };

    // What a row of products adds: the first row of a tile only starts H, the second also
    // makes M, and every later row q also completes the distances of row q - 1 and their
    // weights: z = (D * H2) * scale and 2^z.
    enum RowRole { kFirstRow, kSecondRow, kLaterRow };

    // The rows AddRow reads and writes: H, M and the weights it completes.
    struct RowSums {
        float* h;
        float* m;
        float* weights;
    };

    // Vectors of columns AddRow takes side by side.
    static constexpr size_t kSideBySide = 2;

    template <RowRole role>
    void AddRow(int k, int q) const {
        using DF = hn::ScalableTag<float>;
        const DF df;
        const int lanes = static_cast<int>(hn::Lanes(df));
        const ProductsOfRow<DF> products = ProductsOf(df, k, q);
        const RowSums rows{SumRow(k, 0), SumRow(k, 1), WeightRows(q - 1) + kWeightOffsetStride * static_cast<size_t>(k)};
        const int end = paddedWidth_ + kWeightMargin;
        int c = -kWeightMargin;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
        // The products stay in registers, formed a vector ahead; their neighbours one column
        // either side come from lane shifts across two vectors.
        static_assert(kSideBySide == 2, "the loop below takes two vectors a step");
        Products<DF> before = products.At(df, c - lanes);
        Products<DF> at = products.At(df, c);
        for (; c + 2 * lanes <= end; c += 2 * lanes) {
            const Products<DF> next = products.At(df, c + lanes);
            const Products<DF> after = products.At(df, c + 2 * lanes);
            const RowTerms<DF> terms[2] = {Neighbours(before, at, next), Neighbours(at, next, after)};
            AddVectors<role, 2>(df, rows, c, terms);
            before = next;
            at = after;
        }
        for (; c < end; c += lanes) {
            const Products<DF> next = products.At(df, c + lanes);
            const RowTerms<DF> terms[1] = {Neighbours(before, at, next)};
            AddVectors<role, 1>(df, rows, c, terms);
            before = at;
            at = next;
        }
#else
        // The row's products go through memory, whence each vector reads them and their
        // neighbours.
        float* stored[kProducts];
        for (int p = 0; p < kProducts; ++p) stored[p] = ProductRow(p);
        for (int x = -kSquaredMargin; x < paddedWidth_ + kSquaredMargin; x += lanes) {
            const Products<DF> at = products.At(df, x);
            for (int p = 0; p < kProducts; ++p) hn::StoreU(at.by[p], df, stored[p] + x);
        }
        auto step = [&](auto count) {
            constexpr size_t N = decltype(count)::value;
            RowTerms<DF> terms[N];
            for (size_t n = 0; n < N; ++n)
                for (int p = 0; p < kProducts; ++p)
                    for (int a = -1; a <= 1; ++a)
                        terms[n].shifted[p][a + 1] = hn::LoadU(df, stored[p] + c + static_cast<int>(n) * lanes + a);
            AddVectors<role, N>(df, rows, c, terms);
            c += static_cast<int>(N) * lanes;
        };
        while (c + static_cast<int>(kSideBySide) * lanes <= end) step(std::integral_constant<size_t, kSideBySide>());
        while (c < end) step(std::integral_constant<size_t, 1>());
#endif
    }

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // The terms of the vector `at`: each product there and one lane either side.
    template <class DF>
    HWY_INLINE static RowTerms<DF> Neighbours(const Products<DF>& before, const Products<DF>& at,
                                              const Products<DF>& after) {
        RowTerms<DF> terms;
        for (int p = 0; p < kProducts; ++p) {
            const __m512i b = _mm512_castps_si512(before.by[p].raw), a = _mm512_castps_si512(at.by[p].raw),
                          n = _mm512_castps_si512(after.by[p].raw);
            terms.shifted[p][0].raw = _mm512_castsi512_ps(_mm512_alignr_epi32(a, b, 15));
            terms.shifted[p][1] = at.by[p];
            terms.shifted[p][2].raw = _mm512_castsi512_ps(_mm512_alignr_epi32(n, a, 1));
        }
        return terms;
    }
#endif

    // AddRow's work for N vectors of columns from c, side by side.
    template <RowRole role, size_t N, class DF>
    HWY_INLINE void AddVectors(DF df, const RowSums& rows, int c, const RowTerms<DF>* terms) const {
        const int lanes = static_cast<int>(hn::Lanes(df));
        if constexpr (role == kLaterRow) {
            hn::Vec<DF> z[N];
            for (size_t n = 0; n < N; ++n) {
                auto distance = hn::LoadU(df, rows.m + c + n * lanes);
                for (int a = -1; a <= 1; ++a) distance = hn::Add(distance, terms[n].Term(a, 1));
                z[n] = hn::Mul(hn::Mul(distance, hn::Set(df, h2_)), hn::Set(df, kDenoiseExponentScale));
            }
            hn::Vec<DF> weight[N];
            Exp2ToFloatVecs<N>(df, z, weight);
            for (size_t n = 0; n < N; ++n) hn::StoreU(weight[n], df, rows.weights + c + n * lanes);
        }
        for (size_t n = 0; n < N; ++n) {
            if constexpr (role != kFirstRow) {
                auto partial = hn::LoadU(df, rows.h + c + n * lanes);
                for (int a = -1; a <= 1; ++a) partial = hn::Add(partial, terms[n].Term(a, 0));
                hn::StoreU(partial, df, rows.m + c + n * lanes);
            }
            // The sum starts from its first term: 0 + t is t for every non-negative t.
            auto partial = terms[n].Term(-1, -1);
            for (int a = 0; a <= 1; ++a) partial = hn::Add(partial, terms[n].Term(a, -1));
            hn::StoreU(partial, df, rows.h + c + n * lanes);
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
            if constexpr (!c.centre) {
                e = hn::LoadU(df, weights[c.row + R] + kWeightOffsetStride * static_cast<size_t>(c.k) + c.shift + xv);
                // One load for both uses: left to itself the compiler folds the load into each.
                KeepInRegister(e);
            }
            const auto product = hn::Mul(e, hn::LoadU(df, lumas[c.j + R] + c.i + xv));
            if constexpr (n == 0) {
                // The sums start from their first terms: 0 + t is t for every t here, weights
                // and lumas being +0 or more (or NaN).
                sum[v] = product;
                weightSum[v] = e;
            } else {
                sum[v] = hn::Add(sum[v], product);
                weightSum[v] = hn::Add(weightSum[v], e);
            }
        }
        // The vectors' chains of additions are independent; they stay interleaved candidate by
        // candidate, so their latencies overlap (left to itself the compiler runs the chains one
        // after another).
        for (int v = 0; v < count; ++v) KeepInterleaved(sum[v], weightSum[v]);
    }

    template <class V>
    HWY_INLINE static void KeepInRegister(V& a) {
#if HWY_TARGET != HWY_SCALAR && (defined(__GNUC__) || defined(__clang__))
        asm volatile("" : "+v"(a.raw));
#else
        (void)a;
#endif
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

    // The rows OutputRow reads and writes for its row.
    struct OutputRows {
        const float* weights[kDenoiseSearchRadius + 1];  // weight rows of image rows y - 2 .. y
        const float* lumas[kWindow];                     // luma rows y - 2 .. y + 2
        const uint16_t* src;                             // the row's source pixels from the tile's column 0
        uint16_t* dst;                                   // its target pixels from the same column
    };

    // Output pixels at `count` vectors from column x: Yd = S / E and the four output channels,
    // in place where the vectors lie inside both the tile's drawn columns and the texture row
    // (`direct`), otherwise into the row buffers that OutputRow copies out.
    template <int count, bool direct, class DF>
    HWY_INLINE void OutputVectors(DF df, int x, const OutputRows& rows) const {
        const int lanes = static_cast<int>(hn::Lanes(df));
        hn::Vec<DF> sum[count];
        hn::Vec<DF> weightSum[count];
        AddCandidates<count>(df, rows.weights, rows.lumas, x, hn::Set(df, centreWeight_), sum, weightSum,
                             std::make_index_sequence<kWindow * kWindow>());
        hn::Vec<DF> denoised[count];
        for (int v = 0; v < count; ++v) denoised[v] = hn::Div(sum[v], weightSum[v]);
        for (int v = 0; v < count; ++v) {
            const int xv = x + v * lanes;
            const auto luma = hn::LoadU(df, rows.lumas[kDenoiseSearchRadius] + xv);
            // Stored steps in the low 16 bits of 32-bit lanes. A NaN strength makes them NaN.
            const auto lumaOut = StoreUnormBits<false>(df, denoised[v]);
            const auto removedOut = StoreUnormBits<false>(df, hn::Sub(luma, denoised[v]));
            if constexpr (direct) {
                StorePixels(df, rows.src + 4 * xv, rows.dst + 4 * xv, lumaOut, removedOut);
            } else {
                const hn::Rebind<uint16_t, DF> du16;
                hn::StoreU(hn::TruncateTo(du16, lumaOut), du16, outLuma_ + xv);
                hn::StoreU(hn::TruncateTo(du16, removedOut), du16, outRemoved_ + xv);
            }
        }
    }

    // Pixels to `dst` with channels x and w from the low halves of lumaOut and removedOut, and
    // y and z copied from `src` as stored: reading a step and storing the reading gives the step
    // back.
    template <class DF, class DU = hn::RebindToUnsigned<DF>>
    HWY_INLINE static void StorePixels(DF /* tag */, const uint16_t* src, uint16_t* dst, hn::Vec<DU> lumaOut,
                                       hn::Vec<DU> removedOut) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
        // A pixel is two 32-bit lanes: x and y, then z and w. Lane pairs (x, w << 16) in pixel
        // order, eight pixels a register, take y and z from the source's pixels.
        static_assert(hn::MaxLanes(DF()) == 16, "two registers of eight pixels");
        const DU du32;
        const hn::RebindToSigned<DF> di;
        const hn::Repartition<uint16_t, DF> du16;
        alignas(64) static constexpr int32_t kPairLower[16] = {0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23};
        alignas(64) static constexpr int32_t kPairUpper[16] = {8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31};
        const __m512i removedHigh = hn::ShiftLeft<16>(removedOut).raw;
        const hn::Vec<DU> lower{_mm512_permutex2var_epi32(lumaOut.raw, hn::Load(di, kPairLower).raw, removedHigh)};
        const hn::Vec<DU> upper{_mm512_permutex2var_epi32(lumaOut.raw, hn::Load(di, kPairUpper).raw, removedHigh)};
        const auto chroma = hn::BitCast(du32, hn::Set(hn::Repartition<uint64_t, DF>(), 0x0000FFFFFFFF0000ull));
        const auto in0 = hn::BitCast(du32, hn::LoadU(du16, src));
        const auto in1 = hn::BitCast(du32, hn::LoadU(du16, src + hn::Lanes(du16)));
        hn::StoreU(hn::BitCast(du16, hn::IfVecThenElse(chroma, in0, lower)), du16, dst);
        hn::StoreU(hn::BitCast(du16, hn::IfVecThenElse(chroma, in1, upper)), du16, dst + hn::Lanes(du16));
#else
        const hn::Rebind<uint16_t, DF> du16;
        hn::Vec<decltype(du16)> lumaIn, cb, cr, aux;
        hn::LoadInterleaved4(du16, src, lumaIn, cb, cr, aux);
        hn::StoreInterleaved4(hn::TruncateTo(du16, lumaOut), cb, cr, hn::TruncateTo(du16, removedOut), du16, dst);
#endif
    }

    // Columns of the tile written in place by whole vectors of `lanes`.
    int DirectWidth(int lanes) const { return std::max(0, std::min(x1_, src_.width) - x0_) / lanes * lanes; }

    void OutputRow(int y) const {
        const hn::ScalableTag<float> df;
        const int lanes = static_cast<int>(hn::Lanes(df));
        constexpr int R = kDenoiseSearchRadius;
        const uint16_t* src = src_.Row16(Clamp(y, src_.height - 1));
        uint16_t* dst = ctx_.target.Row(y);
        OutputRows rows;
        for (int j = -R; j <= 0; ++j) rows.weights[j + R] = WeightRows(y + j);
        for (int j = -R; j <= R; ++j) rows.lumas[j + R] = LumaRow(y + j);
        rows.src = src + 4 * x0_;
        rows.dst = dst + 4 * x0_;
        const int direct = DirectWidth(lanes);
        int x = 0;
        for (; x + kOutputVectors * lanes <= direct; x += kOutputVectors * lanes)
            OutputVectors<kOutputVectors, true>(df, x, rows);
        for (; x < direct; x += lanes) OutputVectors<1, true>(df, x, rows);
        for (; x < paddedWidth_; x += lanes) OutputVectors<1, false>(df, x, rows);

        const int last = src_.width - 1;
        for (x = direct; x < x1_ - x0_; ++x) {
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
    float* products_ = nullptr;
    float* sums_ = nullptr;
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
    // Each band recomputes two rows of weights above it: at least 16 rows a band keep that small.
    const int grain = BandRows(ctx.height, scheduler.Workers(), 16);
    scheduler.Run(ctx.height, grain,
                  [&](int y0, int y1) { HWY_DYNAMIC_DISPATCH(DenoiseRows)(ctx, h2, centreWeight, y0, y1); });
}

}  // namespace qv::passes
#endif
