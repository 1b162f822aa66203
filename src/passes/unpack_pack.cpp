// Row kernels of the unpack and pack programs. Seen as samples, a packed row is the frame row's
// y, cb, cr in turn, so pixel x owns packed samples 3x, 3x+1, 3x+2: unpacking copies each
// pixel's three samples into a texel and zeroes the side channel, packing drops the side
// channel and lays the samples back to back. A stored value read as v / 65535 and stored again
// gives v back, so copying the 16-bit values is what the programs compute.
#include <algorithm>
#include <bit>
#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "passes/unpack_pack.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "passes/program_names.h"
#include "passes/unpack_pack.h"
#include "transfer/packed_frame.h"

// Whole vectors of pixels: the samples move between three and four channels a pixel with the
// interleaved loads and stores, the side channel becoming 0 or being dropped.
HWY_BEFORE_NAMESPACE();
namespace qv::passes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Unpacks pixels 0 .. n - 1 in whole vectors, reading 3n samples; returns the pixels done.
int UnpackVectors(const uint16_t* packed, int n, uint16_t* out) {
    const hn::ScalableTag<uint16_t> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const auto zero = hn::Zero(d);
    int x = 0;
    for (; x + lanes <= n; x += lanes) {
        hn::Vec<decltype(d)> y, cb, cr;
        hn::LoadInterleaved3(d, packed + 3 * x, y, cb, cr);
        hn::StoreInterleaved4(y, cb, cr, zero, d, out + 4 * x);
    }
    return x;
}

// Packs pixels 0 .. n - 1 in whole vectors, writing 3n samples; returns the pixels done.
int PackVectors(const uint16_t* pixels, int n, uint16_t* out) {
    const hn::ScalableTag<uint16_t> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    int x = 0;
    for (; x + lanes <= n; x += lanes) {
        hn::Vec<decltype(d)> y, cb, cr, side;
        hn::LoadInterleaved4(d, pixels + 4 * x, y, cb, cr, side);
        hn::StoreInterleaved3(y, cb, cr, d, out + 3 * x);
    }
    return x;
}

}  // namespace qv::passes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qv::passes {

HWY_EXPORT(UnpackVectors);
HWY_EXPORT(PackVectors);

namespace {

static_assert(std::endian::native == std::endian::little,
              "texel channels are combined as 64-bit words, R in the low bits");

constexpr int kRowGrain = 16;
constexpr uint64_t kLowThreeChannels = 0x0000FFFFFFFFFFFFull;

uint64_t Load64(const uint16_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void Store64(uint16_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

void UnpackRow(const uint16_t* packed, int texels, uint16_t* out, int width) {
    if (texels <= 0 || width <= 0) return;
    const int64_t samples = static_cast<int64_t>(texels) * transfer::kChannelsPerTexel;
    // Pixels whose three samples lie inside the row; of these, all but the last can be read
    // as a whole 64-bit word (their fourth sample still lies inside the row).
    const int whole = static_cast<int>(std::min<int64_t>(width, samples / transfer::kSamplesPerPixel));
    // The vectors stop a pixel short, as the words do, and leave the rest to them.
    int x = HWY_DYNAMIC_DISPATCH(UnpackVectors)(packed, whole - 1, out);
    for (; x + 1 < whole; ++x) Store64(out + 4 * x, Load64(packed + 3 * x) & kLowThreeChannels);
    for (; x < whole; ++x) {
        out[4 * x + 0] = packed[3 * x + 0];
        out[4 * x + 1] = packed[3 * x + 1];
        out[4 * x + 2] = packed[3 * x + 2];
        out[4 * x + 3] = 0;
    }
    // Columns past what the row holds read its last texel, as the clamped reads do.
    for (; x < width; ++x) {
        const int last = texels - 1;
        const int t = (3 * x) / 4;  // texel of the pixel's first sample, at channel (3x) mod 4
        const uint16_t* texel[2] = {packed + 4 * std::min(t, last), packed + 4 * std::min(t + 1, last)};
        uint16_t* o = out + 4 * x;
        for (int c = 0; c < 3; ++c) {
            const int i = (3 * x) % 4 + c;
            o[c] = texel[i / 4][i % 4];
        }
        o[3] = 0;
    }
}

void PackRow(const uint16_t* pixels, int texels, uint16_t* out, int width) {
    if (texels <= 0 || width <= 0) return;
    // Whole groups: three output texels from four input pixels, all inside the row.
    const int groups = std::min(width / 3, texels / 4);
    // Vectors take whole groups too: their pixel counts are multiples of four.
    const int first = HWY_DYNAMIC_DISPATCH(PackVectors)(pixels, 4 * groups, out) / 4;
    for (int g = first; g < groups; ++g) {
        const uint64_t p0 = Load64(pixels + 16 * g);
        const uint64_t p1 = Load64(pixels + 16 * g + 4);
        const uint64_t p2 = Load64(pixels + 16 * g + 8);
        const uint64_t p3 = Load64(pixels + 16 * g + 12);
        Store64(out + 12 * g, (p0 & kLowThreeChannels) | (p1 << 48));
        Store64(out + 12 * g + 4, ((p1 >> 16) & 0xFFFFFFFFull) | (p2 << 32));
        Store64(out + 12 * g + 8, ((p2 >> 32) & 0xFFFFull) | (p3 << 16));
    }
    // The rest sample by sample; pixels past the row's end read its last pixel, which gives the
    // last texel of a row its second copies of the last pixel's samples.
    for (int s = 12 * groups; s < 4 * width; ++s) {
        const int p = std::min(s / 3, texels - 1);
        out[s] = pixels[4 * p + s % 3];
    }
}

void UnpackOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::TextureView& in = ctx.samplers[kPackedSampler].texture;
    if (!in.bits || in.height <= 0) return;
    scheduler.Run(ctx.height, kRowGrain, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            UnpackRow(in.Row16(std::min(y, in.height - 1)), in.width, ctx.target.Row(y), ctx.width);
        }
    });
}

void PackOptimised(const gfx::DrawContext& ctx, gfx::RowScheduler& scheduler) {
    const gfx::TextureView& in = ctx.samplers[kFinalSampler].texture;
    if (!in.bits || in.height <= 0) return;
    scheduler.Run(ctx.height, kRowGrain, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            PackRow(in.Row16(std::min(y, in.height - 1)), in.width, ctx.target.Row(y), ctx.width);
        }
    });
}

QV_REGISTER_PIXEL_PROGRAM(kUnpackProgram, UnpackReference, UnpackOptimised, gfx::Samplers(kPackedSampler));
QV_REGISTER_PIXEL_PROGRAM(kPackProgram, PackReference, PackOptimised, gfx::Samplers(kFinalSampler));

}  // namespace qv::passes
#endif  // HWY_ONCE
