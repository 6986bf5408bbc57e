#include "model/DisplayMesh.h"

#include <cmath>
#include <cstring>

#include "app/ErrLog.h"
#include "gfx/VertexFormat.h"
#include "render/ZSortRender.h"
#include "model/TextureCache.h"

namespace {

constexpr DWORD kMeshSystemMem = 0x110;  // D3DXMESH_SYSTEMMEM
constexpr DWORD kToonFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2;  // 0x252

// Faces of a box (or of the frustum): the corners each plane is built
// through, and the outline walked by the crossing test.
constexpr int kFacePlane[6][3] = {{0, 1, 2}, {6, 7, 5}, {2, 6, 4}, {7, 3, 5}, {2, 3, 6}, {1, 0, 4}};
constexpr int kFaceOutline[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2}, {1, 3, 7, 5}, {2, 6, 7, 3}, {0, 4, 5, 1}};
constexpr int kEdges[12][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}, {4, 5}, {6, 7},
                               {4, 6}, {5, 7}, {0, 4}, {2, 6}, {1, 5}, {3, 7}};

struct Vertex44 {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR diffuse;
    float u0, v0, u1, v1;
};
static_assert(sizeof(Vertex44) == 44);

// Does the segment a-b pass through the face (plane and outline)?
bool SegmentCrossesFace(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXPLANE& plane,
                        const D3DXVECTOR3* corners, const int outline[4]) {
    const float da = D3DXPlaneDotCoord(&plane, &a);
    const float db = D3DXPlaneDotCoord(&plane, &b);
    if ((da > 0.0f && db > 0.0f) || (da < 0.0f && db < 0.0f)) return false;
    D3DXVECTOR3 hit;
    if (!D3DXPlaneIntersectLine(&hit, &plane, &a, &b)) return false;

    // Project along the largest component of the normal.
    const float nx = std::fabs(plane.a), ny = std::fabs(plane.b), nz = std::fabs(plane.c);
    auto project = [&](const D3DXVECTOR3& p) -> D3DXVECTOR2 {
        if (nx > ny && nx > nz) return D3DXVECTOR2(p.y, p.z);
        if (ny > nx && ny > nz) return D3DXVECTOR2(p.x, p.z);
        return D3DXVECTOR2(p.x, p.y);
    };
    auto cross = [](const D3DXVECTOR2& u, const D3DXVECTOR2& v) { return u.x * v.y - u.y * v.x; };
    D3DXVECTOR2 q[4];
    for (int i = 0; i < 4; ++i) q[i] = project(corners[outline[i]]);
    const D3DXVECTOR2 p = project(hit);
    const bool clockwise = cross(q[1] - q[0], q[2] - q[0]) < 0.0f;
    for (int i = 0; i < 4; ++i) {
        const float s = cross(q[(i + 1) % 4] - q[i], p - q[i]);
        if (clockwise ? s > 0.0f : !(s > 0.0f)) return false;
    }
    return true;
}

}  // namespace

void BoxPlanes(const D3DXVECTOR3* corners, D3DXPLANE* planes) {
    for (int f = 0; f < 6; ++f)
        D3DXPlaneFromPoints(&planes[f], &corners[kFacePlane[f][0]], &corners[kFacePlane[f][1]],
                            &corners[kFacePlane[f][2]]);
}

bool BoxMayBeVisible(const ViewFrustum& frustum, const D3DXVECTOR3* corners, const D3DXPLANE* planes) {
    unsigned all = 0x3F;
    for (int i = 0; i < 8; ++i) {
        unsigned code = 0;
        for (int p = 0; p < 6; ++p)
            if (D3DXPlaneDotCoord(&frustum.planeFrustum[p], &corners[i]) < 0.0f) code |= 1u << p;
        if (code == 0) return true;
        all &= code;
    }
    if (all != 0) return false;
    for (const auto& e : kEdges)
        for (int f = 0; f < 6; ++f)
            if (SegmentCrossesFace(frustum.vecFrustum[e[0]], frustum.vecFrustum[e[1]], planes[f], corners,
                                   kFaceOutline[f]))
                return true;
    for (const auto& e : kEdges)
        for (int f = 0; f < 6; ++f)
            if (SegmentCrossesFace(corners[e[0]], corners[e[1]], frustum.planeFrustum[f], frustum.vecFrustum,
                                   kFaceOutline[f]))
                return true;
    for (int p = 0; p < 6; ++p)
        if (D3DXPlaneDotCoord(&planes[p], &frustum.vecFrustum[0]) < 0.0f) return false;
    return true;
}

