// Row helpers shared by the detail stage's row kernels (unsharp mask, recovery, edge-mask blurs,
// warps): texel channels converted to float rows with edge margins, band caches of such rows,
// shader min/max and clamped indices, and texel loads and stores of one vector of pixels.
// Included once per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_DETAIL_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_DETAIL_ROWS_INL_H_
#undef QV_PASSES_DETAIL_ROWS_INL_H_
#else
#define QV_PASSES_DETAIL_ROWS_INL_H_
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include <hwy/aligned_allocator.h>
#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include "passes/number_rules-inl.h"
#include "passes/row_bands.h"
#include "passes/scratch_memory.h"
#include "platform/d3d9/number_rules.h"
#include "platform/d3d9/pixel_program.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace detail_rows {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using DU16 = hn::Rebind<uint16_t, DF>;
using DU32 = hn::RebindToUnsigned<DF>;
using VF = hn::Vec<DF>;
using VU16 = hn::Vec<DU16>;
using VU32 = hn::Vec<DU32>;

// Shader min/max, as the reference's: the second operand wins when the first is NaN. x86's
// vector min and max are defined the same way (a < b ? a : b), so they serve in one instruction.
#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
HWY_INLINE VF ShaderMin(VF a, VF b) { return hn::Min(a, b); }
HWY_INLINE VF ShaderMax(VF a, VF b) { return hn::Max(a, b); }
#else
HWY_INLINE VF ShaderMin(VF a, VF b) { return hn::IfThenElse(hn::Lt(a, b), a, b); }
HWY_INLINE VF ShaderMax(VF a, VF b) { return hn::IfThenElse(hn::Gt(a, b), a, b); }
#endif

// The samplers' texel index from a position already scaled to texels: floor, then clamp to
// [0, last] in float (NaN gives 0). Returned as a float holding the integer.
HWY_INLINE VF ClampedIndexVec(DF df, VF s, float last) {
    VF f = hn::Floor(s);
    f = hn::IfThenElseZero(hn::Gt(f, hn::Zero(df)), f);
    const VF lastV = hn::Set(df, last);
    return hn::IfThenElse(hn::Gt(f, lastV), lastV, f);
}

// Lane positions x0, x0 + 1, ... as floats.
HWY_INLINE VF Positions(DF df, int x0) { return hn::Iota(df, static_cast<float>(x0)); }

// For lanes holding the pixels x .. x + N - 1 (x even), the value at the even pixel of each
// lane's pair, and at the odd pixel: the columns 2m and 2m + 1 of the lane's 2x2 block.
HWY_INLINE VF EvenOfPair(DF df, const float* row, size_t x) {
#if HWY_TARGET == HWY_SCALAR
    return hn::LoadU(df, row + (x & ~size_t{1}));
#else
    return hn::DupEven(hn::LoadU(df, row + x));
#endif
}
HWY_INLINE VF OddOfPair(DF df, const float* row, size_t x) {
#if HWY_TARGET == HWY_SCALAR
    return hn::LoadU(df, row + (x | size_t{1}));
#else
    return hn::DupOdd(hn::LoadU(df, row + x));
#endif
}

// Loads the texels at columns x .. x + N - 1 of a row `width` texels wide as four vectors of
// stored values; columns past the row's end repeat its last texel, as clamped reads give.
HWY_INLINE void LoadTexels(const uint16_t* HWY_RESTRICT row, int width, size_t x, VU16& c0, VU16& c1, VU16& c2,
                           VU16& c3) {
    const DU16 du16;
    const size_t N = hn::Lanes(du16);
    if (x + N <= static_cast<size_t>(width)) {
        hn::LoadInterleaved4(du16, row + 4 * x, c0, c1, c2, c3);
        return;
    }
    HWY_ALIGN uint16_t part[4 * hn::MaxLanes(du16)];
    const size_t last = static_cast<size_t>(width - 1);
    for (size_t l = 0; l < N; ++l) std::memcpy(part + 4 * l, row + 4 * std::min(x + l, last), 4 * sizeof(uint16_t));
    hn::LoadInterleaved4(du16, part, c0, c1, c2, c3);
}

