#include "gpu/weight_table.h"

#include <cmath>

namespace qv::gpu {

double Spline36(double x) {
    const double a = std::fabs(x);
    if (a < 1.0) {
        return ((1.1818181818181819 * a - 2.1674641148325358) * a - 0.014354066985645933) * a + 1.0;
    }
    if (a < 2.0) {
        const double t = a - 1.0;
        return ((1.291866028708134 - 0.5454545454545454 * t) * t - 0.7464114832535885) * t;
    }
    if (a < 3.0) {
        const double t = a - 2.0;
        return ((0.09090909090909091 * t - 0.215311004784689) * t + 0.12440191387559808) * t;
    }
    return 0.0;
}

void FillWeightTable(float* texels) {
    for (int i = 0; i < kWeightTableEntries; ++i) {
        const float x = static_cast<float>(i) * 0.001953125f;
        const float x1 = x + 1.0f;
        const float x2 = x + 2.0f;
        float* t = texels + 4 * i;
        t[0] = static_cast<float>(Spline36(x));
        t[1] = static_cast<float>(Spline36(x1));
        t[2] = static_cast<float>(Spline36(x2));
        t[3] = 0.0f;
    }
}

}  // namespace qv::gpu
