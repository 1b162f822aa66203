// Opens the clips a run reads and writes, as the command line names them, and decides the
// output's format: the input's chroma layout, depth and tags unless options say otherwise.
#pragma once

#include <memory>
#include <optional>

#include "frame_reader.h"
#include "frame_writer.h"
#include "options.h"
#include "y4m_header.h"

namespace qv::cli {

struct OpenedSource {
    std::unique_ptr<FrameReader> reader;
    std::optional<Y4mHeader> header;  // a Y4M input's own header
};

// Throws InputError or UsageError.
OpenedSource OpenSource(const Options& options);

// The output stream's header, all but its size. A .ycp input gives 4:4:4 at 16 bits (the
// host's pixels without loss), 30:1 and square pixels unless options say otherwise. A 4:2:0
// output above 8 bits is written with centred chroma: its colour tag (420p10...) cannot state
// another siting, and centred is how such streams are read back.
Y4mHeader OutputHeader(const Options& options, const std::optional<Y4mHeader>& input);

// Creates the output file. Throws OutputError.
std::unique_ptr<FrameWriter> OpenWriter(const Options& options, const Y4mHeader& header);

}  // namespace qv::cli
