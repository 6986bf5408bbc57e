// The goal of user mode: a whale the user flies with W/S (thrust), A/D (yaw)
// and E/Q (pitch). It has speed with drag but does not bank, its pitch is held
// within +-0.6 and eases back toward level, and it cannot leave the sphere of
// radius 15000 around the origin. The flock follows it.
//
// The whale is drawn thirty times enlarged, either as the visible mesh of the
// proxy whale through the depth-sorted renderer or, with animation on, as the
// skinned, animated whale.
#pragma once

#include "app/FrameState.h"
#include "app/Settings.h"
#include "app/ViewFrustum.h"
#include "gfx/D3DXMath.h"
#include "gfx/Device.h"
#include "model/MeshModel.h"
#include "model/SkinnedMesh.h"

class ZSortRender;

class GoalUser {
public:
    // The whale never moves farther than this from the origin.
    static constexpr float kMaxRadius = 15000.0f;
    // Drawing scale of both whale models.
    static constexpr float kScale = 30.0f;

    // At rest at (1000, 0, -500), facing +Z.
    GoalUser();
    GoalUser(const GoalUser&) = delete;
    GoalUser& operator=(const GoalUser&) = delete;
    ~GoalUser() { DeleteDeviceObjects(); }

    void SetParameters(const Settings& settings);
    // Loads the proxy whale (its failure is returned unchanged) and, with
    // animation on, the skinned whale (its failure becomes E_FAIL).
    HRESULT InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps);
    HRESULT RestoreDeviceObjects();
    // Turns the held keys of the frame into thrust and turn rates.
    void Control(const KeyState& keys);
    // One step: drag, turning, the fades, the world matrix, the move.
    void FrameMove();
    // The position at the start of the latest move.
    D3DXVECTOR3 GetPosition();
    // Queues the static whale into zsort, or draws the skinned whale at once;
    // returns the skinned draw's result, S_OK otherwise.
    HRESULT Render(Direct3DDevice8* device, const CameraView& camera, ZSortRender& zsort, D3DXVECTOR4 light,
                   float fogEnd);
    HRESULT InvalidateDeviceObjects();
    HRESULT DeleteDeviceObjects();

    // What the whale holds (for tests and tools).
    const D3DXVECTOR3& Position() const { return m_vPos; }
    const D3DXVECTOR3& Direction() const { return m_vDir; }
    float Thrust() const { return m_fThrust; }
    float Speed() const { return m_fSpeed; }
    float Yaw() const { return m_fYaw; }
    float Pitch() const { return m_fPitch; }
    float YawRate() const { return m_fYawRate; }
    float PitchRate() const { return m_fPitchRate; }
    int Animated() const { return m_bAnim; }
    const MeshModel* DammyModel() const { return m_pDammyMdl; }
    const ModelObject* DammyObject() const { return m_pDammyObj; }
    const SkinnedMesh* SkinnedModel() const { return m_pSkinnedSkm; }

private:
    D3DXVECTOR3 m_vPos;
    D3DXVECTOR3 m_vDir;
    float m_fThrust;
    float m_fSpeed;
    float m_fYaw;
    float m_fPitch;
    float m_fYawRate;
    float m_fPitchRate;
    MeshModel* m_pDammyMdl;
    ModelObject* m_pDammyObj;
    SkinnedMesh* m_pSkinnedSkm;
    int m_bAnim;
};

extern GoalUser g_GoalUser;