HRESULT DisplayMesh::Load(Direct3DDevice8* device, XFileData* meshObject) {
    DWORD size = sizeof m_szName;
    if (FAILED(meshObject->GetName(m_szName, &size))) m_szName[0] = '\0';
    m_szName[sizeof m_szName - 1] = '\0';

    g_ErrLog.Add("\t\t\tD3DXLoadMeshFromXof...\n");
    D3DXBuffer* adjacency = nullptr;
    D3DXBuffer* materials = nullptr;
    DWORD materialCount = 0;
    D3DXMesh* mesh = nullptr;
    HRESULT hr = D3DXLoadMeshFromXof(meshObject, kMeshSystemMem, device, &adjacency, &materials, &materialCount, &mesh);
    auto releaseReceived = [&] {
        if (adjacency) adjacency->Release();
        if (materials) materials->Release();
        if (mesh) mesh->Release();
        adjacency = materials = nullptr;
        mesh = nullptr;
    };
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        releaseReceived();
        return hr;
    }

    // The textures the materials name, one acquisition each.
    const auto* source = materialCount ? static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer()) : nullptr;
    if (materialCount != 0) {
        m_ppMaterialTextures = new Direct3DTexture8*[materialCount];
        for (DWORD m = 0; m < materialCount; ++m) {
            m_ppMaterialTextures[m] = nullptr;
            if (source[m].pTextureFilename && source[m].pTextureFilename[0])
                m_ppMaterialTextures[m] = g_TextureCache.Acquire(device, source[m].pTextureFilename);
        }
        m_dwMaterialNum = materialCount;
    }

    g_ErrLog.Add("\t\t\tpTempMesh1->Optimize...\n");
    D3DXMesh* optimised = nullptr;
    hr = mesh->Optimize(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr, &optimised);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        releaseReceived();
        return hr;
    }
    mesh->Release();
    mesh = optimised;

    mesh->GetAttributeTable(nullptr, &m_dwAttribNum);
    m_pAttribTable = new D3DXATTRIBUTERANGE[m_dwAttribNum ? m_dwAttribNum : 1];
    mesh->GetAttributeTable(m_pAttribTable, &m_dwAttribNum);

    // The renderer draws range j with material j and texture j, so both are
    // laid out per range from the range's own material: a list with unused
    // materials still pairs right, and a mesh without materials is drawn
    // white rather than with none.
    D3DMATERIAL8 white{};
    white.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    const DWORD ranges = m_dwAttribNum ? m_dwAttribNum : 1;
    m_ppTextures = new Direct3DTexture8*[ranges];
    for (int k = 0; k < kLevels; ++k) m_pMaterials[k] = new D3DMATERIAL8[ranges];
    for (DWORD j = 0; j < ranges; ++j) {
        const DWORD id = j < m_dwAttribNum ? m_pAttribTable[j].AttribId : materialCount;
        const bool named = id < materialCount;
        m_ppTextures[j] = named ? m_ppMaterialTextures[id] : nullptr;
        for (int k = 0; k < kLevels; ++k) {
            D3DMATERIAL8& mat = m_pMaterials[k][j];
            mat = named ? source[id].MatD3D : white;
            mat.Diffuse.a = static_cast<float>(k + 1) * 0.1f;
            mat.Ambient = mat.Diffuse;
        }
    }

    g_ErrLog.Add("\t\t\tpTempMesh1->CloneMeshFVF...\n");
    D3DXMesh* clone = nullptr;
    hr = mesh->CloneMeshFVF(kMeshSystemMem, kToonFVF, device, &clone);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        releaseReceived();
        return hr;
    }
    mesh->Release();
    mesh = clone;
    D3DXComputeNormals(mesh, nullptr);

    g_ErrLog.Add("\t\t\tCreateVertex,IndexBuffer...\n");
    m_dwVertexNum = mesh->GetNumVertices();
    const DWORD faces = mesh->GetNumFaces();
    hr = device->CreateVertexBuffer(m_dwVertexNum * sizeof(Vertex44), 0, kToonFVF, D3DPOOL_MANAGED, &m_pVB);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        releaseReceived();
        return hr;
    }
    hr = device->CreateIndexBuffer(faces * 6, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &m_pIB);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        releaseReceived();
        return hr;
    }

    BYTE* from = nullptr;
    BYTE* target = nullptr;
    mesh->LockVertexBuffer(0, &from);
    m_pVB->Lock(0, 0, &target, 0);
    for (DWORD i = 0; i < m_dwVertexNum; ++i) {
        Vertex44 v;
        std::memcpy(&v, from + static_cast<std::size_t>(i) * sizeof(Vertex44), sizeof v);
        v.diffuse = 0xFFFFFFFF;
        v.u1 = v.u0;
        v.v1 = v.v0;
        std::memcpy(target + static_cast<std::size_t>(i) * sizeof(Vertex44), &v, sizeof v);
    }
    m_pVB->Unlock();
    mesh->UnlockVertexBuffer();
    mesh->LockIndexBuffer(0, &from);
    m_pIB->Lock(0, 0, &target, 0);
    std::memcpy(target, from, static_cast<std::size_t>(faces) * 6);
    m_pIB->Unlock();
    mesh->UnlockIndexBuffer();

    hr = ComputeBounds();
    releaseReceived();
    return hr;
}

