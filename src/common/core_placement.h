// Where the pool's sleeping threads wake. A thread woken by another is usually queued on its
// waker's core, and on a virtual machine whose other core has halted it can wait there for
// milliseconds while that core stays idle, so two threads of one job share a core. The pool
// therefore keeps a sleeping worker off its waker's core for the moment of the wake-up, and the
// worker lets itself go anywhere again once it runs.
#pragma once

#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace qv {

class CorePlacement {
public:
    // The cores the constructing thread may run on, as the threads it starts inherit them.
    CorePlacement();

    // False where placement cannot be chosen: one usable core, or no way to set affinity here.
    bool Useful() const { return useful_; }

    // Keeps `thread` off the calling thread's current core (within the usable cores).
    void KeepOffCallersCore(std::thread& thread) const;

    // Lets the calling thread run on every usable core again.
    void Release() const;

private:
    bool useful_ = false;
#if defined(__linux__)
    cpu_set_t usable_;
#endif
};

}  // namespace qv
