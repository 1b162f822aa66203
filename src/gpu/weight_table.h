// The Spline36 kernel and the 513-entry weight table Tex11 the resampling and warp passes read.
#pragma once

#include <cstdint>

namespace qv::gpu {

inline constexpr int kWeightTableEntries = 513;
// Texel i of the table is the kernel at x = i * kWeightTableStep, x + 1 and x + 2.
inline constexpr float kWeightTableStep = 0.001953125f;

// Spline36 kernel k(x), evaluated in double on |x|.
double Spline36(double x);

// Writes the 513 texels (four floats each) one after the other from `texels`: texel i holds
// (k(x), k(x + 1), k(x + 2), 0) with x = i * kWeightTableStep and the sums in single precision.
void FillWeightTable(float* texels);

// Whether `entries` texels (four floats each) from `texels` are, bit for bit, what
// FillWeightTable writes: texel i's channel c is then piece c of the kernel at t = i *
// kWeightTableStep (below the last texel), rounded to float.
bool HoldsWeightTable(const float* texels, int entries);

// The filter's table below its last texel as the single-precision pieces (Spline36PieceFloat)
// give it plus a correction: the entry's bits less the piece's, 0 to 3, two bits an entry. Entry
// i's correction for channel c sits in bits 2 * (i % 16) of words[c][i / 16].
inline constexpr int kCorrectedEntries = kWeightTableEntries - 1;
inline constexpr int kCorrectionBits = 2;
inline constexpr int kCorrectionsPerWord = 32 / kCorrectionBits;
inline constexpr int kCorrectionWords = kCorrectedEntries / kCorrectionsPerWord;
struct WeightTableCorrections {
    bool complete = false;  // every entry's correction fits its two bits
    uint32_t words[3][kCorrectionWords] = {};
};
const WeightTableCorrections& FilterTableCorrections();

}  // namespace qv::gpu
