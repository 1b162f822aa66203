// Shared pieces of the graphics stand-in's tests: a reference holder, the test pixel programs
// and the effect that names them, and helpers that build a device, targets and quads.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/pixel_program.h"

namespace qv::d3d9::test {

// Holds one counted reference and releases it when it goes.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        reset(std::exchange(o.p_, nullptr));
        return *this;
    }
    ~Ref() { reset(); }

    void reset(T* p = nullptr) {
        T* old = std::exchange(p_, p);
        if (old) old->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Receives a new reference from a creating call.
    T** Out() {
        reset();
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// Names of the test programs (registered by d3d9_test_support.cpp).
inline constexpr const char* kFillProgram = "test_fill";      // writes params[0..3] everywhere
inline constexpr const char* kCoordsProgram = "test_coords";  // writes (x, y, 7, 9) as stored steps
inline constexpr const char* kCopyProgram = "test_copy";      // point-copies s1 through the sampler
inline constexpr const char* kProbeProgram = "test_probe";    // records its draw context
inline constexpr const char* kProbeTableProgram = "test_probe_table";  // the same, reading s11 only

// Passes of the test effect's first technique, in order.
enum TestPass : UINT { kFillPass = 0, kCoordsPass, kCopyPass, kProbePass, kProbeTablePass, kTestPassCount };

// The effect source the tests load: textures TexA (s1), TexB (s11, linear magnification),
// TexC (s5), blocks params (48 bytes), scale (64), weight (36), techniques "Test" and "Other".
extern const char* const kTestEffectSource;

// What the last draw of a test program saw.
struct ProgramRecord {
    int draws = 0;
    bool optimised = false;
    int workers = 0;
    gfx::DrawContext context;
    std::vector<uint8_t> params, scale, weight;
};
ProgramRecord LastProgramRecord();
void ResetProgramRecord();

// A render target and its surface.
struct RenderTarget {
    Ref<IDirect3DTexture9> texture;
    Ref<IDirect3DSurface9> surface;
};

// Names the instances of a test run on each adapter: "Reference" or "Optimised".
std::string AdapterName(const ::testing::TestParamInfo<UINT>& info);

Ref<IDirect3D9> CreateDirect3D();
Ref<IDirect3DDevice9> CreateDevice(IDirect3D9* d3d, UINT adapter);
RenderTarget CreateRenderTarget(IDirect3DDevice9* device, UINT width, UINT height);
RenderTarget CreateSystemCopy(IDirect3DDevice9* device, UINT width, UINT height);
Ref<IDirect3DVertexDeclaration9> CreateScreenDeclaration(IDirect3DDevice9* device);

struct Vertex {
    float x, y, z, rhw;
};
// One vertex buffer holding the given vertices back to back (16-byte stride).
Ref<IDirect3DVertexBuffer9> CreateVertices(IDirect3DDevice9* device, const std::vector<Vertex>& vertices);
// The four corners of the quad that covers W x H pixels, in strip order.
std::vector<Vertex> QuadVertices(float width, float height);

Ref<ID3DXEffect> CreateTestEffect(IDirect3DDevice9* device);

// A texture of unorm16 texels filled from `texels` (x, y, z, w per texel, row by row).
Ref<IDirect3DTexture9> CreateFilledTexture(IDirect3DDevice9* device, UINT width, UINT height,
                                           const std::vector<uint16_t>& texels);

// Copies the target into a system-memory texture and returns its texels row by row.
std::vector<uint16_t> ReadTarget(IDirect3DDevice9* device, IDirect3DSurface9* target);

// Everything one quad draw needs on the device, set up with the test effect.
struct DrawRig {
    Ref<IDirect3D9> d3d;
    Ref<IDirect3DDevice9> device;
    Ref<IDirect3DVertexDeclaration9> declaration;
    Ref<ID3DXEffect> effect;
    RenderTarget target;
    UINT targetWidth = 0, targetHeight = 0;

    DrawRig(UINT adapter, UINT width, UINT height);
    // Sets the fill colour (params[0..3]).
    void SetFill(float x, float y, float z, float w);
    // Draws `pass` of the test technique with the quad of vertices [first, first + 4) of `buffer`.
    HRESULT Draw(UINT pass, IDirect3DVertexBuffer9* buffer, UINT first = 0);
    std::vector<uint16_t> Read() { return ReadTarget(device.get(), target.surface.get()); }
};

// Every test starts and ends with no fault pending and default row scheduling, and ends with
// as many objects of the stand-in alive as it started with, so each one also proves it
// released everything it made.
class StandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ClearFaults();
        testing::SetRowScheduling(0, false);
        ResetProgramRecord();
        liveBefore_ = testing::LiveObjectCount();
    }
    void TearDown() override {
        testing::ClearFaults();
        testing::SetRowScheduling(0, false);
        EXPECT_EQ(testing::LiveObjectCount(), liveBefore_) << "objects left alive";
    }

private:
    size_t liveBefore_ = 0;
};

}  // namespace qv::d3d9::test
