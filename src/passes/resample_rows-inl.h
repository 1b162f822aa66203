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
          storage_(sizeof(float) * planeStride_ * 4 * static_cast<size_t>(capacity_)),
          tags_(static_cast<size_t>(capacity_), -1) {}

    size_t PlaneStride() const { return planeStride_; }

    // The x plane of input row `row` (0 <= row < input height); plane c follows at
    // c * PlaneStride().
    const float* Row(int row) {
        const size_t slot = static_cast<size_t>(row % capacity_);
        float* planes = storage_.As<float>() + slot * 4 * planeStride_;
        if (tags_[slot] != row) {
            Convert(input_.Row16(row), planes + kLeadColumns);
            tags_[slot] = row;
        }
        return planes + kLeadColumns;
    }

private:
    // Column -1 sits just before an aligned column 0.
    static constexpr int kLeadColumns = 16;
    static constexpr int kAlignColumns = 16;

    void Convert(const uint16_t* HWY_RESTRICT texels, float* HWY_RESTRICT start) const {
        const hn::ScalableTag<float> df;
        const hn::Rebind<uint16_t, decltype(df)> du16;
        const int N = static_cast<int>(hn::Lanes(df));
        const int last = input_.width - 1;
        float* planes[4] = {start, start + planeStride_, start + 2 * planeStride_, start + 3 * planeStride_};
        const auto scalar = [&](int i) {
            const uint16_t* t = texels + 4 * std::clamp(first_ + i, 0, last);
            for (int c = 0; c < 4; ++c) planes[c][i] = gfx::ReadUnorm(t[c]);
        };
        int i = -1;
        for (; i < columns_ && first_ + i < 0; ++i) scalar(i);
        for (; i + N <= columns_ && first_ + i + N <= input_.width; i += N) {
            hn::Vec<decltype(du16)> a, b, c, d;
            hn::LoadInterleaved4(du16, texels + 4 * (first_ + i), a, b, c, d);
            hn::StoreU(ReadUnormVec(df, a), df, planes[0] + i);
            hn::StoreU(ReadUnormVec(df, b), df, planes[1] + i);
            hn::StoreU(ReadUnormVec(df, c), df, planes[2] + i);
            hn::StoreU(ReadUnormVec(df, d), df, planes[3] + i);
        }
        for (; i < columns_; ++i) scalar(i);
    }

    gfx::TextureView input_;
    int first_;
    int columns_;
    int capacity_;
    size_t planeStride_;
    ScratchBlock storage_;
    std::vector<int> tags_;
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
        const int width = input_.width;
        uint16_t* HWY_RESTRICT out = packed_.As<uint16_t>();
        for (int c = 0; c < width; ++c) {
            for (int l = 0; l < lanes_; ++l) {
                std::memcpy(out, input_.Row16(rows[l]) + 4 * c, 4 * sizeof(uint16_t));
                out += 4;
            }
        }
        Convert();
    }

private:
    static constexpr size_t kAlignFloats = 16;

    void Convert() {
        const hn::ScalableTag<float> df;
        const hn::Rebind<uint16_t, decltype(df)> du16;
        const size_t N = hn::Lanes(df);
        const uint16_t* HWY_RESTRICT in = packed_.As<uint16_t>();
        float* const first = planes_.As<float>();
        float* planes[4] = {first, first + planeStride_, first + 2 * planeStride_, first + 3 * planeStride_};
        size_t i = 0;
        for (; i + N <= texels_; i += N) {
            hn::Vec<decltype(du16)> a, b, c, d;
            hn::LoadInterleaved4(du16, in + 4 * i, a, b, c, d);
            hn::Store(ReadUnormVec(df, a), df, planes[0] + i);
            hn::Store(ReadUnormVec(df, b), df, planes[1] + i);
            hn::Store(ReadUnormVec(df, c), df, planes[2] + i);
            hn::Store(ReadUnormVec(df, d), df, planes[3] + i);
        }
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

// Stores four channel vectors as `valid` (1 .. Lanes) consecutive texels by the store rule.
template <class DF, class V>
HWY_INLINE void StoreTexels(DF df, V x, V y, V z, V w, uint16_t* HWY_RESTRICT out, size_t valid) {
    const hn::Rebind<uint16_t, DF> du16;
    const auto sx = StoreUnormVec(df, x);
    const auto sy = StoreUnormVec(df, y);
    const auto sz = StoreUnormVec(df, z);
    const auto sw = StoreUnormVec(df, w);
    if (valid == hn::Lanes(df)) {
        hn::StoreInterleaved4(sx, sy, sz, sw, du16, out);
        return;
    }
    HWY_ALIGN uint16_t part[4 * hn::MaxLanes(du16)];
    hn::StoreInterleaved4(sx, sy, sz, sw, du16, part);
    std::memcpy(out, part, valid * 4 * sizeof(uint16_t));
}

// Stores four channel vectors whose lanes are rows: lane l (l < rows) goes to column `column`
// of target row row0 + l.
template <class DF, class V>
HWY_INLINE void StoreTexelColumn(DF df, V x, V y, V z, V w, const gfx::TargetView& target, int row0, int column,
                                 size_t rows) {
    const hn::Rebind<uint16_t, DF> du16;
    HWY_ALIGN uint16_t part[4 * hn::MaxLanes(du16)];
    hn::StoreInterleaved4(StoreUnormVec(df, x), StoreUnormVec(df, y), StoreUnormVec(df, z), StoreUnormVec(df, w),
                          du16, part);
    for (size_t l = 0; l < rows; ++l) {
        std::memcpy(target.Row(row0 + static_cast<int>(l)) + 4 * column, part + 4 * l, 4 * sizeof(uint16_t));
    }
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
