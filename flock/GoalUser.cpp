#include "flock/GoalUser.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "render/ZSortRender.h"

GoalUser g_GoalUser;

namespace {

constexpr float kMaxPitch = 0.6f;

// Moves value toward zero by |value| x rate x dt when it lies beyond the dead
// band; the positive side is tested first and the negative side on the result.
float Fade(float value, float band, float rate, float dt) {
    if (value > band) value -= std::fabs(value) * rate * dt;
    if (value < -band) value += std::fabs(value) * rate * dt;
    return value;
}

}  // namespace

GoalUser::GoalUser()
    : m_vPos(1000.0f, 0.0f, -500.0f),
      m_vDir(0.0f, 0.0f, 0.0f),
      m_fThrust(0.0f),
      m_fSpeed(0.0f),
      m_fYaw(0.0f),
      m_fPitch(0.0f),
      m_fYawRate(0.0f),
      m_fPitchRate(0.0f),
      m_pDammyMdl(nullptr),
      m_pDammyObj(nullptr),
      m_pSkinnedSkm(nullptr),
      m_bAnim(0) {}

void GoalUser::SetParameters(const Settings& settings) { m_bAnim = settings.intChkAnim; }

HRESULT GoalUser::InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps) {
    DeleteDeviceObjects();  // a second load replaces the first
    m_pDammyMdl = new (std::nothrow) MeshModel();
    m_pDammyObj = new (std::nothrow) ModelObject();
    if (!m_pDammyMdl || !m_pDammyObj) return E_OUTOFMEMORY;
    const HRESULT hr = m_pDammyMdl->LoadXFile(device, "WHALEDAMMY.X");
    if (FAILED(hr)) return hr;
    m_pDammyObj->SetModel(m_pDammyMdl);
    // Until the first move the whale rests at its start, facing +Z.
    m_pDammyObj->SetPosition(m_vPos.x, m_vPos.y, m_vPos.z);

    if (!m_bAnim) return S_OK;
    m_pSkinnedSkm = new (std::nothrow) SkinnedMesh();
    if (!m_pSkinnedSkm) return E_FAIL;
    if (FAILED(m_pSkinnedSkm->InitDeviceObjects(device, caps, "WHALESKINNED.X"))) return E_FAIL;
    return S_OK;
}

HRESULT GoalUser::RestoreDeviceObjects() {
    if (m_bAnim && m_pSkinnedSkm) m_pSkinnedSkm->RestoreDeviceObjects();
    return S_OK;
}

void GoalUser::Control(const KeyState& keys) {
    const float dt = g_fElapsedTime;
    if (keys.bW) m_fThrust += 70.0f * dt;
    if (keys.bS) m_fThrust -= 70.0f * dt;
    if (keys.bD) m_fYawRate -= 1.0f * dt;  // right
    if (keys.bA) m_fYawRate += 1.0f * dt;  // left
    if (keys.bE) m_fPitchRate += 0.4f * dt;  // nose up
    if (keys.bQ) m_fPitchRate -= 0.4f * dt;  // nose down
}

void GoalUser::FrameMove() {
    const float dt = g_fElapsedTime;
    const D3DXVECTOR3 old = m_vPos;

    // Thrust accelerates, drag takes 99 % of the speed per second.
    const float drag = std::max(1.0f - 0.99f * dt, 0.0f);
    m_fSpeed = dt * m_fThrust + drag * m_fSpeed;

    m_fYaw += dt * m_fYawRate;
    m_fPitch = std::clamp(m_fPitch + dt * m_fPitchRate, -kMaxPitch, kMaxPitch);

    // Pitch eases back toward level by a fifth of itself per second.
    if (m_fPitch > 0.0f) m_fPitch -= std::fabs(0.2f * m_fPitch) * dt;
    if (m_fPitch < 0.0f) m_fPitch += std::fabs(0.2f * m_fPitch) * dt;

    // Thrust and turn rates fade when no key holds them up.
    m_fThrust = Fade(m_fThrust, 0.1f, 0.5f, dt);
    m_fYawRate = Fade(m_fYawRate, 0.01f, 0.9f, dt);
    m_fPitchRate = Fade(m_fPitchRate, 0.01f, 0.9f, dt);

    // The world matrix at the position before this move; the stored angles
    // have the opposite sign of the rotation's.
    D3DXQUATERNION q;
    D3DXQuaternionRotationYawPitchRoll(&q, -m_fYaw, -m_fPitch, 0.0f);
    D3DXMATRIX rotation, translation, world;
    D3DXMatrixRotationQuaternion(&rotation, &q);
    D3DXMatrixTranslation(&translation, old.x, old.y, old.z);
    D3DXMatrixMultiply(&world, &rotation, &translation);
    if (m_pDammyObj) m_pDammyObj->SetMatrix(&world.m[0][0]);
    m_vDir = D3DXVECTOR3(world.m[2][0], world.m[2][1], world.m[2][2]);

    m_vPos += m_vDir * m_fSpeed * dt;

    // The edge of the world sphere stops the whale dead.
    if (D3DXVec3Length(&m_vPos) > kMaxRadius) {
        m_vPos = old;
        m_fSpeed = 0.0f;
        m_fThrust = 0.0f;
    }
}

D3DXVECTOR3 GoalUser::GetPosition() {
    D3DXVECTOR3 position = m_vPos;
    if (m_pDammyObj) m_pDammyObj->GetPosition(&position);
    return position;
}

HRESULT GoalUser::Render(Direct3DDevice8* device, const CameraView& camera, ZSortRender& zsort, D3DXVECTOR4 light,
                         float fogEnd) {
    if (!m_pDammyObj) return S_OK;

    // The drawing scale goes on the matrix only for the draw: the matrix stays
    // the one of the last move, so a frame drawn again without a move shows
    // the whale at the same size.
    const D3DXMATRIX moved = m_pDammyObj->World();
    if (!m_bAnim || !m_pSkinnedSkm) {
        m_pDammyObj->Scale(kScale);
        // The camera's world matrix: the material set follows the whale's
        // distance from the eye.
        m_pDammyObj->Render(device, camera.world, camera.frustum, zsort);
        m_pDammyObj->SetMatrix(&moved.m[0][0]);
        return S_OK;
    }

    m_pSkinnedSkm->FrameMove(1, 1, 0);
    m_pDammyObj->Scale(kScale);
    SkinRenderParams params{};
    params.world = m_pDammyObj->World();
    params.view = camera.view;
    params.projection = camera.projection;
    params.light = light;
    params.fogEnd = fogEnd;
    m_pDammyObj->SetMatrix(&moved.m[0][0]);
    return m_pSkinnedSkm->Render(params);
}

HRESULT GoalUser::InvalidateDeviceObjects() {
    if (m_pSkinnedSkm) m_pSkinnedSkm->InvalidateDeviceObjects();
    return S_OK;
}

HRESULT GoalUser::DeleteDeviceObjects() {
    if (m_pDammyMdl) {
        m_pDammyMdl->Release();
        delete m_pDammyMdl;
        m_pDammyMdl = nullptr;
    }
    delete m_pDammyObj;
    m_pDammyObj = nullptr;
    if (m_pSkinnedSkm) {
        m_pSkinnedSkm->DeleteDeviceObjects();
        delete m_pSkinnedSkm;
        m_pSkinnedSkm = nullptr;
    }
    return S_OK;
}
