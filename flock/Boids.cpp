#include "flock/Boids.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "app/ErrLog.h"
#include "app/FrameState.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "render/ZSortRender.h"
#include "scenery/ParticleTrailPC.h"

Boids g_Boids;

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kQuarterPi = 0.7853982f;

// Drawn birds are three times the size of the model.
constexpr float kBirdScale = 3.0f;

// Beyond this distance from the flock centre a bird is put back on it; beyond
// this distance from the origin the whole flock is put back at the origin.
constexpr float kStragglerDistance = 5000.0f;
constexpr float kOriginDistance = 80000.0f;

// Two birds closer than this are one point: there is no direction between
// them, so they give each other no separation, alignment or cohesion. This
// happens whenever birds are put on the same point (a reset to the origin,
// several stragglers placed on the centre in one frame), and it keeps the
// 1/h terms finite.
constexpr float kCoincident = 1.0e-3f;

float Uniform() { return static_cast<float>(Rand()) / static_cast<float>(kRandMax); }

// u - u with the two draws in a fixed order.
float UniformDifference() {
    const float a = Uniform();
    const float b = Uniform();
    return a - b;
}

float Length(const D3DXVECTOR3& v) { return D3DXVec3Length(&v); }

// v / |v|, or zero when v has no length.
D3DXVECTOR3 Normalized(const D3DXVECTOR3& v) {
    const float length = Length(v);
    if (length > 0.0f) return v / length;
    return D3DXVECTOR3(0.0f, 0.0f, 0.0f);
}

}  // namespace

Boids::Boids()
    : m_nBoidNum(40),
      m_pBoids(nullptr),
      m_vGoal(0.0f, 0.0f, 0.0f),
      m_vCenter(0.0f, 0.0f, 0.0f),
      m_pDammyMdl(nullptr),
      m_pSkinnedSkm(nullptr),
      m_bAnim(1),
      m_bLoop(0),
      m_fLoopInterval(50.0f),
      m_fLoopTimer(30.0f),
      m_fRadius(0.0f),
      m_fSpeed(0.0f),
      m_fWeightSep(1.0f),
      m_fWeightAli(0.25f),
      m_fWeightCoh(1.0f),
      m_fWeightCenter(1.0f),
      m_fWeightGoal(1.0f),
      m_fTrailClock(0.0f),
      m_bEmit(0),
      m_nEmitGroup(0) {
    SRand(timeGetTime());
}

void Boids::SetParameters(const Settings& settings) {
    // The count and the animation switch are fixed once the birds exist: the
    // bird array and the skinned meshes were made for them.
    if (!m_pBoids) {
        m_nBoidNum = std::clamp(settings.intBrdNumCur, kMinBirds, kMaxBirds);
        m_bAnim = settings.intChkAnim;
    }
    m_bLoop = settings.intChkLoop;
    m_fRadius = 400.0f;
    m_fSpeed = 0.6f + 0.6f * 200.0f / 100.0f;
    m_fWeightSep = 100.0f / 100.0f;
    m_fWeightAli = 25.0f / 100.0f;
    m_fWeightCoh = 100.0f / 100.0f;
    m_fWeightCenter = 100.0f / 100.0f;
    m_fWeightGoal = 100.0f / 100.0f;
}

HRESULT Boids::CreateBirds() {
    SRand(timeGetTime());

    delete[] m_pBoids;
    m_pBoids = new (std::nothrow) Bird[static_cast<std::size_t>(m_nBoidNum)];
    if (!m_pBoids) {
        g_ErrLog.Add("\t\t m_pBoids == NULL\n");
        return E_FAIL;
    }
    m_vGoal = D3DXVECTOR3(0.0f, 0.0f, 0.0f);

    for (int i = 0; i < m_nBoidNum; ++i) {
        Bird& b = m_pBoids[i];
        // The random heading only feeds the first frame's alignment and
        // turning; from the first move on the heading follows the angles.
        D3DXVECTOR3 dir;
        dir.x = UniformDifference();
        dir.y = UniformDifference();
        dir.z = UniformDifference();
        b.vDir = Normalized(dir);
        b.vPos.x = 200.0f + 33.0f * UniformDifference();
        b.vPos.y = 1.0f + 33.0f * UniformDifference();
        b.vPos.z = 200.0f + 33.0f * UniformDifference();
        b.fYaw = b.fPitch = b.fRoll = 0.0f;
        b.fPitchRate = b.fYawRate = 0.0f;
        b.fSpeed = m_fSpeed;
        b.bLooping = b.bLoopReady = 0;
        b.fLoopAngle = -Uniform() * kQuarterPi;
        b.fLoopRate = 0.45f + 0.05f * Uniform();
        b.nGroup = Rand() % 2;
    }
    return S_OK;
}

