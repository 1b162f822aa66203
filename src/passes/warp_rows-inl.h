// The texel rows the warps' next block row reads and writes, asked of the memory system while the
// current one is drawn. Included once per SIMD target from a file that uses hwy/foreach_target.h.
#if defined(QV_PASSES_WARP_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_PASSES_WARP_ROWS_INL_H_
#undef QV_PASSES_WARP_ROWS_INL_H_
#else
#define QV_PASSES_WARP_ROWS_INL_H_
#endif

#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

#include "passes/detail_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace warp_rows {

using detail_rows::DF;

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
