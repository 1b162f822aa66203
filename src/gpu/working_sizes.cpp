#include "gpu/working_sizes.h"

namespace qv::gpu {

QuadVertices BuildQuadVertices(const WorkingSizes& sizes) {
    QuadVertices v{};
    for (int q = 0; q < kQuadCount; ++q) {
        const QuadSize size = SizeOf(static_cast<Quad>(q), sizes);
        const float w = static_cast<float>(size.width);
        const float h = static_cast<float>(size.height);
        const float corners[kVerticesPerQuad][2] = {{0.0f, 0.0f}, {w, 0.0f}, {0.0f, h}, {w, h}};
        for (int k = 0; k < kVerticesPerQuad; ++k) {
            float* vertex = v.data() + (q * kVerticesPerQuad + k) * kFloatsPerVertex;
            vertex[0] = corners[k][0];
            vertex[1] = corners[k][1];
            vertex[2] = 0.0f;
            vertex[3] = 1.0f;
        }
    }
    return v;
}

}  // namespace qv::gpu
