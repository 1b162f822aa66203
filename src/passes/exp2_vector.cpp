// Exp2ToFloat over arrays with the vector form, for every SIMD target; every element, the tail
// included, goes through the vector code.
#include <algorithm>
#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/exp2_vector.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "passes/exp2-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {

void Exp2ToFloatArray(const float* z, float* out, size_t count) {
    const hn::ScalableTag<float> df;
    const size_t lanes = hn::Lanes(df);
    size_t i = 0;
    // Pairs of vectors as the denoise pass forms them, then single vectors.
    for (; i + 2 * lanes <= count; i += 2 * lanes) {
        const hn::Vec<decltype(df)> in[2] = {hn::LoadU(df, z + i), hn::LoadU(df, z + i + lanes)};
        hn::Vec<decltype(df)> result[2];
        Exp2ToFloatVecs<2>(df, in, result);
        hn::StoreU(result[0], df, out + i);
        hn::StoreU(result[1], df, out + i + lanes);
    }
    for (; i + lanes <= count; i += lanes) hn::StoreU(Exp2ToFloatVec(df, hn::LoadU(df, z + i)), df, out + i);
    if (i == count) return;
    HWY_ALIGN float in[hn::MaxLanes(df)] = {};
    HWY_ALIGN float result[hn::MaxLanes(df)];
    std::copy(z + i, z + count, in);
    hn::Store(Exp2ToFloatVec(df, hn::Load(df, in)), df, result);
    std::copy(result, result + (count - i), out + i);
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::passes {

HWY_EXPORT(Exp2ToFloatArray);

void Exp2ToFloatVector(const float* z, float* out, size_t count) {
    HWY_DYNAMIC_DISPATCH(Exp2ToFloatArray)(z, out, count);
}

}  // namespace qv::passes
#endif
