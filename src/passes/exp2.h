// The weight exponential of the denoise pass: 2^z correctly rounded to float, computed by the
// project's own routine rather than the platform's libm, so the result is the same bits on
// every machine. The scalar form (here) and the vector form (exp2-inl.h) perform the same
// double operations in the same order and give identical bits.
//
// The fast path evaluates 2^z in double (relative error below 4.2e-16). Rounding that to float is
// the correctly rounded result unless 2^z lies very close to the midpoint between two floats;
// the fast path detects those rare values (about one in 10^7) and hands them to an accurate
// double-double evaluation, which both forms share.
#pragma once

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

// Fast path: 2^f for |f| <= 1/2 by the degree-11 polynomial through the Chebyshev points of
// that interval (computed in 300-bit arithmetic), each coefficient rounded to the nearest
// double: within 2e-17 of 2^f, relative, before the rounding of its own evaluation.
inline constexpr int kDegree = 11;
inline constexpr double kCoefficients[kDegree + 1] = {
    0x1.0000000000000p+0,  0x1.62e42fefa39efp-1,  0x1.ebfbdff82c5aep-3,  0x1.c6b08d704a0c6p-5,
    0x1.3b2ab6fb9f1a5p-7,  0x1.5d87fe78a3f9cp-10, 0x1.430913112c61bp-13, 0x1.ffcbfc6da6ed1p-17,
    0x1.62bfc2c86d700p-20, 0x1.b524ebd13a55fp-24, 0x1.e6228acd1c6e5p-28, 0x1.e9ec1fcb69a7fp-32,
};

// The fast result r is within 4.2e-16 of 2^z, relative (measured over every float z). Rounding
// r raised and lowered by 2^-48 relative, over eight times that error, gives the same float
// exactly when no float midpoint lies within that distance of r; that float is then the
// correctly rounded 2^z, and otherwise the accurate path decides.
inline constexpr double kRaise = 1.0 + 0x1p-48;
inline constexpr double kLower = 1.0 - 0x1p-48;

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
