#include "platform/win32/fault_injection.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/win32.h"

namespace qv::win32 {
namespace {

constexpr std::string_view kInjectableCalls[] = {
    "FindResourceA",      "LoadResource",     "LockResource",        "SizeofResource",
    "CreateThread",       "CreateEventA",     "SetEvent",            "ResetEvent",
    "WaitForSingleObject", "SetThreadPriority", "GetModuleFileNameA",
};

struct Injection {
    std::string call;
    int remaining;  // calls still to pass before the one that fails
};

struct Injections {
    std::mutex mutex;
    std::vector<Injection> pending;
};

Injections& TheInjections() {
    // Never destroyed: threads that outlive main may still make calls.
    static Injections* injections = new Injections;
    return *injections;
}

}  // namespace

void InjectFailure(const std::string& call, int nth) {
    if (std::find(std::begin(kInjectableCalls), std::end(kInjectableCalls), call) ==
        std::end(kInjectableCalls)) {
        throw std::invalid_argument("InjectFailure: no injectable call named \"" + call + "\"");
    }
    if (nth < 1) {
        throw std::invalid_argument("InjectFailure: call count " + std::to_string(nth) +
                                    " for " + call + " is not 1 or more");
    }
    Injections& injections = TheInjections();
    std::lock_guard<std::mutex> lock(injections.mutex);
    injections.pending.push_back({call, nth - 1});
}

void ClearInjectedFailures() {
    Injections& injections = TheInjections();
    std::lock_guard<std::mutex> lock(injections.mutex);
    injections.pending.clear();
}

bool ShouldFail(const char* call) {
    Injections& injections = TheInjections();
    std::lock_guard<std::mutex> lock(injections.mutex);
    bool fail = false;
    // Each injection counts every call; the ones that reach their call fire and are dropped.
    for (auto it = injections.pending.begin(); it != injections.pending.end();) {
        if (it->call == call && it->remaining-- == 0) {
            fail = true;
            it = injections.pending.erase(it);
        } else {
            ++it;
        }
    }
    return fail;
}

}  // namespace qv::win32
