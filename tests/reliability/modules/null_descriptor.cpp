// A module whose GetFilterTable hands out no descriptor: the host must refuse it rather than
// read through the null pointer.
extern "C" __attribute__((visibility("default"))) void* GetFilterTable() { return nullptr; }
