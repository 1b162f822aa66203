// The Spline36 kernel's three pieces, in the order of operations that gives the weight table its
// values: for the table's own double arithmetic and for SIMD code that computes the same entries.
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

// Piece kPiece of the kernel (|x| in [kPiece, kPiece + 1)) at t = |x| - kPiece. T is double, or
// a vector of doubles whose operators round each operation as double does; `k` turns a constant
// into a T.
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

}  // namespace qv::gpu::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
