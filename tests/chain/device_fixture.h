// A real stand-in device for tests of the context: message boxes recorded and answered, faults
// cleared, and an effect whose passes run marker programs, so the context can be created and
// drawn with before (and independently of) the filter's own pixel programs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "effect/effect_resource.h"
#include "gpu/gpu_lifecycle.h"
#include "passes/program_names.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/pixel_program.h"
#include "platform/win32/win32.h"

namespace qv::test {

struct ShownBox {
    std::string text;
    std::string caption;
    UINT type;
};

// Records every box; answers from a script, then with the box's dismissing button.
class MessageBoxes {
public:
    MessageBoxes() {
        win32::SetMessageBoxHandler([this](HWND, const std::string& text, const std::string& caption, UINT type) {
            shown.push_back({text, caption, type});
            if (onShow) onShow(shown.back());
            if (!answers.empty()) {
                const int answer = answers.front();
                answers.pop_front();
                return answer;
            }
            return (type & 0xF) == MB_RETRYCANCEL ? IDCANCEL : IDOK;
        });
    }
    ~MessageBoxes() { win32::SetMessageBoxHandler(nullptr); }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const ShownBox& box : shown) texts.push_back(box.text);
        return texts;
    }

    std::vector<ShownBox> shown;
    std::deque<int> answers;
    std::function<void(const ShownBox&)> onShow;
};

// Marker programs: pass k writes x = MarkerOf(k) and y = the x of its main input at the same
// pixel, so a read-back shows which pass wrote a target and which target it read.
inline uint16_t MarkerOf(int pass) { return static_cast<uint16_t>(1000 * (pass + 1)); }

// The sampler each pass reads its main input through: the target most recently written
// before it in the full detail chain.
inline constexpr int kMarkerInputSlot[14] = {1, 2, 3, 4, 5, 6, 5, 7, 6, 5, 6, 8, 9, 10};

template <int Pass>
void MarkerReference(const gfx::DrawContext& c) {
    const gfx::TextureView& in = c.samplers[kMarkerInputSlot[Pass]].texture;
    for (int y = 0; y < c.height; ++y) {
        uint16_t* out = c.target.Row(y);
        const int sy = y < in.height ? y : in.height - 1;
        for (int x = 0; x < c.width; ++x) {
            const int sx = x < in.width ? x : in.width - 1;
            out[4 * x + 0] = MarkerOf(Pass);
            out[4 * x + 1] = in.bits ? in.Row16(sy)[4 * sx] : 0;
            out[4 * x + 2] = 0;
            out[4 * x + 3] = 0;
        }
    }
}

template <int Pass>
void MarkerOptimised(const gfx::DrawContext& c, gfx::RowScheduler&) {
    MarkerReference<Pass>(c);
}

inline std::string MarkerProgramName(int pass) { return "qv_test_marker_" + std::to_string(pass); }

template <int... Pass>
void RegisterMarkers(std::integer_sequence<int, Pass...>) {
    static const std::string names[] = {MarkerProgramName(Pass)...};
    (gfx::RegisterPixelProgram(gfx::PixelProgram{names[Pass].c_str(), MarkerReference<Pass>, MarkerOptimised<Pass>}),
     ...);
}

inline constexpr const char* kPassPrograms[14] = {
    passes::kUnpackProgram,    passes::kDenoiseProgram,   passes::kUpscaleHProgram,   passes::kUpscaleVProgram,
    passes::kUsmBlurProgram,   passes::kUsmLimitProgram,  passes::kRecoveryProgram,   passes::kMaskBlurHProgram,
    passes::kMaskBlurVProgram, passes::kWarpHProgram,     passes::kWarpVProgram,      passes::kDownscaleHProgram,
    passes::kDownscaleVProgram, passes::kPackProgram};

