// The effect source parser on any text. A refused source names the line that is wrong; an
// accepted one describes a layout the effect runtime can use as it stands: samplers in their
// slots bound to earlier textures, constant blocks whose members lie inside the block, passes
// that name a program.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "platform/d3d9/effect_source.h"

namespace {

using namespace qv::d3d9;
using qv::fuzz::Broken;

void CheckLayout(const EffectLayout& layout) {
    std::set<std::string> textures;
    for (const Parameter& p : layout.parameters) {
        if (layout.FindParameter(p.name) == nullptr) Broken("a parsed parameter cannot be found by its name");
        switch (p.kind) {
            case ParameterKind::Texture:
                textures.insert(p.name);
                break;
            case ParameterKind::Sampler:
                if (p.slot < kFirstSamplerSlot || p.slot > kLastSamplerSlot) Broken("a sampler outside the slots");
                if (!textures.count(p.texture)) Broken("a sampler bound to no earlier texture");
                break;
            case ParameterKind::Block: {
                int end = 0;
                for (const BlockMember& m : p.members) {
                    const int count = m.arrayLength == 0 ? 1 : m.arrayLength;
                    if (m.arrayLength < 0 || m.offset != end || m.bytes != MemberTypeBytes(m.type) * count) {
                        Broken("a block member not packed in order");
                    }
                    end += m.bytes;
                }
                if (p.bytes != end) Broken("a block's size is not the sum of its members");
                break;
            }
        }
    }
    for (const Technique& t : layout.techniques) {
        if (layout.FindTechnique(t.name) == nullptr) Broken("a parsed technique cannot be found by its name");
        for (const Pass& pass : t.passes) {
            if (pass.program.empty()) Broken("a pass that names no program");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    EffectLayout layout;
    std::string error;
    if (ParseEffectSource(source, &layout, &error)) {
        CheckLayout(layout);
    } else if (error.rfind("line ", 0) != 0) {
        Broken("a refused source without the line that is wrong");
    }
    return 0;
}
