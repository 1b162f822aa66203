// The host may call the user-interface callbacks (update, window message, exit) on its
// interface thread while its processing thread is inside a process call. Those callbacks may
// release every graphics object, so all callbacks take this lock: a release never lands in the
// middle of a frame. The render thread never takes it.
#pragma once

#include <mutex>

namespace qv::host {

std::mutex& CallbackMutex();

}  // namespace qv::host
