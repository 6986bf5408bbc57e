#include "model/MeshModel.h"

#include <cstring>
#include <new>

#include "app/ErrLog.h"
#include "render/ZSortRender.h"

namespace {

// Frames nested deeper than this end the walk: no model needs it, and a file
// that does is broken or hostile.
constexpr int kMaxFrameDepth = 64;

struct Reader {
    XFile* file = nullptr;
    XFileEnumObject* objects = nullptr;
    ~Reader() {
        if (objects) objects->Release();
        if (file) file->Release();
    }
};

HRESULT OpenReader(Reader& reader, const char* name, const char* stepLine) {
    if (FAILED(DirectXFileCreate(&reader.file))) return E_FAIL;
    if (FAILED(reader.file->RegisterTemplates(D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES))) return E_FAIL;
    g_ErrLog.Add(stepLine);
    DXFILELOADRESOURCE resource{nullptr, name, "Model"};
    const HRESULT hr = reader.file->CreateEnumObject(&resource, DXFILELOAD_FROMRESOURCE, &reader.objects);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        return hr;
    }
    return S_OK;
}

}  // namespace

HRESULT MeshModel::LoadXFile(Direct3DDevice8* device, const char* name) {
    std::strncpy(m_szName, name ? name : "", sizeof m_szName - 1);

    // Counting pass.
    {
        Reader reader;
        HRESULT hr = OpenReader(reader, m_szName, "\t\t\tpDXFile->CreateEnumObject1...\n");
        if (FAILED(hr)) return hr;
        m_dwMeshDisplayNum = m_dwMeshDammyNum = 0;
        XFileData* object = nullptr;
        while (SUCCEEDED(reader.objects->GetNextDataObject(&object))) {
            hr = Walk(device, object, Pass::Count, 0);
            object->Release();
            if (FAILED(hr)) return E_FAIL;
        }
    }

    if (m_dwMeshDisplayNum != m_dwMeshDammyNum) {
        g_ErrLog.Add("\t\t\tm_dwMeshDisplayNum != m_dwMeshDammyNum\n");
        return E_FAIL;
    }
    m_pMeshDisplay = new (std::nothrow) DisplayMesh[m_dwMeshDisplayNum ? m_dwMeshDisplayNum : 1];
    m_pMeshDammy = new (std::nothrow) DammyMesh[m_dwMeshDammyNum ? m_dwMeshDammyNum : 1];
    if (!m_pMeshDisplay || !m_pMeshDammy) {
        g_ErrLog.Add("\t\t\tm_pMeshDisplay == NULL\n");
        return E_FAIL;
    }

    // Loading pass.
    Reader reader;
    const HRESULT hr = OpenReader(reader, m_szName, "\t\t\tpDXFile->CreateEnumObject2...\n");
    if (FAILED(hr)) return hr;
    m_dwDisplayLoad = m_dwDammyLoad = 0;
    XFileData* object = nullptr;
    while (SUCCEEDED(reader.objects->GetNextDataObject(&object))) {
        const HRESULT walk = Walk(device, object, Pass::Load, 0);
        object->Release();
        if (FAILED(walk)) return E_FAIL;
    }
    return S_OK;
}

