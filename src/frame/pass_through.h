// The pass-through copy: source frame n into the edit buffer, unchanged, at the source size.
#pragma once

#include "host/host_records.h"

namespace qv::frame {

void PassThroughCopy(FilterInstance* instance, FrameRequest* request);

}  // namespace qv::frame
