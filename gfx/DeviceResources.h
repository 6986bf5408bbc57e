// The device's resources: vertex buffers, index buffers and textures.
//
// Every resource keeps a system-memory copy (the managed pool): Lock hands out
// a pointer into it, Unlock marks the range dirty, and the device uploads what
// changed to its OpenGL object before the next draw that uses it. The copy is
// what survives a device reset, and what the software vertex path reads.
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/Device.h"
#include "gfx/GlState.h"

constexpr DWORD D3DLOCK_READONLY = 0x10;
constexpr DWORD D3DLOCK_DISCARD = 0x2000;
constexpr DWORD D3DLOCK_NOOVERWRITE = 0x1000;
constexpr DWORD D3DLOCK_NOSYSLOCK = 0x800;

enum D3DRESOURCETYPE : DWORD {
    D3DRTYPE_SURFACE = 1,
    D3DRTYPE_TEXTURE = 3,
    D3DRTYPE_VERTEXBUFFER = 6,
    D3DRTYPE_INDEXBUFFER = 7,
};

struct D3DVERTEXBUFFER_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
    DWORD FVF;
};

struct D3DINDEXBUFFER_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
};

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    UINT Width;
    UINT Height;
};

struct D3DLOCKED_RECT {
    INT Pitch;
    void* pBits;
};

// A linear buffer of bytes with a lazily updated OpenGL buffer object.
class DeviceBuffer {
public:
    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags);
    HRESULT Unlock();
    UINT Size() const { return static_cast<UINT>(m_Data.size()); }
    const BYTE* Data() const { return m_Data.data(); }

    // Device use: binds the OpenGL buffer to `target` (GL_ARRAY_BUFFER, or
    // GL_ELEMENT_ARRAY_BUFFER of the bound vertex array) and uploads what
    // changed of bytes [begin, end), so that a draw sends only what it reads
    // and the rest waits for a draw that reads it. Returns the bytes sent.
    std::size_t Upload(GlState& gl, unsigned target, UINT begin, UINT end);
    unsigned GlBuffer() const { return m_glBuffer; }

protected:
    DeviceBuffer() = default;
    ~DeviceBuffer();
    bool Create(UINT size, DWORD usage, GlState& gl);

    std::vector<BYTE> m_Data;
    DWORD m_dwUsage = 0;
    std::uint64_t m_nWrites = 0;  // counts unlocks that may have changed the data

private:
    unsigned m_glBuffer = 0;
    UINT m_nDirtyBegin = 0;
    UINT m_nDirtyEnd = 0;
    UINT m_nLockBegin = 0;
    UINT m_nLockEnd = 0;
    bool m_bLocked = false;
};

class Direct3DVertexBuffer8 : public RefCounted<Direct3DVertexBuffer8>, public DeviceBuffer {
public:
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc);
    DWORD FVF() const { return m_dwFVF; }

private:
    friend class Direct3DDevice8;
    friend class RefCounted<Direct3DVertexBuffer8>;
    Direct3DVertexBuffer8() = default;
    ~Direct3DVertexBuffer8() = default;
    DWORD m_dwFVF = 0;
    D3DPOOL m_Pool = D3DPOOL_MANAGED;
};

class Direct3DIndexBuffer8 : public RefCounted<Direct3DIndexBuffer8>, public DeviceBuffer {
public:
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc);
    D3DFORMAT Format() const { return m_Format; }

    // The largest index the buffer holds (device use: draws are checked
    // against their vertices with it).
    DWORD MaxIndex();

private:
    friend class Direct3DDevice8;
    friend class RefCounted<Direct3DIndexBuffer8>;
    Direct3DIndexBuffer8() = default;
    ~Direct3DIndexBuffer8() = default;
    D3DFORMAT m_Format = D3DFMT_INDEX16;
    D3DPOOL m_Pool = D3DPOOL_MANAGED;
    DWORD m_dwMaxIndex = 0;
    std::uint64_t m_nMaxIndexWrites = ~std::uint64_t{0};
};

// Bytes per pixel of the texture formats the device takes; 0 for others.
UINT BytesPerPixel(D3DFORMAT format);

class Direct3DTexture8 : public RefCounted<Direct3DTexture8> {
public:
    DWORD GetLevelCount() const { return static_cast<DWORD>(m_Levels.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc);
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
    HRESULT UnlockRect(UINT level);
    D3DFORMAT Format() const { return m_Format; }

    // Device use: binds the texture to texture unit `unit` and uploads the
    // levels when they changed. Returns the bytes sent.
    std::size_t Upload(GlState& gl, unsigned unit);

private:
    friend class Direct3DDevice8;
    friend class RefCounted<Direct3DTexture8>;
    Direct3DTexture8() = default;
    ~Direct3DTexture8();
    HRESULT Create(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    // Takes over `pixels`, one packed vector per level from the top; each
    // level must have its size in the chain.
    HRESULT Adopt(UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                  std::vector<std::vector<BYTE>>& pixels);

    struct Level {
        UINT width;
        UINT height;
        std::vector<BYTE> pixels;  // rows top first, pitch = width x bytes per pixel
    };
    std::vector<Level> m_Levels;
    D3DFORMAT m_Format = D3DFMT_UNKNOWN;
    D3DPOOL m_Pool = D3DPOOL_MANAGED;
    DWORD m_dwUsage = 0;
    unsigned m_glTexture = 0;
    bool m_bDirty = true;
    std::vector<bool> m_LevelLocked;
    std::vector<bool> m_LevelReadOnly;  // locked with D3DLOCK_READONLY
};
