// The fast path's polynomial, one definition for both forms of Exp2ToFloat. Included inside
// the namespace that uses it (the scalar form's, and each SIMD target's, so the vector
// instantiation is compiled for its target); no include guard by design.

// 2^f for |f| <= 1/2 in Estrin's form: pairs of terms, then pairs of pairs, so the chain of
// dependent operations is 8 long instead of Horner's 22. `ops` supplies Mul, Add and Const for
// doubles or for double lanes; both forms perform these operations in this order.
template <class V, class Ops>
inline V Exp2Polynomial(const V& f, const Ops& ops) {
    using exp2_detail::kCoefficients;
    static_assert(exp2_detail::kDegree == 11, "the pairing below is for degree 11");
    const V f2 = ops.Mul(f, f);
    const V f4 = ops.Mul(f2, f2);
    const V f8 = ops.Mul(f4, f4);
    const V a0 = ops.Add(ops.Const(kCoefficients[0]), ops.Mul(ops.Const(kCoefficients[1]), f));
    const V a1 = ops.Add(ops.Const(kCoefficients[2]), ops.Mul(ops.Const(kCoefficients[3]), f));
    const V a2 = ops.Add(ops.Const(kCoefficients[4]), ops.Mul(ops.Const(kCoefficients[5]), f));
    const V a3 = ops.Add(ops.Const(kCoefficients[6]), ops.Mul(ops.Const(kCoefficients[7]), f));
    const V a4 = ops.Add(ops.Const(kCoefficients[8]), ops.Mul(ops.Const(kCoefficients[9]), f));
    const V a5 = ops.Add(ops.Const(kCoefficients[10]), ops.Mul(ops.Const(kCoefficients[11]), f));
    const V b0 = ops.Add(a0, ops.Mul(a1, f2));
    const V b1 = ops.Add(a2, ops.Mul(a3, f2));
    const V b2 = ops.Add(a4, ops.Mul(a5, f2));
    const V d0 = ops.Add(b0, ops.Mul(b1, f4));
    return ops.Add(d0, ops.Mul(b2, f8));
}
