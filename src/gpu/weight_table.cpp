#include "gpu/weight_table.h"

#include <array>
#include <cmath>
#include <cstring>

#include <hwy/highway.h>

#include "gpu/spline36-inl.h"

namespace qv::gpu {

namespace {

constexpr double Same(double c) { return c; }

using HWY_NAMESPACE::Spline36Piece;

}  // namespace

double Spline36(double x) {
    const double a = std::fabs(x);
    if (a < 1.0) return Spline36Piece<0>(a, Same);
    if (a < 2.0) return Spline36Piece<1>(a - 1.0, Same);
    if (a < 3.0) return Spline36Piece<2>(a - 2.0, Same);
    return 0.0;
}

void FillWeightTable(float* texels) {
    for (int i = 0; i < kWeightTableEntries; ++i) {
        const float x = static_cast<float>(i) * kWeightTableStep;
        const float x1 = x + 1.0f;
        const float x2 = x + 2.0f;
        float* t = texels + 4 * i;
        t[0] = static_cast<float>(Spline36(x));
        t[1] = static_cast<float>(Spline36(x1));
        t[2] = static_cast<float>(Spline36(x2));
        t[3] = 0.0f;
    }
}

bool HoldsWeightTable(const float* texels, int entries) {
    static const std::array<float, 4 * kWeightTableEntries> table = [] {
        std::array<float, 4 * kWeightTableEntries> t{};
        FillWeightTable(t.data());
        return t;
    }();
    // Bits, not values: the passes that rely on this reproduce signed zeros too.
    return entries == kWeightTableEntries && std::memcmp(texels, table.data(), sizeof(table)) == 0;
}

}  // namespace qv::gpu
