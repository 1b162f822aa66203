// Puts the effect source into the module's resource table when the module loads, where
// FindResourceA("QUILLERVANTIS_EFFECT", RT_RCDATA) finds it.
#include "effect/effect_resource.h"
#include "platform/win32/win32.h"

namespace qv::effect {
namespace {

struct EffectResourceRegistration {
    EffectResourceRegistration() {
        win32::RegisterResource(kEffectResourceName, RT_RCDATA_ID, EffectSourceBytes(), EffectSourceSize());
    }
};

const EffectResourceRegistration gRegistration;

}  // namespace
}  // namespace qv::effect
