// The fast path's polynomial, one definition for both forms of Exp2ToFloat. Included inside
// the namespace that uses it (the scalar form's, and each SIMD target's, so the vector
// instantiation is compiled for its target); no include guard by design.

// 2^r - 1 for |r| <= 1/32 in Horner's form. `ops` supplies MulAdd (a * b + c), Mul and Const
// for doubles or for double lanes; every form performs these operations in this order, and
// MulAdd rounds once where the form has a fused multiply-add, else twice.
template <class V, class Ops>
inline V Exp2Polynomial(const V& r, const Ops& ops) {
    using exp2_detail::kCoefficients;
    static_assert(exp2_detail::kDegree == 5, "the nesting below is for degree 5");
    V p = ops.MulAdd(r, ops.Const(kCoefficients[4]), ops.Const(kCoefficients[3]));
    p = ops.MulAdd(r, p, ops.Const(kCoefficients[2]));
    p = ops.MulAdd(r, p, ops.Const(kCoefficients[1]));
    p = ops.MulAdd(r, p, ops.Const(kCoefficients[0]));
    return ops.Mul(r, p);
}
