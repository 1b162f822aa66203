// Counted interface references held by the context: a holder is emptied before its object is
// released, so no one can reach an object that is going away.
#pragma once

namespace qv::gpu {

template <class Interface>
void ReleaseHolder(Interface*& holder) {
    Interface* object = holder;
    holder = nullptr;
    if (object) object->Release();
}

}  // namespace qv::gpu
