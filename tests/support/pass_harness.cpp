#include "support/pass_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <hwy/targets.h>

#include "gpu/weight_table.h"

namespace qv::test {

Image::Image(int width, int height, uint16_t fill)
    : width_(width), height_(height), stride_(width + 2 * kGuard + 3) {
    storage_.assign(static_cast<size_t>(stride_) * 4 * static_cast<size_t>(height + 2 * kGuard), fill);
}

uint16_t* Image::Row(int y) {
    return storage_.data() + (static_cast<size_t>(y + kGuard) * stride_ + kGuard) * 4;
}
const uint16_t* Image::Row(int y) const {
    return storage_.data() + (static_cast<size_t>(y + kGuard) * stride_ + kGuard) * 4;
}

gfx::TextureView Image::View() const {
    gfx::TextureView v;
    v.bits = reinterpret_cast<const uint8_t*>(Row(0));
    v.width = width_;
    v.height = height_;
    v.pitch = static_cast<ptrdiff_t>(stride_) * 8;
    v.format = D3DFMT_A16B16G16R16;
    return v;
}

gfx::TargetView Image::Target() {
    gfx::TargetView t;
    t.bits = reinterpret_cast<uint8_t*>(Row(0));
    t.width = width_;
    t.height = height_;
    t.pitch = static_cast<ptrdiff_t>(stride_) * 8;
    return t;
}

bool Image::GuardsIntact() const {
    const int rows = height_ + 2 * kGuard;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < stride_; ++c) {
            const bool inside = r >= kGuard && r < kGuard + height_ && c >= kGuard && c < kGuard + width_;
            if (inside) continue;
            const uint16_t* t = storage_.data() + (static_cast<size_t>(r) * stride_ + c) * 4;
            for (int k = 0; k < 4; ++k) {
                if (t[k] != kSentinel) return false;
            }
        }
    }
    return true;
}

bool Image::SameAs(const Image& other, std::string* difference) const {
    if (width_ != other.width_ || height_ != other.height_) {
        if (difference) *difference = "sizes differ";
        return false;
    }
    for (int y = 0; y < height_; ++y) {
        if (std::memcmp(Row(y), other.Row(y), static_cast<size_t>(width_) * 8) == 0) continue;
        for (int x = 0; x < width_; ++x) {
            for (int c = 0; c < 4; ++c) {
                if (Texel(x, y)[c] != other.Texel(x, y)[c]) {
                    if (difference) {
                        std::ostringstream s;
                        s << "first difference at (" << x << ", " << y << ") channel " << c << ": "
                          << Texel(x, y)[c] << " vs " << other.Texel(x, y)[c];
                        *difference = s.str();
                    }
                    return false;
                }
            }
        }
    }
    return true;
}

Image Image::Random(int width, int height, uint32_t seed, uint16_t lo, uint16_t hi) {
    Image im(width, height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) im.Texel(x, y)[c] = static_cast<uint16_t>(d(rng));
    return im;
}

Image Image::RandomFrame(int width, int height, uint32_t seed, bool randomW) {
    Image im(width, height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, 4096);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint16_t* t = im.Texel(x, y);
            t[0] = static_cast<uint16_t>(d(rng));
            t[1] = static_cast<uint16_t>(d(rng));
            t[2] = static_cast<uint16_t>(d(rng));
            t[3] = randomW ? static_cast<uint16_t>(d(rng) / 8) : 0;
        }
    return im;
}

Image Image::Flat(int width, int height, uint16_t x, uint16_t y, uint16_t z, uint16_t w) {
    Image im(width, height);
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            uint16_t* t = im.Texel(i, j);
            t[0] = x;
            t[1] = y;
            t[2] = z;
            t[3] = w;
        }
    return im;
}