// Texels as channel pairs: one 32-bit lane a texel holds channels 0 and 1 (0 in the low half)
// in its "low" pair and channels 2 and 3 in its "high" pair, as they lie in memory, so that a
// kernel reading or writing a channel or two moves whole texels with a lane shuffle or two.
HWY_INLINE VU32 LowChannel(VU32 pair) { return hn::And(pair, hn::Set(DU32(), 0xFFFFu)); }
HWY_INLINE VU32 HighChannel(VU32 pair) { return hn::ShiftRight<16>(pair); }
// The pair of stored values `low` and `high` (each 0 .. 65535).
HWY_INLINE VU32 PairOf(VU32 low, VU32 high) { return hn::Or(low, hn::ShiftLeft<16>(high)); }

// The texels at columns x .. x + N - 1 of a row `width` texels wide as channel pairs; columns
// outside the row repeat its edge texel, as clamped reads give.
HWY_INLINE void LoadTexelPairs(const uint16_t* HWY_RESTRICT row, int width, ptrdiff_t x, VU32& low, VU32& high) {
    const DU32 du32;
    const ptrdiff_t N = static_cast<ptrdiff_t>(hn::Lanes(du32));
    if (x >= 0 && x + N <= width) {
        hn::LoadInterleaved2(du32, reinterpret_cast<const uint32_t*>(row + 4 * x), low, high);
        return;
    }
    HWY_ALIGN uint32_t part[2 * hn::MaxLanes(du32)];
    for (ptrdiff_t l = 0; l < N; ++l) {
        const ptrdiff_t column = std::clamp<ptrdiff_t>(x + l, 0, width - 1);
        std::memcpy(part + 2 * l, row + 4 * column, 4 * sizeof(uint16_t));
    }
    hn::LoadInterleaved2(du32, part, low, high);
}

// Channel pairs as whole texels, `count` (1 .. N) of them, at dst.
HWY_INLINE void StoreTexelPairs(VU32 low, VU32 high, uint16_t* HWY_RESTRICT dst, size_t count) {
    const DU32 du32;
    uint32_t* const texels = reinterpret_cast<uint32_t*>(dst);
    HWY_ALIGN uint32_t part[2 * hn::MaxLanes(du32)];
    uint32_t* const to = count == hn::Lanes(du32) ? texels : part;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // Two two-source permutes, where the generic interleave takes two unpacks and four block
    // shuffles, all on the one shuffle port.
    alignas(64) static constexpr uint32_t kFirst[16] = {0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23};
    alignas(64) static constexpr uint32_t kSecond[16] = {8,  24, 9,  25, 10, 26, 11, 27,
                                                         12, 28, 13, 29, 14, 30, 15, 31};
    static_assert(hn::MaxLanes(du32) == 16, "one lane a pixel at 512 bits");
    hn::StoreU(VU32{_mm512_permutex2var_epi32(low.raw, hn::Load(du32, kFirst).raw, high.raw)}, du32, to);
    hn::StoreU(VU32{_mm512_permutex2var_epi32(low.raw, hn::Load(du32, kSecond).raw, high.raw)}, du32, to + 16);
#else
    hn::StoreInterleaved2(low, high, du32, to);
#endif
    if (to == part) std::memcpy(dst, part, count * 4 * sizeof(uint16_t));
}

// Asks for the cache lines of the texels at columns x .. x + N - 1 of a row (held to its
// `width` texels) ahead of their use, so that the memory behind a kernel's next rows streams in
// while it computes this one. A vector of texels spans at most two lines at the widest targets.
HWY_INLINE void PrefetchTexels(const uint16_t* row, int width, size_t x) {
    const size_t last = static_cast<size_t>(width - 1);
    hwy::Prefetch(row + 4 * std::min(x, last));
    hwy::Prefetch(row + 4 * std::min(x + hn::Lanes(DF()) - 1, last));
}

// Rows of the stage's bands (row_bands.h), at least eight each.
inline int BandRows(int rows, int workers) { return passes::BandRows(rows, workers, 8); }

