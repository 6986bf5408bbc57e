// The application's camera, fog and light direction.
//
// The camera keeps its camera-to-world matrix as its master state; the view
// is its inverse. The fog holds the linear vertex fog and sets the projection,
// whose far plane is the fog end.
#pragma once

#include "gfx/D3DXMath.h"
#include "gfx/Device.h"

class Camera {
public:
    void Reset();
    void SetPosition(float x, float y, float z);
    void SetPerspective(Direct3DDevice8* device, float aspect, float zNear, float zFar);
    void SetWorldMatrix(const D3DXMATRIX& m) { m_matWorld = m; }
    void SetProjectionMatrix(const D3DXMATRIX& m) { m_matProj = m; }

    const D3DXMATRIX& GetWorld() const { return m_matWorld; }
    D3DXVECTOR3 GetPosition() const;
    D3DXMATRIX GetProjection() const { return m_matProj; }
    D3DXMATRIX GetBillboardMatrix();

private:
    D3DXMATRIX m_matWorld;
    D3DXMATRIX m_matProj;
    D3DXMATRIX m_matScratch;
    D3DXMATRIX m_matView;
    D3DXMATRIX m_matBillboard;
};

class Fog {
public:
    void SetColor(D3DCOLOR color);
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

extern Camera g_Camera;
extern Fog g_Fog;
extern D3DXVECTOR4 g_vLightDir;

// Turns the light about the vertical axis with the multimedia clock.
void UpdateLight();
