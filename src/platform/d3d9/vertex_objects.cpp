#include "platform/d3d9/vertex_objects.h"

#include <cstring>
#include <new>

#include "platform/d3d9/faults.h"

namespace qv::d3d9 {
namespace {

constexpr DWORD kKnownBufferUsages = D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC;
constexpr DWORD kKnownBufferLockFlags = D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_DISCARD;
constexpr uint16_t kEndStream = 0xFF;

bool IsScreenPosition(const D3DVERTEXELEMENT9& e) {
    return e.Stream == 0 && e.Offset == 0 && e.Type == D3DDECLTYPE_FLOAT4 && e.Method == D3DDECLMETHOD_DEFAULT &&
           e.Usage == D3DDECLUSAGE_POSITIONT && e.UsageIndex == 0;
}

bool IsEnd(const D3DVERTEXELEMENT9& e) {
    return e.Stream == kEndStream && e.Offset == 0 && e.Type == D3DDECLTYPE_UNUSED && e.Method == 0 && e.Usage == 0 &&
           e.UsageIndex == 0;
}

}  // namespace

VertexBuffer::VertexBuffer(UINT length, std::unique_ptr<uint8_t[]> bytes) : length_(length), bytes_(std::move(bytes)) {}

HRESULT VertexBuffer::Create(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    // Vertices are described by the declaration, never by a flexible vertex format.
    if (length == 0 || fvf != 0 || (usage & ~kKnownBufferUsages) != 0) return D3DERR_INVALIDCALL;
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[length]);
    if (!bytes) return D3DERR_OUTOFVIDEOMEMORY;
    std::memset(bytes.get(), 0, length);
    auto* created = new (std::nothrow) VertexBuffer(length, std::move(bytes));
    if (!created) return E_OUTOFMEMORY;
    *buffer = created;
    return D3D_OK;
}

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    const InjectedResult injected("Lock");
    if (injected.Fails()) return injected.Code();
    if ((flags & ~kKnownBufferLockFlags) != 0) return D3DERR_INVALIDCALL;
    // Size 0 locks from the offset to the end (offset 0, size 0: the whole buffer).
    if (offset > length_ || (offset == length_ && size == 0) || size > length_ - offset) return D3DERR_INVALIDCALL;
    bool expected = false;
    if (!locked_.compare_exchange_strong(expected, true, std::memory_order_acquire)) return D3DERR_INVALIDCALL;
    *data = bytes_.get() + offset;
    return injected.Or(D3D_OK);
}

HRESULT VertexBuffer::Unlock() {
    const InjectedResult injected("Unlock");
    if (injected.Fails()) return injected.Code();
    bool expected = true;
    if (!locked_.compare_exchange_strong(expected, false, std::memory_order_release)) return D3DERR_INVALIDCALL;
    return injected.Or(D3D_OK);
}

HRESULT VertexDeclaration::Create(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** declaration) {
    if (!declaration) return D3DERR_INVALIDCALL;
    *declaration = nullptr;
    if (!elements || !IsScreenPosition(elements[0]) || !IsEnd(elements[1])) return D3DERR_INVALIDCALL;
    auto* created = new (std::nothrow) VertexDeclaration();
    if (!created) return E_OUTOFMEMORY;
    *declaration = created;
    return D3D_OK;
}

VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* buffer) { return dynamic_cast<VertexBuffer*>(buffer); }
VertexDeclaration* AsVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    return dynamic_cast<VertexDeclaration*>(declaration);
}

}  // namespace qv::d3d9
