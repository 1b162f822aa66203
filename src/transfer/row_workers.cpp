// The upload and download workers: eight pixels (24 samples) per step as three vectors of
// eight signed 16-bit lanes, the tail pixels one by one with the same arithmetic.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transfer/row_workers.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <type_traits>

#include "host/host_records.h"
#include "transfer/packed_frame.h"

HWY_BEFORE_NAMESPACE();
namespace qv::transfer::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Eight lanes on every vector target; one lane on the scalar target, which then takes 24
// steps per group with the same operations.
using GroupTag = hn::CappedTag<int16_t, kPixelsPerGroup>;

// Walks rows first .. end - 1 of a transfer: `group` maps a vector of source samples and the
// matching vector of group offsets to the stored vector, `sample` does the same for one tail
// sample and its offset.
template <class Group, class Sample>
HWY_INLINE void TransferRows(const RowTransfer& t, int32_t first, int32_t end, const Group& group,
                             const Sample& sample) {
    const GroupTag d;
    const size_t lanes = hn::Lanes(d);
    for (int32_t r = first; r < end; ++r) {
        const int16_t* src = t.source + static_cast<ptrdiff_t>(r) * t.sourcePitch;
        int16_t* dst = t.destination + static_cast<ptrdiff_t>(r) * t.destinationPitch;
        for (int32_t g = 0; g < t.groupCount; ++g) {
            for (size_t j = 0; j < static_cast<size_t>(kSamplesPerGroup); j += lanes) {
                hn::StoreU(group(hn::LoadU(d, src + j), hn::LoadU(d, kGroupOffsets + j)), d, dst + j);
            }
            src += kSamplesPerGroup;
            dst += kSamplesPerGroup;
        }
        for (int32_t k = 0; k < t.tailCount * kSamplesPerPixel; ++k) dst[k] = sample(src[k], SampleOffset(k));
    }
}

void UploadRows(const RowTransfer& t, int32_t first, int32_t end) {
    const GroupTag d;
    const auto low = hn::Set(d, kSampleLow);
    const auto high = hn::Set(d, kSampleHigh);
    TransferRows(
        t, first, end,
        [&](auto v, auto offsets) {
            // Saturating: a chroma sample near 32767 plus 2048 stays above 4096.
            return hn::Min(hn::Max(hn::SaturatedAdd(v, offsets), low), high);
        },
        [](int16_t v, int16_t offset) { return StoreSample(v, offset); });
}

void DownloadRows(const RowTransfer& t, int32_t first, int32_t end) {
    const GroupTag d;
    const auto low = hn::Set(d, kSampleLow);
    const auto high = hn::Set(d, kSampleHigh);
    TransferRows(
        t, first, end, [&](auto v, auto offsets) { return hn::Sub(hn::Min(hn::Max(v, low), high), offsets); },
        [](int16_t v, int16_t offset) { return LoadSample(v, offset); });
}

}  // namespace qv::transfer::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::transfer {

HWY_EXPORT(UploadRows);
HWY_EXPORT(DownloadRows);

static_assert(std::is_same_v<decltype(&UploadWorker), WorkerFunction>);
static_assert(std::is_same_v<decltype(&DownloadWorker), WorkerFunction>);

void UploadWorker(int32_t threadIndex, int32_t threadCount, void* transfer, void* /*unused*/) {
    if (!transfer) return;
    const RowTransfer& t = *static_cast<const RowTransfer*>(transfer);
    const RowRange rows = WorkerRows(t.rowCount, threadIndex, threadCount);
    if (rows.first < rows.end) HWY_DYNAMIC_DISPATCH(UploadRows)(t, rows.first, rows.end);
}

void DownloadWorker(int32_t threadIndex, int32_t threadCount, void* transfer, void* /*unused*/) {
    if (!transfer) return;
    const RowTransfer& t = *static_cast<const RowTransfer*>(transfer);
    const RowRange rows = WorkerRows(t.rowCount, threadIndex, threadCount);
    if (rows.first < rows.end) HWY_DYNAMIC_DISPATCH(DownloadRows)(t, rows.first, rows.end);
}

}  // namespace qv::transfer
#endif  // HWY_ONCE
