// The Spline36 kernel and the 513-entry weight table Tex11 the resampling and warp passes read.
#pragma once

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

}  // namespace qv::gpu
