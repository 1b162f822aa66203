// The command line: quillervantis [options] INPUT OUTPUT, or quillervantis --info.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "host/sliders.h"
#include "yuv_converter.h"
#include "yuv_format.h"

namespace qv::cli {

enum class ClipKind { kY4m, kYcp };

struct SnapshotRequest {
    int64_t frame = 0;
    std::string path;
};

struct Options {
    bool info = false;
    std::string input;
    std::string output;
    ClipKind inputKind = ClipKind::kY4m;
    ClipKind outputKind = ClipKind::kY4m;
    std::string plugin;  // empty: beside the executable
    int sourceWidth = 0;   // .ycp input only
    int sourceHeight = 0;
    std::optional<Chroma> outputChroma;
    std::optional<int> outputDepth;
    // Ordered by default: its pattern is fixed, so still areas stay still from frame to frame,
    // where error diffusion's pattern moves with every change of the image (and costs twice the
    // whole output conversion at 1080p).
    Dither dither = Dither::kOrdered;
    std::string frameRate;  // "N:D"; empty: the input's
    // One value per slider given on the command line, by the filter's slider order.
    std::array<std::optional<int32_t>, host::kSliderCount> sliders;
    int threads = 0;  // 0: one per core
    bool preview = false;
    bool quiet = false;
    bool allowPassthrough = false;
    std::optional<SnapshotRequest> snapshot;
    int retryDevice = 0;
};

// Parses and checks the command line. Returns nothing when --help was printed. Throws
// UsageError with one line naming the option and what is wrong with it.
std::optional<Options> ParseOptions(int argc, const char* const* argv);

// Strict whole-number parsing for option values: optional sign, digits, nothing else, in range.
std::optional<int64_t> ParseWholeNumber(const std::string& text);

}  // namespace qv::cli
