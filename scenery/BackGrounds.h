// The still scenery around the flock: four moons placed by MOON.BPS and one
// very large earth far below, switched together by the background setting.
#pragma once

#include "app/Settings.h"
#include "app/ViewFrustum.h"
#include "gfx/Device.h"
#include "model/MeshModel.h"

class ZSortRender;

// Placed copies of one background model, one per placement of a BPS file.
class BackGroundObjects {
public:
    BackGroundObjects() = default;
    BackGroundObjects(const BackGroundObjects&) = delete;
    BackGroundObjects& operator=(const BackGroundObjects&) = delete;
    ~BackGroundObjects() { DeleteDeviceObjects(); }

    HRESULT InitDeviceObjects(Direct3DDevice8* device, const char* modelName, const char* placementName);
    HRESULT Render(Direct3DDevice8* device, const D3DXMATRIX& camera, const ViewFrustum& frustum,
                   ZSortRender& renderer);
    HRESULT DeleteDeviceObjects();

    int Count() const { return m_nCount; }
    const ModelObject* Object(int i) const { return &m_pBackGroundObj[i]; }

private:
    MeshModel* m_pBackGroundMdl = nullptr;
    ModelObject* m_pBackGroundObj = nullptr;
    int m_nCount = 0;
};

class BackGrounds {
public:
    BackGrounds() = default;
    BackGrounds(const BackGrounds&) = delete;
    BackGrounds& operator=(const BackGrounds&) = delete;
    ~BackGrounds() { DeleteDeviceObjects(); }

    HRESULT SetParameters(const Settings& settings);
    HRESULT InitDeviceObjects(Direct3DDevice8* device);
    HRESULT FrameMove();
    HRESULT Render(Direct3DDevice8* device, const D3DXMATRIX& camera, const ViewFrustum& frustum,
                   ZSortRender& renderer);
    HRESULT DeleteDeviceObjects();

    const BackGroundObjects* Moons() const { return m_pMoonBGO; }
    const ModelObject* Earth() const { return m_pEarthObj; }

private:
    BackGroundObjects* m_pMoonBGO = nullptr;
    MeshModel* m_pEarthMdl = nullptr;
    ModelObject* m_pEarthObj = nullptr;
    int m_bMoonOn = 0;
    int m_bEarthOn = 0;
};

extern BackGrounds g_BackGrounds;
