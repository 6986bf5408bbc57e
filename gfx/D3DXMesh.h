// The extension library's meshes: a triangle mesh in system memory (vertices
// in a flexible vertex format, 16-bit indices, one attribute per face), its
// attribute sorting, cloning into another vertex format, normals, bounds, and
// loading from a Mesh object of an X file.
#pragma once

#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/D3DXMath.h"

class D3DXBuffer;
class Direct3DDevice8;
class Direct3DIndexBuffer8;
class Direct3DVertexBuffer8;
class XFileData;

// One range of a mesh's faces that share an attribute (a material).
struct D3DXATTRIBUTERANGE {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
};

// A material of a loaded mesh with the texture file its TextureFilename names
// (null when none). The names live in the same buffer as the materials.
struct D3DXMATERIAL {
    D3DMATERIAL8 MatD3D;
    char* pTextureFilename;
};

// Mesh options. Only D3DXMESH_32BIT changes what a mesh is, and it is not
// supported (indices are 16-bit); the pool and usage bits are recorded and
// given to the device buffers (SYSTEMMEM and MANAGED select those pools, else
// the default pool; the device keeps a copy of every buffer in any pool).
constexpr DWORD D3DXMESH_32BIT = 0x001;
constexpr DWORD D3DXMESH_DONOTCLIP = 0x002;
constexpr DWORD D3DXMESH_POINTS = 0x004;
constexpr DWORD D3DXMESH_RTPATCHES = 0x008;
constexpr DWORD D3DXMESH_VB_SYSTEMMEM = 0x010;
constexpr DWORD D3DXMESH_VB_MANAGED = 0x020;
constexpr DWORD D3DXMESH_VB_WRITEONLY = 0x040;
constexpr DWORD D3DXMESH_VB_DYNAMIC = 0x080;
constexpr DWORD D3DXMESH_IB_SYSTEMMEM = 0x100;
constexpr DWORD D3DXMESH_IB_MANAGED = 0x200;
constexpr DWORD D3DXMESH_IB_WRITEONLY = 0x400;
constexpr DWORD D3DXMESH_IB_DYNAMIC = 0x800;
constexpr DWORD D3DXMESH_VB_SHARE = 0x1000;
constexpr DWORD D3DXMESH_USEHWONLY = 0x2000;
constexpr DWORD D3DXMESH_NPATCHES = 0x4000;
constexpr DWORD D3DXMESH_VB_SOFTWAREPROCESSING = 0x8000;
constexpr DWORD D3DXMESH_IB_SOFTWAREPROCESSING = 0x10000;
constexpr DWORD D3DXMESH_SYSTEMMEM = 0x110;
constexpr DWORD D3DXMESH_MANAGED = 0x220;
constexpr DWORD D3DXMESH_WRITEONLY = 0x440;
constexpr DWORD D3DXMESH_DYNAMIC = 0x880;
constexpr DWORD D3DXMESH_SOFTWAREPROCESSING = 0x18000;

// Optimize flags. VERTEXCACHE and STRIPREORDER are taken as ATTRSORT |
// COMPACT: faces keep their order within an attribute.
constexpr DWORD D3DXMESHOPT_COMPACT = 0x01000000;
constexpr DWORD D3DXMESHOPT_ATTRSORT = 0x02000000;
constexpr DWORD D3DXMESHOPT_VERTEXCACHE = 0x04000000;
constexpr DWORD D3DXMESHOPT_STRIPREORDER = 0x08000000;
constexpr DWORD D3DXMESHOPT_IGNOREVERTS = 0x10000000;

constexpr DWORD UNUSED32 = 0xFFFFFFFFu;

// Result codes of the extension library.
constexpr HRESULT D3DXERR_CANNOTMODIFYINDEXBUFFER = static_cast<HRESULT>(0x88760B50u);
constexpr HRESULT D3DXERR_INVALIDMESH = static_cast<HRESULT>(0x88760B51u);
constexpr HRESULT D3DXERR_CANNOTATTRSORT = static_cast<HRESULT>(0x88760B52u);
constexpr HRESULT D3DXERR_SKINNINGNOTSUPPORTED = static_cast<HRESULT>(0x88760B53u);
constexpr HRESULT D3DXERR_TOOMANYINFLUENCES = static_cast<HRESULT>(0x88760B54u);
constexpr HRESULT D3DXERR_LOADEDMESHASNODATA = static_cast<HRESULT>(0x88760B5Au);

