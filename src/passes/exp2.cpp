#include "passes/exp2.h"

#include <bit>
#include <limits>

namespace qv::passes {
namespace exp2_detail {
namespace {

// (ln2)^k / k! for k = 0..16 as unevaluated sums hi + lo of two doubles.
constexpr int kAccurateDegree = 16;
constexpr double kAccurateCoefficients[kAccurateDegree + 1][2] = {
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56},
    {0x1.ebfbdff82c58fp-3, -0x1.5e43a53e44da3p-57},
    {0x1.c6b08d704a0c0p-5, -0x1.d331627513351p-59},
    {0x1.3b2ab6fba4e77p-7, 0x1.4e65df05a9f75p-62},
    {0x1.5d87fe78a6731p-10, 0x1.0717f69a514bfp-66},
    {0x1.430912f86c787p-13, 0x1.bd2c2a261ac8dp-67},
    {0x1.ffcbfc588b0c7p-17, -0x1.e53ab8cde09c6p-71},
    {0x1.62c0223a5c824p-20, -0x1.3800cfc92c41ep-79},
    {0x1.b5253d395e7c4p-24, -0x1.2dac78d2d8038p-79},
    {0x1.e4cf5158b8ecap-28, -0x1.204bc4d5a312dp-85},
    {0x1.e8cac7351bb25p-32, -0x1.f8543350dc6f6p-87},
    {0x1.c3bd650fc2986p-36, -0x1.d4a9781e85d12p-92},
    {0x1.816193166d0f9p-40, 0x1.8a06b0c03dc6cp-94},
    {0x1.314964d5878a9p-44, 0x1.cfc50d89572bbp-98},
    {0x1.c36e843b04022p-49, -0x1.984ea80e5635bp-105},
    {0x1.38e89ae79f8b4p-53, -0x1.b71c06c4d9c88p-107},
};

struct DoubleDouble {
    double hi;
    double lo;
};

// Exact sum and product of two doubles as hi + lo (Knuth's two-sum; Dekker's product with
// Veltkamp's split, which needs no fused multiply-add).
DoubleDouble TwoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

DoubleDouble FastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

DoubleDouble Split(double a) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    const double hi = t - (t - a);
    return {hi, a - hi};
}

DoubleDouble TwoProduct(double a, double b) {
    const double p = a * b;
    const DoubleDouble as = Split(a);
    const DoubleDouble bs = Split(b);
    const double err = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, err};
}

struct ScalarOps {
    double Mul(double a, double b) const { return a * b; }
    double MulAdd(double a, double b, double c) const { return c + a * b; }
    double Const(double c) const { return c; }
};

}  // namespace

#include "passes/exp2_polynomial-inl.h"

float Exp2Accurate(double f, double scale) {
    DoubleDouble p{kAccurateCoefficients[kAccurateDegree][0], kAccurateCoefficients[kAccurateDegree][1]};
    for (int k = kAccurateDegree - 1; k >= 0; --k) {
        const DoubleDouble m = TwoProduct(p.hi, f);
        const double mlo = m.lo + p.lo * f;
        const DoubleDouble s = TwoSum(m.hi, kAccurateCoefficients[k][0]);
        p = FastTwoSum(s.hi, s.lo + (mlo + kAccurateCoefficients[k][1]));
    }
    // Scaling by a power of two is exact (both parts stay normal doubles). Rounding hi to odd
    // when lo is not zero keeps the information of lo in hi's last bit, so the one rounding to
    // float that follows is the correct rounding of hi + lo.
    double hi = p.hi * scale;
    const double lo = p.lo * scale;
    uint64_t bits = std::bit_cast<uint64_t>(hi);
    if (lo != 0.0 && (bits & 1) == 0) bits = lo > 0.0 ? bits + 1 : bits - 1;
    hi = std::bit_cast<double>(bits);
    return static_cast<float>(hi);
}

double Exp2Fast(double x) {
    const double biased = x + kTableBias;
    const double r = x - (biased - kTableBias);
    const uint64_t bits = std::bit_cast<uint64_t>(biased);
    const double t = std::bit_cast<double>(kScaledTable[bits & (kTableSize - 1)] + (bits << kScaleShift));
    return ScalarOps().MulAdd(t, Exp2Polynomial(r, ScalarOps()), t);
}

}  // namespace exp2_detail

float Exp2ToFloat(float z) {
    using namespace exp2_detail;
    if (!(z < kOverflow)) return z != z ? z : std::numeric_limits<float>::infinity();
    const double x = static_cast<double>(z > kLowest ? z : kLowest);
    const double r = Exp2Fast(x);
    const float raised = static_cast<float>(r * kRaise);
    const float lowered = static_cast<float>(r * kLower);
    if (raised == lowered) return raised;

    // z = n + f with n the nearest integer and |f| <= 1/2; both steps are exact. 2^n from its
    // exponent field: the low bits of `biased` hold n in two's complement, and the shift drops
    // everything above the eleven exponent bits.
    const double biased = x + kRoundingBias;
    const double n = biased - kRoundingBias;
    const double scale = std::bit_cast<double>((std::bit_cast<uint64_t>(biased) + kExponentBias) << kMantissaBits);
    return Exp2Accurate(x - n, scale);
}

}  // namespace qv::passes