// Stores four vectors of stored values as `count` (1 .. N) consecutive texels.
HWY_INLINE void StoreTexelBits(VU16 c0, VU16 c1, VU16 c2, VU16 c3, uint16_t* HWY_RESTRICT dst, size_t count) {
    const DU16 du16;
    if (count == hn::Lanes(du16)) {
        hn::StoreInterleaved4(c0, c1, c2, c3, du16, dst);
        return;
    }
    HWY_ALIGN uint16_t part[4 * hn::MaxLanes(du16)];
    hn::StoreInterleaved4(c0, c1, c2, c3, du16, part);
    std::memcpy(dst, part, count * 4 * sizeof(uint16_t));
}

// Stores four float channels by the store rule as `count` (1 .. N) consecutive texels.
HWY_INLINE void StoreTexels(VF x, VF y, VF z, VF w, uint16_t* HWY_RESTRICT dst, size_t count) {
    const DF df;
    StoreTexelBits(StoreUnormVec(df, x), StoreUnormVec(df, y), StoreUnormVec(df, z), StoreUnormVec(df, w),
                   dst, count);
}

// Floats of one row laid out for unaligned loads around every pixel of a drawn row: columns
// -margin .. span + margin + 2 * N - 1 exist, and every column outside the texture holds the
// edge texel's value, as clamped reads give.
struct RowLayout {
    int span = 0;    // columns the kernel addresses from 0 (at least the texture's width)
    int margin = 0;  // columns addressed left of 0 and right of span
    size_t stride = 0;

    RowLayout(int spanColumns, int marginColumns)
        : span(spanColumns),
          margin(marginColumns),
          stride(static_cast<size_t>(2 * marginColumns + spanColumns) + 2 * hn::Lanes(DF())) {}
};

// Stored value of channel kChannel from a texel's channel pairs.
template <int kChannel>
HWY_INLINE VU32 ChannelOf(VU32 low, VU32 high) {
    const VU32 pair = kChannel < 2 ? low : high;
    return (kChannel & 1) ? HighChannel(pair) : LowChannel(pair);
}

// Converts channel kChannel of the texels at columns 0 .. end - 1 (end a multiple of N).
template <int kChannel>
HWY_INLINE void ExpandChannel(const uint16_t* HWY_RESTRICT texels, size_t end, float* HWY_RESTRICT out) {
    const DF df;
    for (size_t x = 0; x < end; x += hn::Lanes(df)) {
        VU32 low, high;
        hn::LoadInterleaved2(DU32(), reinterpret_cast<const uint32_t*>(texels + 4 * x), low, high);
        hn::StoreU(ReadUnormWideVec(df, ChannelOf<kChannel>(low, high)), df, out + x);
    }
}

// Converts the channels named by `out` (null to skip) of the texels at columns x0 .. x1 - 1 of a
// row (x0 and x1 multiples of N), so that a kernel can convert a row ahead a vector at a time
// while it draws from others.
HWY_INLINE void ExpandColumns(const uint16_t* HWY_RESTRICT texels, size_t x0, size_t x1, float* const out[4]) {
    const DF df;
    for (size_t x = x0; x < x1; x += hn::Lanes(df)) {
        VU32 low, high;
        hn::LoadInterleaved2(DU32(), reinterpret_cast<const uint32_t*>(texels + 4 * x), low, high);
        const VU32 c[4] = {ChannelOf<0>(low, high), ChannelOf<1>(low, high), ChannelOf<2>(low, high),
                           ChannelOf<3>(low, high)};
        for (int ch = 0; ch < 4; ++ch) {
            if (out[ch]) hn::StoreU(ReadUnormWideVec(df, c[ch]), df, out[ch] + x);
        }
    }
}

// Columns of a row `width` texels wide that ExpandColumns converts: the whole vectors.
HWY_INLINE size_t WholeColumns(int width) {
    const size_t N = hn::Lanes(DF());
    return static_cast<size_t>(width) / N * N;
}

