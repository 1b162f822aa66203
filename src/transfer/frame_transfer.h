// The two frame transfers: the source frame into the input texture Tex before the passes run,
// and the packed result from the read-back surface into the host's edit buffer after them.
// Both convert rows on the host's worker threads (packed_frame.h).
#pragma once

#include <cstdint>

#include "host/host_records.h"

namespace qv::transfer {

// Locks Tex (discarding its content), converts source frame n into it and unlocks it, at the
// source size the working textures were built for. A failed lock or unlock shows its box and
// returns false; nothing is released here, the caller decides.
bool UploadFrame(FilterInstance* instance, FrameRequest* request, int32_t n);

// Locks the read-back surface read-only, converts the target-size result into the request's
// edit buffer and unlocks it. A failed lock or unlock releases everything, then shows its box
// and returns false.
bool DownloadFrame(FilterInstance* instance, FrameRequest* request);

}  // namespace qv::transfer
