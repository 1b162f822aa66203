#include "yuv_format.h"

#include <charconv>

namespace qv::cli {

namespace {

struct ChromaNaming {
    Chroma chroma;
    const char* name;   // --output-chroma and the Y4M tag at 8 bits
    const char* label;
};

constexpr ChromaNaming kChromaNames[] = {
    {Chroma::k420Jpeg, "420jpeg", "4:2:0"}, {Chroma::k420Mpeg2, "420mpeg2", "4:2:0 (mpeg2 siting)"},
    {Chroma::k420Paldv, "420paldv", "4:2:0 (paldv siting)"}, {Chroma::k422, "422", "4:2:2"},
    {Chroma::k444, "444", "4:4:4"}, {Chroma::kMono, "mono", "mono"},
};

const ChromaNaming& Naming(Chroma chroma) {
    for (const auto& n : kChromaNames) {
        if (n.chroma == chroma) return n;
    }
    return kChromaNames[0];
}

// Parses a depth suffix of 9..16 bits ("10" of "420p10"). Leading zeros and signs are refused.
bool ParseDepthSuffix(std::string_view text, int* depth) {
    if (text.empty() || text[0] == '0') return false;
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    if (value <= kMinDepth || value > kMaxDepth) return false;
    *depth = value;
    return true;
}

}  // namespace

int PlaneCount(Chroma chroma) { return chroma == Chroma::kMono ? 1 : 3; }

int ChromaShiftX(Chroma chroma) {
    switch (chroma) {
        case Chroma::k420Jpeg:
        case Chroma::k420Mpeg2:
        case Chroma::k420Paldv:
        case Chroma::k422:
            return 1;
        case Chroma::k444:
        case Chroma::kMono:
            return 0;
    }
    return 0;
}

int ChromaShiftY(Chroma chroma) {
    switch (chroma) {
        case Chroma::k420Jpeg:
        case Chroma::k420Mpeg2:
        case Chroma::k420Paldv:
            return 1;
        case Chroma::k422:
        case Chroma::k444:
        case Chroma::kMono:
            return 0;
    }
    return 0;
}

int PlaneWidth(const YuvFormat& format, int plane) {
    if (plane == 0) return format.width;
    const int shift = ChromaShiftX(format.chroma);
    return (format.width + (1 << shift) - 1) >> shift;
}

int PlaneHeight(const YuvFormat& format, int plane) {
    if (plane == 0) return format.height;
    const int shift = ChromaShiftY(format.chroma);
    return (format.height + (1 << shift) - 1) >> shift;
}

int BytesPerSample(int depth) { return depth > 8 ? 2 : 1; }

size_t PlaneBytes(const YuvFormat& format, int plane) {
    return static_cast<size_t>(PlaneWidth(format, plane)) *
           static_cast<size_t>(PlaneHeight(format, plane)) *
           static_cast<size_t>(BytesPerSample(format.depth));
}

size_t FrameBytes(const YuvFormat& format) {
    size_t total = 0;
    for (int p = 0; p < PlaneCount(format.chroma); ++p) total += PlaneBytes(format, p);
    return total;
}

std::optional<Chroma> ParseChromaName(std::string_view name) {
    if (name == "420") return Chroma::k420Jpeg;
    for (const auto& n : kChromaNames) {
        if (name == n.name) return n.chroma;
    }
    return std::nullopt;
}

const char* ChromaName(Chroma chroma) { return Naming(chroma).name; }
const char* ChromaLabel(Chroma chroma) { return Naming(chroma).label; }

bool ParseY4mColourTag(std::string_view tag, Chroma* chroma, int* depth) {
    // 8-bit forms: the names themselves.
    if (const auto c = ParseChromaName(tag)) {
        *chroma = *c;
        *depth = 8;
        return true;
    }
    // Deeper forms: 420pN, 422pN, 444pN, monoN.
    struct Family {
        std::string_view prefix;
        Chroma chroma;
    };
    constexpr Family kFamilies[] = {{"420p", Chroma::k420Jpeg},
                                    {"422p", Chroma::k422},
                                    {"444p", Chroma::k444},
                                    {"mono", Chroma::kMono}};
    for (const auto& f : kFamilies) {
        if (tag.substr(0, f.prefix.size()) != f.prefix) continue;
        int d = 0;
        if (!ParseDepthSuffix(tag.substr(f.prefix.size()), &d)) return false;
        *chroma = f.chroma;
        *depth = d;
        return true;
    }
    return false;
}

std::string Y4mColourTag(Chroma chroma, int depth) {
    if (depth <= 8) return ChromaName(chroma);
    const std::string bits = std::to_string(depth);
    switch (chroma) {
        case Chroma::k420Jpeg:
        case Chroma::k420Mpeg2:
        case Chroma::k420Paldv:
            return "420p" + bits;
        case Chroma::k422:
            return "422p" + bits;
        case Chroma::k444:
            return "444p" + bits;
        case Chroma::kMono:
            return "mono" + bits;
    }
    return "444p" + bits;
}

}  // namespace qv::cli
