// The effect runtime: D3DXCreateEffect builds an effect from the stand-in's effect source
// (effect_source.h) and binds each pass to its registered pixel program. Parameters and
// techniques are handed out as handles that are pointers to their names inside the effect;
// only handles of this effect are accepted. BeginPass puts the pass's program, sampler
// bindings and constant blocks on the device as they stand at that moment, as a real effect
// applies its state when a pass begins.
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/d3d9/com_object.h"
#include "platform/d3d9/device.h"
#include "platform/d3d9/effect_source.h"
#include "platform/d3d9/faults.h"
#include "platform/d3d9/texture.h"

namespace qv::d3d9 {
namespace {

// The constant blocks a pixel program finds in its draw context.
constexpr const char* kParamsBlock = "params";
constexpr const char* kScaleBlock = "scale";
constexpr const char* kWeightBlock = "weight";

class MessageBuffer final : public RefCounted<ID3DXBuffer> {
public:
    explicit MessageBuffer(const std::string& text) : bytes_(text.begin(), text.end()) { bytes_.push_back('\0'); }
    void* GetBufferPointer() override { return bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    ~MessageBuffer() override = default;
    std::vector<char> bytes_;
};

using PassPrograms = std::vector<std::vector<const gfx::PixelProgram*>>;  // [technique][pass]

class Effect final : public RefCounted<ID3DXEffect> {
public:
    Effect(Device* device, EffectLayout layout, PassPrograms programs)
        : device_(device),
          layout_(std::move(layout)),
          programs_(std::move(programs)),
          values_(layout_.parameters.size()) {
        device_->AddRef();
        for (size_t i = 0; i < layout_.parameters.size(); ++i) {
            values_[i].bytes.assign(static_cast<size_t>(layout_.parameters[i].bytes), 0);  // members start at zero
        }
    }

    D3DXHANDLE GetTechniqueByName(const char* name) override {
        const InjectedResult injected("GetTechniqueByName");
        if (injected.Fails() || !name) return nullptr;
        const Technique* t = layout_.FindTechnique(name);
        return t ? t->name.c_str() : nullptr;
    }

    HRESULT SetTechnique(D3DXHANDLE technique) override {
        const InjectedResult injected("SetTechnique");
        if (injected.Fails()) return injected.Code();
        const int index = TechniqueIndex(technique);
        if (index < 0) return D3DERR_INVALIDCALL;
        std::lock_guard<std::mutex> lock(mutex_);
        if (begun_) return D3DERR_INVALIDCALL;
        technique_ = index;
        return injected.Or(D3D_OK);
    }

    D3DXHANDLE GetParameterByName(D3DXHANDLE parent, const char* name) override {
        const InjectedResult injected("GetParameterByName");
        // Members of a block are not handed out: blocks are set whole.
        if (injected.Fails() || parent || !name) return nullptr;
        const Parameter* p = layout_.FindParameter(name);
        return p ? p->name.c_str() : nullptr;
    }

    HRESULT SetValue(D3DXHANDLE parameter, const void* data, UINT bytes) override {
        const InjectedResult injected("SetValue");
        if (injected.Fails()) return injected.Code();
        const int index = ParameterIndex(parameter);
        if (index < 0 || !data || layout_.parameters[index].kind != ParameterKind::Block) return D3DERR_INVALIDCALL;
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint8_t>& block = values_[index].bytes;
        if (bytes > block.size()) return D3DERR_INVALIDCALL;
        std::memcpy(block.data(), data, bytes);
        return injected.Or(D3D_OK);
    }

    HRESULT SetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9* texture) override {
        const InjectedResult injected("SetTexture");
        if (injected.Fails()) return injected.Code();
        const int index = ParameterIndex(parameter);
        if (index < 0 || layout_.parameters[index].kind != ParameterKind::Texture) return D3DERR_INVALIDCALL;
        Texture* ours = texture ? AsTexture(texture) : nullptr;
        if (texture && !ours) return D3DERR_INVALIDCALL;
        std::lock_guard<std::mutex> lock(mutex_);
        AssignRef(values_[index].texture, ours);
        return injected.Or(D3D_OK);
    }

    HRESULT Begin(UINT* passes, DWORD flags) override {
        (void)flags;
        const InjectedResult injected("Begin");
        if (injected.Fails()) return injected.Code();
        std::lock_guard<std::mutex> lock(mutex_);
        if (begun_ || programs_.empty()) return D3DERR_INVALIDCALL;
        begun_ = true;
        if (passes) *passes = static_cast<UINT>(programs_[technique_].size());
        return injected.Or(D3D_OK);
    }

    HRESULT BeginPass(UINT pass) override {
        const InjectedResult injected("BeginPass");
        if (injected.Fails()) return injected.Code();
        std::lock_guard<std::mutex> lock(mutex_);
        if (!begun_ || activePass_ >= 0 || pass >= programs_[technique_].size()) return D3DERR_INVALIDCALL;
        activePass_ = static_cast<int>(pass);
        FillBinding(programs_[technique_][pass], staged_);
        // Bound with this effect's lock held, so that no other pass of it is staged meanwhile;
        // the device never calls into an effect, so the two locks are always taken in this order.
        device_->BindPass(staged_);
        return injected.Or(D3D_OK);
    }

