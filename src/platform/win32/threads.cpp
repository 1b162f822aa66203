// Threads and their priority values. Priorities are recorded per thread and read back; they
// are not applied to the Linux scheduler, where an unprivileged process can lower a thread's
// priority but never raise it again, and the render thread always runs one step above its
// caller.
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/win32/fault_injection.h"
#include "platform/win32/kernel_objects.h"
#include "platform/win32/win32.h"

namespace {

using qv::win32::Thread;

std::atomic<DWORD> gNextThreadId{1};

// The values SetThreadPriority accepts outside the real-time priority class.
bool IsPriorityValue(int priority) {
    return (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST) ||
           priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL;
}

void RunThread(std::shared_ptr<Thread> self, LPTHREAD_START_ROUTINE start, LPVOID param) {
    qv::win32::SetCurrentThreadPriorityRecord(&self->Priority());
    const DWORD exitCode = start(param);
    qv::win32::SetCurrentThreadPriorityRecord(nullptr);
    self->Finish(exitCode);
}

}  // namespace

HANDLE CreateThread(void* /*security*/, size_t /*stackSize*/, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD flags, DWORD* threadId) {
    // Threads run at once: there is no ResumeThread to start a suspended one.
    if (start == nullptr || (flags & ~STACK_SIZE_PARAM_IS_A_RESERVATION) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (qv::win32::ShouldFail("CreateThread")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto thread = std::make_shared<Thread>();
    // The handle exists before the thread runs, so the thread may at once be waited for.
    HANDLE handle = qv::win32::AddHandle(thread);
    try {
        // Detached: closing the handle of a running thread must not end or join it; the thread
        // holds its own reference to its object.
        std::thread(RunThread, std::move(thread), start, param).detach();
    } catch (const std::system_error&) {
        qv::win32::RemoveHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr) *threadId = gNextThreadId.fetch_add(1);
    return handle;
}

HANDLE GetCurrentThread() { return qv::win32::CurrentThreadPseudoHandle(); }

BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (!IsPriorityValue(priority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (qv::win32::ShouldFail("SetThreadPriority")) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    if (thread == qv::win32::CurrentThreadPseudoHandle()) {
        qv::win32::CurrentThreadPriority().value.store(priority);
        return 1;
    }
    const auto object = qv::win32::FindHandleOf<Thread>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    object->Priority().value.store(priority);
    return 1;
}

int GetThreadPriority(HANDLE thread) {
    if (thread == qv::win32::CurrentThreadPseudoHandle()) {
        return qv::win32::CurrentThreadPriority().value.load();
    }
    const auto object = qv::win32::FindHandleOf<Thread>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    return object->Priority().value.load();
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    const auto object = qv::win32::FindHandleOf<Thread>(thread);
    if (!object || exitCode == nullptr) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    *exitCode = object->ExitCode();
    return 1;
}

namespace qv::win32 {

int ThreadPriorityOf(HANDLE thread) { return GetThreadPriority(thread); }

}  // namespace qv::win32