// Largest mesh this layer makes: 16-bit indices, and a face count whose
// arrays stay reasonable.
constexpr DWORD kD3DXMaxMeshVertices = 65535;
constexpr DWORD kD3DXMaxMeshFaces = 1u << 24;

class D3DXMesh {
public:
    D3DXMesh(const D3DXMesh&) = delete;
    D3DXMesh& operator=(const D3DXMesh&) = delete;

    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release();

    DWORD GetNumFaces() const { return static_cast<DWORD>(m_Attributes.size()); }
    DWORD GetNumVertices() const { return m_dwNumVertices; }
    DWORD GetFVF() const { return m_dwFVF; }
    DWORD GetOptions() const { return m_dwOptions; }
    DWORD GetNumBytesPerVertex() const { return m_dwStride; }

    // Raw access to the mesh's own arrays: vertices (GetNumBytesPerVertex()
    // bytes each), indices (three 16-bit indices per face) and attributes (one
    // DWORD per face). The pointers stay valid until the mesh is released;
    // unlocking only ends the access.
    HRESULT LockVertexBuffer(DWORD flags, BYTE** data);
    HRESULT UnlockVertexBuffer();
    HRESULT LockIndexBuffer(DWORD flags, BYTE** data);
    HRESULT UnlockIndexBuffer();
    HRESULT LockAttributeBuffer(DWORD flags, DWORD** data);
    HRESULT UnlockAttributeBuffer();

    // With a null table, *count receives the number of ranges; else the
    // ranges are copied (*count of them at most) and *count is set to the
    // number copied. Empty until an attribute sort.
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* table, DWORD* count) const;
    HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* table, DWORD count);

    // A copy in another vertex format: elements both formats have are copied
    // (texture sets of different sizes: the common components), elements the
    // source lacks are filled with zero. Indices, attributes and the attribute
    // table are copied.
    HRESULT CloneMeshFVF(DWORD options, DWORD fvf, Direct3DDevice8* device, D3DXMesh** cloned) const;

    // A reordered copy. ATTRSORT sorts the faces by attribute (stable) and
    // numbers the vertices in the order the sorted faces first use them, so
    // each attribute's vertices lie together where faces of different
    // attributes do not share them; it builds the attribute table. COMPACT
    // drops vertices no face uses (else they follow the used ones).
    // IGNOREVERTS keeps the vertices as they are. faceRemap (one per face)
    // receives the old face of each new one, vertexRemap the old vertex of each
    // new one; adjacencyOut (three per face) the adjacency of the result,
    // remapped from adjacencyIn or, without it, made from shared edges.
    HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                     D3DXBuffer** vertexRemap, D3DXMesh** optimized) const;

    // Adjacency (three per face: the face across edges 0-1, 1-2, 2-0, or
    // UNUSED32) from the edges faces share through equal vertex indices.
    HRESULT GenerateAdjacencyFromIndices(DWORD* adjacency) const;

    // False when an index names a vertex the mesh does not have (indices are
    // written through LockIndexBuffer); Optimize and D3DXComputeNormals then
    // fail with D3DXERR_INVALIDMESH.
    bool IndicesInRange() const;

    // Drawing. A mesh keeps a reference to the device it was created with
    // (clones and optimized copies take the same one unless CloneMeshFVF is
    // given another) for as long as it lives.

    // The device, with one more reference. D3DERR_INVALIDCALL when the mesh
    // was created without one.
    HRESULT GetDevice(Direct3DDevice8** device);
    // A device buffer with the mesh's vertices (format = the mesh's format) or
    // its 16-bit indices, with one more reference. It is made at the first
    // call and filled again from the mesh's arrays when they have been locked
    // for writing (flags without D3DLOCK_READONLY) since the last fill.
    // D3DERR_INVALIDCALL without a device; a failing creation is passed on.
    HRESULT GetVertexBuffer(Direct3DVertexBuffer8** vertexBuffer);
    HRESULT GetIndexBuffer(Direct3DIndexBuffer8** indexBuffer);
    // Draws the faces of one attribute as an indexed triangle list from the
    // mesh's buffers: stream 0, indices with base vertex 0 and the mesh's
    // format as the vertex shader are set, then one draw per attribute-table
    // range with that id (without a table: one per run of consecutive faces
    // with that attribute). S_OK when no face has the attribute; the first
    // failing device call is returned.
    HRESULT DrawSubset(DWORD attribId);