// The sample clip is 8-bit 4:2:0 Y4M, 640x360. Luma 16..235 maps to 0..4096 as the host does;
// chroma is taken at its 2x2 block, which is enough for test content.
Image Image::FromSample(int width, int height, int offsetX, int offsetY) {
    const std::string path = std::string(QV_SAMPLES_DIR) + "/ladybird_640x360.y4m";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::string header;
    std::getline(in, header);
    std::string frameHeader;
    std::getline(in, frameHeader);
    const int W = 640, H = 360;
    std::vector<uint8_t> plane(static_cast<size_t>(W * H * 3 / 2));
    in.read(reinterpret_cast<char*>(plane.data()), static_cast<std::streamsize>(plane.size()));
    const uint8_t* Y = plane.data();
    const uint8_t* U = Y + W * H;
    const uint8_t* V = U + (W / 2) * (H / 2);
    Image im(width, height);
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            // Wrap around (mirrored) so any size can be cut from the clip.
            int sx = (i + offsetX) % (2 * W);
            int sy = (j + offsetY) % (2 * H);
            if (sx >= W) sx = 2 * W - 1 - sx;
            if (sy >= H) sy = 2 * H - 1 - sy;
            auto luma = [](int v) { return static_cast<uint16_t>(std::clamp((v - 16) * 4096 / 219, 0, 4096)); };
            auto chroma = [](int v) { return static_cast<uint16_t>(std::clamp((v - 128) * 4096 / 224 + 2048, 0, 4096)); };
            uint16_t* t = im.Texel(i, j);
            t[0] = luma(Y[sy * W + sx]);
            t[1] = chroma(U[(sy / 2) * (W / 2) + sx / 2]);
            t[2] = chroma(V[(sy / 2) * (W / 2) + sx / 2]);
            t[3] = 0;
        }
    return im;
}

effect::ParamsBlock DefaultParams() {
    effect::ParamsBlock p{};
    p.usm = 1.0f;
    p.max = 0.0f;
    p.min = 1.0f;
    p.denoise = 0.75f;
    p.recovery = 0.75f;
    p.sharp = 0.25f;
    p.H2 = static_cast<float>(1.0 / (22.5 * 22.5));
    p.radius = 3;
    return p;
}

namespace {

const std::vector<float>& WeightTable() {
    static const std::vector<float> table = [] {
        std::vector<float> t(static_cast<size_t>(gpu::kWeightTableEntries) * 4);
        gpu::FillWeightTable(t.data());
        return t;
    }();
    return table;
}

gfx::DrawContext MakeContext(const PassSetup& setup, Image& target) {
    gfx::DrawContext ctx;
    for (int i = 1; i <= 10; ++i) {
        if (setup.inputs[i]) ctx.samplers[i].texture = setup.inputs[i]->View();
    }
    gfx::TextureView table;
    table.bits = reinterpret_cast<const uint8_t*>(setup.weightTable ? setup.weightTable : WeightTable().data());
    table.width = gpu::kWeightTableEntries;
    table.height = 1;
    table.pitch = gpu::kWeightTableEntries * 16;
    table.format = D3DFMT_A32B32G32R32F;
    ctx.samplers[11].texture = table;
    ctx.samplers[11].state = gfx::SamplerState{gfx::Filter::Point, gfx::Filter::Linear};
    ctx.params = reinterpret_cast<const uint8_t*>(&setup.params);
    ctx.scale = reinterpret_cast<const uint8_t*>(&setup.scale);
    ctx.weight = reinterpret_cast<const uint8_t*>(&setup.weight);
    ctx.target = target.Target();
    ctx.width = std::min(setup.width, target.width());
    ctx.height = std::min(setup.height, target.height());
    return ctx;
}

const gfx::PixelProgram& Program(const std::string& name) {
    const gfx::PixelProgram* p = gfx::FindPixelProgram(name);
    if (!p) throw std::runtime_error("no pixel program named " + name);
    return *p;
}

Image NewTarget(const PassSetup& setup) {
    return Image(setup.targetWidth ? setup.targetWidth : setup.width,
                 setup.targetHeight ? setup.targetHeight : setup.height);
}

}  // namespace

Image RunReference(const std::string& program, const PassSetup& setup) {
    Image target = NewTarget(setup);
    Program(program).reference(MakeContext(setup, target));
    return target;
}

Image RunOptimised(const std::string& program, const PassSetup& setup, gfx::RowScheduler& scheduler) {
    Image target = NewTarget(setup);
    Program(program).optimised(MakeContext(setup, target), scheduler);
    return target;
}

void ForEachSimdTarget(const std::function<void(const std::string&)>& fn) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        fn(hwy::TargetName(target));
    }
    hwy::SetSupportedTargetsForTest(0);
}

}  // namespace qv::test