// Completes a row whose whole vectors are converted: the columns past them, then the margins
// filled with the edge values.
HWY_INLINE void FinishRow(const uint16_t* HWY_RESTRICT texels, int width, const RowLayout& layout,
                          float* const out[4]) {
    for (size_t x = WholeColumns(width); x < static_cast<size_t>(width); ++x) {
        for (int ch = 0; ch < 4; ++ch) {
            if (out[ch]) out[ch][x] = gfx::ReadUnorm(texels[4 * x + static_cast<size_t>(ch)]);
        }
    }
    const ptrdiff_t end = static_cast<ptrdiff_t>(layout.stride) - layout.margin;
    for (int ch = 0; ch < 4; ++ch) {
        float* row = out[ch];
        if (!row) continue;
        std::fill(row - layout.margin, row, row[0]);
        std::fill(row + width, row + end, row[width - 1]);
    }
}

// Converts the channels of one texel row named by `out` (null to skip; out[c] points at column 0
// of a row laid out as `layout`) and fills the margins with the edge values.
HWY_INLINE void ExpandRow(const uint16_t* HWY_RESTRICT texels, int width, const RowLayout& layout,
                          float* const out[4]) {
    const size_t whole = WholeColumns(width);
    const int wanted = (out[0] ? 1 : 0) + (out[1] ? 1 : 0) + (out[2] ? 1 : 0) + (out[3] ? 1 : 0);
    if (wanted == 1) {  // the common case, without a test per channel and vector
        if (out[0]) ExpandChannel<0>(texels, whole, out[0]);
        if (out[1]) ExpandChannel<1>(texels, whole, out[1]);
        if (out[2]) ExpandChannel<2>(texels, whole, out[2]);
        if (out[3]) ExpandChannel<3>(texels, whole, out[3]);
    } else {
        ExpandColumns(texels, 0, whole, out);
    }
    FinishRow(texels, width, layout, out);
}

// A texel row converted ahead, a few vectors of columns at a time, while a kernel draws from
// rows converted before, so that the conversion's memory traffic overlaps the drawing's
// arithmetic. Empty (nothing to convert) when default-constructed.
class PendingRow {
public:
    PendingRow() = default;
    PendingRow(const uint16_t* texels, int width, const RowLayout& layout, float* const out[4])
        : texels_(texels), width_(width), layout_(&layout), whole_(WholeColumns(width)) {
        std::copy_n(out, 4, out_);
    }

    // Converts the row's whole vectors of columns up to `end`.
    HWY_INLINE void Advance(size_t end) {
        end = std::min(end, whole_);
        if (done_ >= end) return;
        ExpandColumns(texels_, done_, end, out_);
        done_ = end;
    }

    // Converts the rest of the row and its margins.
    void Finish() {
        if (!texels_) return;
        Advance(whole_);
        FinishRow(texels_, width_, *layout_, out_);
        texels_ = nullptr;
    }

private:
    const uint16_t* texels_ = nullptr;
    int width_ = 0;
    const RowLayout* layout_ = nullptr;
    size_t whole_ = 0;  // 0 when empty, so Advance does nothing
    size_t done_ = 0;   // columns converted
    float* out_[4] = {nullptr, nullptr, nullptr, nullptr};
};

// Channels kFirst .. kFirst + kChannels - 1 of the rows a band reads (lo .. hi - 1 of the texture), each
// channel a plane laid out as `layout`, converted when first asked for. The converted rows live
// in a ring of `slots` slots (at most kRingRows), so a band's rows pass through cache-sized
// memory instead of a band-sized copy: a kernel's rows in use at once (a window of at most
// `slots` consecutive rows, the band moving down) never share a slot, and a row asked for again
// after it left the ring is converted again. Rows are clamped to the texture as the samplers do.
template <int kChannels, int kFirst = 0>
class ChannelRows {
public:
    static_assert(kChannels >= 0 && kFirst >= 0 && kFirst + kChannels <= 4, "a texel has four channels");
    static constexpr int kRingRows = 16;

