#include "platform/win32/kernel_objects.h"

#include <chrono>
#include <unordered_map>
#include <utility>

namespace qv::win32 {
namespace {

// Waits on `cv` until `ready` holds or the time runs out; INFINITE waits without limit.
template <typename Ready>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD milliseconds,
             Ready ready) {
    if (milliseconds == INFINITE) {
        cv.wait(lock, ready);
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return cv.wait_until(lock, deadline, ready);
}

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Windows handles are multiples of 4; never reused, so a closed handle stays invalid.
    uintptr_t next = 0x100;
};

HandleTable& TheHandleTable() {
    // Never destroyed: detached threads may still wait or signal while the process exits.
    static HandleTable* table = new HandleTable;
    return *table;
}

thread_local PriorityRecord tOwnPriority;
thread_local PriorityRecord* tCreatedThreadPriority = nullptr;

}  // namespace

void Event::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    // One waiter takes an auto-reset signal; a manual-reset one releases them all.
    if (manualReset_) {
        changed_.notify_all();
    } else {
        changed_.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool Event::Wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!WaitFor(changed_, lock, milliseconds, [this] { return signalled_; })) return false;
    if (!manualReset_) signalled_ = false;
    return true;
}

void Thread::Finish(DWORD exitCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    exitCode_ = exitCode;
    finished_.notify_all();
}

bool Thread::Wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return WaitFor(finished_, lock, milliseconds, [this] { return done_; });
}

DWORD Thread::ExitCode() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_ ? exitCode_ : STILL_ACTIVE;
}

PriorityRecord& CurrentThreadPriority() {
    return tCreatedThreadPriority != nullptr ? *tCreatedThreadPriority : tOwnPriority;
}

void SetCurrentThreadPriorityRecord(PriorityRecord* record) { tCreatedThreadPriority = record; }

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = TheHandleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
    HandleTable& table = TheHandleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> removed;  // destroyed after the lock is released
    HandleTable& table = TheHandleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return false;
    removed = std::move(it->second);
    table.objects.erase(it);
    return true;
}

size_t HandleCount() {
    HandleTable& table = TheHandleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.objects.size();
}

}  // namespace qv::win32
