// PackedFrame: a frame held in a four-channel unsigned 16-bit texture. The samples of a row
// (y, cb, cr of each pixel in turn) fill the channels R, G, B, A of consecutive texels, so four
// pixels take three texels. Stored values are y clamped to 0..4096 and chroma + 2048 clamped to
// 0..4096. The channels after a row's last sample in its last texel are never written.
//
// This header also holds the record and the workers that move rows between the host's YcPixel
// frames and that layout on the host's worker threads.
#pragma once

#include <cstdint>

namespace qv::transfer {

inline constexpr int32_t kSamplesPerPixel = 3;   // y, cb, cr
inline constexpr int32_t kChannelsPerTexel = 4;  // R, G, B, A
inline constexpr int32_t kPixelsPerGroup = 8;    // one step of the workers
inline constexpr int32_t kSamplesPerGroup = kPixelsPerGroup * kSamplesPerPixel;

inline constexpr int16_t kSampleLow = 0;
inline constexpr int16_t kSampleHigh = 4096;
inline constexpr int16_t kChromaOffset = 2048;  // the stored value of zero chroma

// Texels per packed row: the fewest that hold 3 x width samples. The one definition used by
// the transfers, the working textures and the unpack and pack passes.
constexpr int32_t PackedTexelWidth(int32_t width) {
    return (kSamplesPerPixel * width + kChannelsPerTexel - 1) / kChannelsPerTexel;
}

// What is added to sample k of a row on the way in (and taken off on the way out): nothing at
// luma positions (k mod 3 = 0), the chroma offset elsewhere.
constexpr int16_t SampleOffset(int32_t k) { return k % kSamplesPerPixel == 0 ? 0 : kChromaOffset; }

// The offsets of one group of eight pixels as three vectors of eight lanes: samples 0-7, 8-15
// and 16-23.
alignas(16) inline constexpr int16_t kGroupOffsets[kSamplesPerGroup] = {
    0,    2048, 2048, 0,    2048, 2048, 0,    2048,   // offset 1
    2048, 0,    2048, 2048, 0,    2048, 2048, 0,      // offset 2
    2048, 2048, 0,    2048, 2048, 0,    2048, 2048};  // offset 3

constexpr bool GroupOffsetsFollowTheSampleRule() {
    for (int32_t k = 0; k < kSamplesPerGroup; ++k) {
        if (kGroupOffsets[k] != SampleOffset(k)) return false;
    }
    return true;
}
static_assert(GroupOffsetsFollowTheSampleRule());

// Host sample to stored value. The sum is formed in 32 bits, so chroma far above 2048 gives
// 4096 rather than wrapping round to a negative 16-bit value.
constexpr int16_t StoreSample(int16_t sample, int16_t offset) {
    const int32_t v = static_cast<int32_t>(sample) + offset;
    return static_cast<int16_t>(v < kSampleLow ? kSampleLow : (v > kSampleHigh ? kSampleHigh : v));
}

// Stored value, read as signed (65535 reads as -1), to host sample.
constexpr int16_t LoadSample(int16_t stored, int16_t offset) {
    const int16_t v = stored < kSampleLow ? kSampleLow : (stored > kSampleHigh ? kSampleHigh : stored);
    return static_cast<int16_t>(v - offset);
}

// The record a transfer hands to its workers; the field order is the host-facing one. Rows
// are read at source + r x sourcePitch and written at destination + r x destinationPitch.
struct RowTransfer {
    const int16_t* source;     // sample 0 of row 0 to read
    int16_t* destination;      // sample 0 of row 0 to write
    int32_t destinationPitch;  // in 16-bit samples
    int32_t sourcePitch;       // in 16-bit samples
    int32_t groupCount;        // pixels per row / 8
    int32_t rowCount;
    int32_t tailCount;  // pixels per row - 8 x groupCount (0..7)
};

// Fills a record for rows of `width` pixels.
constexpr RowTransfer MakeRowTransfer(const int16_t* source, int32_t sourcePitch, int16_t* destination,
                                      int32_t destinationPitch, int32_t width, int32_t rows) {
    return RowTransfer{source,
                       destination,
                       destinationPitch,
                       sourcePitch,
                       width / kPixelsPerGroup,
                       rows,
                       width - kPixelsPerGroup * (width / kPixelsPerGroup)};
}

// The rows worker `index` of `count` converts: first = (rows x index) / count up to
// end = (rows x (index + 1)) / count. The products are taken in 64 bits: for every real frame
// (rows up to a few thousand, workers up to a few thousand) they equal the host's 32-bit ones,
// and a bigger pair cannot overflow. An index outside 0..count-1 gets no rows.
struct RowRange {
    int32_t first;
    int32_t end;
};
constexpr RowRange WorkerRows(int32_t rows, int32_t index, int32_t count) {
    if (rows <= 0 || count <= 0 || index < 0 || index >= count) return RowRange{0, 0};
    return RowRange{static_cast<int32_t>(static_cast<int64_t>(rows) * index / count),
                    static_cast<int32_t>(static_cast<int64_t>(rows) * (index + 1) / count)};
}

// Workers for RunOnWorkerThreads (qv::WorkerFunction): param1 is the RowTransfer, param2 is
// not read. Each converts its own rows, eight pixels per step, the rest one by one.
// Upload: host samples to stored values. Download: stored values to host samples.
void UploadWorker(int32_t threadIndex, int32_t threadCount, void* transfer, void* unused);
void DownloadWorker(int32_t threadIndex, int32_t threadCount, void* transfer, void* unused);

}  // namespace qv::transfer
