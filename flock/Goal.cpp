#include "flock/Goal.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "app/FrameState.h"
#include "platform/Clock.h"
#include "platform/Random.h"

Goal g_Goal;
D3DXVECTOR3 Goal::s_vPrevTarget;

namespace {

// A uniform number in [0, 1], both ends included.
float Uniform() { return static_cast<float>(Rand()) / static_cast<float>(kRandMax); }

// The difference of two fresh uniform draws, the first minus the second.
float Spread() {
    const float first = Uniform();
    const float second = Uniform();
    return first - second;
}

// A waypoint in the box of half-sizes 2500, 500, 2500 around the origin.
D3DXVECTOR3 RandomWaypoint() {
    const float x = 2500.0f * Spread();
    const float y = 500.0f * Spread();
    const float z = 2500.0f * Spread();
    return {x, y, z};
}

D3DXVECTOR3 NormalisedOrZero(const D3DXVECTOR3& v) {
    D3DXVECTOR3 out;
    D3DXVec3Normalize(&out, &v);
    return out;
}

}  // namespace

Goal::Goal() : m_vPos(10.0f, 1.0f, 10.0f), m_vDir(1.0f, 0.0f, 0.0f) {
    SRand(timeGetTime());
    m_vTarget = RandomWaypoint();
}

void Goal::SetParameters(const Settings& /*settings*/) {
    // The cruise speed of a bird at the default flock speed.
    m_fSpeedStd = 0.4f + 0.4f * 200.0f / 100.0f;
}

HRESULT Goal::InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 /*caps*/) {
    SRand(timeGetTime());
    DeleteDeviceObjects();  // a second load replaces the first
    m_pDammyMdl = new (std::nothrow) MeshModel();
    m_pDammyObj = new (std::nothrow) ModelObject();
    if (!m_pDammyMdl || !m_pDammyObj) return E_OUTOFMEMORY;
    const HRESULT hr = m_pDammyMdl->LoadXFile(device, "BIRDDAMMY02.X");
    if (FAILED(hr)) return hr;
    m_pDammyObj->SetModel(m_pDammyMdl);
    return S_OK;
}

HRESULT Goal::RestoreDeviceObjects() { return S_OK; }

void Goal::UpdateTarget() {
    m_fTargetTimer += g_fElapsedTime;
    if (!(m_fTargetTimer > m_fTargetInterval)) return;
    m_fTargetTimer = 0.0f;
    m_vTarget = RandomWaypoint();
    const D3DXVECTOR3 travel = m_vTarget - s_vPrevTarget;
    const float distance = D3DXVec3Length(&travel);
    // About 30 s per 2500 units, give or take up to 30 s. The interval is
    // only ever compared with the timer: one that comes out zero or negative
    // makes the next call pick a new waypoint at once.
    const float jitter = 30.0f * Spread();
    m_fTargetInterval = jitter + 30.0f * distance / 2500.0f;
    s_vPrevTarget = m_vTarget;
}

void Goal::FrameMove() {
    const float dt = g_fElapsedTime;
    const D3DXVECTOR3 wish = NormalisedOrZero(m_vTarget - m_vPos);
    const float r0 = D3DXVec3Length(&m_vPos);

    // Pitch follows the wish's vertical part directly, levelling out when
    // the waypoint lies at the goal's height.
    if (wish.y > 0.01f) {
        m_fPitch = std::min(m_fPitch + 0.1f * dt, 0.8f);
    } else if (wish.y < -0.01f) {
        m_fPitch = std::max(m_fPitch - 0.1f * dt, -0.8f);
    } else {
        if (m_fPitch > 0.0f) m_fPitch -= 0.1f * dt;
        if (m_fPitch < 0.0f) m_fPitch += 0.1f * dt;
    }

    // Speed back toward cruise, in proportion to itself, then held within
    // half and twice the cruise speed.
    if (m_fSpeed > m_fSpeedStd) m_fSpeed -= std::fabs(m_fSpeed) * 0.3f * dt;
    if (m_fSpeed < m_fSpeedStd) m_fSpeed += std::fabs(m_fSpeed) * 0.3f * dt;
    m_fSpeed = std::clamp(m_fSpeed, m_fSpeedStd / 2.0f, 2.0f * m_fSpeedStd);

    // Faster while the waypoint lies ahead, slower while it lies behind.
    const D3DXVECTOR3 h = NormalisedOrZero(D3DXVECTOR3(wish.x, 0.0f, wish.z));
    const D3DXVECTOR3 f = NormalisedOrZero(m_vDir);
    const float t = D3DXVec3Dot(&h, &f);
    if (t > 0.0f) m_fSpeed += 0.5f * m_fSpeedStd * dt;
    else m_fSpeed -= 0.25f * m_fSpeedStd * dt;

    // Yaw rate toward the side of the waypoint; straight ahead it settles to
    // a small rate of either sign, so the goal never flies perfectly straight.
    const float step = std::max(1.0f - t, 0.25f) * dt;
    D3DXVECTOR3 side;
    D3DXVec3Cross(&side, &f, &h);
    const float k = side.y;
    if (k > 0.1f) {
        if (m_fYawRate > -1.0f) m_fYawRate -= step;
    } else if (k < -0.1f) {
        if (m_fYawRate < 1.0f) m_fYawRate += step;
    } else if (t > 0.0f) {
        if (m_fYawRate > 0.01f) m_fYawRate -= 20.0f * dt;
        else if (m_fYawRate < -0.01f) m_fYawRate += 20.0f * dt;
        else m_fYawRate = Rand() % 2 == 0 ? 0.01f : -0.01f;
    }
    m_fYaw += m_fYawRate * dt;
    m_fRoll = -0.25f * m_fYawRate;

    // The world matrix at the position before this move.
    D3DXQUATERNION q;
    D3DXQuaternionRotationYawPitchRoll(&q, -m_fYaw, -m_fPitch, -m_fRoll);
    D3DXMATRIX rotation, translation, world;
    D3DXMatrixRotationQuaternion(&rotation, &q);
    D3DXMatrixTranslation(&translation, m_vPos.x, m_vPos.y, m_vPos.z);
    D3DXMatrixMultiply(&world, &rotation, &translation);
    if (m_pDammyObj) m_pDammyObj->SetMatrix(&world.m[0][0]);
    m_vDir = D3DXVECTOR3(world.m[2][0], world.m[2][1], world.m[2][2]);

    m_vPos += m_vDir * m_fSpeed * 100.0f * dt;
    if (r0 > 80000.0f) m_vPos = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
}

D3DXVECTOR3 Goal::GetPosition() {
    D3DXVECTOR3 position = m_vPos;
    if (m_pDammyObj) m_pDammyObj->GetPosition(&position);
    return position;
}

HRESULT Goal::InvalidateDeviceObjects() { return S_OK; }

HRESULT Goal::DeleteDeviceObjects() {
    if (m_pDammyMdl) {
        m_pDammyMdl->Release();
        delete m_pDammyMdl;
        m_pDammyMdl = nullptr;
    }
    delete m_pDammyObj;
    m_pDammyObj = nullptr;
    return S_OK;
}
