// A picture of what the filter did to one frame: the source, scaled to the result's size, beside
// the result, as 8-bit RGB (BT.709, limited range) in a PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"

namespace qv::cli {

struct HostImage {
    const YcPixel* pixels = nullptr;
    ptrdiff_t pitchSamples = 0;  // 16-bit samples from one row to the next
    int width = 0;
    int height = 0;
};

// Bilinear scaling of host pixels (sample centres aligned, edges clamped), for display only.
std::vector<YcPixel> ScaleBilinear(const HostImage& source, int width, int height);

// One host pixel to 8-bit RGB: y/4096 and c/4096 are BT.709 Y'CbCr, clamped into 0..255.
void HostPixelToRgb(const YcPixel& px, uint8_t rgb[3]);

// Writes source | result side by side. Throws OutputError.
void WriteSnapshot(const std::string& path, const HostImage& source, const HostImage& result);

}  // namespace qv::cli
