#include "app/Camera.h"

#include <algorithm>
#include <cmath>

#include "app/Startup.h"
#include "platform/Clock.h"

Camera g_Camera;
Fog g_Fog;
D3DXVECTOR4 g_vLightDir;
float g_fSwing = 1.5707964f;
float g_fBlend = 0.0f;

namespace {

void SetDeviceTransform(Direct3DDevice8* device, D3DTRANSFORMSTATETYPE state, const D3DXMATRIX& m) {
    if (device) device->SetTransform(state, &m);
}

// The automatic camera's ride: the high end of the swing, the point the
// flock's distance is measured from, and the zoom.
const D3DXVECTOR3 kHighPoint(1.0f, 250.0f, 1.0f);
const D3DXVECTOR3 kZoomReference(1.0f, 1.0f, 1.0f);
constexpr float kZoomDistanceUnit = 1200.0f;
constexpr float kZoomMin = 1.0f;
constexpr float kZoomMax = 50.0f;
constexpr float kSwingRate = 0.05f;  // radians per second
constexpr float kNearFieldOfView = 0.8975979f;

const D3DXVECTOR3 kUp(0.0f, 1.0f, 0.0f);

}  // namespace

// ---------------------------------------------------------------------------
// Camera

void Camera::Reset() {
    D3DXMatrixIdentity(&m_matWorld);
    D3DXMatrixIdentity(&m_matProj);
    D3DXMatrixIdentity(&m_matScratch);
    D3DXMatrixIdentity(&m_matView);
}

void Camera::SetPosition(float x, float y, float z) {
    m_matWorld.m[3][0] = x;
    m_matWorld.m[3][1] = y;
    m_matWorld.m[3][2] = z;
}

void Camera::SetPerspective(Direct3DDevice8* device, float aspect, float zNear, float zFar) {
    D3DXMatrixPerspectiveFovLH(&m_matProj, kCameraFieldOfView, aspect, zNear, zFar);
    SetDeviceTransform(device, D3DTS_PROJECTION, m_matProj);
}

D3DXVECTOR3 Camera::GetPosition() const {
    return D3DXVECTOR3(m_matWorld.m[3][0], m_matWorld.m[3][1], m_matWorld.m[3][2]);
}

D3DXMATRIX Camera::GetView() {
    D3DXMatrixInverse(&m_matView, nullptr, &m_matWorld);
    return m_matView;
}

CameraView Camera::GetCameraView() {
    D3DXMatrixInverse(&m_matView, nullptr, &m_matWorld);
    return CameraView{m_matWorld, m_matView, m_matProj, m_Frustum};
}

D3DXVECTOR3 Camera::GetSortVector() {
    D3DXMatrixInverse(&m_matView, nullptr, &m_matWorld);
    return D3DXVECTOR3(m_matView.m[2][0], m_matView.m[2][1], m_matView.m[2][2]);
}

D3DXMATRIX Camera::GetBillboardMatrix() {
    m_matBillboard = m_matWorld;
    m_matBillboard.m[3][0] = m_matBillboard.m[3][1] = m_matBillboard.m[3][2] = 0.0f;
    return m_matBillboard;
}

void Camera::Move(float dx, float dy, float dz) {
    m_matScratch = m_matWorld;
    D3DXMATRIX translation;
    D3DXMatrixTranslation(&translation, dx, dy, dz);
    D3DXMatrixMultiply(&m_matWorld, &translation, &m_matScratch);
}

void Camera::LookAt(Direct3DDevice8* device, const D3DXVECTOR3& target, const D3DXVECTOR3& up) {
    const D3DXVECTOR3 eye = GetPosition();
    D3DXMATRIX view, world;
    D3DXMatrixLookAtLH(&view, &eye, &target, &up);
    if (D3DXMatrixInverse(&world, nullptr, &view)) {
        m_matView = view;
        m_matWorld = world;
    } else {
        // A singular look-at would collapse the picture and leave no world
        // matrix: face on as before from the new eye.
        D3DXMatrixInverse(&m_matView, nullptr, &m_matWorld);
    }
    SetDeviceTransform(device, D3DTS_VIEW, m_matView);
}

