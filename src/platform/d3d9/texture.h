// Textures of one level in the two formats the filter uses, and their level-0 surface.
// Rows are padded (the pitch is never width x texel size), a new texture holds a fill pattern
// rather than zeros (laid down when its texels are first reached, so a texture no pass touches
// costs no memory), and only lockable textures (dynamic, or in system memory) can be locked,
// so code that leans on what a real driver does not promise goes wrong visibly. A discarding
// lock keeps the old texels, one of the outcomes a driver may give: refilling a full-frame
// texture on every upload would cost the frame more than it finds.
//
// A read-back (GetRenderTargetData) copies nothing at first: the system-memory texture records
// the render target as the holder of its texels, and a read-only lock of it reads the target's
// own storage. When the target is about to be drawn to, the two exchange their storage, so the
// read-back keeps what the target held; a draw that does not cover the whole target then has
// the old texels copied back into it. Anything else that reaches the system-memory texture
// (a writable lock, sampling) gets a copy of its own first. A frame's read-back thus costs a
// copy only where the draw after it could not be known to replace the whole target.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "common/large_block.h"
#include "platform/d3d9/com_object.h"
#include "platform/d3d9/pixel_program.h"

namespace qv::d3d9 {

inline constexpr UINT kMaxTextureSize = 16384;
inline constexpr size_t kRowAlignment = 64;
// Bytes every row carries past its last texel.
inline constexpr size_t kRowSlack = 64;
// What the texels and row padding of a new texture hold.
inline constexpr uint8_t kFillByte = 0xA5;

class Texture;

// The level-0 surface: one object per texture, counted on its own. While anyone holds it, it
// keeps its texture alive.
class Surface final : public IDirect3DSurface9 {
public:
    explicit Surface(Texture& owner) : owner_(owner) {}
    ~Surface() override = default;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    Texture& Owner() const { return owner_; }

private:
    Texture& owner_;
    std::atomic<ULONG> refs_{0};
};

class Texture final : public RefCounted<IDirect3DTexture9> {
public:
    // Checks the arguments as CreateTexture does and builds the texture.
    static HRESULT Create(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture);

    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    const D3DSURFACE_DESC& Desc() const { return desc_; }
    bool IsRenderTarget() const { return (desc_.Usage & D3DUSAGE_RENDERTARGET) != 0; }
    bool IsLocked() const { return locked_.load(std::memory_order_acquire); }
    uint8_t* Bits() const;

    gfx::TextureView View() const;
    gfx::TargetView Target() const;

    // Lays down the fill pattern if the texels have not been reached yet; a runner (rows, band)
    // spreads the rows over workers.
    using RowRunner = std::function<void(int rows, const std::function<void(int y0, int y1)>& band)>;
    void EnsureFilled(const RowRunner* runner = nullptr) const;

    // The level-0 lock shared by the texture and its surface.
    HRESULT LockLevel0(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
    HRESULT UnlockLevel0();

    // Claims the lock for an internal copy; false when a caller holds it.
    bool TryLockForCopy();
    void UnlockAfterCopy();

    // The read-back of `target` (a render target) into `destination` (a system-memory texture
    // of the same size and format), both filled, put off as described above.
    static void ReadBack(Texture& target, Texture& destination);
    // Called before a draw writes this render target: a read-back waiting on it takes its
    // storage. `whole`: the draw replaces every texel, so the old ones need not stay.
    void BeforeDraw(bool whole);

private:
    Texture(const D3DSURFACE_DESC& desc, size_t texelBytes, ptrdiff_t pitch,
            std::unique_ptr<uint8_t[], LargeBlockFree> bits);
    ~Texture() override;

    void FillRows(int y0, int y1) const;
    // Bytes of storage: every row with its padding.
    size_t StorageBytes() const { return static_cast<size_t>(pitch_) * static_cast<size_t>(desc_.Height); }
    // The read-back's two sides exchange their storage and part; `keepTarget`: the target's
    // texels are copied back from the storage it gave up. Under the read-back lock, and never
    // while a draw may be sampling the target.
    static void HandOver(Texture& target, Texture& destination, bool keepTarget);
    // A destination waiting on a target gets a copy of its texels now.
    void SettleReadBack() const;

    D3DSURFACE_DESC desc_;
    size_t texelBytes_;
    ptrdiff_t pitch_;
    // Storage moves between a render target and its read-back destination (HandOver) under the
    // read-back lock, hence mutable.
    mutable std::unique_ptr<uint8_t[], LargeBlockFree> bits_;
    // The pending read-back: on the destination, the target that holds its texels; on the
    // target, that destination. Guarded by the read-back lock.
    mutable Texture* readBackTarget_ = nullptr;
    mutable Texture* readBackDestination_ = nullptr;
    Surface surface_;
    std::atomic<bool> locked_{false};
    mutable std::once_flag filled_;
};

// The stand-in's texture behind an interface pointer, or null for anything else.
Texture* AsTexture(IDirect3DBaseTexture9* texture);
Surface* AsSurface(IDirect3DSurface9* surface);

}  // namespace qv::d3d9
