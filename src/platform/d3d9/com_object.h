// COM-style reference counting for the stand-in's objects. Counts are atomic because the
// render thread and the processing thread hold and release references to the same objects.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "platform/d3d9/d3d9.h"

namespace qv::d3d9 {

// Objects whose reference count is above zero; testing::LiveObjectCount reports it.
std::atomic<size_t>& LiveObjects();

// A Release without a matching reference is a caller's bug that a real runtime would turn into
// a use after free; the stand-in stops at once with a message naming it.
[[noreturn]] inline void ReferenceCountUnderflow(const char* what) {
    std::fprintf(stderr, "d3d9: Release of %s that holds no reference\n", what);
    std::abort();
}

// Implements AddRef/Release for an interface; the object deletes itself at zero. It starts
// with one reference, the one its creator hands out.
template <class Interface>
class RefCounted : public Interface {
public:
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG Release() override {
        const ULONG before = refs_.fetch_sub(1, std::memory_order_acq_rel);
        if (before == 0) ReferenceCountUnderflow("an object");
        if (before == 1) delete this;
        return before - 1;
    }

protected:
    RefCounted() { LiveObjects().fetch_add(1, std::memory_order_relaxed); }
    ~RefCounted() override { LiveObjects().fetch_sub(1, std::memory_order_relaxed); }

private:
    std::atomic<ULONG> refs_{1};
};

// Releases a held reference, if any, and empties the holder.
template <class T>
inline void ReleaseRef(T*& holder) {
    if (T* object = holder) {
        holder = nullptr;
        object->Release();
    }
}

// Replaces a held reference: the new object gains a reference before the old one loses its own,
// so setting the same object again is safe.
template <class T>
inline void AssignRef(T*& holder, T* object) {
    if (object) object->AddRef();
    T* old = holder;
    holder = object;
    if (old) old->Release();
}

}  // namespace qv::d3d9
