// Row helpers shared by the resampling kernels: input rows converted to float planes once per
// band (kept in a small cache, or laid side by side for the horizontal passes), and the
// interleaved stores of four channel vectors. Included once per SIMD target from a file that
// uses hwy/foreach_target.h.
#if defined(QV_PASSES_RESAMPLE_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_RESAMPLE_ROWS_INL_H_
#undef QV_PASSES_RESAMPLE_ROWS_INL_H_
#else
#define QV_PASSES_RESAMPLE_ROWS_INL_H_
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include <hwy/aligned_allocator.h>
#include <hwy/highway.h>

#include "passes/number_rules-inl.h"
#include "passes/scratch_memory.h"
#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/pixel_program.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The four channels of N consecutive texels (N = lanes of the float vector DF), each widened to
// 32 bits. On wider targets a texel's x and y, and its z and w, share one 32-bit word, so two
// lane compactions and a mask or shift per channel separate them.
template <class DF, class VU = hn::Vec<hn::RebindToUnsigned<DF>>>
HWY_INLINE void LoadTexelChannels(DF df, const uint16_t* HWY_RESTRICT texels, VU& x, VU& y, VU& z, VU& w) {
    const hn::RebindToUnsigned<DF> du32;
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<uint16_t, DF> du16;
    hn::Vec<decltype(du16)> a, b, c, d;
    (void)df;
    hn::LoadInterleaved4(du16, texels, a, b, c, d);
    x = hn::PromoteTo(du32, a), y = hn::PromoteTo(du32, b), z = hn::PromoteTo(du32, c), w = hn::PromoteTo(du32, d);
#else
    static_assert(std::endian::native == std::endian::little, "x and y share a word low half first");
    const hn::Repartition<uint16_t, decltype(du32)> du16;
    const size_t N = hn::Lanes(df);
    const VU lo = hn::BitCast(du32, hn::LoadU(du16, texels));
    const VU hi = hn::BitCast(du32, hn::LoadU(du16, texels + 2 * N));
    const VU xy = hn::ConcatEven(du32, hi, lo);
    const VU zw = hn::ConcatOdd(du32, hi, lo);
    const VU low = hn::Set(du32, 0xFFFFu);
    x = hn::And(xy, low), y = hn::ShiftRight<16>(xy), z = hn::And(zw, low), w = hn::ShiftRight<16>(zw);
#endif
}

// Converts N texels into four channel planes at `at`.
template <class DF>
HWY_INLINE void ConvertTexels(DF df, const uint16_t* HWY_RESTRICT texels, float* const* planes, size_t at) {
    hn::Vec<hn::RebindToUnsigned<DF>> x, y, z, w;
    LoadTexelChannels(df, texels, x, y, z, w);
    hn::StoreU(ReadUnormWideVec(df, x), df, planes[0] + at);
    hn::StoreU(ReadUnormWideVec(df, y), df, planes[1] + at);
    hn::StoreU(ReadUnormWideVec(df, z), df, planes[2] + at);
    hn::StoreU(ReadUnormWideVec(df, w), df, planes[3] + at);
}

// Input rows as four float planes (x, y, z, w) over a run of columns from `first`: column
// first + i of a plane lies at plane[i] for -1 <= i < columns; columns outside the row hold its
// edge texel, as clamped reads give. Rows are converted on first use and kept while fewer than
// `capacity` rows lie between the lowest and the highest one in use, so rows within such a span
// are all available at once and a band converts each input row about once.
class PlanarRowCache {
public:
    PlanarRowCache(const gfx::TextureView& input, int first, int columns, int capacity)
        : input_(input),
          first_(first),
          columns_(std::max(columns, 1)),
          capacity_(std::max(capacity, 1)),
          planeStride_(static_cast<size_t>(kLeadColumns + columns_ + kAlignColumns - 1) / kAlignColumns *
                       kAlignColumns),
          storage_(sizeof(float) * planeStride_ * kPlanes * static_cast<size_t>(capacity_)),
          tagStorage_(sizeof(int) * static_cast<size_t>(capacity_)),
          tags_(tagStorage_.As<int>()) {
        std::fill(tags_, tags_ + capacity_, -1);
    }

