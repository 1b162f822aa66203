// Runs one pixel program outside the device, on images with guard bands, through the
// reference and the optimised variant; used to compare them bit for bit.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "effect/constant_blocks.h"
#include "platform/d3d9/pixel_program.h"

namespace qv::test {

inline constexpr uint16_t kSentinel = 0xA5A5;

// A four-channel unorm16 image whose rows are padded and surrounded by guard texels filled
// with a sentinel, so stray and missing writes show.
class Image {
public:
    Image() = default;
    Image(int width, int height, uint16_t fill = kSentinel);

    int width() const { return width_; }
    int height() const { return height_; }
    uint16_t* Texel(int x, int y) { return Row(y) + 4 * x; }
    const uint16_t* Texel(int x, int y) const { return Row(y) + 4 * x; }
    uint16_t* Row(int y);
    const uint16_t* Row(int y) const;

    gfx::TextureView View() const;
    gfx::TargetView Target();
    bool GuardsIntact() const;
    // Equal inside the image; on mismatch, describes the first difference.
    bool SameAs(const Image& other, std::string* difference = nullptr) const;

    static Image Random(int width, int height, uint32_t seed, uint16_t lo = 0, uint16_t hi = 65535);
    // Luma, chroma as an unpacked frame: x, y, z in 0..4096, w = 0 (or random w if asked).
    static Image RandomFrame(int width, int height, uint32_t seed, bool randomW = false);
    // A crop of the sample clip's first frame, unpacked (luma, cb, cr scaled to 0..4096).
    static Image FromSample(int width, int height, int offsetX = 0, int offsetY = 0);
    static Image Flat(int width, int height, uint16_t x, uint16_t y, uint16_t z, uint16_t w);

private:
    static constexpr int kGuard = 8;  // texels of guard on every side
    int width_ = 0, height_ = 0;
    int stride_ = 0;  // texels per storage row
    std::vector<uint16_t> storage_;
};

// Everything one draw needs. Sampler index 1..10 image inputs; 11 is the weight table.
struct PassSetup {
    std::array<const Image*, 11> inputs{};  // [i] = sampler s(i), i = 1..10
    effect::ParamsBlock params{};
    effect::ScaleBlock scale{};
    effect::WeightBlock weight{};
    int width = 0;   // drawn rectangle
    int height = 0;
    int targetWidth = 0;  // 0: same as drawn
    int targetHeight = 0;
    const float* weightTable = nullptr;  // s11's texels (four floats each); null: the filter's own
};

// Fills params, scale and weight for the given sizes and slider values (usm, radius, max, min,
// denoise, recovery, sharp), as the constants code does.
effect::ParamsBlock DefaultParams();

Image RunReference(const std::string& program, const PassSetup& setup);
Image RunOptimised(const std::string& program, const PassSetup& setup, gfx::RowScheduler& scheduler);

// Runs fn once for each SIMD target compiled in and supported here, with dispatch forced to it.
void ForEachSimdTarget(const std::function<void(const std::string& target)>& fn);

}  // namespace qv::test
