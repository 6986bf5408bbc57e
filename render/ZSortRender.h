// The renderer of static meshes: visible meshes queue one entry each during a
// pass; the frame sorts the queue along the camera's sort vector, draws every
// entry with the toon program and ramp, and empties it. Two passes a frame:
// the flock's opaque meshes, then the blended background.
#pragma once

#include <array>

#include "gfx/D3DXMath.h"
#include "gfx/D3DXMesh.h"
#include "gfx/Device.h"
#include "gfx/DeviceResources.h"

struct ZSortRenderEntry {
    Direct3DVertexBuffer8* pVB;
    Direct3DIndexBuffer8* pIB;
    const D3DXATTRIBUTERANGE* pAttribTable;
    const D3DMATERIAL8* pMaterials;
    Direct3DTexture8* const* ppTextures;
    DWORD dwAttribNum;
    D3DXMATRIX matWorld;
    D3DXVECTOR3 vCenter;
};

class ZSortRender {
public:
    static constexpr DWORD kMaxEntries = 1000;
    static constexpr DWORD kNoShader = 0xFFFFFFFF;
    static constexpr UINT kVertexSize = 44;  // position, normal, colour, two texture pairs

    ZSortRender();
    ZSortRender(const ZSortRender&) = delete;
    ZSortRender& operator=(const ZSortRender&) = delete;
    // Releases what the renderer still holds; its owner invalidates and
    // deletes it before the device goes, so this finds nothing in a run.
    ~ZSortRender();

    HRESULT InitDeviceObjects(Direct3DDevice8* device);
    HRESULT RestoreDeviceObjects(Direct3DDevice8* device);
    HRESULT Add(Direct3DVertexBuffer8* vb, Direct3DIndexBuffer8* ib, const D3DXATTRIBUTERANGE* attribTable,
                D3DXMATRIX matWorld, D3DXVECTOR3 vCenter, const D3DMATERIAL8* materials,
                Direct3DTexture8* const* textures, DWORD attribNum);
    HRESULT Sort(float x, float y, float z);
    HRESULT Render(Direct3DDevice8* device, D3DXMATRIX matView, D3DXMATRIX matProj, D3DXVECTOR4 vLight,
                   float fFogEnd);
    HRESULT Clear();
    HRESULT InvalidateDeviceObjects(Direct3DDevice8* device);
    HRESULT DeleteDeviceObjects();

    DWORD Count() const { return m_dwNum; }
    const ZSortRenderEntry& Entry(DWORD i) const { return m_Entry[i]; }
    DWORD Shader() const { return m_hShader; }

private:
    DWORD m_dwNum;
    std::array<ZSortRenderEntry, kMaxEntries> m_Entry;
    Direct3DTexture8* m_pToonTexture;
    DWORD m_hShader;
    Direct3DDevice8* m_pDevice;  // the device of the vertex program; not owned
};

extern ZSortRender g_ZSortRender;
