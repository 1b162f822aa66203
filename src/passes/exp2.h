// The weight exponential of the denoise pass: 2^z correctly rounded to float, computed by the
// project's own routine rather than the platform's libm, so the result is the same bits on
// every machine. The scalar form (here) and the vector form (exp2-inl.h) form the same double
// approximation (the vector form with fewer roundings where it fuses multiply-adds), and each
// rounds it to float only where that rounding is provably the correct one, so both give the
// correctly rounded result.
//
// The fast path evaluates 2^z in double from a 16-entry table and a degree-5 polynomial
// (relative error below 2^-46). Rounding that to float is the correctly rounded result unless
// 2^z lies very close to the midpoint between two floats; the fast path detects those rare
// values (fewer than one in 500000) and hands them to an accurate double-double evaluation.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace qv::passes {

namespace exp2_detail {

// 2^z for z at or below kLowest rounds to +0 in float (2^-151 is under half the smallest
// denormal), so lower z are raised to it; z at or above kOverflow (2^128 and up) overflows to
// +inf and, like NaN, is settled before any arithmetic. Every intermediate stays a normal double.
inline constexpr float kLowest = -151.0f;
inline constexpr float kOverflow = 128.0f;

// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to the nearest integer (ties to
// even) and leaves that integer in the low bits of the sum's representation.
inline constexpr double kRoundingBias = 0x1.8p52;
inline constexpr uint64_t kExponentBias = 1023;
inline constexpr int kMantissaBits = 52;

// Fast path: z = j / 16 + r with j an integer and |r| <= 1/32. Adding kTableBias rounds z to
// the nearest sixteenth and leaves j in the low bits of the sum (as kRoundingBias does for
// integers), so j = 16 n + k with k = j mod 16 indexes the table of 2^(k/16) and n is the power
// of two: 2^z = 2^n * 2^(k/16) * 2^r.
inline constexpr int kTableBits = 4;
inline constexpr int kTableSize = 1 << kTableBits;
inline constexpr double kTableBias = 0x1.8p48;  // 1.5 * 2^(52 - kTableBits)

// 2^(k/16), each the nearest double.
inline constexpr double kTable[kTableSize] = {
    0x1.0000000000000p+0, 0x1.0b5586cf9890fp+0, 0x1.172b83c7d517bp+0, 0x1.2387a6e756238p+0,
    0x1.306fe0a31b715p+0, 0x1.3dea64c123422p+0, 0x1.4bfdad5362a27p+0, 0x1.5ab07dd485429p+0,
    0x1.6a09e667f3bcdp+0, 0x1.7a11473eb0187p+0, 0x1.8ace5422aa0dbp+0, 0x1.9c49182a3f090p+0,
    0x1.ae89f995ad3adp+0, 0x1.c199bdd85529cp+0, 0x1.d5818dcfba487p+0, 0x1.ea4afa2a490dap+0,
};

// The sum's bits shifted left by kScaleShift are j * 2^48 = n * 2^52 + k * 2^48 (modulo 2^64):
// n in the exponent field plus a k that the table entry below has already taken off. Adding the
// two gives the bits of 2^n * 2^(k/16) in one integer addition, for every n the fast path meets.
inline constexpr int kScaleShift = kMantissaBits - kTableBits;

constexpr uint64_t ScaledTableEntry(int k) {
    return std::bit_cast<uint64_t>(kTable[k]) - (static_cast<uint64_t>(k) << kScaleShift);
}

alignas(64) inline constexpr uint64_t kScaledTable[kTableSize] = {
    ScaledTableEntry(0),  ScaledTableEntry(1),  ScaledTableEntry(2),  ScaledTableEntry(3),
    ScaledTableEntry(4),  ScaledTableEntry(5),  ScaledTableEntry(6),  ScaledTableEntry(7),
    ScaledTableEntry(8),  ScaledTableEntry(9),  ScaledTableEntry(10), ScaledTableEntry(11),
    ScaledTableEntry(12), ScaledTableEntry(13), ScaledTableEntry(14), ScaledTableEntry(15),
};

// The same split in float, for vector forms that find j from the float z: adding kTableBiasFloat
// rounds z (|z| < 2^18) to the same nearest sixteenth, ties to even, and leaves j in the low bits
// of the sum's 32-bit representation. Shifted left by kScaleShift - 32 those bits are j * 2^16
// (modulo 2^32), which is what j * 2^48 adds to the upper 32 bits of a table entry; its lower
// 32 bits it leaves alone. So the entries' two halves, looked up apart, give the same bits of t.
inline constexpr float kTableBiasFloat = 0x1.8p19f;  // 1.5 * 2^(23 - kTableBits)

constexpr uint32_t ScaledTableHalf(int k, int half) {
    return static_cast<uint32_t>(kScaledTable[k] >> (32 * half));
}

alignas(64) inline constexpr uint32_t kScaledTableLow[kTableSize] = {
    ScaledTableHalf(0, 0),  ScaledTableHalf(1, 0),  ScaledTableHalf(2, 0),  ScaledTableHalf(3, 0),
    ScaledTableHalf(4, 0),  ScaledTableHalf(5, 0),  ScaledTableHalf(6, 0),  ScaledTableHalf(7, 0),
    ScaledTableHalf(8, 0),  ScaledTableHalf(9, 0),  ScaledTableHalf(10, 0), ScaledTableHalf(11, 0),
    ScaledTableHalf(12, 0), ScaledTableHalf(13, 0), ScaledTableHalf(14, 0), ScaledTableHalf(15, 0),
};
alignas(64) inline constexpr uint32_t kScaledTableHigh[kTableSize] = {
    ScaledTableHalf(0, 1),  ScaledTableHalf(1, 1),  ScaledTableHalf(2, 1),  ScaledTableHalf(3, 1),
    ScaledTableHalf(4, 1),  ScaledTableHalf(5, 1),  ScaledTableHalf(6, 1),  ScaledTableHalf(7, 1),
    ScaledTableHalf(8, 1),  ScaledTableHalf(9, 1),  ScaledTableHalf(10, 1), ScaledTableHalf(11, 1),
    ScaledTableHalf(12, 1), ScaledTableHalf(13, 1), ScaledTableHalf(14, 1), ScaledTableHalf(15, 1),
};

// Where |z| <= kNearZero, z rounds to the sixteenth 0 (a tie, at +-1/32, goes to the even 0), so
// k = 0, n = 0, t = 1 and r = z: the fast result t + t * q is exactly 1 + q(z), with no table.
inline constexpr float kNearZero = 0x1p-5f;

// 2^r - 1 for |r| <= 1/32 as r * (c1 + r * (c2 + ... + r * c5)): the polynomial through the
// Chebyshev points of (2^r - 1) / r (computed in 300-bit arithmetic), each coefficient rounded
// to the nearest double: within 2^-46.6 of 2^r - 1, relative to 2^r, with those coefficients.
inline constexpr int kDegree = 5;
inline constexpr double kCoefficients[kDegree] = {
    0x1.62e42fefa39efp-1, 0x1.ebfbdff6988c8p-3, 0x1.c6b08d6faa1bep-5,
    0x1.3b2c4ac7da565p-7, 0x1.5d893e58acc63p-10,
};

// The fast result r = t + t * q (t the scaled table entry, q the polynomial) is within 2^-46 of
// 2^z, relative: the polynomial's error plus under 2.2 * 2^-53 of roundings (the table entry,
// the product, the sum and the polynomial's own, which weigh under 1/32). Measured over every
// float z from -151 to 128 against 64-bit-mantissa exp2l, the largest error is 2^-46.61. The
// rounding to float is then checked against a window four times wider, in one of two ways:
// - Rounding r raised and lowered by 2^-44 relative gives the same float exactly when no float
//   midpoint lies that close to r; that float is then the correctly rounded 2^z. Valid for
//   every result, denormal or not.
inline constexpr double kRaise = 1.0 + 0x1p-44;
inline constexpr double kLower = 1.0 - 0x1p-44;
// - Where |z| < kNormalBound, 2^z is a normal float and rounding it to float drops the low 29 bits
//   of r's mantissa; a float midpoint lies near r only when those bits lie near 2^28. The test
//   calls r unsure when they lie in [2^28 - W, 2^28 + W), W = kMidpointWindow = 2^9 units of r's
//   last place: outside it a midpoint is at least W units away, and W units are at least 2^-44
//   of r. Adding 2^28 + W moves that range to [2^29, 2^29 + 2W), whose dropped bits are
//   [0, 2W), so the test is one addition and one test of the dropped bits above the lowest
//   log2(2W) (kUnsureBits), where the first takes two multiplications and a second rounding.
inline constexpr float kNormalBound = 125.0f;
inline constexpr int kDroppedBits = kMantissaBits - 23;
inline constexpr int64_t kDroppedMask = (int64_t{1} << kDroppedBits) - 1;
inline constexpr int64_t kMidpointBits = int64_t{1} << (kDroppedBits - 1);
inline constexpr int64_t kMidpointWindow = int64_t{1} << 9;
inline constexpr int64_t kUnsureBits = kDroppedMask & ~(2 * kMidpointWindow - 1);

// The fast path's double approximation of 2^x, for x a float in [kLowest, kOverflow).
double Exp2Fast(double x);

// Values the fast path cannot round safely: 2^z by a degree-16 polynomial in double-double
// arithmetic (relative error far below 1e-25), rounded to float once. `f` and `scale` are z
// split as n + f with n the nearest integer (|f| <= 1/2) and 2^n.
float Exp2Accurate(double f, double scale);

}  // namespace exp2_detail

// 2^z rounded to the nearest float, for every float z: -0 and +0 give 1, z <= -150 gives +0,
// z >= 128 gives +inf, -inf gives +0, +inf gives +inf and a NaN is returned as it came.
float Exp2ToFloat(float z);

// The vector form (exp2-inl.h) over an array, on the best SIMD target available: the same
// bits as Exp2ToFloat for every element.
void Exp2ToFloatVector(const float* z, float* out, size_t count);

}  // namespace qv::passes
