// Setting params and weight on the effect, and keeping gw_r4.
#include <algorithm>

#include "gpu/filter_constants.h"
#include "gpu/gpu_lifecycle.h"
#include "host/sliders.h"

namespace qv::gpu {

void ComputeGwR4() {
    const std::array<float, 5> table = ComputeGwR4Table();
    std::copy(table.begin(), table.end(), Context().gwR4);
}

void UpdateParamsAndWeight(const int32_t* sliderValues) {
    GpuContext& c = Context();
    // Without values or an effect nothing reaches the card, so the blocks stay due.
    if (!sliderValues || !c.effect) return;
    const WorkingSizes sizes = WorkingSizes::For(c.srcW, c.srcH, c.dstW, c.dstH);
    c.params = ComputeParams(sliderValues, sizes);
    effect::WeightBlock weight{};
    std::copy(std::begin(c.gwR4), std::end(c.gwR4), weight.gw_r4);
    const std::array<float, 4> gwR3 = ComputeGwR3(sliderValues[host::kRadius]);
    std::copy(gwR3.begin(), gwR3.end(), weight.gw_r3);
    // The results of setting a block are not looked at: they are plain values.
    c.effect->SetValue(c.parameters[kParamParams], &c.params, sizeof(c.params));
    c.effect->SetValue(c.parameters[kParamWeight], &weight, sizeof(weight));
    c.paramsDirty.store(0);
}

}  // namespace qv::gpu
