#include "render/ZSortRender.h"

#include <algorithm>

#include "app/ErrLog.h"
#include "gfx/D3DXTexture.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramAsm.h"

ZSortRender g_ZSortRender;

namespace {

// An entry's place along the sort direction.
float SortKey(const D3DXVECTOR3& direction, const ZSortRenderEntry& e) {
    return direction.x * e.vCenter.x + direction.y * e.vCenter.y + direction.z * e.vCenter.z;
}

ZSortRenderEntry EmptyEntry() {
    ZSortRenderEntry e{};
    D3DXMatrixIdentity(&e.matWorld);
    e.vCenter = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    return e;
}

void SetConstantRows(Direct3DDevice8* device, DWORD reg, const D3DXMATRIX& m) {
    D3DXMATRIX t;
    D3DXMatrixTranspose(&t, &m);
    device->SetVertexShaderConstant(reg, &t, 4);
}

}  // namespace

ZSortRender::ZSortRender() : m_dwNum(0), m_pToonTexture(nullptr), m_hShader(kNoShader), m_pDevice(nullptr) {
    m_Entry.fill(EmptyEntry());
}

ZSortRender::~ZSortRender() {
    InvalidateDeviceObjects(m_pDevice);
    DeleteDeviceObjects();
}

HRESULT ZSortRender::InitDeviceObjects(Direct3DDevice8* device) {
    g_ErrLog.Add("\t\tD3DXCreateTextureFromResource...\n");
    if (FAILED(D3DXCreateTextureFromResourceA(device, nullptr, "ToonToon.bmp", &m_pToonTexture))) {
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ZSortRender::RestoreDeviceObjects(Direct3DDevice8* device) {
    m_pDevice = device;
    const DWORD declaration[] = {
        D3DVSD_STREAM(0),
        D3DVSD_REG(0, D3DVSDT_FLOAT3),
        D3DVSD_REG(3, D3DVSDT_FLOAT3),
        D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
        D3DVSD_REG(7, D3DVSDT_FLOAT2),
        D3DVSD_REG(8, D3DVSDT_FLOAT2),
        D3DVSD_END(),
    };

    g_ErrLog.Add("\t\tD3DXAssembleShaderFromResource...\n");
    D3DXBuffer* code = nullptr;
    const HRESULT hr = D3DXAssembleShaderFromResourceA(nullptr, "Toon.vsh", 0, nullptr, &code, nullptr);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\tFailed\n");
        return hr;
    }

    g_ErrLog.Add("\t\tCreateVertexShader...\n");
    if (FAILED(device->CreateVertexShader(declaration, static_cast<const DWORD*>(code->GetBufferPointer()),
                                          &m_hShader, 0))) {
        m_hShader = kNoShader;
        code->Release();
        g_ErrLog.Add("\t\tFailed\n");
        return E_FAIL;
    }
    code->Release();
    return S_OK;
}

HRESULT ZSortRender::Add(Direct3DVertexBuffer8* vb, Direct3DIndexBuffer8* ib, const D3DXATTRIBUTERANGE* attribTable,
                         D3DXMATRIX matWorld, D3DXVECTOR3 vCenter, const D3DMATERIAL8* materials,
                         Direct3DTexture8* const* textures, DWORD attribNum) {
    if (m_dwNum >= kMaxEntries) return S_OK;  // a full queue drops the surplus
    ZSortRenderEntry& e = m_Entry[m_dwNum];
    e.pVB = vb;
    e.pIB = ib;
    e.pAttribTable = attribTable;
    e.pMaterials = materials;
    e.ppTextures = textures;
    e.dwAttribNum = attribNum;
    e.matWorld = matWorld;
    e.vCenter = vCenter;
    ++m_dwNum;
    return S_OK;
}

HRESULT ZSortRender::Sort(float x, float y, float z) {
    const D3DXVECTOR3 direction(x, y, z);
    // Ascending keys; equal keys may come in either order.
    if (m_dwNum > 1)
        std::sort(m_Entry.begin(), m_Entry.begin() + m_dwNum,
                  [direction](const ZSortRenderEntry& a, const ZSortRenderEntry& b) {
                      return SortKey(direction, a) < SortKey(direction, b);
                  });
    return S_OK;
}

HRESULT ZSortRender::Render(Direct3DDevice8* device, D3DXMATRIX matView, D3DXMATRIX matProj, D3DXVECTOR4 vLight,
                            float fFogEnd) {
    if (m_dwNum == 0) return S_OK;
    const float ramp[4] = {0.0f, 0.5f, 1.0f, -1.0f};
    const float fog[4] = {-1.0f / (fFogEnd - 0.0f), fFogEnd / (fFogEnd - 0.0f), 0.0f, 0.0f};
    for (DWORD i = 0; i < m_dwNum; ++i) {
        const ZSortRenderEntry& e = m_Entry[i];

        D3DXMATRIX worldView, worldViewProj, worldInverse;
        D3DXMatrixMultiply(&worldView, &e.matWorld, &matView);
        D3DXMatrixMultiply(&worldViewProj, &worldView, &matProj);
        SetConstantRows(device, 0, worldViewProj);
        SetConstantRows(device, 4, worldView);
        device->SetVertexShaderConstant(12, ramp, 1);
        D3DXVECTOR4 light = vLight;
        if (D3DXMatrixInverse(&worldInverse, nullptr, &e.matWorld)) D3DXVec4Transform(&light, &vLight, &worldInverse);
        D3DXVec4Normalize(&light, &light);
        device->SetVertexShaderConstant(13, &light, 1);
        device->SetVertexShaderConstant(14, fog, 1);

        device->SetVertexShader(m_hShader);
        device->SetStreamSource(0, e.pVB, kVertexSize);
        device->SetIndices(e.pIB, 0);
        for (DWORD j = 0; j < e.dwAttribNum; ++j) {
            const D3DXATTRIBUTERANGE& range = e.pAttribTable[j];
            device->SetMaterial(&e.pMaterials[j]);
            device->SetTexture(0, m_pToonTexture);
            device->SetTexture(1, e.ppTextures[j]);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, range.VertexStart, range.VertexCount,
                                         range.FaceStart * 3, range.FaceCount);
        }
        device->SetTexture(0, nullptr);
        device->SetTexture(1, nullptr);
    }
    return S_OK;
}

HRESULT ZSortRender::Clear() {
    m_Entry.fill(EmptyEntry());
    m_dwNum = 0;
    return S_OK;
}

HRESULT ZSortRender::InvalidateDeviceObjects(Direct3DDevice8* device) {
    if (m_hShader != kNoShader) {
        if (device) device->DeleteVertexShader(m_hShader);
        m_hShader = kNoShader;
    }
    return S_OK;
}

HRESULT ZSortRender::DeleteDeviceObjects() {
    // What is still queued (the static whale waits for the next frame's first
    // pass) points at meshes their owners release at shutdown: a renderer
    // brought up again must not draw it.
    Clear();
    if (m_pToonTexture) {
        m_pToonTexture->Release();
        m_pToonTexture = nullptr;
    }
    return S_OK;
}
