// The five callbacks the descriptor hands the host.
#pragma once

#include "host/host_records.h"

namespace qv::host {

int32_t ProcessCallback(FilterInstance* instance, FrameRequest* request);
int32_t InitCallback(FilterInstance* instance);
int32_t ExitCallback(FilterInstance* instance);
int32_t UpdateCallback(FilterInstance* instance, int32_t status);
int32_t WindowMessageCallback(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                              EditHandle edit, FilterInstance* instance);

}  // namespace qv::host
