// A shared object that loads like a filter module but has no GetFilterTable export: the host
// must refuse it by name, not call into it.
extern "C" __attribute__((visibility("default"))) int QuillervantisLookalike() { return 1; }
