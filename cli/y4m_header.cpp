#include "y4m_header.h"

#include <charconv>
#include <cstdint>

#include "errors.h"

namespace qv::cli {

namespace {

constexpr std::string_view kRangeTag = "COLORRANGE=";
constexpr std::string_view kSubsamplingTag = "YSCSS=";

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// A frame side: decimal digits, 1..kMaxFrameSide.
int ParseSide(std::string_view value, const char* what) {
    if (!AllDigits(value)) {
        throw InputError(std::string("YUV4MPEG2 header: ") + what + " '" + std::string(value) +
                         "' is not a number");
    }
    uint64_t n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec == std::errc::result_out_of_range || (ec == std::errc() && n > kMaxFrameSide)) {
        throw InputError(std::string("YUV4MPEG2 header: ") + what + " " + std::string(value) +
                         " is absurd (at most " + std::to_string(kMaxFrameSide) + ")");
    }
    (void)end;
    if (n == 0) throw InputError(std::string("YUV4MPEG2 header: ") + what + " is zero");
    return static_cast<int>(n);
}

// "n:d" with both parts decimal.
bool IsRatio(std::string_view value) {
    const size_t colon = value.find(':');
    if (colon == std::string_view::npos) return false;
    return AllDigits(value.substr(0, colon)) && AllDigits(value.substr(colon + 1));
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

Y4mHeader ParseY4mHeader(std::string_view line) {
    if (line.substr(0, kY4mMagic.size()) != kY4mMagic ||
        (line.size() > kY4mMagic.size() && line[kY4mMagic.size()] != ' ')) {
        throw InputError("not a YUV4MPEG2 stream (the header does not start with YUV4MPEG2)");
    }
    Y4mHeader header;
    bool haveWidth = false;
    bool haveHeight = false;
    std::string colourTag;
    std::string_view rest = line.substr(kY4mMagic.size());
    while (!rest.empty()) {
        const size_t space = rest.find(' ');
        const std::string_view token = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        if (token.empty()) continue;  // doubled spaces
        const char tag = token[0];
        const std::string_view value = token.substr(1);
        switch (tag) {
            case 'W':
                header.format.width = ParseSide(value, "width W");
                haveWidth = true;
                break;
            case 'H':
                header.format.height = ParseSide(value, "height H");
                haveHeight = true;
                break;
            case 'C':
                colourTag = std::string(value);
                break;
            case 'F':
                if (!IsRatio(value)) {
                    throw InputError("YUV4MPEG2 header: frame rate 'F" + std::string(value) +
                                     "' is not of the form N:D");
                }
                header.frameRate = std::string(value);
                break;
            case 'I':
                // Frames are filtered whole either way; keep a readable tag for the output.
                if (value == "p" || value == "t" || value == "b" || value == "m" || value == "?") {
                    header.interlace = std::string(value);
                }
                break;
            case 'A':
                if (IsRatio(value)) header.aspect = std::string(value);
                break;
            case 'X':
                header.extensions.emplace_back(value);
                break;
            default:
                break;  // tags this host does not know change nothing it does
        }
    }
    if (!haveWidth) throw InputError("YUV4MPEG2 header: no frame width (W tag)");
    if (!haveHeight) throw InputError("YUV4MPEG2 header: no frame height (H tag)");
    if (!colourTag.empty()) {
        if (!ParseY4mColourTag(colourTag, &header.format.chroma, &header.format.depth)) {
            throw InputError("YUV4MPEG2 header: unsupported colour space 'C" + colourTag +
                             "' (known: 420jpeg 420mpeg2 420paldv 420 422 444 mono, "
                             "420p9..16 422p9..16 444p9..16 mono9..16)");
        }
    }
    for (const std::string& x : header.extensions) {
        if (std::string_view(x).substr(0, kRangeTag.size()) == kRangeTag) {
            header.format.fullRange = Upper(x.substr(kRangeTag.size())) == "FULL";
        }
    }
    return header;
}

std::string FormatY4mHeader(const Y4mHeader& header) {
    const YuvFormat& f = header.format;
    std::string line(kY4mMagic);
    line += " W" + std::to_string(f.width) + " H" + std::to_string(f.height);
    line += " F" + (header.frameRate.empty() ? std::string("25:1") : header.frameRate);
    if (!header.interlace.empty()) line += " I" + header.interlace;
    if (!header.aspect.empty()) line += " A" + header.aspect;
    const std::string colour = Y4mColourTag(f.chroma, f.depth);
    line += " C" + colour;
    bool rangeWritten = false;
    for (const std::string& x : header.extensions) {
        const std::string_view v(x);
        if (v.substr(0, kSubsamplingTag.size()) == kSubsamplingTag) {
            if (Upper(x.substr(kSubsamplingTag.size())) != Upper(colour)) continue;
        }
        if (v.substr(0, kRangeTag.size()) == kRangeTag) {
            if (rangeWritten) continue;
            line += std::string(" X") + std::string(kRangeTag) + (f.fullRange ? "FULL" : "LIMITED");
            rangeWritten = true;
            continue;
        }
        line += " X" + x;
    }
    if (f.fullRange && !rangeWritten) line += " X" + std::string(kRangeTag) + "FULL";
    line += '\n';
    return line;
}

bool IsY4mFrameHeader(std::string_view line) {
    return line.substr(0, kY4mFrameMagic.size()) == kY4mFrameMagic &&
           (line.size() == kY4mFrameMagic.size() || line[kY4mFrameMagic.size()] == ' ');
}

}  // namespace qv::cli
