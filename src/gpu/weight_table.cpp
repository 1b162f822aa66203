#include "gpu/weight_table.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <hwy/highway.h>

#include "gpu/spline36-inl.h"

namespace qv::gpu {

namespace {

constexpr double Same(double c) { return c; }
constexpr float SameFloat(float c) { return c; }

using HWY_NAMESPACE::Spline36Piece;
using HWY_NAMESPACE::Spline36PieceFloat;

using TableTexels = std::array<float, 4 * kWeightTableEntries>;

// The filter's table, filled once.
const TableTexels& FilterTable() {
    static const TableTexels table = [] {
        TableTexels t{};
        FillWeightTable(t.data());
        return t;
    }();
    return table;
}

int64_t Bits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof(bits));
    return bits;
}

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
    // Bits, not values: the passes that rely on this reproduce signed zeros too.
    const TableTexels& table = FilterTable();
    return entries == kWeightTableEntries && std::memcmp(texels, table.data(), sizeof(table)) == 0;
}

const WeightTableCorrections& FilterTableCorrections() {
    static const WeightTableCorrections corrections = [] {
        const TableTexels& table = FilterTable();
        WeightTableCorrections c;
        c.complete = true;
        for (int i = 0; i < kCorrectedEntries; ++i) {
            const float t = static_cast<float>(i) * kWeightTableStep;
            const float u = 1.0f - t;
            const float p = t * u;
            const float pieces[3] = {Spline36PieceFloat<0>(t, u, p, SameFloat),
                                     Spline36PieceFloat<1>(t, u, p, SameFloat),
                                     Spline36PieceFloat<2>(t, u, p, SameFloat)};
            for (int channel = 0; channel < 3; ++channel) {
                const int64_t correction = Bits(table[static_cast<size_t>(4 * i + channel)]) - Bits(pieces[channel]);
                if (correction < 0 || correction >= (1 << kCorrectionBits)) {
                    c.complete = false;
                    continue;
                }
                c.words[channel][i / kCorrectionsPerWord] |= static_cast<uint32_t>(correction)
                                                             << (kCorrectionBits * (i % kCorrectionsPerWord));
            }
        }
        return c;
    }();
    return corrections;
}

}  // namespace qv::gpu
