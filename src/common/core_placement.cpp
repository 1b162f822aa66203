#include "common/core_placement.h"

#if defined(__linux__)
#include <pthread.h>
#endif

namespace qv {

#if defined(__linux__)

CorePlacement::CorePlacement() {
    CPU_ZERO(&usable_);
    useful_ = sched_getaffinity(0, sizeof(usable_), &usable_) == 0 && CPU_COUNT(&usable_) > 1;
}

void CorePlacement::KeepOffCallersCore(std::thread& thread) const {
    if (!useful_) return;
    const int here = sched_getcpu();
    if (here < 0 || here >= CPU_SETSIZE || !CPU_ISSET(here, &usable_)) return;
    cpu_set_t elsewhere = usable_;
    CPU_CLR(here, &elsewhere);
    // A refusal leaves the thread where the scheduler puts it, as without placement.
    (void)pthread_setaffinity_np(thread.native_handle(), sizeof(elsewhere), &elsewhere);
}

void CorePlacement::Release() const {
    if (!useful_) return;
    (void)pthread_setaffinity_np(pthread_self(), sizeof(usable_), &usable_);
}

#else

CorePlacement::CorePlacement() = default;
void CorePlacement::KeepOffCallersCore(std::thread&) const {}
void CorePlacement::Release() const {}

#endif

}  // namespace qv
