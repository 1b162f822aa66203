#include "png_snapshot.h"

#include <png.h>

#include <algorithm>
#include <cmath>

#include "errors.h"

namespace qv::cli {

namespace {

// BT.709 Y'CbCr -> R'G'B'.
constexpr float kCrToR = 1.5748f;
constexpr float kCbToG = -0.187324f;
constexpr float kCrToG = -0.468124f;
constexpr float kCbToB = 1.8556f;

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v * 255.0f), 0L, 255L)); }

const YcPixel& At(const HostImage& image, int x, int y) {
    const auto* row = reinterpret_cast<const int16_t*>(image.pixels) + image.pitchSamples * y;
    return reinterpret_cast<const YcPixel*>(row)[x];
}

}  // namespace

std::vector<YcPixel> ScaleBilinear(const HostImage& source, int width, int height) {
    std::vector<YcPixel> out(static_cast<size_t>(width) * static_cast<size_t>(height));
    const double sx = static_cast<double>(source.width) / width;
    const double sy = static_cast<double>(source.height) / height;
    for (int y = 0; y < height; ++y) {
        const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, static_cast<double>(source.height - 1));
        const int y0 = static_cast<int>(fy);
        const int y1 = std::min(y0 + 1, source.height - 1);
        const double wy = fy - y0;
        for (int x = 0; x < width; ++x) {
            const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, static_cast<double>(source.width - 1));
            const int x0 = static_cast<int>(fx);
            const int x1 = std::min(x0 + 1, source.width - 1);
            const double wx = fx - x0;
            const YcPixel& a = At(source, x0, y0);
            const YcPixel& b = At(source, x1, y0);
            const YcPixel& c = At(source, x0, y1);
            const YcPixel& d = At(source, x1, y1);
            const auto mix = [&](int16_t YcPixel::*m) {
                const double top = a.*m + (b.*m - a.*m) * wx;
                const double bottom = c.*m + (d.*m - c.*m) * wx;
                return static_cast<int16_t>(std::lround(top + (bottom - top) * wy));
            };
            out[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                YcPixel{mix(&YcPixel::y), mix(&YcPixel::cb), mix(&YcPixel::cr)};
        }
    }
    return out;
}

void HostPixelToRgb(const YcPixel& px, uint8_t rgb[3]) {
    const float y = static_cast<float>(px.y) / 4096.0f;
    const float cb = static_cast<float>(px.cb) / 4096.0f;
    const float cr = static_cast<float>(px.cr) / 4096.0f;
    rgb[0] = ToByte(y + kCrToR * cr);
    rgb[1] = ToByte(y + kCbToG * cb + kCrToG * cr);
    rgb[2] = ToByte(y + kCbToB * cb);
}

void WriteSnapshot(const std::string& path, const HostImage& source, const HostImage& result) {
    const std::vector<YcPixel> scaled = ScaleBilinear(source, result.width, result.height);
    const HostImage left{scaled.data(), 3 * static_cast<ptrdiff_t>(result.width), result.width, result.height};
    const int width = 2 * result.width;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(result.height) * 3);
    for (int y = 0; y < result.height; ++y) {
        uint8_t* row = rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
        for (int x = 0; x < result.width; ++x) {
            HostPixelToRgb(At(left, x, y), row + 3 * x);
            HostPixelToRgb(At(result, x, y), row + 3 * (result.width + x));
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(result.height);
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), width * 3, nullptr) == 0) {
        const std::string reason = image.message;
        png_image_free(&image);
        throw OutputError("cannot write the snapshot " + path + ": " + reason);
    }
}

}  // namespace qv::cli
