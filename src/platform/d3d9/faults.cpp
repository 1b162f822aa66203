#include "platform/d3d9/faults.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/d3d9/com_object.h"

namespace qv::d3d9 {
namespace {

struct PendingFault {
    int callsLeft;  // the call that brings this to zero fails
    HRESULT code;
};

struct Controls {
    std::mutex mutex;
    std::map<std::string, std::vector<PendingFault>, std::less<>> faults;
    std::atomic<bool> failCreate{false};
    std::atomic<bool> lost{false};
    std::atomic<int> workers{0};
    std::atomic<bool> shuffled{false};
};

Controls& TheControls() {
    static Controls controls;
    return controls;
}

}  // namespace

std::atomic<size_t>& LiveObjects() {
    static std::atomic<size_t> live{0};
    return live;
}

std::optional<HRESULT> TakeInjectedResult(const char* operation) {
    Controls& c = TheControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    auto it = c.faults.find(std::string_view(operation));
    if (it == c.faults.end()) return std::nullopt;
    std::optional<HRESULT> result;
    std::vector<PendingFault>& pending = it->second;
    for (auto f = pending.begin(); f != pending.end();) {
        if (--f->callsLeft > 0) {
            ++f;
        } else if (!result) {
            result = f->code;
            f = pending.erase(f);
        } else {
            f->callsLeft = 1;  // one failure per call: a second one due now fails the next call
            ++f;
        }
    }
    if (pending.empty()) c.faults.erase(it);
    return result;
}

bool Direct3DCreateFails() { return TheControls().failCreate.load(); }
bool DevicesLost() { return TheControls().lost.load(); }

RowScheduling CurrentRowScheduling() {
    return RowScheduling{TheControls().workers.load(), TheControls().shuffled.load()};
}

namespace testing {

void FailOperation(const std::string& operation, int nth, HRESULT code) {
    if (nth < 1) return;
    Controls& c = TheControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.faults[operation].push_back(PendingFault{nth, code});
}

void FailDirect3DCreate(bool fail) { TheControls().failCreate = fail; }
void SetDeviceLost(bool lost) { TheControls().lost = lost; }

void ClearFaults() {
    Controls& c = TheControls();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.faults.clear();
    }
    c.failCreate = false;
    c.lost = false;
}

size_t LiveObjectCount() { return LiveObjects().load(); }

void SetRowScheduling(int workers, bool shuffled) {
    TheControls().workers = workers < 0 ? 0 : workers;
    TheControls().shuffled = shuffled;
}

}  // namespace testing
}  // namespace qv::d3d9