    size_t PlaneStride() const { return planeStride_; }

    // The x plane of input row `row` (0 <= row < input height); plane c follows at
    // c * PlaneStride(). Column 0 of every plane is aligned for vector loads.
    const float* Row(int row) {
        const size_t slot = static_cast<size_t>(row % capacity_);
        float* planes = storage_.As<float>() + slot * kPlanes * planeStride_;
        if (tags_[slot] != row) {
            Convert(input_.Row16(row), planes + kLeadColumns);
            tags_[slot] = row;
        }
        return planes + kLeadColumns;
    }

private:
    static constexpr size_t kPlanes = 4;
    // Column -1 sits just before an aligned column 0.
    static constexpr int kLeadColumns = 16;
    static constexpr int kAlignColumns = 16;

    void Convert(const uint16_t* HWY_RESTRICT texels, float* HWY_RESTRICT start) const {
        const hn::ScalableTag<float> df;
        const int N = static_cast<int>(hn::Lanes(df));
        const int last = input_.width - 1;
        float* planes[4] = {start, start + planeStride_, start + 2 * planeStride_, start + 3 * planeStride_};
        // Columns past either edge repeat the edge texel, converted once.
        const auto repeat = [&](int texel, int from, int to) {
            const uint16_t* t = texels + 4 * texel;
            for (int c = 0; c < 4; ++c) std::fill(planes[c] + from, planes[c] + to, gfx::ReadUnorm(t[c]));
        };
        int i = -1;
        const int before = std::min(columns_, -first_);  // columns left of the row
        if (i < before) {
            repeat(0, i, before);
            i = before;
        }
        const auto fits = [&](int at) { return at + N <= columns_ && first_ + at + N <= input_.width; };
        // A run that starts off a vector boundary converts its first vector where it starts and
        // goes on from the next boundary (rewriting a few columns with the same values), so its
        // stores do not straddle cache lines.
        if (i % N != 0 && fits(i)) {
            ConvertTexels(df, texels + 4 * (first_ + i), planes, static_cast<size_t>(i));
            i = (i + N) / N * N;
        }
        for (; fits(i); i += N) ConvertTexels(df, texels + 4 * (first_ + i), planes, static_cast<size_t>(i));
        for (; i < columns_ && first_ + i <= last; ++i) {
            for (int c = 0; c < 4; ++c) planes[c][i] = gfx::ReadUnorm(texels[4 * (first_ + i) + c]);
        }
        if (i < columns_) repeat(last, i, columns_);
    }

    gfx::TextureView input_;
    int first_;
    int columns_;
    int capacity_;
    size_t planeStride_;
    ScratchBlock storage_;
    ScratchBlock tagStorage_;  // kept by the thread, as the rows are: bands allocate nothing
    int* tags_;                // the input row each slot holds, -1 for none
};

// A group of input rows side by side, for the horizontal passes: the texel of column c in lane
// l lies at c * lanes + l of four float planes, so the texels a tap reads for a run of output
// rows form one vector. Texels are first copied whole (8 bytes) into that order, then the
// block is converted with vector reads, each texel once.
class ColumnMajorRows {
public:
    ColumnMajorRows(const gfx::TextureView& input, int lanes)
        : input_(input),
          lanes_(lanes),
          texels_(static_cast<size_t>(input.width) * static_cast<size_t>(lanes)),
          planeStride_((texels_ + kAlignFloats - 1) / kAlignFloats * kAlignFloats),
          packed_(sizeof(uint16_t) * 4 * texels_),
          planes_(sizeof(float) * 4 * planeStride_) {}

    size_t PlaneStride() const { return planeStride_; }
    const float* Planes() const { return planes_.As<float>(); }

