#include "gpu/gpu_context.h"

#include "gpu/device_lifecycle.h"

namespace qv::gpu {

namespace {

// When the module is unloaded, every reference the context still holds is released. The
// exit callback normally released everything already; the render thread is not stopped here
// because it must not outlive the exit callback.
struct ContextStorage {
    GpuContext context;
    ~ContextStorage() { ReleaseHeldObjects(context); }
};

}  // namespace

GpuContext& Context() {
    static ContextStorage storage;
    return storage.context;
}

}  // namespace qv::gpu
