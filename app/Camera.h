// The application's camera, fog and light direction.
//
// The camera keeps its camera-to-world matrix as its master state; the view
// is its inverse. From it come the frustum for visibility tests, the vector the
// depth-sorted renderer orders its entries by, and the billboard matrix of the
// particle trails. The fog holds the linear vertex fog and sets the
// projection, whose far plane is the fog end.
//
// The camera operations that take a device also set the matching device
// transform; a null device skips that step, so the camera's arithmetic works
// on its own. Fog::Apply needs a device.
#pragma once

#include "app/FrameState.h"
#include "app/ViewFrustum.h"
#include "gfx/D3DXMath.h"
#include "gfx/Device.h"

class Camera {
public:
    // World, projection, scratch and view matrices become identity.
    void Reset();
    // Writes the translation row of the world matrix (the eye position).
    void SetPosition(float x, float y, float z);
    // Left-handed perspective with the vertical field of view kCameraFieldOfView.
    void SetPerspective(Direct3DDevice8* device, float aspect, float zNear, float zFar);
    void SetWorldMatrix(const D3DXMATRIX& m) { m_matWorld = m; }
    void SetProjectionMatrix(const D3DXMATRIX& m) { m_matProj = m; }

    const D3DXMATRIX& GetWorld() const { return m_matWorld; }
    D3DXVECTOR3 GetPosition() const;
    // The inverse of the world matrix.
    D3DXMATRIX GetView();
    D3DXMATRIX GetProjection() const { return m_matProj; }
    // The third row of the view matrix (not its third column).
    D3DXVECTOR3 GetSortVector();
    // The world matrix without its translation.
    D3DXMATRIX GetBillboardMatrix();
    const ViewFrustum& GetFrustum() const { return m_Frustum; }
    // World, view (recomputed), projection and frustum, for the scene's draws.
    CameraView GetCameraView();

    // A move along the camera's own axes: world = translation x world.
    void Move(float dx, float dy, float dz);
    // Turns the camera at its eye toward target. When target is the eye or lies
    // straight along up, no orientation follows from them and the camera keeps
    // the one it had.
    void LookAt(Direct3DDevice8* device, const D3DXVECTOR3& target, const D3DXVECTOR3& up);
    // Rebuilds the frustum from the world and projection matrices.
    void UpdateFrustum();

private:
    D3DXMATRIX m_matWorld;
    D3DXMATRIX m_matProj;
    D3DXMATRIX m_matScratch;
    D3DXMATRIX m_matView;
    D3DXMATRIX m_matBillboard;
    ViewFrustum m_Frustum;
};

class Fog {
public:
    void SetColor(D3DCOLOR color);
    // Sets linear vertex fog from 0 to the fog end and the camera's projection
    // (near 1, far the fog end), when the colour changed or force is set.
    void Apply(Direct3DDevice8* device, Camera& camera, float aspect, BOOL force);
    float GetEnd() const { return m_fEnd; }
    D3DCOLOR GetColor() const { return m_dwColor; }

private:
    float m_fEnd = 17500.0f;
    D3DCOLOR m_dwColor = 0xFFFFFFFF;
    BOOL m_bDirty = FALSE;
};

// Vertical field of view of every fixed projection: 2 pi / 7.
constexpr float kCameraFieldOfView = 2.0f * D3DX_PI / 7.0f;

// The user camera flies at this speed (units per second) and stays within
// this distance of the origin.
constexpr float kUserCameraSpeed = 120.0f;
constexpr float kUserCameraRange = 15000.0f;

extern Camera g_Camera;
extern Fog g_Fog;
extern D3DXVECTOR4 g_vLightDir;

// The automatic camera's swing angle (starts at pi/2, on the flyer) and the
// blend between the flyer and the high point derived from it.
extern float g_fSwing;
extern float g_fBlend;

// Turns the light about the vertical axis with the multimedia clock.
void UpdateLight();

// Places g_Camera for the automatic mode: between the path flyer and a high
// point, looking at the flock centre, with a field of view that zooms in on a
// far flock. Sets the device's view and projection (aspect g_fAspect, far
// plane the fog end).
void MoveAutomaticCamera(Direct3DDevice8* device, const D3DXVECTOR3& flockCentre, const D3DXVECTOR3& flyerPosition,
                         float dt);

// Flies g_Camera for the user mode: the arrow and page keys move it along its
// own axes, then it looks at the user goal. A move that would leave the camera
// farther than kUserCameraRange from the origin is taken back.
void MoveUserCamera(Direct3DDevice8* device, const KeyState& keys, const D3DXVECTOR3& goalPosition, float dt);
