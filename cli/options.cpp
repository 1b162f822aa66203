#include "options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <iostream>

#include "byte_stream.h"
#include "errors.h"

namespace qv::cli {

namespace {

constexpr int kMaxThreads = 1024;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    const std::string t = Lower(text);
    return t.size() >= suffix.size() && t.compare(t.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int64_t NumberOption(const std::string& option, const std::string& text, int64_t low, int64_t high) {
    const auto value = ParseWholeNumber(text);
    if (!value) throw UsageError(option + ": '" + text + "' is not a whole number");
    if (*value < low || *value > high) {
        throw UsageError(option + ": " + text + " is out of range (" + std::to_string(low) + ".." +
                         std::to_string(high) + ")");
    }
    return *value;
}

// "WxH"
void ParseSize(const std::string& text, int* width, int* height) {
    const size_t x = Lower(text).find('x');
    if (x == std::string::npos) throw UsageError("--source-size: '" + text + "' is not of the form WxH");
    *width = static_cast<int>(NumberOption("--source-size width", text.substr(0, x), 1, kMaxFrameSide));
    *height = static_cast<int>(NumberOption("--source-size height", text.substr(x + 1), 1, kMaxFrameSide));
}

// "N:D" or "N"
std::string ParseRate(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string num = text.substr(0, colon);
    const std::string den = colon == std::string::npos ? "1" : text.substr(colon + 1);
    const int64_t n = NumberOption("--fps", num, 1, INT32_MAX);
    const int64_t d = NumberOption("--fps denominator", den, 1, INT32_MAX);
    return std::to_string(n) + ":" + std::to_string(d);
}

SnapshotRequest ParseSnapshot(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon + 1 >= text.size()) {
        throw UsageError("--snapshot: '" + text + "' is not of the form N:FILE.png");
    }
    SnapshotRequest s;
    s.frame = NumberOption("--snapshot frame", text.substr(0, colon), 0, INT32_MAX);
    s.path = text.substr(colon + 1);
    return s;
}

Dither ParseDither(const std::string& text) {
    if (text == "none") return Dither::kNone;
    if (text == "ordered") return Dither::kOrdered;
    if (text == "error-diffusion") return Dither::kErrorDiffusion;
    throw UsageError("--dither: '" + text + "' is not one of none, ordered, error-diffusion");
}

ClipKind InputKindOf(const Options& o, bool haveSourceSize) {
    if (o.input == kStandardStream) return haveSourceSize ? ClipKind::kYcp : ClipKind::kY4m;
    if (EndsWith(o.input, ".ycp")) {
        if (!haveSourceSize) throw UsageError(o.input + ": a .ycp input needs --source-size WxH");
        return ClipKind::kYcp;
    }
    if (EndsWith(o.input, ".y4m")) {
        if (haveSourceSize) throw UsageError("--source-size is for .ycp input; a .y4m clip states its size");
        return ClipKind::kY4m;
    }
    throw UsageError("INPUT '" + o.input + "' must be a .y4m or .ycp file, or - for standard input");
}

ClipKind OutputKindOf(const Options& o) {
    if (o.output == kStandardStream || EndsWith(o.output, ".y4m")) return ClipKind::kY4m;
    if (EndsWith(o.output, ".ycp")) return ClipKind::kYcp;
    throw UsageError("OUTPUT '" + o.output + "' must be a .y4m or .ycp file, or - for standard output");
}

}  // namespace

std::optional<int64_t> ParseWholeNumber(const std::string& text) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
        // from_chars takes a '-' of its own: "+-5" is not a number.
        if (begin != end && *begin == '-') return std::nullopt;
    }
    if (begin == end) return std::nullopt;
    int64_t value = 0;
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<Options> ParseOptions(int argc, const char* const* argv) {
    Options o;
    CLI::App app{"Runs the Quillervantis filter over a clip as a video editor does while saving a file.\n"
                 "INPUT: .y4m, .ycp (with --source-size) or - (YUV4MPEG2 on standard input).\n"
                 "OUTPUT: .y4m, .ycp or - (YUV4MPEG2 on standard output).",
                 "quillervantis"};
    app.get_formatter()->column_width(30);
    app.add_flag("--info", o.info, "Print the filter's descriptor, sliders, presets and adapters");
    app.add_option("INPUT", o.input, "Source clip");
    app.add_option("OUTPUT", o.output, "Filtered clip");

    std::array<std::string, host::kSliderCount> sliderText;
    for (int i = 0; i < host::kSliderCount; ++i) {
        const auto& slider = host::kSliderSpecs[i];
        app.add_option(std::string("--") + slider.name, sliderText[static_cast<size_t>(i)],
                       std::string("The filter's ") + slider.name + " slider (default " +
                           std::to_string(slider.defaultValue) + ")")
            ->type_name("N");
    }
    std::string plugin, sourceSize, outputChroma, outputDepth, dither, fps, threads, snapshot, retry;
    app.add_option("--plugin", plugin, "The filter module (default: Quillervantis.auf beside this program)")
        ->type_name("PATH");
    app.add_option("--source-size", sourceSize, "Frame size of a .ycp input")->type_name("WxH");
    app.add_option("--output-chroma", outputChroma,
                   "Output chroma: 420jpeg 420mpeg2 420paldv 420 422 444 mono (default: the input's; "
                   "444 for .ycp input)")
        ->type_name("LAYOUT");
    app.add_option("--output-depth", outputDepth, "Output bits per sample, 8..16 (default: the input's; 16 for .ycp input)")
        ->type_name("BITS");
    app.add_option("--dither", dither, "Dither when reducing depth: none, ordered (default), error-diffusion")
        ->type_name("KIND");
    app.add_option("--fps", fps, "Output frame rate (default: the input's; 30:1 for .ycp input)")->type_name("N:D");
    app.add_option("--threads", threads, "Host worker threads (default: one per core)")->type_name("N");
    app.add_flag("--preview", o.preview, "Process as an editor previewing, not saving (no render-ahead)");
    app.add_flag("-q,--quiet", o.quiet, "No progress line and no summary");
    app.add_flag("--allow-passthrough", o.allowPassthrough,
                 "Write frames unfiltered when the filter's GPU path is disabled, instead of stopping");
    app.add_option("--snapshot", snapshot, "Write frame N as a PNG: source | result, side by side")
        ->type_name("N:FILE.png");
    app.add_option("--retry-device", retry, "Answer the filter's device-creation box Retry up to N times")
        ->type_name("N");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }

    for (int i = 0; i < host::kSliderCount; ++i) {
        const std::string name = std::string("--") + host::kSliderSpecs[i].name;
        if (app.count(name) == 0) continue;
        o.sliders[static_cast<size_t>(i)] =
            static_cast<int32_t>(NumberOption(name, sliderText[static_cast<size_t>(i)], INT32_MIN, INT32_MAX));
    }
    if (app.count("--plugin") > 0) {
        if (plugin.empty()) throw UsageError("--plugin: empty path");
        o.plugin = plugin;
    }
    if (app.count("--threads") > 0) o.threads = static_cast<int>(NumberOption("--threads", threads, 1, kMaxThreads));
    if (app.count("--retry-device") > 0) o.retryDevice = static_cast<int>(NumberOption("--retry-device", retry, 0, 1000));
    if (app.count("--dither") > 0) o.dither = ParseDither(dither);
    if (o.info) return o;

    if (o.input.empty() || o.output.empty()) {
        throw UsageError("INPUT and OUTPUT are required (quillervantis [options] INPUT OUTPUT; --help lists the options)");
    }
    const bool haveSourceSize = app.count("--source-size") > 0;
    if (haveSourceSize) ParseSize(sourceSize, &o.sourceWidth, &o.sourceHeight);
    o.inputKind = InputKindOf(o, haveSourceSize);
    o.outputKind = OutputKindOf(o);
    if (app.count("--output-chroma") > 0) {
        o.outputChroma = ParseChromaName(outputChroma);
        if (!o.outputChroma) {
            throw UsageError("--output-chroma: '" + outputChroma +
                             "' is not one of 420jpeg 420mpeg2 420paldv 420 422 444 mono");
        }
    }
    if (app.count("--output-depth") > 0) {
        o.outputDepth = static_cast<int>(NumberOption("--output-depth", outputDepth, kMinDepth, kMaxDepth));
    }
    if (app.count("--fps") > 0) o.frameRate = ParseRate(fps);
    if (o.outputKind == ClipKind::kYcp && (o.outputChroma || o.outputDepth || !o.frameRate.empty())) {
        throw UsageError("--output-chroma, --output-depth and --fps are for .y4m output; .ycp holds host pixels");
    }
    if (app.count("--snapshot") > 0) o.snapshot = ParseSnapshot(snapshot);
    return o;
}

}  // namespace qv::cli