// The filter's effect source with the program of every pass not in `keep` replaced by its
// marker program.
inline std::string EffectWithMarkers(const std::vector<int>& keep = {}) {
    static const bool registered = (RegisterMarkers(std::make_integer_sequence<int, 14>{}), true);
    (void)registered;
    std::string source(reinterpret_cast<const char*>(effect::EffectSourceBytes()), effect::EffectSourceSize());
    for (int pass = 0; pass < 14; ++pass) {
        if (std::find(keep.begin(), keep.end(), pass) != keep.end()) continue;
        const std::string from = "pass p" + std::to_string(pass) + " { VertexShader = NULL; PixelShader = " +
                                 kPassPrograms[pass] + "; }";
        const size_t at = source.find(from);
        EXPECT_NE(at, std::string::npos) << "the effect source no longer reads: " << from;
        if (at == std::string::npos) continue;
        source.replace(at, from.size(),
                       "pass p" + std::to_string(pass) + " { VertexShader = NULL; PixelShader = " +
                           MarkerProgramName(pass) + "; }");
    }
    return source;
}

// Puts `source` into the module's resource table as the effect for this object's life; the
// filter's own effect comes back afterwards.
class EffectResource {
public:
    explicit EffectResource(std::string source) : source_(std::move(source)) {
        win32::RegisterResource(effect::kEffectResourceName, RT_RCDATA_ID, source_.data(), source_.size());
    }
    ~EffectResource() {
        win32::RegisterResource(effect::kEffectResourceName, RT_RCDATA_ID, effect::EffectSourceBytes(),
                                effect::EffectSourceSize());
    }

private:
    std::string source_;
};

// Fresh state before a test and a full release after it, which must leave no object alive.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        gpu::ReleaseAll();
        d3d9::testing::ClearFaults();
        win32::ClearInjectedFailures();
        gpu::Context().disabled.store(0);
        ASSERT_EQ(d3d9::testing::LiveObjectCount(), 0u);
    }
    void TearDown() override {
        gpu::ReleaseAll();
        d3d9::testing::ClearFaults();
        win32::ClearInjectedFailures();
        gpu::Context().disabled.store(0);
        EXPECT_EQ(d3d9::testing::LiveObjectCount(), 0u) << "objects left after release all";
    }

    bool CreateDevice() { return gpu::Create(nullptr, nullptr, static_cast<int32_t>(d3d9::kOptimisedAdapter)); }

    MessageBoxes boxes;
    EffectResource effect{EffectWithMarkers()};
};

inline std::string Failed(const std::string& operation) { return operation + "に失敗"; }

// Level 0 of a render target copied out through a system-memory texture: width x height
// texels of four 16-bit channels, rows back to back.
inline std::vector<uint16_t> ReadRenderTarget(IDirect3DTexture9* target) {
    D3DSURFACE_DESC desc{};
    if (!target || FAILED(target->GetLevelDesc(0, &desc))) return {};
    IDirect3DTexture9* copy = nullptr;
    IDirect3DSurface9* from = nullptr;
    IDirect3DSurface9* to = nullptr;
    std::vector<uint16_t> texels;
    if (SUCCEEDED(D3DXCreateTexture(gpu::Context().device, desc.Width, desc.Height, 1, 0, desc.Format,
                                    D3DPOOL_SYSTEMMEM, &copy)) &&
        SUCCEEDED(target->GetSurfaceLevel(0, &from)) && SUCCEEDED(copy->GetSurfaceLevel(0, &to)) &&
        SUCCEEDED(gpu::Context().device->GetRenderTargetData(from, to))) {
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(copy->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) {
            texels.resize(static_cast<size_t>(desc.Width) * desc.Height * 4);
            for (UINT y = 0; y < desc.Height; ++y) {
                const auto* row = static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch;
                std::memcpy(texels.data() + y * desc.Width * 4, row, desc.Width * 8);
            }
            copy->UnlockRect(0);
        }
    }
    if (to) to->Release();
    if (from) from->Release();
    if (copy) copy->Release();
    return texels;
}

}  // namespace qv::test