HRESULT Boids::InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps) {
    HRESULT hr = CreateBirds();
    if (FAILED(hr)) return hr;

    m_pDammyMdl = new (std::nothrow) MeshModel();
    if (!m_pDammyMdl) {
        g_ErrLog.Add("\t\tm_pDammyMdl == NULL\n");
        return E_FAIL;
    }
    g_ErrLog.Add("\t\tm_pDammyMdl->LoadXFile...\n");
    hr = m_pDammyMdl->LoadXFile(device, "BIRDDAMMY02.X");
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\tFailed\n");
        return hr;
    }
    for (int i = 0; i < m_nBoidNum; ++i) m_pBoids[i].SetModel(m_pDammyMdl);

    if (!m_bAnim) return S_OK;

    m_pSkinnedSkm = new (std::nothrow) SkinnedMesh[2];
    if (!m_pSkinnedSkm) {
        g_ErrLog.Add("\t\tm_pSkinnedSkm == NULL\n");
        return E_FAIL;
    }
    g_ErrLog.Add("\t\tm_pSkinnedSkm.InitDeviceObjects...\n");
    if (FAILED(m_pSkinnedSkm[0].InitDeviceObjects(device, caps, "BIRDSKINNED03.X"))) {
        g_ErrLog.Add("\t\tFailed(0)\n");
        return E_FAIL;
    }
    if (FAILED(m_pSkinnedSkm[1].InitDeviceObjects(device, caps, "BIRDSKINNED04.X"))) {
        g_ErrLog.Add("\t\tFailed(1)\n");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT Boids::RestoreDeviceObjects() {
    if (m_bAnim && m_pSkinnedSkm) {
        m_pSkinnedSkm[0].RestoreDeviceObjects();
        m_pSkinnedSkm[1].RestoreDeviceObjects();
    }
    return S_OK;
}

D3DXVECTOR3 Boids::GetCenter() const {
    D3DXVECTOR3 sum(0.0f, 0.0f, 0.0f);
    if (!m_pBoids) return sum;
    for (int i = 0; i < m_nBoidNum; ++i) sum += m_pBoids[i].vPos;
    return sum / static_cast<float>(m_nBoidNum);
}

HRESULT Boids::FrameMove(const D3DXVECTOR3& goal, ParticleTrailPC& trails) {
    if (!m_pBoids) return S_OK;
    const float dt = g_fElapsedTime;

    m_vGoal = goal;
    m_vCenter = GetCenter();

    // The trail clock: a few emissions a second, each by one half of the flock.
    m_fTrailClock += 6.0f * dt;
    m_bEmit = 0;
    if (m_fTrailClock >= 1.0f) {
        m_fTrailClock = 0.0f;
        m_bEmit = 1;
        m_nEmitGroup = Rand() % 2;
    }

    for (int i = 0; i < m_nBoidNum; ++i) {
        Bird& b = m_pBoids[i];
        b.vSeparation = b.vAlignment = b.vCohesion = b.vToCenter = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        b.nNeighbours = 0;
    }

    if (m_bLoop) {
        m_fLoopTimer += dt;
        if (m_fLoopTimer > m_fLoopInterval) {
            m_fLoopInterval = 60.0f + 70.0f * Uniform();
            m_fLoopTimer = 0.0f;
            for (int i = 0; i < m_nBoidNum; ++i) {
                m_pBoids[i].bLooping = 1;
                m_pBoids[i].bLoopReady = 0;
            }
        }
    }

    for (int i = 0; i < m_nBoidNum; ++i) {
        Bird& b = m_pBoids[i];
        // Every pair is looked at once, from its lower index, before either
        // bird of it has moved this frame.
        FindNeighbours(i);

        b.vToGoal = Normalized(m_vGoal - b.vPos);
        b.vToCenter = Normalized(m_vCenter - b.vPos);

        if (b.nNeighbours > 0) {
            const float n = static_cast<float>(b.nNeighbours);
            b.vCohesion = Normalized(b.vCohesion / n - b.vPos);

            b.vAlignment = b.vAlignment / n;
            const float length = Length(b.vAlignment);
            // The unit mean heading less the own heading, weighted up when the
            // neighbours are far or disagree.
            if (length > 0.0f) b.vAlignment = (b.vAlignment / length - b.vDir) / length;
        }

        if (b.bLooping) LoopStep(b, dt);
        else SteeringStep(b, dt);

        if (m_bEmit && b.nGroup == m_nEmitGroup)
            trails.Emit(b.vPos.x, b.vPos.y, b.vPos.z, b.vVel.x, b.vVel.y, b.vVel.z);
    }
    return S_OK;
}

void Boids::FindNeighbours(int i) {
    Bird& a = m_pBoids[i];
    for (int j = i + 1; j < m_nBoidNum; ++j) {
        Bird& b = m_pBoids[j];
        const D3DXVECTOR3 d = a.vPos - b.vPos;
        const float h = Length(d);
        if (!(h < m_fRadius) || h < kCoincident) continue;
        const D3DXVECTOR3 push = d * (1.0f / (0.3f * h * h));
        const float weight = 1.0f / h;
        a.vSeparation += push;
        b.vSeparation -= push;
        a.vAlignment += b.vDir * weight;
        b.vAlignment += a.vDir * weight;
        a.vCohesion += b.vPos;
        b.vCohesion += a.vPos;
        ++a.nNeighbours;
        ++b.nNeighbours;
    }
}

void Boids::SteeringStep(Bird& b, float dt) {
    const float dc = Length(m_vCenter - b.vPos);
    const float r0 = Length(b.vPos);
    const float dg = Length(m_vGoal - b.vPos);

    // The wish: back to the flock first, then to the goal, and only near both
    // the full blend.
    D3DXVECTOR3 w;
    if (dc > m_fRadius) {
        w = b.vToCenter * m_fWeightCenter;
    } else if (dg > m_fRadius) {
        w = b.vToGoal * m_fWeightGoal;
    } else {
        w = b.vSeparation * m_fWeightSep + b.vAlignment * m_fWeightAli + b.vCohesion * m_fWeightCoh +
            b.vToCenter * m_fWeightCenter + b.vToGoal * m_fWeightGoal;
    }
    const float wishLength = Length(w);
    if (wishLength > 1.0f) w /= wishLength;

    // Pitch.
    if (w.y > 0.1f) {
        if (b.fPitchRate < 0.25f) b.fPitchRate += 1.0f * dt;
    } else if (w.y < -0.1f) {
        if (b.fPitchRate > -0.25f) b.fPitchRate -= 1.0f * dt;
    } else {
        if (b.fPitchRate > 0.01f) b.fPitchRate -= 20.0f * dt;
        else if (b.fPitchRate < -0.01f) b.fPitchRate += 20.0f * dt;
        else b.fPitchRate = 0.0f;
        b.fPitch -= b.fPitch * dt;
    }
    b.fPitch += b.fPitchRate * dt;
    b.fPitch = std::clamp(b.fPitch, -0.25f, 0.25f);

    // Speed up when the wish lies ahead, slow down when it lies aside or behind.
    const D3DXVECTOR3 h = Normalized(D3DXVECTOR3(w.x, 0.0f, w.z));
    const D3DXVECTOR3 f = Normalized(b.vDir);
    const float a = D3DXVec3Dot(&h, &f);
    if (a > 0.0f) b.fSpeed += 0.5f * m_fSpeed * dt;
    else b.fSpeed -= 0.5f * m_fSpeed * dt;

    // Yaw: turn harder the farther the wish lies off the heading; bank into it.
    const float g = 2.0f * std::max(1.0f - a, 0.25f);
    const float k = f.z * h.x - f.x * h.z;  // y of f x h
    if (k > 0.1f) {
        if (b.fYawRate > -1.0f) b.fYawRate -= g * dt;
    } else if (k < -0.1f) {
        if (b.fYawRate < 1.0f) b.fYawRate += g * dt;
    }
    b.fYaw += b.fYawRate * dt;
    b.fRoll = -0.3f * b.fYawRate;

    // Back toward cruise speed.
    if (b.fSpeed > m_fSpeed) b.fSpeed -= 0.3f * m_fSpeed * dt;
    if (b.fSpeed < m_fSpeed) b.fSpeed += 0.3f * m_fSpeed * dt;
    b.fSpeed = std::clamp(b.fSpeed, m_fSpeed / 2.0f, 2.0f * m_fSpeed);

    Move(b, dt);

    if (dc > kStragglerDistance) b.vPos = m_vCenter;
    if (r0 > kOriginDistance) {
        for (int j = 0; j < m_nBoidNum; ++j) m_pBoids[j].vPos = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        // The flock's centre is the origin now; the birds still to come this
        // frame must measure from it, or the straggler rule would carry them
        // straight back out to the old centre.
        m_vCenter = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    }
}

void Boids::LoopStep(Bird& b, float dt) {
    if (!b.bLoopReady) {
        // Level out first, one correction a frame.
        if (b.fPitch > 0.05f) b.fPitch -= std::fabs(b.fPitch) * 0.7f * dt;
        else if (b.fPitch < -0.05f) b.fPitch += std::fabs(b.fPitch) * 0.7f * dt;
        else if (b.fRoll > 0.05f) b.fRoll -= std::fabs(b.fRoll) * 0.7f * dt;
        else if (b.fRoll < -0.05f) b.fRoll += std::fabs(b.fRoll) * 0.7f * dt;
        else b.bLoopReady = 1;
    } else {
        b.fLoopAngle += b.fLoopRate * dt;
        if (b.fLoopAngle > kTwoPi) {
            b.fLoopAngle = -Uniform() * kQuarterPi;
            b.bLooping = 0;
        }
        // Up and over through a full circle, rolling once in the first half.
        b.fPitch = std::max(b.fLoopAngle, 0.0f);
        b.fRoll = -std::min(std::max(2.0f * b.fLoopAngle, 0.0f), kTwoPi);
    }
    Move(b, dt);
}

void Boids::Move(Bird& b, float dt) {
    const D3DXVECTOR3 old = b.vPos;

    D3DXQUATERNION q;
    D3DXQuaternionRotationYawPitchRoll(&q, -b.fYaw, -b.fPitch, -b.fRoll);
    D3DXMATRIX rotation, translation, world;
    D3DXMatrixRotationQuaternion(&rotation, &q);
    D3DXMatrixTranslation(&translation, old.x, old.y, old.z);
    D3DXMatrixMultiply(&world, &rotation, &translation);
    b.SetMatrix(&world.m[0][0]);

    b.vDir = D3DXVECTOR3(world.m[2][0], world.m[2][1], world.m[2][2]);
    b.vPos += b.vDir * (b.fSpeed * 100.0f * dt);
    b.vVel = b.vPos - old;
}

void Boids::RenderStatic(Bird& b, Direct3DDevice8* device, const CameraView& camera, ZSortRender& zsort) {
    b.Scale(kBirdScale);
    b.Render(device, camera.world, camera.frustum, zsort);
}

HRESULT Boids::Render(Direct3DDevice8* device, const CameraView& camera, ZSortRender& zsort, D3DXVECTOR4 light,
                      float fogEnd) {
    if (!m_pBoids) return S_OK;

    // The drawing scale goes on a bird's matrix only for the draw: the matrix
    // stays the one of the last move, so a frame drawn again without a move
    // (a flock that stands still) shows the birds at the same size.
    if (!m_bAnim || !m_pSkinnedSkm) {
        for (int i = 0; i < m_nBoidNum; ++i) {
            Bird& b = m_pBoids[i];
            const D3DXMATRIX moved = b.World();
            RenderStatic(b, device, camera, zsort);
            b.SetMatrix(&moved.m[0][0]);
        }
        return S_OK;
    }

    m_pSkinnedSkm[0].FrameMove(1, 1, 0);
    m_pSkinnedSkm[1].FrameMove(1, 1, 0);
    SkinRenderParams params{};
    params.view = camera.view;
    params.projection = camera.projection;
    params.light = light;
    params.fogEnd = fogEnd;
    for (int i = 0; i < m_nBoidNum; ++i) {
        Bird& b = m_pBoids[i];
        if (b.IsVisible(camera.frustum) != 1) continue;
        const D3DXMATRIX moved = b.World();
        b.Scale(kBirdScale);
        params.world = b.World();
        m_pSkinnedSkm[b.nGroup].Render(params);
        b.SetMatrix(&moved.m[0][0]);
    }
    return S_OK;
}

HRESULT Boids::InvalidateDeviceObjects() {
    if (m_bAnim && m_pSkinnedSkm) {
        m_pSkinnedSkm[0].InvalidateDeviceObjects();
        m_pSkinnedSkm[1].InvalidateDeviceObjects();
    }
    return S_OK;
}

HRESULT Boids::DeleteDeviceObjects() {
    if (m_pDammyMdl) {
        m_pDammyMdl->Release();
        delete m_pDammyMdl;
        m_pDammyMdl = nullptr;
    }
    if (m_pSkinnedSkm) {
        m_pSkinnedSkm[0].DeleteDeviceObjects();
        m_pSkinnedSkm[1].DeleteDeviceObjects();
        delete[] m_pSkinnedSkm;
        m_pSkinnedSkm = nullptr;
    }
    delete[] m_pBoids;
    m_pBoids = nullptr;
    return S_OK;
}
