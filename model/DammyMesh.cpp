#include "model/DammyMesh.h"

#include "app/ErrLog.h"
#include "gfx/VertexFormat.h"

namespace {
constexpr DWORD kMeshSystemMem = 0x110;  // D3DXMESH_SYSTEMMEM
}

HRESULT DammyMesh::Load(Direct3DDevice8* device, XFileData* meshObject) {
    DWORD size = sizeof m_szName;
    if (FAILED(meshObject->GetName(m_szName, &size))) m_szName[0] = '\0';
    m_szName[sizeof m_szName - 1] = '\0';

    g_ErrLog.Add("\t\t\tD3DXLoadMeshFromXof...\n");
    D3DXBuffer* adjacency = nullptr;
    D3DXBuffer* materials = nullptr;
    DWORD materialCount = 0;
    D3DXMesh* loaded = nullptr;
    HRESULT hr = D3DXLoadMeshFromXof(meshObject, kMeshSystemMem, device, &adjacency, &materials, &materialCount, &loaded);
    if (adjacency) adjacency->Release();
    if (materials) materials->Release();
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        if (loaded) loaded->Release();
        return hr;
    }

    g_ErrLog.Add("\t\t\tCloneMeshFVF...\n");
    hr = loaded->CloneMeshFVF(kMeshSystemMem, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, device, &m_pMesh);
    loaded->Release();
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        m_pMesh = nullptr;
        return hr;
    }
    return S_OK;
}

HRESULT DammyMesh::Release() {
    if (m_pMesh) {
        m_pMesh->Release();
        m_pMesh = nullptr;
    }
    return S_OK;
}
