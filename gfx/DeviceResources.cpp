#include "gfx/DeviceResources.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {
std::uint64_t g_nGlObjectDeletions = 0;
}  // namespace

void CountGlObjectDeletion() { ++g_nGlObjectDeletions; }
std::uint64_t GlObjectDeletions() { return g_nGlObjectDeletions; }

// ---------------------------------------------------------------------------
// Buffers

bool DeviceBuffer::Create(UINT size, DWORD usage, GlState& gl) {
    if (size == 0) return false;
    m_Data.assign(size, 0);
    m_dwUsage = usage;
    glGenBuffers(1, &m_glBuffer);
    gl.ArrayBuffer(m_glBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(size), nullptr,
                 (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    m_nDirtyBegin = 0;
    m_nDirtyEnd = size;
    return m_glBuffer != 0;
}

DeviceBuffer::~DeviceBuffer() {
    if (m_glBuffer) {
        glDeleteBuffers(1, &m_glBuffer);
        CountGlObjectDeletion();
    }
}

HRESULT DeviceBuffer::Lock(UINT offset, UINT size, BYTE** data, DWORD flags) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    const UINT total = Size();
    if (offset > total) return D3DERR_INVALIDCALL;
    if (size == 0) size = total - offset;  // 0 locks the rest of the buffer
    if (size > total - offset) return D3DERR_INVALIDCALL;
    *data = m_Data.data() + offset;
    m_bLocked = true;
    m_nLockBegin = offset;
    m_nLockEnd = (flags & D3DLOCK_READONLY) ? offset : offset + size;
    return D3D_OK;
}

HRESULT DeviceBuffer::Unlock() {
    if (!m_bLocked) return D3DERR_INVALIDCALL;
    m_bLocked = false;
    if (m_nLockEnd > m_nLockBegin) {
        ++m_nWrites;
        if (m_nDirtyEnd == m_nDirtyBegin) {
            m_nDirtyBegin = m_nLockBegin;
            m_nDirtyEnd = m_nLockEnd;
        } else {
            m_nDirtyBegin = std::min(m_nDirtyBegin, m_nLockBegin);
            m_nDirtyEnd = std::max(m_nDirtyEnd, m_nLockEnd);
        }
    }
    return D3D_OK;
}

std::size_t DeviceBuffer::Upload(GlState& gl, unsigned target, UINT begin, UINT end) {
    if (target == GL_ELEMENT_ARRAY_BUFFER) gl.ElementBuffer(m_glBuffer);
    else gl.ArrayBuffer(m_glBuffer);
    const UINT from = std::max(m_nDirtyBegin, begin), to = std::min(m_nDirtyEnd, end);
    if (from >= to) return 0;
    // The dirty range stays one range: what is sent from its start (or up
    // to its end) leaves the rest; a part in its middle goes with what lies
    // before it.
    const UINT first = to == m_nDirtyEnd ? from : m_nDirtyBegin;
    glBufferSubData(target, static_cast<GLintptr>(first), static_cast<GLsizeiptr>(to - first), m_Data.data() + first);
    if (to == m_nDirtyEnd) m_nDirtyEnd = first;
    else m_nDirtyBegin = to;
    if (m_nDirtyBegin >= m_nDirtyEnd) m_nDirtyBegin = m_nDirtyEnd = 0;
    return to - first;
}

HRESULT Direct3DVertexBuffer8::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, m_dwUsage, m_Pool, Size(), m_dwFVF};
    return D3D_OK;
}

DWORD Direct3DIndexBuffer8::MaxIndex() {
    if (m_nMaxIndexWrites != m_nWrites) {
        DWORD largest = 0;
        if (m_Format == D3DFMT_INDEX32) {
            for (std::size_t i = 0; i + 4 <= m_Data.size(); i += 4) {
                DWORD v;
                std::memcpy(&v, &m_Data[i], 4);
                largest = std::max(largest, v);
            }
        } else {
            for (std::size_t i = 0; i + 2 <= m_Data.size(); i += 2) {
                WORD v;
                std::memcpy(&v, &m_Data[i], 2);
                largest = std::max<DWORD>(largest, v);
            }
        }
        m_dwMaxIndex = largest;
        m_nMaxIndexWrites = m_nWrites;
    }
    return m_dwMaxIndex;
}

HRESULT Direct3DIndexBuffer8::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DINDEXBUFFER_DESC{m_Format, D3DRTYPE_INDEXBUFFER, m_dwUsage, m_Pool, Size()};
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Textures

namespace {

// Levels of a full mipmap chain down to 1 x 1.
UINT FullChainLength(UINT width, UINT height) {
    UINT full = 1;
    for (UINT w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) ++full;
    return full;
}

}  // namespace

UINT BytesPerPixel(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8: return 4;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4: return 2;
        case D3DFMT_A8:
        case D3DFMT_L8: return 1;
        default: return 0;
    }
}