    ChannelRows(const gfx::TextureView& texture, int firstRow, int endRow, int span, int margin,
                int slots = kRingRows)
        : texture_(texture),
          layout_(std::max(span, texture.width), margin),
          height_(texture.height),
          lo_(std::clamp(firstRow, 0, texture.height - 1)),
          hi_(std::clamp(endRow, lo_ + 1, texture.height)),
          slots_(std::clamp(std::min(slots, hi_ - lo_), 1, kRingRows)),
          storage_(sizeof(float) * layout_.stride * static_cast<size_t>(kChannels * slots_)) {
        for (int& t : tags_) t = -1;
    }

    // Rows the band reads that lie outside lo .. hi - 1 after clamping are a caller's error; they
    // are held to the cached range rather than read out of bounds.
    const float* Row(int r, int plane = 0) const {
        r = Clamped(r);
        const int slot = Slot(r);
        if (tags_[slot] != r) {
            float* out[4] = {nullptr, nullptr, nullptr, nullptr};
            Planes(slot, out);
            ExpandRow(texture_.Row16(r), texture_.width, layout_, out);
            tags_[slot] = r;
        }
        return PlaneAt(slot, plane);
    }

    // Starts converting row r ahead, into its slot: empty where the row is there already. The
    // slot must hold none of the rows in use until the row is finished, and Row must not be
    // asked for it before.
    PendingRow Start(int r) {
        r = Clamped(r);
        const int slot = Slot(r);
        if (tags_[slot] == r) return PendingRow();
        float* out[4] = {nullptr, nullptr, nullptr, nullptr};
        Planes(slot, out);
        tags_[slot] = r;
        return PendingRow(texture_.Row16(r), texture_.width, layout_, out);
    }

    // The texels of row r, for asking the memory system ahead for rows about to be converted.
    const uint8_t* Texels(int r) const { return reinterpret_cast<const uint8_t*>(texture_.Row16(Clamped(r))); }

private:
    int Clamped(int r) const { return std::clamp(std::clamp(r, 0, height_ - 1), lo_, hi_ - 1); }
    int Slot(int r) const { return (r - lo_) % slots_; }

    void Planes(int slot, float* out[4]) const {
        for (int c = 0; c < kChannels; ++c) out[kFirst + c] = PlaneAt(slot, c);
    }

    float* PlaneAt(int slot, int plane) const {
        const size_t index = static_cast<size_t>(slot * kChannels + plane);
        return storage_.As<float>() + layout_.stride * index + static_cast<size_t>(layout_.margin);
    }

    gfx::TextureView texture_;
    RowLayout layout_;
    int height_;
    int lo_;
    int hi_;
    int slots_;
    mutable int tags_[kRingRows];
    ScratchBlock storage_;
};

// Sums of 2 * kRadius + 1 taps along each row of one channel of `texture`, weight gw[|k|] for the
// texel k columns away, taken from k = -kRadius up as the reference does; drawn as the store rule
// gives them into channel x of rows y0 .. y1 - 1 of the target, the other channels 0.
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
// Channel kChannel of the texels at columns x .. x + N - 1 as floats, clamped to the row.
template <int kChannel>
HWY_INLINE VF ChannelColumns(const uint16_t* HWY_RESTRICT row, int width, ptrdiff_t x) {
    VU32 low, high;
    LoadTexelPairs(row, width, x, low, high);
    return ReadUnormWideVec(DF(), ChannelOf<kChannel>(low, high));
}

// Columns x + kShift .. x + kShift + N - 1, from the vectors of the columns before x, at x and after.
template <int kShift>
HWY_INLINE VF ShiftedColumns(VF before, VF at, VF after) {
    if constexpr (kShift == 0) {
        return at;
    } else if constexpr (kShift < 0) {
        return VF{_mm512_castsi512_ps(
            _mm512_alignr_epi32(_mm512_castps_si512(at.raw), _mm512_castps_si512(before.raw), 16 + kShift))};
    } else {
        return VF{_mm512_castsi512_ps(
            _mm512_alignr_epi32(_mm512_castps_si512(after.raw), _mm512_castps_si512(at.raw), kShift))};
    }
}

