// Vertex buffers and the one vertex declaration the rasteriser understands: a single
// pre-transformed position of four floats (x, y, z, rhw) in stream 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/d3d9/com_object.h"

namespace qv::d3d9 {

inline constexpr UINT kScreenVertexBytes = 16;  // x, y, z, rhw

class VertexBuffer final : public RefCounted<IDirect3DVertexBuffer9> {
public:
    static HRESULT Create(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer);

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;

    UINT Length() const { return length_; }
    bool IsLocked() const { return locked_.load(std::memory_order_acquire); }
    const uint8_t* Bytes() const { return bytes_.get(); }

private:
    VertexBuffer(UINT length, std::unique_ptr<uint8_t[]> bytes);
    ~VertexBuffer() override = default;

    UINT length_;
    std::unique_ptr<uint8_t[]> bytes_;
    std::atomic<bool> locked_{false};
};

class VertexDeclaration final : public RefCounted<IDirect3DVertexDeclaration9> {
public:
    // Accepts exactly { stream 0, offset 0, FLOAT4, DEFAULT, POSITIONT, 0 }, D3DDECL_END().
    static HRESULT Create(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** declaration);

private:
    VertexDeclaration() = default;
    ~VertexDeclaration() override = default;
};

VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* buffer);
VertexDeclaration* AsVertexDeclaration(IDirect3DVertexDeclaration9* declaration);

}  // namespace qv::d3d9
