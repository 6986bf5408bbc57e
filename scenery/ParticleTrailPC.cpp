#include "scenery/ParticleTrailPC.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

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
constexpr UINT kBytesPerParticle = 4 * kVertexBytes;  // room for four, three are written
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
    return S_OK;
}

HRESULT ParticleTrailPC::RestoreDeviceObjects() { return S_OK; }

HRESULT ParticleTrailPC::InvalidateDeviceObjects() { return S_OK; }

HRESULT ParticleTrailPC::DeleteDeviceObjects() {
    for (Direct3DTexture8*& texture : m_pTexture) Release(texture);
    Release(m_pVB);
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

    Vertex* out = reinterpret_cast<Vertex*>(data);
    for (const Particle* p = m_pActive; p; p = p->pNext) {
        const float a = (p->fLife + 255.0f) / 2.0f;
        float scale = a / kScaleDivisor;
        if (scale < kMinScale) scale = kMinScale;
        // scaling(scale) x billboard: the billboard's rotation rows scaled.
        float m[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) m[r][c] = scale * billboard.m[r][c];

        const auto alpha = static_cast<DWORD>(static_cast<int>(255.0f - std::fabs(p->fLife)));
        const DWORD colour = (alpha & 0xFF) << 24 | p->dwColour;
        for (const Vertex& q : m_Template) {
            out->x = q.x * m[0][0] + q.y * m[1][0] + q.z * m[2][0] + p->vPosition.x;
            out->y = q.x * m[0][1] + q.y * m[1][1] + q.z * m[2][1] + p->vPosition.y;
            out->z = q.x * m[0][2] + q.y * m[1][2] + q.z * m[2][2] + p->vPosition.z;
            out->colour = colour;
            out->u = q.u;
            out->v = q.v;
            ++out;
        }
    }
    m_pVB->Unlock();

    device->SetTransform(D3DTS_WORLD, &m_matIdentity);
    device->SetTexture(0, m_pTexture[static_cast<std::size_t>(m_nTexIdx)]);
    device->SetStreamSource(0, m_pVB, kVertexBytes);
    device->SetVertexShader(kFVF);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, m_dwNum);

    restore();
    return S_OK;
}
