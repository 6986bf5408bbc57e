#include "scenery/BackGrounds.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "app/ErrLog.h"
#include "platform/Resources.h"

BackGrounds g_BackGrounds;

namespace {
constexpr std::size_t kPlacementBytes = 64;  // one 4x4 float matrix
}

HRESULT BackGroundObjects::InitDeviceObjects(Direct3DDevice8* device, const char* modelName,
                                             const char* placementName) {
    g_ErrLog.Add("\t\tm_pBackGroundMdl->LoadXFile...\n");
    m_pBackGroundMdl = new (std::nothrow) MeshModel();
    if (!m_pBackGroundMdl) {
        g_ErrLog.Add("\t\tm_pBackGroundMdl == NULL\n");
        return E_FAIL;
    }
    HRESULT hr = m_pBackGroundMdl->LoadXFile(device, modelName);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\tFailed\n");
        return hr;
    }

    g_ErrLog.Add("\t\tFineResource...\n");
    HRSRC found = FindResourceA(nullptr, placementName, "MISC");
    if (!found) {
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    g_ErrLog.Add("\t\tLoadResource...\n");
    HGLOBAL loaded = LoadResource(nullptr, found);
    const auto* data = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    const DWORD size = SizeofResource(nullptr, found);
    // The count must be positive and the file must hold every placement it
    // announces; anything else is a broken file, not a placement.
    std::int32_t count = 0;
    if (data && size >= 4) std::memcpy(&count, data, 4);
    if (!data || count <= 0 || (size - 4) / kPlacementBytes < static_cast<std::uint32_t>(count)) {
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }

    m_pBackGroundObj = new (std::nothrow) ModelObject[static_cast<std::size_t>(count)];
    if (!m_pBackGroundObj) {
        g_ErrLog.Add("\t\tm_pBackGroundObj == NULL\n");
        return E_FAIL;
    }
    m_nCount = count;
    for (int k = 0; k < count; ++k) {
        m_pBackGroundObj[k].SetModel(m_pBackGroundMdl);
        float matrix[16];
        std::memcpy(matrix, data + 4 + static_cast<std::size_t>(k) * kPlacementBytes, sizeof matrix);
        m_pBackGroundObj[k].SetMatrix(matrix);
    }
    return S_OK;
}

HRESULT BackGroundObjects::Render(Direct3DDevice8* device, const D3DXMATRIX& camera, const ViewFrustum& frustum,
                                  ZSortRender& renderer) {
    for (int k = 0; k < m_nCount; ++k) m_pBackGroundObj[k].Render(device, camera, frustum, renderer);
    return S_OK;
}

HRESULT BackGroundObjects::DeleteDeviceObjects() {
    if (m_pBackGroundMdl) {
        m_pBackGroundMdl->Release();
        delete m_pBackGroundMdl;
        m_pBackGroundMdl = nullptr;
    }
    delete[] m_pBackGroundObj;
    m_pBackGroundObj = nullptr;
    m_nCount = 0;
    return S_OK;
}

HRESULT BackGrounds::SetParameters(const Settings& settings) {
    m_bMoonOn = settings.intBakGnd;
    m_bEarthOn = settings.intBakGnd;
    return S_OK;
}

HRESULT BackGrounds::InitDeviceObjects(Direct3DDevice8* device) {
    if (m_bMoonOn) {
        m_pMoonBGO = new (std::nothrow) BackGroundObjects();
        if (!m_pMoonBGO) {
            g_ErrLog.Add("\t\tm_pMoonBGO == NULL\n");
            return E_FAIL;
        }
        g_ErrLog.Add("\t\tm_pMoonBGO->InitDeviceObjects...\n");
        const HRESULT hr = m_pMoonBGO->InitDeviceObjects(device, "MOON.X", "MOON.BPS");
        if (FAILED(hr)) {
            g_ErrLog.Add("\t\tFailed\n");
            return hr;
        }
    }
    if (!m_bEarthOn) return S_OK;

    m_pEarthMdl = new (std::nothrow) MeshModel();
    m_pEarthObj = new (std::nothrow) ModelObject();
    if (!m_pEarthMdl || !m_pEarthObj) {
        g_ErrLog.Add("\t\tm_pEarthMdl == NULL\n");
        return E_FAIL;
    }
    if (FAILED(m_pEarthMdl->LoadXFile(device, "EARTH.X"))) {
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    m_pEarthObj->SetModel(m_pEarthMdl);
    m_pEarthObj->Scale(23000.0f);
    m_pEarthObj->SetPosition(0.0f, -26000.0f, 0.0f);
    return S_OK;
}

HRESULT BackGrounds::FrameMove() { return S_OK; }

HRESULT BackGrounds::Render(Direct3DDevice8* device, const D3DXMATRIX& camera, const ViewFrustum& frustum,
                            ZSortRender& renderer) {
    if (m_bMoonOn && m_pMoonBGO) m_pMoonBGO->Render(device, camera, frustum, renderer);
    if (m_bEarthOn && m_pEarthObj) m_pEarthObj->Render(device, camera, frustum, renderer);
    return S_OK;
}

HRESULT BackGrounds::DeleteDeviceObjects() {
    if (m_pMoonBGO) {
        m_pMoonBGO->DeleteDeviceObjects();
        delete m_pMoonBGO;
        m_pMoonBGO = nullptr;
    }
    if (m_pEarthMdl) {
        m_pEarthMdl->Release();
        delete m_pEarthMdl;
        m_pEarthMdl = nullptr;
    }
    delete m_pEarthObj;
    m_pEarthObj = nullptr;
    return S_OK;
}
