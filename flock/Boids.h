// The flock: 5 to 50 birds flying after a goal point.
//
// Every frame each bird gathers separation, alignment and cohesion from the
// birds within m_fRadius, adds the directions to the flock centre and to the
// goal, turns that wish into pitch, yaw, bank and speed changes and flies
// along its own heading. With the loop setting on, the whole flock flies a
// synchronised vertical loop (with a full roll in its first half) at random
// intervals. Half of the flock drops trail particles a few times a second.
//
// Birds are drawn as the visible mesh of the proxy bird model through the
// depth-sorted renderer, or, with animation on, as one of two skinned models
// whose wing beat every bird of a group shares.
#pragma once

#include "app/Settings.h"
#include "app/ViewFrustum.h"
#include "gfx/D3DXMath.h"
#include "gfx/Device.h"
#include "model/MeshModel.h"
#include "model/SkinnedMesh.h"

class ParticleTrailPC;
class ZSortRender;

// One bird: its placement plus its flight state. Angles are stored with the
// opposite sign of the rotation built from them, so a positive fPitch climbs
// and a positive fYaw turns toward -X.
class Bird : public ModelObject {
public:
    D3DXVECTOR3 vPos{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 vVel{0.0f, 0.0f, 0.0f};  // displacement of the last move, units per frame
    D3DXVECTOR3 vDir{0.0f, 0.0f, 0.0f};  // heading, the local +Z axis
    float fSpeed = 0.0f;                  // x 100 units per second
    float fYaw = 0.0f;
    float fPitch = 0.0f;
    float fRoll = 0.0f;
    float fPitchRate = 0.0f;
    float fYawRate = 0.0f;
    int bLooping = 0;
    int bLoopReady = 0;
    float fLoopAngle = 0.0f;  // 0 .. 2 pi; negative: waiting to start
    float fLoopRate = 0.0f;
    D3DXVECTOR3 vSeparation{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 vAlignment{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 vCohesion{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 vToCenter{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 vToGoal{0.0f, 0.0f, 0.0f};
    int nNeighbours = 0;
    int nGroup = 0;  // skinned model and trail half, 0 or 1
};

class Boids {
public:
    // The bird count the settings dialog offers; other values are brought
    // into this range.
    static constexpr int kMinBirds = 5;
    static constexpr int kMaxBirds = 50;

    Boids();
    Boids(const Boids&) = delete;
    Boids& operator=(const Boids&) = delete;
    ~Boids() { DeleteDeviceObjects(); }

    void SetParameters(const Settings& settings);
    HRESULT InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps);
    HRESULT RestoreDeviceObjects();
    HRESULT FrameMove(const D3DXVECTOR3& goal, ParticleTrailPC& trails);
    D3DXVECTOR3 GetCenter() const;
    HRESULT Render(Direct3DDevice8* device, const CameraView& camera, ZSortRender& zsort, D3DXVECTOR4 light,
                   float fogEnd);
    HRESULT InvalidateDeviceObjects();
    HRESULT DeleteDeviceObjects();

    // What the flock holds (for tests and tools).
    int BirdCount() const { return m_pBoids ? m_nBoidNum : 0; }
    const Bird& GetBird(int i) const { return m_pBoids[i]; }
    int Animated() const { return m_bAnim; }
    int Looping() const { return m_bLoop; }
    float LoopTimer() const { return m_fLoopTimer; }
    float LoopInterval() const { return m_fLoopInterval; }
    float TrailClock() const { return m_fTrailClock; }
    float Radius() const { return m_fRadius; }
    float Speed() const { return m_fSpeed; }
    const MeshModel* DammyModel() const { return m_pDammyMdl; }
    const SkinnedMesh* SkinnedModels() const { return m_pSkinnedSkm; }

    // Creates the birds as InitDeviceObjects does, without loading any model,
    // and gives tests a bird to place.
    HRESULT CreateBirdsForTesting() { return CreateBirds(); }
    Bird& BirdForTesting(int i) { return m_pBoids[i]; }

private:
    HRESULT CreateBirds();
    void FindNeighbours(int i);
    void SteeringStep(Bird& bird, float dt);
    void LoopStep(Bird& bird, float dt);
    static void Move(Bird& bird, float dt);
    static void RenderStatic(Bird& bird, Direct3DDevice8* device, const CameraView& camera, ZSortRender& zsort);

    int m_nBoidNum;
    Bird* m_pBoids;
    D3DXVECTOR3 m_vGoal;
    D3DXVECTOR3 m_vCenter;
    MeshModel* m_pDammyMdl;
    SkinnedMesh* m_pSkinnedSkm;
    int m_bAnim;
    int m_bLoop;
    float m_fLoopInterval;
    float m_fLoopTimer;
    float m_fRadius;
    float m_fSpeed;
    float m_fWeightSep;
    float m_fWeightAli;
    float m_fWeightCoh;
    float m_fWeightCenter;
    float m_fWeightGoal;

    // The trail clock shared by the flock, and this frame's emission.
    float m_fTrailClock;
    int m_bEmit;
    int m_nEmitGroup;
};

extern Boids g_Boids;
