// The fast path's polynomial, one definition for both forms of Exp2ToFloat. Included inside
// the namespace that uses it (the scalar form's, and each SIMD target's, so the vector
// instantiation is compiled for its target); no include guard by design.

// 2^r - 1 for |r| <= 1/32 in Horner's form. `ops` supplies Mul, Add and Const for doubles or
// for double lanes; both forms perform these operations in this order.
template <class V, class Ops>
inline V Exp2Polynomial(const V& r, const Ops& ops) {
    using exp2_detail::kCoefficients;
    static_assert(exp2_detail::kDegree == 5, "the nesting below is for degree 5");
    V p = ops.Add(ops.Const(kCoefficients[3]), ops.Mul(r, ops.Const(kCoefficients[4])));
    p = ops.Add(ops.Const(kCoefficients[2]), ops.Mul(r, p));
    p = ops.Add(ops.Const(kCoefficients[1]), ops.Mul(r, p));
    p = ops.Add(ops.Const(kCoefficients[0]), ops.Mul(r, p));
    return ops.Mul(r, p);
}
