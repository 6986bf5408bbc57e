// One visible mesh of a model: its own buffers in the toon layout, ten copies
// of its materials that differ only in opacity, and its bounds. Each frame it
// brings the bounds into world space, tests them against the camera's
// frustum, picks a material set by distance and queues one entry for the
// depth-sorted renderer. It never draws itself.
#pragma once

#include <array>

#include "app/ViewFrustum.h"
#include "gfx/D3DXMath.h"
#include "gfx/D3DXMesh.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/Device.h"
#include "gfx/DeviceResources.h"
#include "gfx/XFile.h"

class ZSortRender;

// A mesh's bounds as one placement puts them in the world.
struct WorldBounds {
    std::array<D3DXVECTOR3, 8> corners;  // the box corners, numbered as the frustum's
    std::array<D3DXPLANE, 6> planes;     // the box faces, normals pointing in
    D3DXVECTOR3 centre;                  // the bounding sphere's centre
};

class DisplayMesh {
public:
    static constexpr int kLevels = 10;

    DisplayMesh() = default;
    DisplayMesh(const DisplayMesh&) = delete;
    DisplayMesh& operator=(const DisplayMesh&) = delete;
    ~DisplayMesh() { Release(); }

    HRESULT Load(Direct3DDevice8* device, XFileData* meshObject);
    // The bounds placed by `world`. A model is shared by all its placements,
    // so each draw and each visibility test takes its own.
    WorldBounds BoundsIn(const D3DXMATRIX& world) const;
    HRESULT Render(const D3DXMATRIX& camera, const ViewFrustum& frustum, const D3DXMATRIX& world,
                   ZSortRender& renderer) const;
    int IsVisible(const ViewFrustum& frustum, const D3DXMATRIX& world) const;
    HRESULT Release();

    // The material level for a distance from the eye: 9 (opaque) near, down
    // to 0 (alpha 0.1) at 5000 and beyond.
    static int LevelForDistance(float distance);

    const char* Name() const { return m_szName; }
    DWORD VertexCount() const { return m_dwVertexNum; }
    DWORD AttribCount() const { return m_dwAttribNum; }
    Direct3DVertexBuffer8* VertexBuffer() const { return m_pVB; }
    const D3DMATERIAL8* MaterialSet(int level) const { return m_pMaterials[level]; }
    Direct3DTexture8* const* Textures() const { return m_ppTextures; }

private:
    HRESULT ComputeBounds();

    char m_szName[512] = {};
    Direct3DVertexBuffer8* m_pVB = nullptr;
    Direct3DIndexBuffer8* m_pIB = nullptr;
    DWORD m_dwVertexNum = 0;
    D3DXATTRIBUTERANGE* m_pAttribTable = nullptr;
    D3DMATERIAL8* m_pMaterials[kLevels] = {};
    Direct3DTexture8** m_ppTextures = nullptr;          // per attribute range
    Direct3DTexture8** m_ppMaterialTextures = nullptr;  // per material, held through the cache
    DWORD m_dwMaterialNum = 0;
    DWORD m_dwAttribNum = 0;
    std::array<D3DXVECTOR3, 8> m_vCorner{};
    D3DXVECTOR3 m_vCenter;
};

// The six inward planes of a box given by its eight corners.
void BoxPlanes(const D3DXVECTOR3* corners, D3DXPLANE* planes);

// The box-against-frustum test: true when a box given by its eight corners
// and six inward planes may be seen through the frustum.
bool BoxMayBeVisible(const ViewFrustum& frustum, const D3DXVECTOR3* corners, const D3DXPLANE* planes);
