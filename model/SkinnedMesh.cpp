#include "model/SkinnedMesh.h"

#include <cmath>
#include <cstdio>

#include "app/ErrLog.h"
#include "app/FrameState.h"
#include "gfx/D3DXTexture.h"
#include "model/SkinnedMeshInternal.h"

using skinned_mesh::Identity;
using skinned_mesh::SafeRelease;

SkinnedMesh g_DammySkm;

namespace {

// Key index pair and fraction of one track at time u.
struct KeySpan {
    DWORD k1 = 0;
    DWORD k2 = 0;
    float f = 0.0f;
};

template <class Key>
KeySpan FindSpan(const Key* keys, DWORD n, float t) {
    KeySpan s;
    const DWORD last = keys[n - 1].dwTime;
    // Each track loops on its own last key; a track that ends at 0 holds.
    const float u = last == 0 ? 0.0f : std::fmod(t, static_cast<float>(last));
    DWORD k2 = n;
    for (DWORD i = 0; i < n; ++i) {
        if (static_cast<float>(keys[i].dwTime) > u) {
            k2 = i;
            break;
        }
    }
    if (k2 == n) return s;  // no key after u: hold the first
    s.k2 = k2;
    s.k1 = k2 == 0 ? 0 : k2 - 1;
    const float t1 = static_cast<float>(keys[s.k1].dwTime);
    const float t2 = static_cast<float>(keys[s.k2].dwTime);
    s.f = t1 == t2 ? 0.0f : (u - t1) / (t2 - t1);
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Records

SkinMeshPart::~SkinMeshPart() {
    // The list is deleted one part at a time, so a long one cannot exhaust
    // the stack.
    SkinMeshPart* next = pNext;
    pNext = nullptr;
    while (next) {
        SkinMeshPart* after = next->pNext;
        next->pNext = nullptr;
        delete next;
        next = after;
    }
    SafeRelease(pMesh);
    delete[] rgMaterials;
    if (pTextures) {
        const DWORD n = cMaterials ? cMaterials : 1;
        for (DWORD i = 0; i < n; ++i) SafeRelease(pTextures[i]);
        delete[] pTextures;
    }
    delete[] szName;
    SafeRelease(pSkinInfo);
    delete[] ppBoneMatrices;
    SafeRelease(pBoneNames);
    SafeRelease(pBoneOffsets);
    delete[] pAdjacency;
    SafeRelease(pBoneCombinations);
}

SkinFrame::SkinFrame() {
    D3DXMatrixIdentity(&matRot);
    D3DXMatrixIdentity(&matTrans);
    D3DXMatrixIdentity(&matRotOrig);
    D3DXMatrixIdentity(&matCombined);
}

SkinFrame::~SkinFrame() {
    SkinFrame* next = pSibling;
    pSibling = nullptr;
    while (next) {
        SkinFrame* after = next->pSibling;
        next->pSibling = nullptr;
        delete next;
        next = after;
    }
    delete pFirstChild;
    delete pParts;
    delete[] pPositionKeys;
    delete[] pRotateKeys;
    delete[] pScaleKeys;
    delete[] pMatrixKeys;
    delete[] szName;
}

SkinModel::~SkinModel() {
    SkinModel* next = pNext;
    while (next) {
        SkinModel* after = next->pNext;
        next->pNext = nullptr;
        delete next;
        next = after;
    }
    delete pRoot;
    delete[] szName;
}

// ---------------------------------------------------------------------------
// Lifecycle

SkinnedMesh::SkinnedMesh()
    : m_pDevice(nullptr),
      m_Caps{},
      m_szName{},
      m_pModels(nullptr),
      m_pCurrentModel(nullptr),
      m_dwMethod(0),
      m_fTotalTicks(0.0f),
      m_bClipReset(1),
      m_fClipLength(0.0f),
      m_fClipStart(0.0f),
      m_fClipEnd(0.0f),
      m_pToonTexture(nullptr) {
    m_hShader.fill(kNoShader);
}

SkinnedMesh::~SkinnedMesh() {
    InvalidateDeviceObjects();
    DeleteDeviceObjects();
}

HRESULT SkinnedMesh::InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps, const char* name) {
    m_pDevice = device;
    m_Caps = caps;
    std::snprintf(m_szName, sizeof m_szName, "%s", name ? name : "");

    LoadHierarchy();  // a model that fails to load leaves an object that draws nothing

    g_ErrLog.Add("\t\tD3DXCreateTextureFromResource...\n");
    if (!m_pToonTexture &&
        FAILED(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, "ToonToon.bmp", &m_pToonTexture))) {
        m_pToonTexture = nullptr;
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT SkinnedMesh::DeleteDeviceObjects() {
    if (m_pCurrentModel == m_pModels) m_pCurrentModel = nullptr;
    delete m_pModels;
    m_pModels = nullptr;
    m_pCurrentModel = nullptr;
    SafeRelease(m_pToonTexture);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Animation

HRESULT SkinnedMesh::FrameMove(DWORD clip, DWORD clipCount, DWORD) {
    for (SkinModel* model = m_pModels; model; model = model->pNext) {
        if (m_bClipReset) {
            if (clip == 0 || clipCount == 0) return S_OK;
            m_fClipLength = m_fTotalTicks / static_cast<float>(clipCount);
            m_fClipStart = static_cast<float>(clip - 1) * m_fClipLength;
            m_fClipEnd = static_cast<float>(clip) * m_fClipLength;
            m_bClipReset = 0;
        }
        model->fCurTime += g_fElapsedTime * static_cast<float>(kTicksPerSecond);
        if (model->fCurTime > m_fClipEnd) {
            model->fCurTime = m_fClipStart;
            m_bClipReset = 1;
        }
        if (model->fCurTime < m_fClipStart) model->fCurTime = m_fClipStart;
        for (SkinFrame* anim = model->pAnimHead; anim; anim = anim->pAnimNext) ApplyKeys(anim, model->fCurTime);
    }
    return S_OK;
}

void SkinnedMesh::ApplyKeys(SkinFrame* frame, float time) {
    SkinFrame* target = frame->pTarget;
    if (!target) return;

    if (frame->pMatrixKeys) {
        const KeySpan s = FindSpan(frame->pMatrixKeys, frame->cMatrixKeys, time);
        target->matRot = frame->pMatrixKeys[s.f > 0.5f ? s.k2 : s.k1].mat;
        return;
    }

    D3DXMATRIX m = Identity();
    bool applied = false;
    if (frame->pScaleKeys) {
        const KeySpan s = FindSpan(frame->pScaleKeys, frame->cScaleKeys, time);
        D3DXVECTOR3 v;
        D3DXVec3Lerp(&v, &frame->pScaleKeys[s.k1].vScale, &frame->pScaleKeys[s.k2].vScale, s.f);
        D3DXMATRIX scale;
        D3DXMatrixScaling(&scale, v.x, v.y, v.z);
        D3DXMatrixMultiply(&m, &m, &scale);
        applied = true;
    }
    if (frame->pRotateKeys) {
        const DWORD n = frame->cRotateKeys;
        const KeySpan s = FindSpan(frame->pRotateKeys, n, time);
        const DWORD k0 = s.k1 == 0 ? n - 1 : s.k1 - 1;
        const DWORD k3 = s.k2 + 1 >= n ? s.k2 + 1 - n : s.k2 + 1;
        D3DXQUATERNION a, b, c, q;
        D3DXQuaternionSquadSetup(&a, &b, &c, &frame->pRotateKeys[k0].quatRotate, &frame->pRotateKeys[s.k1].quatRotate,
                                 &frame->pRotateKeys[s.k2].quatRotate, &frame->pRotateKeys[k3].quatRotate);
        D3DXQuaternionSquad(&q, &frame->pRotateKeys[s.k1].quatRotate, &a, &b, &c, s.f);
        q.w = -q.w;
        D3DXMATRIX rotation;
        D3DXMatrixRotationQuaternion(&rotation, &q);
        D3DXMatrixMultiply(&m, &m, &rotation);
        applied = true;
    }
    D3DXMATRIX translation;
    if (frame->pPositionKeys) {
        const KeySpan s = FindSpan(frame->pPositionKeys, frame->cPositionKeys, time);
        D3DXVECTOR3 v;
        D3DXVec3Lerp(&v, &frame->pPositionKeys[s.k1].vPos, &frame->pPositionKeys[s.k2].vPos, s.f);
        D3DXMatrixTranslation(&translation, v.x, v.y, v.z);
        applied = true;
    } else {
        D3DXMatrixTranslation(&translation, target->matRotOrig.m[3][0], target->matRotOrig.m[3][1],
                              target->matRotOrig.m[3][2]);
    }
    D3DXMatrixMultiply(&m, &m, &translation);
    if (applied) target->matRot = m;
}