    HRESULT EndPass() override {
        const InjectedResult injected("EndPass");
        if (injected.Fails()) return injected.Code();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (activePass_ < 0) return D3DERR_INVALIDCALL;
            activePass_ = -1;
        }
        device_->UnbindPass(this);
        return injected.Or(D3D_OK);
    }

    HRESULT End() override {
        const InjectedResult injected("End");
        if (injected.Fails()) return injected.Code();
        std::lock_guard<std::mutex> lock(mutex_);
        // A pass still open must be ended first.
        if (!begun_ || activePass_ >= 0) return D3DERR_INVALIDCALL;
        begun_ = false;
        return injected.Or(D3D_OK);
    }

private:
    struct Value {
        Texture* texture = nullptr;  // texture parameters
        std::vector<uint8_t> bytes;  // blocks
    };

    ~Effect() override {
        device_->UnbindPass(this);
        for (Value& v : values_) ReleaseRef(v.texture);
        ReleaseRef(device_);
    }

    int ParameterIndex(D3DXHANDLE handle) const {
        for (size_t i = 0; i < layout_.parameters.size(); ++i) {
            if (handle && handle == layout_.parameters[i].name.c_str()) return static_cast<int>(i);
        }
        return -1;
    }

    int TechniqueIndex(D3DXHANDLE handle) const {
        for (size_t i = 0; i < layout_.techniques.size(); ++i) {
            if (handle && handle == layout_.techniques[i].name.c_str()) return static_cast<int>(i);
        }
        return -1;
    }

    // The block's bytes copied into `out` (in its own storage, so a reused buffer allocates
    // nothing); empty when the effect declares no such block.
    void CopyBlock(const char* name, std::vector<uint8_t>& out) const {
        const Parameter* p = layout_.FindParameter(name);
        if (!p || p->kind != ParameterKind::Block) {
            out.clear();
            return;
        }
        const std::vector<uint8_t>& bytes = values_[static_cast<size_t>(p - layout_.parameters.data())].bytes;
        out.assign(bytes.begin(), bytes.end());
    }

    // Called with the mutex held; `binding` is empty (as BindPass leaves it).
    void FillBinding(const gfx::PixelProgram* program, PassBinding& binding) const {
        binding.owner = this;
        binding.program = program;
        for (const Parameter& sampler : layout_.parameters) {
            if (sampler.kind != ParameterKind::Sampler) continue;
            const Parameter* texture = layout_.FindParameter(sampler.texture);
            Texture* bound = values_[static_cast<size_t>(texture - layout_.parameters.data())].texture;
            if (bound) bound->AddRef();
            binding.textures[sampler.slot] = bound;
            binding.states[sampler.slot] = sampler.state;
        }
        CopyBlock(kParamsBlock, binding.params);
        CopyBlock(kScaleBlock, binding.scale);
        CopyBlock(kWeightBlock, binding.weight);
    }

    Device* device_;
    const EffectLayout layout_;
    const PassPrograms programs_;

    std::mutex mutex_;
    std::vector<Value> values_;  // one per parameter, in declaration order
    size_t technique_ = 0;       // the first technique until one is set
    bool begun_ = false;
    int activePass_ = -1;
    PassBinding staged_;  // where each pass's binding is made; empty between passes
};

HRESULT Refuse(const std::string& message, ID3DXBuffer** errors) {
    if (errors) *errors = new (std::nothrow) MessageBuffer(message);
    return D3DXERR_INVALIDDATA;
}

}  // namespace
}  // namespace qv::d3d9

HRESULT D3DXCreateEffect(IDirect3DDevice9* device, const void* data, UINT length, const D3DXMACRO* defines,
                         ID3DXInclude* include, DWORD flags, ID3DXEffectPool* pool, ID3DXEffect** effect,
                         ID3DXBuffer** compilationErrors) {
    using namespace qv::d3d9;
    (void)defines;
    (void)include;
    (void)flags;
    (void)pool;
    if (effect) *effect = nullptr;
    if (compilationErrors) *compilationErrors = nullptr;
    const InjectedResult injected("D3DXCreateEffect");
    if (injected.Fails()) return injected.Code();
    Device* ours = device ? AsDevice(device) : nullptr;
    if (!ours || !data || length == 0 || !effect) return D3DERR_INVALIDCALL;

    std::string_view source(static_cast<const char*>(data), length);
    while (!source.empty() && source.back() == '\0') source.remove_suffix(1);  // a stored terminator
    EffectLayout layout;
    std::string error;
    if (!ParseEffectSource(source, &layout, &error)) return Refuse(error, compilationErrors);

    PassPrograms programs;
    for (const Technique& technique : layout.techniques) {
        std::vector<const qv::gfx::PixelProgram*>& bound = programs.emplace_back();
        for (const Pass& pass : technique.passes) {
            const qv::gfx::PixelProgram* program = qv::gfx::FindPixelProgram(pass.program);
            if (!program) {
                return Refuse("line " + std::to_string(pass.line) + ": unknown pixel program '" + pass.program +
                                  "' in pass " + pass.name,
                              compilationErrors);
            }
            bound.push_back(program);
        }
    }
    auto* created = new (std::nothrow) Effect(ours, std::move(layout), std::move(programs));
    if (!created) return E_OUTOFMEMORY;
    *effect = created;
    return injected.Or(D3D_OK);
}
