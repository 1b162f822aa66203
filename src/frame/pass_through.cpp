#include "frame/pass_through.h"

#include <algorithm>
#include <cstring>

namespace qv::frame {

void PassThroughCopy(FilterInstance* instance, FrameRequest* request) {
    const YcPixel* source =
        instance->services->FetchSourceFrame(instance, request->edit, request->frame, nullptr, nullptr);
    if (!source || !request->editBuffer) return;
    const int32_t w = request->width;
    const int32_t h = request->height;
    if (w <= 0 || h <= 0) return;
    // Rows of the source lie as the host delivers them (back to back); never copy wider than
    // an edit-buffer row holds.
    const int32_t copied = request->rowLength > 0 ? std::min(w, request->rowLength) : w;
    const size_t sourcePitch = static_cast<size_t>(SourceRowSamples(w)) / 3;
    const size_t editPitch = static_cast<size_t>(request->rowLength > 0 ? request->rowLength : w);
    for (int32_t y = 0; y < h; ++y) {
        std::memcpy(request->editBuffer + y * editPitch, source + y * sourcePitch,
                    static_cast<size_t>(copied) * sizeof(YcPixel));
    }
}

}  // namespace qv::frame
