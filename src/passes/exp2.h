// The weight exponential of the denoise pass: 2^z correctly rounded to float, computed by the
// project's own routine rather than the platform's libm, so the result is the same bits on
// every machine. The scalar form (here) and the vector form (exp2-inl.h) perform the same
// double operations in the same order and give identical bits.
//
// The fast path evaluates 2^z in double (relative error below 4e-16). Rounding that to float is
// the correctly rounded result unless 2^z lies very close to the midpoint between two floats;
// the fast path detects those rare values (about one in 10^7) and hands them to an accurate
// double-double evaluation, which both forms share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::passes {

namespace exp2_detail {

// 2^z for z at or below kLowest rounds to +0 in float (2^-151 is under half the smallest
// denormal), and 2^z at or above kHighest overflows to +inf; clamping to these keeps every
// intermediate a normal double and every exponent in range.
inline constexpr double kLowest = -151.0;
inline constexpr double kHighest = 129.0;

// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to the nearest integer (ties to
// even) and leaves that integer in the low bits of the sum's representation.
inline constexpr double kRoundingBias = 0x1.8p52;
inline constexpr uint64_t kExponentBias = 1023;
inline constexpr int kMantissaBits = 52;
inline constexpr uint64_t kExponentMask = 0x7FF0000000000000ull;

// Fast path: 2^f = sum of (f ln2)^k / k!, k = 0..13, each coefficient the double nearest
// (ln2)^k / k!. For |f| <= 1/2 the first omitted term is below 7e-18 relative to the result.
inline constexpr int kDegree = 13;
inline constexpr double kCoefficients[kDegree + 1] = {
    0x1.0000000000000p+0,  0x1.62e42fefa39efp-1, 0x1.ebfbdff82c58fp-3, 0x1.c6b08d704a0c0p-5,
    0x1.3b2ab6fba4e77p-7,  0x1.5d87fe78a6731p-10, 0x1.430912f86c787p-13, 0x1.ffcbfc588b0c7p-17,
    0x1.62c0223a5c824p-20, 0x1.b5253d395e7c4p-24, 0x1.e4cf5158b8ecap-28, 0x1.e8cac7351bb25p-32,
    0x1.c3bd650fc2986p-36, 0x1.816193166d0f9p-40,
};


// The fast result is trusted when it lies further than this fraction of itself from the
// nearest float midpoint: over eight times its largest error over every float z (3.6e-16).
inline constexpr double kMidpointTolerance = 0x1p-48;
// The float grid at a double r has spacing 2^(e - 23) for r in [2^e, 2^(e+1)), but never finer
// than the denormal spacing 2^-149: the grid's exponent is at least that of 2^-126. Adding
// 2^(e + 29) to r rounds it to that grid.
inline constexpr uint64_t kSmallestNormalFloatExponent = 0x3810000000000000ull;  // 2^-126
inline constexpr uint64_t kGridShift = uint64_t{29} << kMantissaBits;
inline constexpr double kGridToHalfStep = 0x1p-53;

// Values the fast path cannot round safely: 2^z by a degree-16 polynomial in double-double
// arithmetic (relative error far below 1e-25), rounded to float once. `f` and `scale` are the
// fast path's reduced argument and 2^n.
float Exp2Accurate(double f, double scale);

}  // namespace exp2_detail

// 2^z rounded to the nearest float, for every float z: -0 and +0 give 1, z <= -150 gives +0,
// z >= 128 gives +inf, -inf gives +0, +inf gives +inf and a NaN is returned as it came.
float Exp2ToFloat(float z);

// The vector form (exp2-inl.h) over an array, on the best SIMD target available: the same
// bits as Exp2ToFloat for every element.
void Exp2ToFloatVector(const float* z, float* out, size_t count);

}  // namespace qv::passes