HRESULT MeshModel::Walk(Direct3DDevice8* device, XFileData* object, Pass pass, int depth) {
    const GUID* type = nullptr;
    if (FAILED(object->GetType(&type))) return E_FAIL;

    if (*type == TID_D3DRMMesh) {
        char name[512] = {};
        DWORD size = sizeof name;
        if (FAILED(object->GetName(name, &size))) name[0] = '\0';
        name[sizeof name - 1] = '\0';
        const bool display = std::strstr(name, "display") != nullptr;
        const bool dammy = !display && std::strstr(name, "dammy") != nullptr;
        if (pass == Pass::Count) {
            if (display) ++m_dwMeshDisplayNum;
            else if (dammy) ++m_dwMeshDammyNum;
            else {
                g_ErrLog.Add("\t\t\tInvalidate Name\n");
                return E_FAIL;
            }
        } else if (display) {
            // The counting pass sized the arrays; a file that changed between
            // the passes cannot overrun them.
            if (m_dwDisplayLoad >= m_dwMeshDisplayNum) return E_FAIL;
            const HRESULT hr = m_pMeshDisplay[m_dwDisplayLoad++].Load(device, object);
            if (FAILED(hr)) return hr;
        } else if (dammy) {
            if (m_dwDammyLoad >= m_dwMeshDammyNum) return E_FAIL;
            const HRESULT hr = m_pMeshDammy[m_dwDammyLoad++].Load(device, object);
            if (FAILED(hr)) return hr;
        }
    }

    if (*type != TID_D3DRMFrame) return S_OK;
    if (depth >= kMaxFrameDepth) return E_FAIL;
    XFileObject* child = nullptr;
    while (SUCCEEDED(object->GetNextObject(&child))) {
        XFileData* data = nullptr;
        const HRESULT asData = child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&data));
        child->Release();
        if (FAILED(asData)) return asData;
        const HRESULT hr = Walk(device, data, pass, depth + 1);
        data->Release();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT MeshModel::Render(Direct3DDevice8*, const ModelObject& object, const D3DXMATRIX& camera,
                          const ViewFrustum& frustum, ZSortRender& renderer) const {
    for (DWORD i = 0; i < m_dwMeshDisplayNum && m_pMeshDisplay; ++i) {
        const HRESULT hr = m_pMeshDisplay[i].Render(camera, frustum, object.World(), renderer);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

int MeshModel::IsVisible(const ViewFrustum& frustum, const D3DXMATRIX& world) const {
    for (DWORD i = 0; i < m_dwMeshDisplayNum && m_pMeshDisplay; ++i)
        if (m_pMeshDisplay[i].IsVisible(frustum, world)) return 1;
    return 0;
}

HRESULT MeshModel::Release() {
    HRESULT result = S_OK;
    if (m_pMeshDisplay)
        for (DWORD i = 0; i < m_dwMeshDisplayNum && SUCCEEDED(result); ++i) result = m_pMeshDisplay[i].Release();
    if (m_pMeshDammy && SUCCEEDED(result))
        for (DWORD i = 0; i < m_dwMeshDammyNum && SUCCEEDED(result); ++i) result = m_pMeshDammy[i].Release();
    delete[] m_pMeshDisplay;
    delete[] m_pMeshDammy;
    m_pMeshDisplay = nullptr;
    m_pMeshDammy = nullptr;
    return result;
}

// ---------------------------------------------------------------------------

ModelObject::ModelObject() {
    D3DXMatrixIdentity(&m_matWorld);
    D3DXMatrixIdentity(&m_matPrevious);
    D3DXMatrixIdentity(&m_matStep);
}

HRESULT ModelObject::SetModel(MeshModel* model) {
    m_pModel = model;
    return S_OK;
}

void ModelObject::SetMatrix(const float m[16]) { std::memcpy(&m_matWorld.m[0][0], m, sizeof(float) * 16); }

HRESULT ModelObject::SetPosition(float x, float y, float z) {
    m_matWorld.m[3][0] = x;
    m_matWorld.m[3][1] = y;
    m_matWorld.m[3][2] = z;
    return S_OK;
}

void ModelObject::GetPosition(D3DXVECTOR3* out) {
    m_vPosition = D3DXVECTOR3(m_matWorld.m[3][0], m_matWorld.m[3][1], m_matWorld.m[3][2]);
    if (out) *out = m_vPosition;
}

HRESULT ModelObject::Translate(float x, float y, float z, BOOL worldFrame) {
    m_matPrevious = m_matWorld;
    D3DXMatrixTranslation(&m_matStep, x, y, z);
    if (worldFrame) D3DXMatrixMultiply(&m_matWorld, &m_matPrevious, &m_matStep);
    else D3DXMatrixMultiply(&m_matWorld, &m_matStep, &m_matPrevious);
    return S_OK;
}

HRESULT ModelObject::RotateZ(float angle, BOOL worldFrame) {
    m_matPrevious = m_matWorld;
    D3DXMatrixRotationZ(&m_matStep, angle);
    if (worldFrame) D3DXMatrixMultiply(&m_matWorld, &m_matPrevious, &m_matStep);
    else D3DXMatrixMultiply(&m_matWorld, &m_matStep, &m_matPrevious);
    return S_OK;
}

HRESULT ModelObject::Scale(float factor) {
    m_matPrevious = m_matWorld;
    D3DXMatrixScaling(&m_matStep, factor, factor, factor);
    D3DXMatrixMultiply(&m_matWorld, &m_matStep, &m_matPrevious);
    return S_OK;
}

HRESULT ModelObject::Face(const D3DXVECTOR3& target) {
    const D3DXVECTOR3 position(m_matWorld.m[3][0], m_matWorld.m[3][1], m_matWorld.m[3][2]);
    D3DXVECTOR3 z = target - position, x, y;
    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXVec3Normalize(&z, &z);
    D3DXVec3Cross(&x, &up, &z);
    D3DXVec3Normalize(&x, &x);
    D3DXVec3Cross(&y, &z, &x);
    D3DXVec3Normalize(&y, &y);
    const D3DXVECTOR3* axes[3] = {&x, &y, &z};
    for (int r = 0; r < 3; ++r) {
        m_matWorld.m[r][0] = axes[r]->x;
        m_matWorld.m[r][1] = axes[r]->y;
        m_matWorld.m[r][2] = axes[r]->z;
    }
    m_matWorld.m[3][3] = 1.0f;
    return S_OK;
}

HRESULT ModelObject::Render(Direct3DDevice8* device, const D3DXMATRIX& camera, const ViewFrustum& frustum,
                            ZSortRender& renderer) {
    if (!m_pModel) return E_FAIL;
    const HRESULT hr = m_pModel->Render(device, *this, camera, frustum, renderer);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT ModelObject::IsVisible(const ViewFrustum& frustum) {
    if (!m_pModel) return E_FAIL;
    return m_pModel->IsVisible(frustum, m_matWorld);
}
