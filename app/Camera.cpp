#include "app/Camera.h"

#include "platform/Clock.h"

Camera g_Camera;
Fog g_Fog;
D3DXVECTOR4 g_vLightDir;

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
    device->SetTransform(D3DTS_PROJECTION, &m_matProj);
}

D3DXVECTOR3 Camera::GetPosition() const {
    return D3DXVECTOR3(m_matWorld.m[3][0], m_matWorld.m[3][1], m_matWorld.m[3][2]);
}

D3DXMATRIX Camera::GetBillboardMatrix() {
    m_matBillboard = m_matWorld;
    m_matBillboard.m[3][0] = m_matBillboard.m[3][1] = m_matBillboard.m[3][2] = 0.0f;
    return m_matBillboard;
}

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

void UpdateLight() {
    D3DXMATRIX rotation;
    D3DXMatrixRotationY(&rotation, static_cast<float>(timeGetTime()) / 3000.0f);
    const D3DXVECTOR4 base{0.5f, 0.9f, 0.5f, 0.0f};
    D3DXVec4Transform(&g_vLightDir, &base, &rotation);
}