namespace {

struct GlFormat {
    GLenum internal;
    GLenum format;
    GLenum type;
    bool opaque;     // the format has no alpha: alpha reads as 1
    bool alphaOnly;  // A8: colour reads as 0, alpha from the texel
    bool luminance;  // L8: the grey in all three colour channels
};

// Direct3D keeps ARGB texels in little-endian words, so their bytes are B, G, R, A.
GlFormat ToGl(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, false, false, false};
        case D3DFMT_X8R8G8B8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, true, false, false};
        case D3DFMT_R5G6B5: return {GL_RGB8, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, true, false, false};
        case D3DFMT_X1R5G5B5: return {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, true, false, false};
        case D3DFMT_A1R5G5B5: return {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, false, false, false};
        case D3DFMT_A4R4G4B4: return {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, false, false, false};
        case D3DFMT_X4R4G4B4: return {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, true, false, false};
        case D3DFMT_A8: return {GL_R8, GL_RED, GL_UNSIGNED_BYTE, false, true, false};
        case D3DFMT_L8: return {GL_R8, GL_RED, GL_UNSIGNED_BYTE, true, false, true};
        default: return {0, 0, 0, false, false, false};
    }
}

}  // namespace

HRESULT Direct3DTexture8::Create(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                 D3DPOOL pool) {
    const UINT bpp = BytesPerPixel(format);
    if (bpp == 0) return D3DERR_INVALIDCALL;
    if (width == 0 || height == 0 || width > 4096 || height > 4096) return D3DERR_INVALIDCALL;
    const UINT full = FullChainLength(width, height);
    if (levels == 0 || levels > full) levels = full;  // 0 asks for the whole chain
    std::vector<std::vector<BYTE>> pixels;
    UINT w = width, h = height;
    for (UINT i = 0; i < levels; ++i) {
        pixels.emplace_back(static_cast<std::size_t>(w) * h * bpp, BYTE{0});
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    return Adopt(width, height, usage, format, pool, pixels);
}

HRESULT Direct3DTexture8::Adopt(UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                std::vector<std::vector<BYTE>>& pixels) {
    const UINT bpp = BytesPerPixel(format);
    if (bpp == 0 || width == 0 || height == 0 || width > 4096 || height > 4096 || pixels.empty() ||
        pixels.size() > FullChainLength(width, height))
        return D3DERR_INVALIDCALL;
    UINT w = width, h = height;
    for (const std::vector<BYTE>& level : pixels) {
        if (level.size() != static_cast<std::size_t>(w) * h * bpp) return D3DERR_INVALIDCALL;
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    m_Format = format;
    m_Pool = pool;
    m_dwUsage = usage;
    w = width;
    h = height;
    for (std::vector<BYTE>& level : pixels) {
        m_Levels.push_back(Level{w, h, std::move(level)});
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    m_LevelLocked.assign(m_Levels.size(), false);
    m_LevelReadOnly.assign(m_Levels.size(), false);
    glGenTextures(1, &m_glTexture);
    m_bDirty = true;
    return m_glTexture ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
}

Direct3DTexture8::~Direct3DTexture8() {
    if (m_glTexture) {
        glDeleteTextures(1, &m_glTexture);
        CountGlObjectDeletion();
    }
}

HRESULT Direct3DTexture8::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (!desc || level >= m_Levels.size()) return D3DERR_INVALIDCALL;
    const Level& l = m_Levels[level];
    *desc = D3DSURFACE_DESC{m_Format, D3DRTYPE_SURFACE, m_dwUsage, m_Pool, static_cast<UINT>(l.pixels.size()),
                            D3DMULTISAMPLE_NONE, l.width, l.height};
    return D3D_OK;
}

HRESULT Direct3DTexture8::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (!locked || level >= m_Levels.size() || m_LevelLocked[level]) return D3DERR_INVALIDCALL;
    Level& l = m_Levels[level];
    const UINT bpp = BytesPerPixel(m_Format);
    std::size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(l.width) ||
            rect->bottom > static_cast<LONG>(l.height) || rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        offset = (static_cast<std::size_t>(rect->top) * l.width + static_cast<std::size_t>(rect->left)) * bpp;
    }
    locked->Pitch = static_cast<INT>(l.width * bpp);
    locked->pBits = l.pixels.data() + offset;
    m_LevelLocked[level] = true;
    m_LevelReadOnly[level] = (flags & D3DLOCK_READONLY) != 0;
    return D3D_OK;
}

HRESULT Direct3DTexture8::UnlockRect(UINT level) {
    if (level >= m_Levels.size() || !m_LevelLocked[level]) return D3DERR_INVALIDCALL;
    m_LevelLocked[level] = false;
    // What was only read needs no upload.
    if (!m_LevelReadOnly[level]) m_bDirty = true;
    return D3D_OK;
}

std::size_t Direct3DTexture8::Upload(GlState& gl, unsigned unit) {
    gl.Texture(unit, m_glTexture);
    if (!m_bDirty) return 0;
    gl.ActiveUnit(unit);
    std::size_t bytes = 0;
    const GlFormat format = ToGl(m_Format);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    // Rows go up top row first, so texture coordinate v = 0 is the image's top.
    for (std::size_t i = 0; i < m_Levels.size(); ++i) {
        const Level& l = m_Levels[i];
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), static_cast<GLint>(format.internal),
                     static_cast<GLsizei>(l.width), static_cast<GLsizei>(l.height), 0, format.format, format.type,
                     l.pixels.data());
        bytes += l.pixels.size();
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(m_Levels.size()) - 1);
    if (format.alphaOnly) {
        const GLint swizzle[4] = {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED};
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    } else if (format.luminance) {
        const GLint swizzle[4] = {GL_RED, GL_RED, GL_RED, GL_ONE};
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    } else if (format.opaque) {
        const GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ONE};
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    }
    m_bDirty = false;
    return bytes;
}
