#include "platform/d3d9/texture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "platform/d3d9/faults.h"

namespace qv::d3d9 {
namespace {

size_t TexelBytesOf(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A16B16G16R16:
            return 8;
        case D3DFMT_A32B32G32R32F:
            return 16;
        default:
            return 0;
    }
}

static_assert(kLargeBlockAlignment % kRowAlignment == 0, "texture storage starts on a row boundary");

size_t PaddedPitch(size_t rowBytes) {
    const size_t aligned = (rowBytes + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    return aligned + kRowSlack;
}

// Guards every pending read-back and the storage its two sides exchange. Taken inside the
// device's own lock (draws, read-backs) and alone (locks, views, releases), never around it.
std::mutex& ReadBackLock() {
    static std::mutex lock;
    return lock;
}

constexpr DWORD kKnownUsages = D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC;
constexpr DWORD kKnownLockFlags = D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_DISCARD;

}  // namespace

// ---- Surface ----

ULONG Surface::AddRef() {
    const ULONG before = refs_.fetch_add(1, std::memory_order_relaxed);
    if (before == 0) {
        owner_.AddRef();
        LiveObjects().fetch_add(1, std::memory_order_relaxed);
    }
    return before + 1;
}

ULONG Surface::Release() {
    const ULONG before = refs_.fetch_sub(1, std::memory_order_acq_rel);
    if (before == 0) ReferenceCountUnderflow("a texture's surface");
    if (before == 1) {
        LiveObjects().fetch_sub(1, std::memory_order_relaxed);
        owner_.Release();  // may destroy the texture, and this surface with it
    }
    return before - 1;
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = owner_.Desc();
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    const InjectedResult injected("LockRect");
    if (injected.Fails()) {
        if (locked) *locked = D3DLOCKED_RECT{};
        return injected.Code();
    }
    return injected.Or(owner_.LockLevel0(locked, rect, flags));
}

HRESULT Surface::UnlockRect() {
    const InjectedResult injected("UnlockRect");
    if (injected.Fails()) return injected.Code();
    return injected.Or(owner_.UnlockLevel0());
}

// ---- Texture ----

Texture::Texture(const D3DSURFACE_DESC& desc, size_t texelBytes, ptrdiff_t pitch,
                 std::unique_ptr<uint8_t[], LargeBlockFree> bits)
    : desc_(desc), texelBytes_(texelBytes), pitch_(pitch), bits_(std::move(bits)), surface_(*this) {}

Texture::~Texture() {
    std::lock_guard<std::mutex> lock(ReadBackLock());
    // A target released before it is drawn again leaves its texels to the destination.
    if (readBackDestination_) HandOver(*this, *readBackDestination_, false);
    if (readBackTarget_) {
        readBackTarget_->readBackDestination_ = nullptr;
        readBackTarget_ = nullptr;
    }
}

void Texture::HandOver(Texture& target, Texture& destination, bool keepTarget) {
    std::swap(target.bits_, destination.bits_);
    if (keepTarget) {
        std::memcpy(target.bits_.get(), destination.bits_.get(), target.StorageBytes());
    }
    target.readBackDestination_ = nullptr;
    destination.readBackTarget_ = nullptr;
}

void Texture::SettleReadBack() const {
    std::lock_guard<std::mutex> lock(ReadBackLock());
    Texture* target = readBackTarget_;
    if (!target) return;
    // A plain copy: the target's storage stays where a draw sampling it may be reading it. No
    // read-only lock of this texture is out (this is a lock of it, or a draw, which refuses a
    // locked texture), so nothing reads the target's storage on this texture's behalf.
    std::memcpy(bits_.get(), target->bits_.get(), StorageBytes());
    target->readBackDestination_ = nullptr;
    readBackTarget_ = nullptr;
}

void Texture::ReadBack(Texture& target, Texture& destination) {
    std::lock_guard<std::mutex> lock(ReadBackLock());
    if (destination.readBackTarget_ == &target) return;  // the target has not changed since
    // What the destination waited for is replaced whole.
    if (Texture* earlier = destination.readBackTarget_) {
        earlier->readBackDestination_ = nullptr;
        destination.readBackTarget_ = nullptr;
    }
    // Another destination waiting on this target gets its texels first, by exchange (a
    // read-only lock of it may be reading the target's storage) and a copy back. No draw runs
    // meanwhile: read-backs and draws hold the device's lock.
    if (Texture* other = target.readBackDestination_) HandOver(target, *other, true);
    target.readBackDestination_ = &destination;
    destination.readBackTarget_ = &target;
}

void Texture::BeforeDraw(bool whole) {
    std::lock_guard<std::mutex> lock(ReadBackLock());
    if (readBackDestination_) HandOver(*this, *readBackDestination_, !whole);
}

void Texture::FillRows(int y0, int y1) const {
    uint8_t* const from = bits_.get() + static_cast<ptrdiff_t>(y0) * pitch_;
    const size_t bytes = static_cast<size_t>(pitch_) * static_cast<size_t>(y1 - y0);
    // Frame-sized textures are fresh pages: having the kernel provide them in one call is
    // cheaper than a fault on every page as the fill reaches it. Where it cannot, the fill
    // faults them in as before.
    const auto start = reinterpret_cast<uintptr_t>(from);
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (start + page - 1) / page * page;
    const uintptr_t end = (start + bytes) / page * page;
#ifdef MADV_POPULATE_WRITE
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#endif
    // Padding included: nothing may rely on what a new texture holds.
    std::memset(from, kFillByte, bytes);
}

void Texture::EnsureFilled(const RowRunner* runner) const {
    std::call_once(filled_, [&] {
        const int rows = static_cast<int>(desc_.Height);
        if (runner) {
            (*runner)(rows, [this](int y0, int y1) { FillRows(y0, y1); });
        } else {
            FillRows(0, rows);
        }
    });
}

uint8_t* Texture::Bits() const {
    EnsureFilled();
    SettleReadBack();
    return bits_.get();
}

HRESULT Texture::Create(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        IDirect3DTexture9** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    const size_t texelBytes = TexelBytesOf(format);
    if (texelBytes == 0) return D3DERR_INVALIDCALL;
    if (width == 0 || height == 0 || width > kMaxTextureSize || height > kMaxTextureSize) return D3DERR_INVALIDCALL;
    // One level only: 0 ("all levels") of a texture without mipmaps is that one level.
    if (levels > 1) return D3DERR_INVALIDCALL;
    if ((usage & ~kKnownUsages) != 0) return D3DERR_INVALIDCALL;
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    if (usage & D3DUSAGE_RENDERTARGET) {
        // The rasteriser writes unorm16 targets only, and targets live in the default pool.
        if ((usage & D3DUSAGE_DYNAMIC) || pool != D3DPOOL_DEFAULT || format != D3DFMT_A16B16G16R16) {
            return D3DERR_INVALIDCALL;
        }
    }

    const size_t pitch = PaddedPitch(texelBytes * width);
    const size_t bytes = pitch * height;
    auto* raw = static_cast<uint8_t*>(AllocateLargeBlock(bytes));
    if (!raw) return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    std::unique_ptr<uint8_t[], LargeBlockFree> bits(raw, LargeBlockFree{bytes});

    D3DSURFACE_DESC desc{};
    desc.Format = format;
    desc.Usage = usage;
    desc.Pool = pool;
    desc.Width = width;
    desc.Height = height;
    auto* created = new (std::nothrow) Texture(desc, texelBytes, static_cast<ptrdiff_t>(pitch), std::move(bits));
    if (!created) return E_OUTOFMEMORY;
    *texture = created;
    return D3D_OK;
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (level != 0 || !desc) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    const InjectedResult injected("GetSurfaceLevel");
    if (injected.Fails()) return injected.Code();
    if (level != 0) return D3DERR_INVALIDCALL;
    surface_.AddRef();
    *surface = &surface_;
    return injected.Or(D3D_OK);
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    const InjectedResult injected("LockRect");
    if (injected.Fails()) {
        if (locked) *locked = D3DLOCKED_RECT{};
        return injected.Code();
    }
    if (level != 0) return D3DERR_INVALIDCALL;
    return injected.Or(LockLevel0(locked, rect, flags));
}

HRESULT Texture::UnlockRect(UINT level) {
    const InjectedResult injected("UnlockRect");
    if (injected.Fails()) return injected.Code();
    if (level != 0) return D3DERR_INVALIDCALL;
    return injected.Or(UnlockLevel0());
}

HRESULT Texture::LockLevel0(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (!locked) return D3DERR_INVALIDCALL;
    *locked = D3DLOCKED_RECT{};
    if ((flags & ~kKnownLockFlags) != 0) return D3DERR_INVALIDCALL;
    // As on a real device: render targets and static default-pool textures are not lockable.
    const bool lockable = desc_.Pool == D3DPOOL_SYSTEMMEM || (desc_.Usage & D3DUSAGE_DYNAMIC) != 0;
    if (!lockable) return D3DERR_INVALIDCALL;
    RECT area{0, 0, static_cast<int32_t>(desc_.Width), static_cast<int32_t>(desc_.Height)};
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
            rect->right > area.right || rect->bottom > area.bottom) {
            return D3DERR_INVALIDCALL;
        }
        area = *rect;
    }
    bool expected = false;
    if (!locked_.compare_exchange_strong(expected, true, std::memory_order_acquire)) return D3DERR_INVALIDCALL;
    locked->Pitch = static_cast<INT>(pitch_);
    uint8_t* base = nullptr;
    if (flags & D3DLOCK_READONLY) {
        // A pending read-back is read from the target's storage. That storage stays as it is
        // while the lock lasts: a draw to the target first hands it over to this texture, and
        // so does the target's release.
        EnsureFilled();
        std::lock_guard<std::mutex> lock(ReadBackLock());
        base = readBackTarget_ ? readBackTarget_->bits_.get() : bits_.get();
    } else {
        base = Bits();
    }
    locked->pBits = base + area.top * pitch_ + static_cast<ptrdiff_t>(area.left * texelBytes_);
    return D3D_OK;
}