private:
    friend HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf,
                                     Direct3DDevice8* device, D3DXMesh** mesh);
    D3DXMesh() = default;
    ~D3DXMesh();
    void AttachDevice(Direct3DDevice8* device);
    HRESULT DrawRange(DWORD faceStart, DWORD faceCount, DWORD vertexStart, DWORD vertexCount);

    DWORD m_dwRefs = 1;
    DWORD m_dwFVF = 0;
    DWORD m_dwOptions = 0;
    DWORD m_dwStride = 0;
    DWORD m_dwNumVertices = 0;
    std::vector<BYTE> m_Vertices;
    std::vector<WORD> m_Indices;
    std::vector<DWORD> m_Attributes;
    std::vector<D3DXATTRIBUTERANGE> m_AttribTable;

    Direct3DDevice8* m_pDevice = nullptr;  // one reference, or null
    Direct3DVertexBuffer8* m_pVertexBuffer = nullptr;
    Direct3DIndexBuffer8* m_pIndexBuffer = nullptr;
    // Whether the arrays may differ from the device buffers: set by a lock
    // for writing, kept while such a lock is open.
    bool m_bVerticesChanged = true;
    bool m_bIndicesChanged = true;
    bool m_bVerticesLocked = false;
    bool m_bIndicesLocked = false;
};

// Adjacency of triangles given by their corners (three keys per face, equal
// keys are one point): for each edge 0-1, 1-2, 2-0 the face that shares it,
// preferring one that runs the edge the other way, or UNUSED32.
void BuildTriangleAdjacency(const DWORD* corners, DWORD numFaces, DWORD* adjacency);

// A zero-filled mesh. D3DERR_INVALIDCALL for no faces or vertices, more than
// kD3DXMaxMeshVertices vertices or a format without a position; E_NOTIMPL for
// D3DXMESH_32BIT; E_OUTOFMEMORY beyond kD3DXMaxMeshFaces faces.
HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, Direct3DDevice8* device,
                          D3DXMesh** mesh);

// Vertex normals: each face's normal weighted by its area, summed at its
// corners and normalised. With adjacency, vertices that adjacent faces join
// across a shared edge count as one point (so vertices split for texture
// seams get one normal). D3DERR_INVALIDCALL when the format has no normal.
HRESULT D3DXComputeNormals(D3DXMesh* mesh, const DWORD* adjacency);

// Axis-aligned bounds of `count` points `stride` bytes apart.
HRESULT D3DXComputeBoundingBox(const D3DXVECTOR3* first, DWORD count, DWORD stride, D3DXVECTOR3* min,
                               D3DXVECTOR3* max);
// The centre is the average of the points, the radius the greatest distance
// from it.
HRESULT D3DXComputeBoundingSphere(const D3DXVECTOR3* first, DWORD count, DWORD stride, D3DXVECTOR3* centre,
                                  float* radius);

// A mesh from an X-file Mesh object and its children: faces of n corners
// become fans (0, i, i+1); MeshNormals give normals per face corner (a
// position that gets different normals on different faces is split into
// several vertices), MeshTextureCoords one texture set, MeshVertexColors the
// diffuse colour (vertices the list leaves out are opaque white);
// MeshMaterialList gives each face its material (a list shorter than the faces
// repeats its last index) and the Material children the materials. The format
// is D3DFVF_XYZ plus NORMAL, DIFFUSE and TEX1 as present. Outputs: adjacency
// (three DWORDs per triangle), the materials (D3DXMATERIAL each; null when the
// mesh has no material list), their count and the mesh; each output pointer
// may be null except the mesh. D3DXERR_LOADEDMESHASNODATA for a mesh without
// vertices or faces, D3DXERR_INVALIDDATA for inconsistent data, E_NOTIMPL for
// more than kD3DXMaxMeshVertices vertices.
HRESULT D3DXLoadMeshFromXof(XFileData* meshObject, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacency,
                            D3DXBuffer** materials, DWORD* materialCount, D3DXMesh** mesh);

// The same, and for each vertex of the mesh the index of the file vertex it
// was made from (one DWORD per vertex; vertices split for their normals share
// it), which data given per file vertex (skin weights) is mapped through.
HRESULT D3DXLoadMeshFromXofEx(XFileData* meshObject, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacency,
                              D3DXBuffer** materials, DWORD* materialCount, D3DXBuffer** vertexOrigins,
                              D3DXMesh** mesh);