HRESULT DisplayMesh::ComputeBounds() {
    BYTE* data = nullptr;
    m_pVB->Lock(0, 0, &data, D3DLOCK_READONLY);
    const auto* first = reinterpret_cast<const D3DXVECTOR3*>(data);

    g_ErrLog.Add("\t\t\tD3DXComputeBoundingBox...\n");
    D3DXVECTOR3 lo, hi;
    HRESULT hr = D3DXComputeBoundingBox(first, m_dwVertexNum, sizeof(Vertex44), &lo, &hi);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        m_pVB->Unlock();
        return hr;
    }
    for (int i = 0; i < 8; ++i)
        m_vCorner[static_cast<std::size_t>(i)] =
            D3DXVECTOR3((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z);

    g_ErrLog.Add("\t\t\tD3DXComputeBoundingSphere...\n");
    float radius = 0.0f;
    hr = D3DXComputeBoundingSphere(first, m_dwVertexNum, sizeof(Vertex44), &m_vCenter, &radius);
    if (FAILED(hr)) {
        g_ErrLog.Add("\t\t\tFailed\n");
        m_pVB->Unlock();
        return hr;
    }
    m_pVB->Unlock();
    return S_OK;
}

WorldBounds DisplayMesh::BoundsIn(const D3DXMATRIX& world) const {
    WorldBounds bounds;
    for (std::size_t i = 0; i < 8; ++i) D3DXVec3TransformCoord(&bounds.corners[i], &m_vCorner[i], &world);
    BoxPlanes(bounds.corners.data(), bounds.planes.data());
    D3DXVec3TransformCoord(&bounds.centre, &m_vCenter, &world);
    return bounds;
}

int DisplayMesh::LevelForDistance(float distance) {
    float r = distance / 5000.0f;
    if (r > 1.0f) r = 1.0f;
    if (r < 0.5f) return 9;
    const double level = (1.0 - (2.0 * static_cast<double>(r) - 1.0)) * 10.0;
    const int l = static_cast<int>(level);
    return l > 9 ? 9 : l;
}

HRESULT DisplayMesh::Render(const D3DXMATRIX& camera, const ViewFrustum& frustum, const D3DXMATRIX& world,
                            ZSortRender& renderer) const {
    const WorldBounds bounds = BoundsIn(world);
    const D3DXVECTOR3 eye(camera.m[3][0], camera.m[3][1], camera.m[3][2]);
    const D3DXVECTOR3 toCentre = bounds.centre - eye;
    const int level = LevelForDistance(D3DXVec3Length(&toCentre));
    if (BoxMayBeVisible(frustum, bounds.corners.data(), bounds.planes.data()))
        renderer.Add(m_pVB, m_pIB, m_pAttribTable, world, bounds.centre, m_pMaterials[level], m_ppTextures,
                     m_dwAttribNum);
    return S_OK;
}

int DisplayMesh::IsVisible(const ViewFrustum& frustum, const D3DXMATRIX& world) const {
    const WorldBounds bounds = BoundsIn(world);
    return BoxMayBeVisible(frustum, bounds.corners.data(), bounds.planes.data()) ? 1 : 0;
}

HRESULT DisplayMesh::Release() {
    if (m_ppMaterialTextures) {
        for (DWORD m = 0; m < m_dwMaterialNum; ++m) g_TextureCache.Release(m_ppMaterialTextures[m]);
        delete[] m_ppMaterialTextures;
        m_ppMaterialTextures = nullptr;
    }
    m_dwMaterialNum = 0;
    delete[] m_ppTextures;
    m_ppTextures = nullptr;
    for (auto& set : m_pMaterials) {
        delete[] set;
        set = nullptr;
    }
    delete[] m_pAttribTable;
    m_pAttribTable = nullptr;
    m_dwAttribNum = 0;
    if (m_pVB) m_pVB->Release();
    if (m_pIB) m_pIB->Release();
    m_pVB = nullptr;
    m_pIB = nullptr;
    m_dwVertexNum = 0;
    return S_OK;
}
