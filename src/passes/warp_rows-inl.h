// Texel rows converted to float planes for the warps' row kernels, by the division-free read
// rule, with edge margins, kept in a small ring so that a row the kernel reads again while it is
// still in the ring is converted once. Included once per SIMD target from a file that uses
// hwy/foreach_target.h.
#if defined(QV_PASSES_WARP_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_WARP_ROWS_INL_H_
#undef QV_PASSES_WARP_ROWS_INL_H_
#else
#define QV_PASSES_WARP_ROWS_INL_H_
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

#include "passes/detail_rows-inl.h"
#include "passes/scratch_memory.h"
#include "platform/d3d9/pixel_program.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace warp_rows {

using detail_rows::DF;
using detail_rows::RowLayout;

// The first kChannels channels of a texture's rows as float planes laid out for `span` columns
// and `margin` more either side. A row is converted when first asked for into slot
// (row mod slots), so any window of up to `slots` consecutive rows in use at once keeps its
// rows; rows are clamped to the texture as the samplers do.
template <int kChannels>
class ConvertedRows {
public:
    static constexpr int kMaxSlots = 16;

    ConvertedRows(const gfx::TextureView& texture, int span, int margin, int slots)
        : texture_(texture),
          layout_(std::max(span, texture.width), margin),
          slots_(std::clamp(slots, 1, kMaxSlots)),
          storage_(sizeof(float) * layout_.stride * static_cast<size_t>(kChannels * slots_)) {
        tags_.fill(-1);
    }

    const float* Row(int r, int channel) {
        r = Clamped(r);
        const int slot = r % slots_;
        if (tags_[static_cast<size_t>(slot)] != r) {
            float* out[4] = {nullptr, nullptr, nullptr, nullptr};
            Planes(slot, out);
            detail_rows::ExpandRow(texture_.Row16(r), texture_.width, layout_, out);
            tags_[static_cast<size_t>(slot)] = r;
        }
        return Plane(slot, channel);
    }

    // Starts converting row r (clamped) ahead, into its slot: empty where the row is there
    // already. The slot must hold none of the rows in use until the row is finished, and Row must
    // not be asked for it before.
    detail_rows::PendingRow Start(int r) {
        r = Clamped(r);
        const int slot = r % slots_;
        if (tags_[static_cast<size_t>(slot)] == r) return detail_rows::PendingRow();
        float* out[4] = {nullptr, nullptr, nullptr, nullptr};
        Planes(slot, out);
        tags_[static_cast<size_t>(slot)] = r;
        return detail_rows::PendingRow(texture_.Row16(r), texture_.width, layout_, out);
    }

    // The texels of row r (clamped), for asking the memory system ahead for rows about to be
    // converted.
    const uint8_t* Texels(int r) const { return reinterpret_cast<const uint8_t*>(texture_.Row16(Clamped(r))); }

private:
    int Clamped(int r) const { return std::clamp(r, 0, texture_.height - 1); }

    void Planes(int slot, float* out[4]) const {
        for (int c = 0; c < kChannels; ++c) out[c] = Plane(slot, c);
    }

    float* Plane(int slot, int channel) const {
        const size_t index = static_cast<size_t>(slot * kChannels + channel);
        return storage_.As<float>() + layout_.stride * index + static_cast<size_t>(layout_.margin);
    }

    gfx::TextureView texture_;
    RowLayout layout_;
    int slots_;
    std::array<int, kMaxSlots> tags_;
    ScratchBlock storage_;
};

// Texel rows that the next block row reads (or writes), fetched into the cache a little at a time
// while the current block row is drawn, so that the next one finds them there: the texels of
// pixel vector x in each row along with that vector.
class RowsAhead {
public:
    void Clear() { reads_ = writes_ = 0; }
    void AddRead(const void* row, size_t bytes) {
        if (reads_ < kMaxRows) read_[reads_++] = {static_cast<const uint8_t*>(row), bytes};
    }
    void AddWrite(void* row, size_t bytes) {
        if (writes_ < kMaxRows) write_[writes_++] = {static_cast<const uint8_t*>(row), bytes};
    }

    HWY_INLINE void Fetch(size_t x) const {
        constexpr size_t kBytes = 8 * hn::MaxLanes(DF());
        const size_t at = 8 * x;
        for (int r = 0; r < reads_; ++r)
            if (at < read_[r].bytes)
                for (size_t k = 0; k < kBytes; k += kLine) __builtin_prefetch(read_[r].texels + at + k, 0, 3);
        for (int r = 0; r < writes_; ++r)
            if (at < write_[r].bytes)
                for (size_t k = 0; k < kBytes; k += kLine) __builtin_prefetch(write_[r].texels + at + k, 1, 3);
    }

private:
    static constexpr int kMaxRows = 4;
    static constexpr size_t kLine = 64;
    struct Row {
        const uint8_t* texels;
        size_t bytes;
    };
    Row read_[kMaxRows];
    Row write_[kMaxRows];
    int reads_ = 0;
    int writes_ = 0;
};

}  // namespace warp_rows
}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