    // Lane l takes input row rows[l] (0 <= rows[l] < input height).
    void Load(const int* rows) {
        // The rows' starts are held locally, where the copies cannot reach them, so they are
        // not formed again for every texel.
        constexpr size_t kMaxLanes = hn::MaxLanes(hn::ScalableTag<float>());
        const uint16_t* source[kMaxLanes] = {};
        HWY_ASSERT(lanes_ <= static_cast<int>(kMaxLanes));
        for (int l = 0; l < lanes_; ++l) source[l] = input_.Row16(rows[l]);
        const int width = input_.width;
        uint16_t* HWY_RESTRICT out = packed_.As<uint16_t>();
        for (int c = 0; c < width; ++c) {
            for (int l = 0; l < lanes_; ++l) {
                std::memcpy(out, source[l] + 4 * c, 4 * sizeof(uint16_t));
                out += 4;
            }
        }
        Convert();
    }

private:
    static constexpr size_t kAlignFloats = 16;

    void Convert() {
        const hn::ScalableTag<float> df;
        const size_t N = hn::Lanes(df);
        const uint16_t* HWY_RESTRICT in = packed_.As<uint16_t>();
        float* const first = planes_.As<float>();
        float* planes[4] = {first, first + planeStride_, first + 2 * planeStride_, first + 3 * planeStride_};
        size_t i = 0;
        for (; i + N <= texels_; i += N) ConvertTexels(df, in + 4 * i, planes, i);
        for (; i < texels_; ++i) {
            for (int c = 0; c < 4; ++c) planes[c][i] = gfx::ReadUnorm(in[4 * i + c]);
        }
    }

    gfx::TextureView input_;
    int lanes_;
    size_t texels_;
    size_t planeStride_;
    ScratchBlock packed_;
    ScratchBlock planes_;
};

// Writes four channel vectors by the store rule as Lanes consecutive texels at `out`. A texel's
// x and y, and its z and w, are formed as one 32-bit word each (low half first, as they lie in
// memory), so two vectors of words interleave into the texels.
template <class DF, class V>
HWY_INLINE void InterleaveTexels(DF df, V x, V y, V z, V w, uint16_t* HWY_RESTRICT out) {
    static_assert(std::endian::native == std::endian::little, "a texel's first channel is a word's low half");
    const auto pair = [&](V low, V high) {
        return hn::Or(StoreUnormWideVec(df, low), hn::ShiftLeft<16>(StoreUnormBits<false>(df, high)));
    };
    hn::StoreInterleaved2(pair(x, y), pair(z, w), hn::RebindToUnsigned<DF>(), reinterpret_cast<uint32_t*>(out));
}

// Stores four channel vectors as `valid` (1 .. Lanes) consecutive texels by the store rule.
template <class DF, class V>
HWY_INLINE void StoreTexels(DF df, V x, V y, V z, V w, uint16_t* HWY_RESTRICT out, size_t valid) {
    if (valid == hn::Lanes(df)) {
        InterleaveTexels(df, x, y, z, w, out);
        return;
    }
    HWY_ALIGN uint16_t part[4 * hn::MaxLanes(df)];
    InterleaveTexels(df, x, y, z, w, part);
    std::memcpy(out, part, valid * 4 * sizeof(uint16_t));
}

// Stores four channel vectors whose lanes are rows: lane l (l < rows) goes to column `column`
// of target row row0 + l.
template <class DF, class V>
HWY_INLINE void StoreTexelColumn(DF df, V x, V y, V z, V w, const gfx::TargetView& target, int row0, int column,
                                 size_t rows) {
    HWY_ALIGN uint16_t part[4 * hn::MaxLanes(df)];
    InterleaveTexels(df, x, y, z, w, part);
    // The texel's place and the pitch are read once: the copies could otherwise reach them.
    uint8_t* texel = reinterpret_cast<uint8_t*>(target.Row(row0) + 4 * column);
    const ptrdiff_t pitch = target.pitch;
    for (size_t l = 0; l < rows; ++l) {
        std::memcpy(texel + static_cast<ptrdiff_t>(l) * pitch, part + 4 * l, 4 * sizeof(uint16_t));
    }
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
