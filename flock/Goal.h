// The point the flock chases in automatic mode: an invisible flier that picks
// random waypoints in a large box around the origin and steers toward the
// current one with a bird's kind of yaw, pitch, bank and speed control.
#pragma once

#include "app/Settings.h"
#include "gfx/D3DXMath.h"
#include "gfx/Device.h"
#include "model/MeshModel.h"

class Goal {
public:
    // Starts at (10, 1, 10) heading +x, with a first random waypoint that is
    // replaced after 20 s. Seeds the random generator with the clock.
    Goal();
    Goal(const Goal&) = delete;
    Goal& operator=(const Goal&) = delete;
    ~Goal() { DeleteDeviceObjects(); }

    void SetParameters(const Settings& settings);
    // Loads the proxy bird model that carries the world matrix; its failure
    // is returned unchanged.
    HRESULT InitDeviceObjects(Direct3DDevice8* device, D3DCAPS8 caps);
    HRESULT RestoreDeviceObjects();
    // Counts the frame time and picks a new waypoint when the interval is up.
    void UpdateTarget();
    // One step toward the waypoint.
    void FrameMove();
    // The position at the start of the latest move.
    D3DXVECTOR3 GetPosition();
    HRESULT InvalidateDeviceObjects();
    HRESULT DeleteDeviceObjects();

    // The previous waypoint, kept across UpdateTarget calls for the distance
    // that sets the next interval. Starts at the origin.
    static D3DXVECTOR3 s_vPrevTarget;

    D3DXVECTOR3 m_vPos;
    D3DXVECTOR3 m_vDir;
    float m_fSpeedStd = 0.0f;
    float m_fSpeed = 0.0f;
    float m_fYaw = 0.0f;
    float m_fPitch = 0.0f;
    float m_fRoll = 0.0f;
    float m_fYawRate = 0.0f;
    D3DXVECTOR3 m_vTarget;
    float m_fTargetInterval = 20.0f;
    float m_fTargetTimer = 0.0f;
    MeshModel* m_pDammyMdl = nullptr;
    ModelObject* m_pDammyObj = nullptr;
};

extern Goal g_Goal;