HRESULT Texture::UnlockLevel0() {
    bool expected = true;
    if (!locked_.compare_exchange_strong(expected, false, std::memory_order_release)) return D3DERR_INVALIDCALL;
    return D3D_OK;
}

bool Texture::TryLockForCopy() {
    bool expected = false;
    return locked_.compare_exchange_strong(expected, true, std::memory_order_acquire);
}

void Texture::UnlockAfterCopy() { locked_.store(false, std::memory_order_release); }

gfx::TextureView Texture::View() const {
    gfx::TextureView view;
    view.bits = Bits();
    view.width = static_cast<int>(desc_.Width);
    view.height = static_cast<int>(desc_.Height);
    view.pitch = pitch_;
    view.format = desc_.Format;
    return view;
}

gfx::TargetView Texture::Target() const {
    gfx::TargetView view;
    view.bits = Bits();
    view.width = static_cast<int>(desc_.Width);
    view.height = static_cast<int>(desc_.Height);
    view.pitch = pitch_;
    return view;
}

Texture* AsTexture(IDirect3DBaseTexture9* texture) { return dynamic_cast<Texture*>(texture); }
Surface* AsSurface(IDirect3DSurface9* surface) { return dynamic_cast<Surface*>(surface); }

}  // namespace qv::d3d9
