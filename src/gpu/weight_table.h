// The Spline36 kernel and the 513-entry weight table Tex11 the resampling and warp passes read.
#pragma once

namespace qv::gpu {

inline constexpr int kWeightTableEntries = 513;

// Spline36 kernel k(x), evaluated in double on |x|.
double Spline36(double x);

// Writes the 513 texels (four floats each) one after the other from `texels`: texel i holds
// (k(x), k(x + 1), k(x + 2), 0) with x = i * 0.001953125 and the sums in single precision.
void FillWeightTable(float* texels);

}  // namespace qv::gpu
