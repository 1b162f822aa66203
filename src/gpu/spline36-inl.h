// The Spline36 kernel's three pieces: in the order of operations that gives the weight table its
// values, and in a single-precision form that SIMD code computes and corrects to the same entries.
// Included once per SIMD target from a file that uses hwy/foreach_target.h, or once from scalar
// code.
#if defined(QV_GPU_SPLINE36_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QV_GPU_SPLINE36_INL_H_
#undef QV_GPU_SPLINE36_INL_H_
#else
#define QV_GPU_SPLINE36_INL_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace qv::gpu::HWY_NAMESPACE {

// Piece kPiece of the kernel (|x| in [kPiece, kPiece + 1)) at t = |x| - kPiece, in double: the
// table's own arithmetic. `k` turns a constant into a T.
template <int kPiece, class T, class Constant>
HWY_INLINE T Spline36Piece(T t, const Constant& k) {
    static_assert(kPiece >= 0 && kPiece <= 2, "the kernel has three pieces");
    if constexpr (kPiece == 0) {
        return ((k(1.1818181818181819) * t - k(2.1674641148325358)) * t - k(0.014354066985645933)) * t + k(1.0);
    } else if constexpr (kPiece == 1) {
        return ((k(1.291866028708134) - k(0.5454545454545454) * t) * t - k(0.7464114832535885)) * t;
    } else {
        return ((k(0.09090909090909091) * t - k(0.215311004784689)) * t + k(0.12440191387559808)) * t;
    }
}

// The scale of the single-precision pieces: 1/209 rounded to float and then down one step more,
// so that no piece comes out above the table's entry.
inline constexpr float kSpline36FloatScale = 0x1.3991cp-8f;

// Piece kPiece in single precision at t = i / 512 (i = 0 .. 511), given u = 1 - t and p = t * u:
// the kernel's rational form factored at its zeros, so that no sum cancels. Each lies 0 to 3
// units in the last place below the table's entry (gpu::FilterTableCorrections says how far).
// T is float or a vector of floats; `k` turns a constant into a T.
template <int kPiece, class T, class Constant>
HWY_INLINE T Spline36PieceFloat(T t, T u, T p, const Constant& k) {
    static_assert(kPiece >= 0 && kPiece <= 2, "the kernel has three pieces");
    if constexpr (kPiece == 0) {
        return (u * (k(209.0f) + t * (k(206.0f) - k(247.0f) * t))) * k(kSpline36FloatScale);
    } else if constexpr (kPiece == 1) {
        return (p * (k(114.0f) * t - k(156.0f))) * k(kSpline36FloatScale);
    } else {
        return (p * (k(26.0f) - k(19.0f) * t)) * k(kSpline36FloatScale);
    }
}

}  // namespace qv::gpu::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
