#include "host_samples.h"

#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "host_samples.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace qv::cli::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void FloatPlanesToHostRowImpl(const float* y, const float* cb, const float* cr, YcPixel* out, int count) {
    const hn::ScalableTag<float> df;
    const hn::Rebind<int16_t, decltype(df)> d16;
    const size_t N = hn::Lanes(df);
    const size_t n = static_cast<size_t>(count);
    auto* samples = reinterpret_cast<int16_t*>(out);
    const auto scale = hn::Set(df, kHostScale);
    // Rounds as lrint does (to nearest, ties to even, in the default rounding mode); the
    // narrowing saturates to the int16 range as the clamp does. Every sample zimg gives is a
    // small finite float.
    const auto toHost = [&](const float* p, size_t x) {
        return hn::DemoteTo(d16, hn::NearestInt(hn::Mul(hn::LoadU(df, p + x), scale)));
    };
    size_t x = 0;
    if (n >= N) {
        for (; x + N <= n; x += N) {
            const auto vy = toHost(y, x);
            const auto vcb = cb ? toHost(cb, x) : hn::Zero(d16);
            const auto vcr = cr ? toHost(cr, x) : hn::Zero(d16);
            hn::StoreInterleaved3(vy, vcb, vcr, d16, samples + 3 * x);
        }
    }
    for (; x < n; ++x) {
        out[x].y = ToHostSample(y[x]);
        out[x].cb = cb ? ToHostSample(cb[x]) : int16_t{0};
        out[x].cr = cr ? ToHostSample(cr[x]) : int16_t{0};
    }
}

void HostRowToFloatPlanesImpl(const YcPixel* in, float* y, float* cb, float* cr, int count) {
    const hn::ScalableTag<float> df;
    const hn::Rebind<int16_t, decltype(df)> d16;
    const hn::Rebind<int32_t, decltype(df)> d32;
    const size_t N = hn::Lanes(df);
    const size_t n = static_cast<size_t>(count);
    const auto* samples = reinterpret_cast<const int16_t*>(in);
    const auto step = hn::Set(df, 1.0f / kHostScale);
    const auto toFloat = [&](hn::Vec<decltype(d16)> v) { return hn::Mul(hn::ConvertTo(df, hn::PromoteTo(d32, v)), step); };
    size_t x = 0;
    for (; x + N <= n; x += N) {
        hn::Vec<decltype(d16)> vy, vcb, vcr;
        hn::LoadInterleaved3(d16, samples + 3 * x, vy, vcb, vcr);
        hn::StoreU(toFloat(vy), df, y + x);
        if (cb) hn::StoreU(toFloat(vcb), df, cb + x);
        if (cr) hn::StoreU(toFloat(vcr), df, cr + x);
    }
    for (; x < n; ++x) {
        y[x] = FromHostSample(in[x].y);
        if (cb) cb[x] = FromHostSample(in[x].cb);
        if (cr) cr[x] = FromHostSample(in[x].cr);
    }
}

}  // namespace qv::cli::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::cli {

HWY_EXPORT(FloatPlanesToHostRowImpl);
HWY_EXPORT(HostRowToFloatPlanesImpl);

void FloatPlanesToHostRow(const float* y, const float* cb, const float* cr, YcPixel* out, int count) {
    HWY_DYNAMIC_DISPATCH(FloatPlanesToHostRowImpl)(y, cb, cr, out, count);
}

void HostRowToFloatPlanes(const YcPixel* in, float* y, float* cb, float* cr, int count) {
    HWY_DYNAMIC_DISPATCH(HostRowToFloatPlanesImpl)(in, y, cb, cr, count);
}

}  // namespace qv::cli
#endif
