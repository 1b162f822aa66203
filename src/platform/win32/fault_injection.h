// Test-driven failures of the stand-in's calls: a pending injection makes the named call fail
// once, on the call it was counted down to.
#pragma once

namespace qv::win32 {

// Counts this call against the pending injections for `call`; true when this call is to fail.
bool ShouldFail(const char* call);

}  // namespace qv::win32
