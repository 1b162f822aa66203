// The YUV4MPEG2 stream header and frame header: parsing with clear errors, and formatting.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "yuv_format.h"

namespace qv::cli {

inline constexpr std::string_view kY4mMagic = "YUV4MPEG2";
inline constexpr std::string_view kY4mFrameMagic = "FRAME";
// Longest header line accepted; real headers are well under 200 bytes.
inline constexpr size_t kMaxY4mLine = 4096;

struct Y4mHeader {
    YuvFormat format;             // C absent: 4:2:0 centred, 8 bits; XCOLORRANGE=FULL: full range
    std::string frameRate;        // "30000:1001"; empty when the stream gave none
    std::string interlace;        // "p", "t", "b", "m" or "?"; empty when absent
    std::string aspect;           // "1:1", "0:0"; empty when absent
    std::vector<std::string> extensions;  // X tags as written, without the X
};

// Parses a stream header line (without its newline). Throws InputError naming the problem:
// missing magic, missing or zero or absurd size, unknown colour space, malformed rate.
// Interlace and aspect tags that cannot be read are dropped, as are unknown tag letters.
Y4mHeader ParseY4mHeader(std::string_view line);

// The header line for a stream, newline included. XYSCSS is left out unless it still describes
// the format (the stream's own chroma and depth).
std::string FormatY4mHeader(const Y4mHeader& header);

// True when `line` (without its newline) is a frame header: "FRAME" alone or with parameters.
bool IsY4mFrameHeader(std::string_view line);

}  // namespace qv::cli
