// Events, waits and handle closing.
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/win32/fault_injection.h"
#include "platform/win32/kernel_objects.h"
#include "platform/win32/win32.h"

namespace {

using qv::win32::Event;

thread_local DWORD tLastError = ERROR_SUCCESS;

// Named events: a second CreateEventA with the same name opens the same event.
struct NamedEvents {
    std::mutex mutex;
    std::unordered_map<std::string, std::weak_ptr<Event>> events;
};

NamedEvents& TheNamedEvents() {
    static NamedEvents* named = new NamedEvents;
    return *named;
}

}  // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD error) { tLastError = error; }

HANDLE CreateEventA(void* /*security*/, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (qv::win32::ShouldFail("CreateEventA")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (name == nullptr || *name == '\0') {
        SetLastError(ERROR_SUCCESS);
        return qv::win32::AddHandle(std::make_shared<Event>(manualReset != 0, initialState != 0));
    }
    NamedEvents& named = TheNamedEvents();
    std::lock_guard<std::mutex> lock(named.mutex);
    std::weak_ptr<Event>& slot = named.events[name];
    std::shared_ptr<Event> event = slot.lock();
    if (event) {
        // As Windows: the existing event is opened and the flags of this call are ignored.
        SetLastError(ERROR_ALREADY_EXISTS);
    } else {
        event = std::make_shared<Event>(manualReset != 0, initialState != 0);
        slot = event;
        SetLastError(ERROR_SUCCESS);
    }
    return qv::win32::AddHandle(event);
}

BOOL SetEvent(HANDLE event) {
    const auto object = qv::win32::FindHandleOf<Event>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (qv::win32::ShouldFail("SetEvent")) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    object->Set();
    return 1;
}

BOOL ResetEvent(HANDLE event) {
    const auto object = qv::win32::FindHandleOf<Event>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (qv::win32::ShouldFail("ResetEvent")) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    object->Reset();
    return 1;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // A thread waiting for its own end would wait forever; refused like any invalid handle.
    const auto object = qv::win32::FindHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (qv::win32::ShouldFail("WaitForSingleObject")) {
        SetLastError(ERROR_GEN_FAILURE);
        return WAIT_FAILED;
    }
    return object->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == qv::win32::CurrentThreadPseudoHandle()) return 1;  // nothing to close
    if (!qv::win32::RemoveHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return 1;
}

namespace qv::win32 {

size_t LiveHandleCount() { return HandleCount(); }

}  // namespace qv::win32
