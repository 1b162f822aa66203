#include "gpu/filter_constants.h"

#include <cmath>

#include "host/sliders.h"

namespace qv::gpu {

namespace {

// Ceiling of a / b for a >= 0 and b > 0, as the tap counts are formed: (a + b - 1) / b.
int32_t TapCount(int32_t factor, int32_t src, int32_t dst) {
    if (dst <= 0) return 0;
    return static_cast<int32_t>((int64_t{factor} * src + dst - 1) / dst);
}

}  // namespace

float Percent(int32_t sliderValue) { return static_cast<float>(static_cast<double>(sliderValue) * 0.01); }

float ComputeH2(float denoise) {
    const float squared = denoise * denoise;
    const double scaled = static_cast<double>(squared * 40.0f);
    if (scaled == 0.0) return 0.0f;
    return static_cast<float>(1.0 / (scaled * scaled));
}

effect::ParamsBlock ComputeParams(const int32_t* sliderValues, const WorkingSizes& sizes) {
    effect::ParamsBlock p{};
    p.usm = Percent(sliderValues[host::kUsm]);
    p.max = Percent(sliderValues[host::kMax]);
    p.min = Percent(sliderValues[host::kMin]);
    p.denoise = Percent(sliderValues[host::kDenoise]);
    p.recovery = Percent(sliderValues[host::kRecovery]);
    p.sharp = Percent(sliderValues[host::kSharp]);
    p.H2 = ComputeH2(p.denoise);
    p.radius = kDownscaleRadius;
    p.htap = TapCount(6, sizes.srcW, sizes.dstW);
    p.vtap = TapCount(6, sizes.srcH, sizes.dstH);
    p.htap2 = TapCount(2, sizes.srcW, sizes.dstW);
    p.vtap2 = TapCount(2, sizes.srcH, sizes.dstH);
    return p;
}

effect::ScaleBlock ComputeScale(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH) {
    const WorkingSizes s = WorkingSizes::For(srcW, srcH, dstW, dstH);
    const auto reciprocal = [](int32_t size) { return 1.0f / static_cast<float>(size); };
    effect::ScaleBlock b{};
    b.hscale = static_cast<float>(dstW) * reciprocal(srcW);
    b.vscale = static_cast<float>(dstH) * reciprocal(srcH);
    b.hscaleInverse = static_cast<float>(srcW) * reciprocal(dstW);
    b.vscaleInverse = static_cast<float>(srcH) * reciprocal(dstH);
    b.inputTexSizeInverse = {reciprocal(s.texWSrc()), reciprocal(srcH)};
    b.srcTexSizeInverse = {reciprocal(srcW), reciprocal(srcH)};
    b.tmpTexSizeInverse = {reciprocal(s.maxW), reciprocal(srcH)};
    b.tmpTex2SizeInverse = {reciprocal(dstW), reciprocal(s.maxH)};
    b.workTexSizeInverse = {reciprocal(s.maxW), reciprocal(s.maxH)};
    b.destTexSizeInverse = {reciprocal(dstW), reciprocal(dstH)};
    return b;
}

std::array<float, 5> ComputeGwR4Table() {
    std::array<float, 5> w{};
    for (int i = 0; i < 5; ++i) w[i] = static_cast<float>(std::exp(-static_cast<double>(i * i) * 0.03125));
    float sum = 0.0f;
    sum += w[0];
    for (int i = 1; i < 5; ++i) {
        sum += w[i];
        sum += w[i];
    }
    const float inverse = 1.0f / sum;
    for (float& v : w) v *= inverse;
    return w;
}

std::array<float, 4> ComputeGwR3(int32_t radiusSlider) {
    const double r = static_cast<double>(radiusSlider) * 0.1;
    const int cut = static_cast<int>(std::ceil(r));
    std::array<float, 4> w{};
    // The centre weight is exp(0) = 1 for every radius; taking it as 1 directly keeps a radius
    // of 0 or below (outside the slider's range) from dividing 0 by 0: it gives the identity.
    w[0] = 1.0f;
    for (int i = 1; i < 4; ++i) {
        w[i] = i > cut ? 0.0f : static_cast<float>(std::exp(static_cast<double>(i * i) * -0.5 / (r * r)));
    }
    double sum = 0.0;
    sum += w[0];
    for (int i = 1; i < 4; ++i) {
        sum += w[i];
        sum += w[i];
    }
    std::array<float, 4> g{};
    for (int i = 0; i < 4; ++i) g[i] = static_cast<float>(static_cast<double>(w[i]) / sum);
    return g;
}

}  // namespace qv::gpu