void Camera::UpdateFrustum() {
    D3DXMatrixInverse(&m_matView, nullptr, &m_matWorld);
    const D3DXMATRIX viewProj = m_matView * m_matProj;
    D3DXMATRIX clipToWorld;
    if (!D3DXMatrixInverse(&clipToWorld, nullptr, &viewProj)) return;  // no volume: keep the last one

    for (int i = 0; i < 8; ++i) {
        const D3DXVECTOR3 clip((i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, (i & 4) ? 1.0f : 0.0f);
        D3DXVec3TransformCoord(&m_Frustum.vecFrustum[i], &clip, &clipToWorld);
    }

    static constexpr int kPlaneCorners[6][3] = {
        {0, 1, 2},  // near
        {6, 7, 5},  // far
        {2, 6, 4},  // left
        {7, 3, 5},  // right
        {2, 3, 6},  // top
        {1, 0, 4},  // bottom
    };
    const D3DXVECTOR3* c = m_Frustum.vecFrustum;
    for (int p = 0; p < 6; ++p)
        D3DXPlaneFromPoints(&m_Frustum.planeFrustum[p], &c[kPlaneCorners[p][0]], &c[kPlaneCorners[p][1]],
                            &c[kPlaneCorners[p][2]]);
}

// ---------------------------------------------------------------------------
// Fog

void Fog::SetColor(D3DCOLOR color) {
    m_dwColor = color;
    m_bDirty = TRUE;
}

void Fog::Apply(Direct3DDevice8* device, Camera& camera, float aspect, BOOL force) {
    if (!m_bDirty && !force) return;
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGCOLOR, m_dwColor);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGSTART, FloatToDword(0.0f));
    device->SetRenderState(D3DRS_FOGEND, FloatToDword(m_fEnd));
    camera.SetPerspective(device, aspect, 1.0f, m_fEnd);
    m_bDirty = FALSE;
}

// ---------------------------------------------------------------------------
// Light

void UpdateLight() {
    D3DXMATRIX rotation;
    D3DXMatrixRotationY(&rotation, static_cast<float>(timeGetTime()) / 3000.0f);
    const D3DXVECTOR4 base{0.5f, 0.9f, 0.5f, 0.0f};
    D3DXVec4Transform(&g_vLightDir, &base, &rotation);
}

// ---------------------------------------------------------------------------
// Camera modes

void MoveAutomaticCamera(Direct3DDevice8* device, const D3DXVECTOR3& flockCentre, const D3DXVECTOR3& flyerPosition,
                         float dt) {
    const D3DXVECTOR3 offset = flockCentre - kZoomReference;
    const float zoom = std::clamp(D3DXVec3Length(&offset) / kZoomDistanceUnit, kZoomMin, kZoomMax);
    const float fovFar = D3DX_PI / (3.5f * zoom);

    g_fSwing += kSwingRate * dt;
    if (g_fSwing > D3DX_PI) g_fSwing = 0.0f;
    g_fBlend = std::sin(g_fSwing);

    const D3DXVECTOR3 eye = flyerPosition * g_fBlend + kHighPoint * (1.0f - g_fBlend);
    const float fov = kNearFieldOfView * g_fBlend + fovFar * (1.0f - g_fBlend);

    g_Camera.SetPosition(eye.x, eye.y, eye.z);
    g_Camera.LookAt(device, flockCentre, kUp);

    D3DXMATRIX proj;
    D3DXMatrixPerspectiveFovLH(&proj, fov, g_fAspect, 1.0f, g_Fog.GetEnd());
    SetDeviceTransform(device, D3DTS_PROJECTION, proj);
    g_Camera.SetProjectionMatrix(proj);
}

void MoveUserCamera(Direct3DDevice8* device, const KeyState& keys, const D3DXVECTOR3& goalPosition, float dt) {
    const D3DXMATRIX kept = g_Camera.GetWorld();

    const float step = kUserCameraSpeed * dt;
    if (keys.bRight) g_Camera.Move(step, 0.0f, 0.0f);
    if (keys.bLeft) g_Camera.Move(-step, 0.0f, 0.0f);
    if (keys.bUp) g_Camera.Move(0.0f, 0.0f, step);
    if (keys.bDown) g_Camera.Move(0.0f, 0.0f, -step);
    if (keys.bPageUp) g_Camera.Move(0.0f, step, 0.0f);
    if (keys.bPageDown) g_Camera.Move(0.0f, -step, 0.0f);

    g_Camera.LookAt(device, goalPosition, kUp);

    const D3DXVECTOR3 eye = g_Camera.GetPosition();
    if (D3DXVec3Length(&eye) > kUserCameraRange) {
        // Out of range: the frame is still drawn from the view just set, but
        // the next frame starts from where the camera was.
        g_Camera.SetWorldMatrix(kept);
    }
}
