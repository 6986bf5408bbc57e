#include "scenery/ParticleTrailPC.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <span>
#include <algorithm>

#include "app/ErrLog.h"
#include "app/FrameState.h"
#include "gfx/D3DXTexture.h"
#include "platform/Random.h"

ParticleTrailPC g_ParticleTrailPC;

namespace {

constexpr float kPi = 3.14159265358979323846f;
constexpr float kGravity = -9.8f;
constexpr float kBirthLife = -255.0f;
constexpr float kDeathLife = 255.0f;
constexpr float kFadeInEnd = -100.0f;  // the fast phase runs up to this life
constexpr float kFadeInRate = 220.0f;
constexpr float kShortLifeRate = 60.0f;
constexpr float kLongLifeRate = 30.0f;
constexpr float kEmitRadius = 3.0f;
constexpr float kEmitTilt = 1.5f;
constexpr float kMinScale = 0.1f;
constexpr float kScaleDivisor = 198.0f;
constexpr UINT kVertexBytes = sizeof(ParticleTrailPC::Vertex);
constexpr UINT kBytesPerParticle = 4 * kVertexBytes;  // room for four: a quad, or the three of a triangle
constexpr UINT kIndicesPerQuad = 6;
constexpr DWORD kWhite = 0xFFFFFF;

static_assert(kVertexBytes == 24);

// The dialog offers particle sizes from 1 to 100 percent.
constexpr int kMinSizePercent = 1;
constexpr int kMaxSizePercent = 100;

void Release(auto*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// Alpha of a texel in the formats that carry one; -1 for formats without
// alpha, whose texels are all opaque.
int TexelAlpha(D3DFORMAT format, const BYTE* texel) {
    switch (format) {
        case D3DFMT_A8R8G8B8: return texel[3];
        case D3DFMT_A4R4G4B4: return texel[1] >> 4;
        case D3DFMT_A1R5G5B5: return texel[1] >> 7;
        case D3DFMT_A8: return texel[0];
        default: return -1;
    }
}

// Whether the point (u, v) of the sprite lies inside the template triangle
// (0, 1), (0.5, 0), (1, 1).
bool InsideTemplate(float u, float v) { return v <= 1.0f && 2.0f * u + v >= 1.0f && 2.0f * u - v <= 1.0f; }

// The rectangle of texture level 0 outside of which every bilinear sample
// reads only texels of alpha 0, in texture coordinates. A sample at texel
// position x (x = u x width) reads the texels floor(x - 0.5) and the next
// one, so it reads a texel i only from i - 0.5 to i + 1.5; the rectangle
// keeps half a texel more on each side. Fails for a texture without alpha
// or when a sample that reads a visible texel can fall outside the triangle
// (the quad would then show what the triangle does not). `empty` is set when
// no texel is visible at all.
bool VisibleRectangle(Direct3DTexture8* texture, float& u0, float& v0, float& u1, float& v1, bool& empty) {
    D3DSURFACE_DESC desc{};
    D3DLOCKED_RECT locked{};
    if (!texture || FAILED(texture->GetLevelDesc(0, &desc)) || BytesPerPixel(desc.Format) == 0) return false;
    if (FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return false;
    const auto* bits = static_cast<const BYTE*>(locked.pBits);
    const UINT bpp = BytesPerPixel(desc.Format);
    const auto w = static_cast<float>(desc.Width), h = static_cast<float>(desc.Height);
    int minX = static_cast<int>(desc.Width), minY = static_cast<int>(desc.Height), maxX = -1, maxY = -1;
    bool inside = TexelAlpha(desc.Format, bits) >= 0;
    for (UINT y = 0; y < desc.Height && inside; ++y) {
        const BYTE* row = bits + static_cast<std::size_t>(y) * static_cast<UINT>(locked.Pitch);
        for (UINT x = 0; x < desc.Width; ++x) {
            if (TexelAlpha(desc.Format, row + static_cast<std::size_t>(x) * bpp) == 0) continue;
            const auto fx = static_cast<float>(x), fy = static_cast<float>(y);
            if (!InsideTemplate((fx - 1.0f) / w, (fy - 1.0f) / h) || !InsideTemplate((fx + 2.0f) / w, (fy - 1.0f) / h) ||
                !InsideTemplate((fx - 1.0f) / w, (fy + 2.0f) / h) || !InsideTemplate((fx + 2.0f) / w, (fy + 2.0f) / h)) {
                inside = false;
                break;
            }
            minX = std::min(minX, static_cast<int>(x));
            maxX = std::max(maxX, static_cast<int>(x));
            minY = std::min(minY, static_cast<int>(y));
            maxY = std::max(maxY, static_cast<int>(y));
        }
    }
    texture->UnlockRect(0);
    if (!inside) return false;
    empty = maxX < 0;
    u0 = static_cast<float>(minX - 1) / w;
    u1 = static_cast<float>(maxX + 2) / w;
    v0 = static_cast<float>(minY - 1) / h;
    v1 = static_cast<float>(maxY + 2) / h;
    return true;
}

// The six planes of the view volume of the device's view and projection,
// scaled to unit normals (a point's signed distance is its dot product with
// a plane; inside is positive).
std::array<D3DXPLANE, 6> ViewVolume(Direct3DDevice8* device) {
    D3DXMATRIX view, projection, m;
    device->GetTransform(D3DTS_VIEW, &view);
    device->GetTransform(D3DTS_PROJECTION, &projection);
    D3DXMatrixMultiply(&m, &view, &projection);
    // Clip coordinates are the point times the matrix's columns; inside is
    // -w <= x <= w, -w <= y <= w and 0 <= z <= w.
    auto plane = [&](int j, float sign, bool withW) {
        D3DXPLANE p(sign * m.m[0][j], sign * m.m[1][j], sign * m.m[2][j], sign * m.m[3][j]);
        if (withW) {
            p.a += m.m[0][3];
            p.b += m.m[1][3];
            p.c += m.m[2][3];
            p.d += m.m[3][3];
        }
        D3DXPlaneNormalize(&p, &p);
        return p;
    };
    return {plane(0, 1.0f, true), plane(0, -1.0f, true), plane(1, 1.0f, true),
            plane(1, -1.0f, true), plane(2, 1.0f, false), plane(2, -1.0f, true)};
}

void FreeList(ParticleTrailPC::Particle* p) {
    while (p) {
        ParticleTrailPC::Particle* next = p->pNext;
        delete p;
        p = next;
    }
}

}  // namespace

ParticleTrailPC::ParticleTrailPC()
    : m_dwNum(0),
      m_dwMax(kCapacity),
      m_pActive(nullptr),
      m_pFree(nullptr),
      m_pVB(nullptr),
      m_pTexture{},
      m_Template{},
      m_Quad{},
      m_bQuads(false),
      m_bEmpty(false),
      m_pIB(nullptr),
      m_dwDrawn(0),
      m_fSize(0.0f),
      m_bLongLife(0),
      m_nTexIdx(0),
      m_bRandomColour(0) {
    D3DXMatrixIdentity(&m_matIdentity);
}

ParticleTrailPC::~ParticleTrailPC() {
    DeleteDeviceObjects();
    FreeList(m_pActive);
    FreeList(m_pFree);
    m_pActive = m_pFree = nullptr;
    m_dwNum = 0;
}

DWORD ParticleTrailPC::FreeCount() const {
    DWORD n = 0;
    for (const Particle* p = m_pFree; p; p = p->pNext) ++n;
    return n;
}

HRESULT ParticleTrailPC::SetParameters(const Settings& settings) {
    int percent = settings.intPtlSizCur;
    if (percent < kMinSizePercent) percent = kMinSizePercent;
    if (percent > kMaxSizePercent) percent = kMaxSizePercent;
    m_fSize = static_cast<float>(percent) / 100.0f * 30.0f;
    m_bLongLife = settings.intPtlLngLif;
    m_nTexIdx = settings.intPtlTexIdx;
    if (m_nTexIdx < 0 || m_nTexIdx >= kTextureCount) m_nTexIdx = 0;
    m_bRandomColour = settings.intPtlRndCol;
    return S_OK;
}

HRESULT ParticleTrailPC::InitDeviceObjects(Direct3DDevice8* device) {
    for (int n = 0; n < kTextureCount; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "PARTICLETRAILPC%d.DDS", n);
        g_ErrLog.Add("\t\tD3DXCreateTextureFromResource...\n");
        Direct3DTexture8*& texture = m_pTexture[static_cast<std::size_t>(n)];
        Release(texture);  // a second start-up without a delete in between
        if (FAILED(D3DXCreateTextureFromResourceA(device, nullptr, name, &texture))) {
            texture = nullptr;
            g_ErrLog.Add("\t\tFailed\n");
            return E_FAIL;
        }
    }

    const float s = m_fSize;
    m_Template[0] = Vertex{-s, -s, 0.0f, 0xFFFFFFFF, 0.0f, 1.0f};
    m_Template[1] = Vertex{0.0f, s, 0.0f, 0xFFFFFFFF, 0.5f, 0.0f};
    m_Template[2] = Vertex{s, -s, 0.0f, 0xFFFFFFFF, 1.0f, 1.0f};

    g_ErrLog.Add("\t\tpd3dDevice->CreateVertexBuffer...\n");
    Release(m_pVB);
    if (FAILED(device->CreateVertexBuffer(m_dwMax * kBytesPerParticle, D3DUSAGE_WRITEONLY, kFVF, D3DPOOL_MANAGED,
                                          &m_pVB))) {
        m_pVB = nullptr;
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    PrepareQuads(device);
    return S_OK;
}

void ParticleTrailPC::PrepareQuads(Direct3DDevice8* device) {
    // Quads need an index buffer of their own; without one (or without a
    // rectangle to draw) the sprites stay triangles.
    Release(m_pIB);
    m_bQuads = false;
    m_bEmpty = false;
    float u0 = 0.0f, v0 = 0.0f, u1 = 1.0f, v1 = 1.0f;
    if (!VisibleRectangle(m_pTexture[static_cast<std::size_t>(m_nTexIdx)], u0, v0, u1, v1, m_bEmpty)) return;
    if (m_bEmpty) return;
    if (FAILED(device->CreateIndexBuffer(m_dwMax * kIndicesPerQuad * sizeof(WORD), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                         D3DPOOL_MANAGED, &m_pIB))) {
        m_pIB = nullptr;
        return;
    }
    BYTE* data = nullptr;
    if (FAILED(m_pIB->Lock(0, 0, &data, 0))) {
        Release(m_pIB);
        return;
    }
    // Corners 0 to 3: bottom left, top left, top right, bottom right; both
    // triangles turn the way the template does.
    auto* index = reinterpret_cast<WORD*>(data);
    for (DWORD i = 0; i < m_dwMax; ++i) {
        const auto base = static_cast<WORD>(i * 4);
        for (WORD corner : {0, 1, 2, 0, 2, 3}) *index++ = static_cast<WORD>(base + corner);
    }
    m_pIB->Unlock();

    // The template maps (u, v) to (s (2u - 1), s (1 - 2v)) in its plane.
    const float s = m_fSize;
    auto corner = [s](float u, float v) { return Vertex{s * (2.0f * u - 1.0f), s * (1.0f - 2.0f * v), 0.0f, 0xFFFFFFFF, u, v}; };
    m_Quad = {corner(u0, v1), corner(u0, v0), corner(u1, v0), corner(u1, v1)};
    m_bQuads = true;
}

HRESULT ParticleTrailPC::RestoreDeviceObjects() { return S_OK; }

HRESULT ParticleTrailPC::InvalidateDeviceObjects() { return S_OK; }

HRESULT ParticleTrailPC::DeleteDeviceObjects() {
    for (Direct3DTexture8*& texture : m_pTexture) Release(texture);
    Release(m_pVB);
    Release(m_pIB);
    m_bQuads = false;
    return S_OK;
}

HRESULT ParticleTrailPC::Emit(float px, float py, float pz, float vx, float vy, float vz) {
    if (m_dwNum >= m_dwMax) return S_OK;  // a full pool skips the emission

    Particle* p = m_pFree;
    if (p) {
        m_pFree = p->pNext;
    } else {
        p = new (std::nothrow) Particle;
        if (!p) return E_OUTOFMEMORY;
    }
    p->pNext = m_pActive;
    m_pActive = p;
    ++m_dwNum;

    // Start on a circle around the emission point, tilted in y.
    const float b = static_cast<float>(Rand()) / static_cast<float>(kRandMax) * kPi * 2.0f;
    const float sinB = std::sin(b);
    const float cosB = std::cos(b);
    p->vPosition = D3DXVECTOR3(px + kEmitRadius * sinB, py + (kEmitTilt * cosB + kEmitTilt * sinB),
                               pz + kEmitRadius * cosB);
    p->vVelocity = D3DXVECTOR3(vx, vy, vz);

    if (m_bRandomColour == 1) {
        const DWORD r = static_cast<DWORD>(Rand() % 128 + 128);
        const DWORD g = static_cast<DWORD>(Rand() % 128 + 128);
        const DWORD bl = static_cast<DWORD>(Rand() % 128 + 128);
        p->dwColour = r << 16 | g << 8 | bl;
    } else {
        p->dwColour = kWhite;
    }
    p->fLife = kBirthLife;
    return S_OK;
}

HRESULT ParticleTrailPC::FrameMove() {
    const float dt = g_fElapsedTime;
    const float slowRate = m_bLongLife == 1 ? kLongLifeRate : kShortLifeRate;
    Particle** link = &m_pActive;
    while (Particle* p = *link) {
        p->vVelocity.y += kGravity * dt;
        p->vPosition.x += p->vVelocity.x * dt;
        p->vPosition.y += p->vVelocity.y * dt;
        p->vPosition.z += p->vVelocity.z * dt;
        p->fLife += (p->fLife < kFadeInEnd ? kFadeInRate : slowRate) * dt;
        if (p->fLife >= kDeathLife) {
            *link = p->pNext;
            p->pNext = m_pFree;
            m_pFree = p;
            --m_dwNum;
        } else {
            link = &p->pNext;
        }
    }
    return S_OK;
}

HRESULT ParticleTrailPC::Render(Direct3DDevice8* device, D3DXMATRIX billboard) {
    if (m_dwNum == 0) return S_OK;
    if (!m_pVB) return E_FAIL;  // device objects were never created

    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);

    auto restore = [device] {
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    };

    BYTE* data = nullptr;
    const HRESULT hr = m_pVB->Lock(0, 0, &data, 0);
    if (FAILED(hr)) {
        restore();
        return hr;
    }

    // The shape each sprite is drawn with, and a sphere around it in the
    // billboard's orientation (the centre as an offset from the particle at
    // scale 1): a sprite is left out when it lies wholly outside one plane
    // of the view volume, with a margin far above rounding.
    const std::span<const Vertex> shape = m_bQuads ? std::span<const Vertex>(m_Quad) : std::span<const Vertex>(m_Template);
    D3DXVECTOR3 centre(0.0f, 0.0f, 0.0f);
    std::array<D3DXVECTOR3, 4> offsets{};
    for (std::size_t k = 0; k < shape.size(); ++k) {
        const Vertex& q = shape[k];
        offsets[k] = D3DXVECTOR3(q.x * billboard.m[0][0] + q.y * billboard.m[1][0], q.x * billboard.m[0][1] + q.y * billboard.m[1][1],
                                 q.x * billboard.m[0][2] + q.y * billboard.m[1][2]);
        centre += offsets[k] / static_cast<float>(shape.size());
    }
    float radius = 0.0f;
    for (std::size_t k = 0; k < shape.size(); ++k) radius = std::max(radius, D3DXVec3Length(&(offsets[k] -= centre)));
    const std::array<D3DXPLANE, 6> planes = ViewVolume(device);
    constexpr float kCullMargin = 1.0f;

    Vertex* out = reinterpret_cast<Vertex*>(data);
    DWORD drawn = 0;
    for (const Particle* p = m_pActive; p && !m_bEmpty; p = p->pNext) {
        // Additive blending adds nothing for a sprite of alpha 0.
        const auto alpha = static_cast<DWORD>(static_cast<int>(255.0f - std::fabs(p->fLife)));
        if ((alpha & 0xFF) == 0) continue;
        const float a = (p->fLife + 255.0f) / 2.0f;
        float scale = a / kScaleDivisor;
        if (scale < kMinScale) scale = kMinScale;

        const D3DXVECTOR3 middle = p->vPosition + centre * scale;
        const float reach = -(radius * scale + kCullMargin);
        bool outside = false;
        for (const D3DXPLANE& plane : planes) outside = outside || D3DXPlaneDotCoord(&plane, &middle) < reach;
        if (outside) continue;

        // scaling(scale) x billboard: the billboard's rotation rows scaled.
        float m[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) m[r][c] = scale * billboard.m[r][c];
        const DWORD colour = (alpha & 0xFF) << 24 | p->dwColour;
        for (const Vertex& q : shape) {
            out->x = q.x * m[0][0] + q.y * m[1][0] + q.z * m[2][0] + p->vPosition.x;
            out->y = q.x * m[0][1] + q.y * m[1][1] + q.z * m[2][1] + p->vPosition.y;
            out->z = q.x * m[0][2] + q.y * m[1][2] + q.z * m[2][2] + p->vPosition.z;
            out->colour = colour;
            out->u = q.u;
            out->v = q.v;
            ++out;
        }
        ++drawn;
    }
    m_pVB->Unlock();
    m_dwDrawn = drawn;

    device->SetTransform(D3DTS_WORLD, &m_matIdentity);
    device->SetTexture(0, m_pTexture[static_cast<std::size_t>(m_nTexIdx)]);
    device->SetStreamSource(0, m_pVB, kVertexBytes);
    device->SetVertexShader(kFVF);
    if (m_bQuads) {
        device->SetIndices(m_pIB, 0);
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, drawn * 4, 0, drawn * 2);
    } else {
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, drawn);
    }

    restore();
    return S_OK;
}
