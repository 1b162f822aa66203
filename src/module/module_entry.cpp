// The module's only export: the host finds the filter through it.
#include "host/filter_table.h"

extern "C" __attribute__((visibility("default"))) qv::FilterDescriptor* GetFilterTable() {
    return qv::host::GetFilterTable();
}