template <int kRadius, int... kTaps>
HWY_INLINE VF RowTaps(const VF* gw, VF before, VF at, VF after, std::integer_sequence<int, kTaps...>) {
    VF sum = hn::Zero(DF());
    ((sum = hn::Add(sum, hn::Mul(gw[kTaps < kRadius ? kRadius - kTaps : kTaps - kRadius],
                                 ShiftedColumns<kTaps - kRadius>(before, at, after)))),
     ...);
    return sum;
}

// A row at a time with its columns in registers: each texel converted once, the taps taken by
// lane shifts of three vectors instead of unaligned loads from a converted row.
template <int kChannel, int kRadius>
void BlurAlongRows(const gfx::TextureView& texture, const gfx::TargetView& target, int width, const VF* gw, int y0,
                   int y1) {
    const ptrdiff_t N = static_cast<ptrdiff_t>(hn::Lanes(DF()));
    static_assert(hn::MaxLanes(DF()) == 16 && kRadius <= 16, "the taps reach one vector either side");
    const VU32 zero = hn::Zero(DU32());
    for (int y = y0; y < y1; ++y) {
        const uint16_t* row = texture.Row16(std::clamp(y, 0, texture.height - 1));
        const uint16_t* next = texture.Row16(std::clamp(y + 1, 0, texture.height - 1));
        uint16_t* out = target.Row(y);
        VF before = ChannelColumns<kChannel>(row, texture.width, -N);
        VF at = ChannelColumns<kChannel>(row, texture.width, 0);
        for (ptrdiff_t x = 0; x < width; x += N) {
            PrefetchTexels(next, texture.width, static_cast<size_t>(x));
            const VF after = ChannelColumns<kChannel>(row, texture.width, x + N);
            const VF sum = RowTaps<kRadius>(gw, before, at, after, std::make_integer_sequence<int, 2 * kRadius + 1>());
            StoreTexelPairs(StoreUnormWideVec(DF(), sum), zero, out + 4 * x,
                            static_cast<size_t>(std::min(N, width - x)));
            before = at;
            at = after;
        }
    }
}
#else
// Two rows of the channel: the one drawn from, and the next, converted while this one is drawn.
template <int kChannel, int kRadius>
void BlurAlongRows(const gfx::TextureView& texture, const gfx::TargetView& target, int width, const VF* gw, int y0,
                   int y1) {
    const size_t N = hn::Lanes(DF());
    ChannelRows<1, kChannel> planes(texture, y0, y1, width, kRadius, 2);
    const VU32 zero = hn::Zero(DU32());
    for (int y = y0; y < y1; ++y) {
        const float* row = planes.Row(y);
        PendingRow pending = y + 1 < y1 ? planes.Start(y + 1) : PendingRow();
        const uint16_t* next = texture.Row16(std::clamp(y + 2, 0, texture.height - 1));
        uint16_t* out = target.Row(y);
        for (size_t x = 0; x < static_cast<size_t>(width); x += N) {
            PrefetchTexels(next, texture.width, x);
            pending.Advance(x + N);
            VF sum = hn::Zero(DF());
            for (int k = -kRadius; k <= kRadius; ++k)
                sum = hn::Add(sum, hn::Mul(gw[k < 0 ? -k : k], hn::LoadU(DF(), row + x + k)));
            StoreTexelPairs(StoreUnormWideVec(DF(), sum), zero, out + 4 * x, std::min(N, width - x));
        }
        pending.Finish();
    }
}
#endif

// Up to four channels of single rows, converted row by row into the same buffers.
class RowPlanes {
public:
    RowPlanes(int span, int margin, int planes)
        : layout_(span, margin), storage_(sizeof(float) * layout_.stride * static_cast<size_t>(planes)) {}

    float* Plane(int p) const {
        return storage_.As<float>() + layout_.stride * static_cast<size_t>(p) + static_cast<size_t>(layout_.margin);
    }
    const RowLayout& Layout() const { return layout_; }

private:
    RowLayout layout_;
    ScratchBlock storage_;
};

}  // namespace detail_rows
}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
