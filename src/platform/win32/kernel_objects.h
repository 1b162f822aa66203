// The waitable objects behind event and thread handles, and the table that maps handles to
// them. A handle is a number, never a pointer: a stale or foreign handle is refused, not
// followed. Objects are shared, so a wait in progress keeps its object alive across a close.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

#include "platform/win32/win32.h"

namespace qv::win32 {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Waits until the object is signalled or `milliseconds` pass (INFINITE: no limit). True
    // when signalled; an auto-reset event is reset by the wait that takes its signal.
    virtual bool Wait(DWORD milliseconds) = 0;
};

class Event final : public KernelObject {
public:
    Event(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}
    void Set();
    void Reset();
    bool Wait(DWORD milliseconds) override;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const bool manualReset_;
    bool signalled_;
};

// A thread's priority value as SetThreadPriority recorded it.
struct PriorityRecord {
    std::atomic<int> value{THREAD_PRIORITY_NORMAL};
};

// A thread started by CreateThread. Signalled once its start routine has returned.
class Thread final : public KernelObject {
public:
    void Finish(DWORD exitCode);
    bool Wait(DWORD milliseconds) override;
    // The start routine's result once it returned, STILL_ACTIVE before.
    DWORD ExitCode();
    PriorityRecord& Priority() { return priority_; }

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    DWORD exitCode_ = 0;
    PriorityRecord priority_;
};

// The pseudo-handle GetCurrentThread returns; it names whichever thread uses it.
inline HANDLE CurrentThreadPseudoHandle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

// The priority record of the calling thread: its Thread's when CreateThread started it,
// otherwise one of its own.
PriorityRecord& CurrentThreadPriority();
// Makes `record` the calling thread's record while a created thread runs (null: its own).
void SetCurrentThreadPriorityRecord(PriorityRecord* record);

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);
size_t HandleCount();

template <typename T>
std::shared_ptr<T> FindHandleOf(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

}  // namespace qv::win32
