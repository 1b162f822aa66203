// The stand-in's side of the test controls declared in d3d9.h: injected failures, device loss
// and the optimised rasteriser's row scheduling, read by every operation that honours them.
#pragma once

#include <optional>

#include "platform/d3d9/d3d9.h"

namespace qv::d3d9 {

// Counts one call of `operation` and returns the injected result for it, if this is the call
// a test asked to fail. A success code comes back too: the operation then runs and reports it.
std::optional<HRESULT> TakeInjectedResult(const char* operation);

// One call's injected result, taken when the call starts:
//   const InjectedResult injected("LockRect");
//   if (injected.Fails()) return injected.Code();
//   ... the operation ...
//   return injected.Or(D3D_OK);
class InjectedResult {
public:
    explicit InjectedResult(const char* operation) : result_(TakeInjectedResult(operation)) {}
    bool Fails() const { return result_ && FAILED(*result_); }
    HRESULT Code() const { return *result_; }
    // The operation's own result, or the injected success code when both succeeded.
    HRESULT Or(HRESULT own) const { return result_ && SUCCEEDED(own) ? *result_ : own; }

private:
    std::optional<HRESULT> result_;
};

bool Direct3DCreateFails();
bool DevicesLost();

struct RowScheduling {
    int workers = 0;  // 0: one per core
    bool shuffled = false;
};
RowScheduling CurrentRowScheduling();

}  // namespace qv::d3d9
