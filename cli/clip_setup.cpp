#include "clip_setup.h"

#include "byte_stream.h"
#include "y4m_reader.h"
#include "y4m_writer.h"
#include "ycp_reader.h"
#include "ycp_writer.h"

namespace qv::cli {

namespace {

// A .ycp clip states no rate or pixel shape.
Y4mHeader RawClipHeader() {
    Y4mHeader header{YuvFormat{0, 0, Chroma::k444, kMaxDepth, false}, "30:1", "p", "1:1", {}};
    return header;
}

bool Is420(Chroma c) { return c == Chroma::k420Jpeg || c == Chroma::k420Mpeg2 || c == Chroma::k420Paldv; }

}  // namespace

OpenedSource OpenSource(const Options& options) {
    OpenedSource source;
    InputFile input = InputFile::Open(options.input);
    if (options.inputKind == ClipKind::kYcp) {
        source.reader = std::make_unique<YcpReader>(std::move(input), options.sourceWidth, options.sourceHeight);
    } else {
        auto reader = std::make_unique<Y4mReader>(std::move(input));
        source.header = reader->Header();
        source.reader = std::move(reader);
    }
    return source;
}

Y4mHeader OutputHeader(const Options& options, const std::optional<Y4mHeader>& input) {
    Y4mHeader header = input ? *input : RawClipHeader();
    if (options.outputChroma) header.format.chroma = *options.outputChroma;
    if (options.outputDepth) header.format.depth = *options.outputDepth;
    if (!options.frameRate.empty()) header.frameRate = options.frameRate;
    if (header.format.depth > 8 && Is420(header.format.chroma)) header.format.chroma = Chroma::k420Jpeg;
    return header;
}

std::unique_ptr<FrameWriter> OpenWriter(const Options& options, const Y4mHeader& header) {
    OutputFile output = OutputFile::Open(options.output);
    if (options.outputKind == ClipKind::kYcp) return std::make_unique<YcpWriter>(std::move(output));
    return std::make_unique<Y4mWriter>(std::move(output), header, options.dither);
}

}  // namespace qv::cli
