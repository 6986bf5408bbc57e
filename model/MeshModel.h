// A rigid model read from an X-file resource of type MODEL: its visible
// meshes (names containing "display") and its proxy meshes (names containing
// "dammy"), in the order of a depth-first walk. A model has no place of its
// own; ModelObjects place it.
#pragma once

#include "app/ViewFrustum.h"
#include "gfx/Device.h"
#include "gfx/XFile.h"
#include "model/DammyMesh.h"
#include "model/DisplayMesh.h"

class ModelObject;
class ZSortRender;

class MeshModel {
public:
    MeshModel() = default;
    MeshModel(const MeshModel&) = delete;
    MeshModel& operator=(const MeshModel&) = delete;
    ~MeshModel() { Release(); }

    HRESULT LoadXFile(Direct3DDevice8* device, const char* name);
    // Each visible mesh, placed by the object, is tested and queued.
    HRESULT Render(Direct3DDevice8* device, const ModelObject& object, const D3DXMATRIX& camera,
                   const ViewFrustum& frustum, ZSortRender& renderer) const;
    // 1 when a visible mesh placed by `world` may be seen.
    int IsVisible(const ViewFrustum& frustum, const D3DXMATRIX& world) const;
    HRESULT Release();

    const char* Name() const { return m_szName; }
    DWORD DisplayCount() const { return m_dwMeshDisplayNum; }
    DWORD DammyCount() const { return m_dwMeshDammyNum; }
    DisplayMesh* Display(DWORD i) const { return &m_pMeshDisplay[i]; }
    DammyMesh* Dammy(DWORD i) const { return &m_pMeshDammy[i]; }

private:
    enum class Pass { Count, Load };
    HRESULT Walk(Direct3DDevice8* device, XFileData* object, Pass pass, int depth);

    char m_szName[512] = {};
    DisplayMesh* m_pMeshDisplay = nullptr;
    DWORD m_dwMeshDisplayNum = 0;
    DWORD m_dwDisplayLoad = 0;
    DammyMesh* m_pMeshDammy = nullptr;
    DWORD m_dwMeshDammyNum = 0;
    DWORD m_dwDammyLoad = 0;
};

// A model placed in the world.
class ModelObject {
public:
    ModelObject();

    HRESULT SetModel(MeshModel* model);
    void SetMatrix(const float m[16]);
    HRESULT SetPosition(float x, float y, float z);
    void GetPosition(D3DXVECTOR3* out);
    HRESULT Translate(float x, float y, float z, BOOL worldFrame);
    HRESULT RotateZ(float angle, BOOL worldFrame);
    HRESULT Scale(float factor);
    HRESULT Face(const D3DXVECTOR3& target);
    HRESULT Render(Direct3DDevice8* device, const D3DXMATRIX& camera, const ViewFrustum& frustum,
                   ZSortRender& renderer);
    HRESULT IsVisible(const ViewFrustum& frustum);

    const D3DXMATRIX& World() const { return m_matWorld; }
    MeshModel* Model() const { return m_pModel; }

private:
    D3DXMATRIX m_matWorld;
    D3DXVECTOR3 m_vPosition;
    D3DXMATRIX m_matPrevious;
    D3DXMATRIX m_matStep;
    MeshModel* m_pModel = nullptr;
};
