// The extension library's skin meshes: a triangle mesh with a set of bones,
// each bone influencing some vertices with a weight, loaded from an X-file
// Mesh object that carries XSkinMeshHeader and SkinWeights children, and its
// conversion into an indexed-blended mesh for matrix-palette skinning.
#pragma once

#include <memory>

#include "gfx/D3D8Types.h"
#include "gfx/D3DXMath.h"
#include "gfx/D3DXMesh.h"

class D3DXBuffer;
class Direct3DDevice8;
class XFileData;

// One draw group of an indexed-blended mesh: a range of faces of one
// attribute, the vertices they use, and the bones its palette holds.
// BoneId points at the group's paletteSize entries, in the same buffer as the
// table; UNUSED32 marks an empty slot.
struct D3DXBONECOMBINATION {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
    DWORD* BoneId;
};

// Largest palette a conversion accepts, and largest number of matrices that
// blend one vertex.
constexpr DWORD kD3DXMaxPaletteSize = 256;
constexpr DWORD kD3DXMaxVertexInfluences = 4;

class D3DXSkinMesh {
public:
    D3DXSkinMesh(const D3DXSkinMesh&) = delete;
    D3DXSkinMesh& operator=(const D3DXSkinMesh&) = delete;

    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release();

    DWORD GetNumBones() const;
    DWORD GetNumFaces() const;
    DWORD GetNumVertices() const;
    DWORD GetFVF() const;
    DWORD GetOptions() const;

    // The mesh as loaded (bind pose), with one more reference.
    HRESULT GetOriginalMesh(D3DXMesh** mesh);

    // The vertices a bone influences, with their weights, in the order they
    // were set. GetBoneInfluence fills `vertices` and `weights` with
    // GetNumBoneInfluences(bone) entries each. D3DERR_INVALIDCALL for a bone
    // out of range or null arrays.
    DWORD GetNumBoneInfluences(DWORD bone) const;
    HRESULT GetBoneInfluence(DWORD bone, DWORD* vertices, float* weights) const;
    // Replaces a bone's influences. D3DERR_INVALIDCALL for a bone out of
    // range, a vertex out of range, or a weight that is negative or not a
    // finite number. Weights a bone gives one vertex several times add up.
    HRESULT SetBoneInfluence(DWORD bone, DWORD count, const DWORD* vertices, const float* weights);

    // The greatest number of bones with a non-zero weight on one vertex, and
    // on the three corners of one face together.
    HRESULT GetMaxVertexInfluences(DWORD* maxVertexInfluences) const;
    HRESULT GetMaxFaceInfluences(DWORD* maxFaceInfluences) const;

    // The mesh converted for indexed matrix-palette skinning.
    //
    // The faces are sorted by attribute and, within an attribute, split into
    // groups whose corners together need at most `paletteSize` bones; each
    // group becomes one bone combination. Every group has its own contiguous
    // range of vertices: a vertex used by faces of several groups is copied
    // into each (its palette indices differ from group to group).
    //
    // Per vertex, the bones with a non-zero weight are taken in the order of
    // decreasing weight; their weights are scaled to sum to 1. The vertex
    // format is the source format with its position replaced by
    // D3DFVF_XYZB<k> | D3DFVF_LASTBETA_UBYTE4, k the greatest number of
    // influences of a vertex (at least 1): k - 1 weights, then four index
    // bytes holding palette slots (not bone numbers). A vertex with fewer
    // influences than k repeats its last slot with weight 0; a vertex no bone
    // influences is bound to palette slot 0 with weight 1 (a group whose
    // vertices no bone influences gets bone 0 in that slot). Palette slots
    // hold the group's bones in ascending order.
    //
    // Outputs: `maxVertexInfluences` k; `numBoneCombinations` the group
    // count; `boneCombinationTable` the groups (D3DXBONECOMBINATION each, then
    // their bone ids); `mesh` the converted mesh, created with the mesh bits
    // of `options` on the device of the original mesh, carrying an attribute
    // table with one range per group (group order).
    // `adjacencyOut` (three per face), `faceRemap` (one per face: the source
    // face of each new face) and `vertexRemap` (a buffer of one DWORD per new
    // vertex: its source vertex) may be null.
    //
    // D3DERR_INVALIDCALL for a palette size of 0 or above kD3DXMaxPaletteSize,
    // a skin mesh without bones, or a null mesh or count output
    // (`numBoneCombinations`; the other outputs may be null);
    // D3DXERR_INVALIDMESH when an index names no vertex;
    // D3DXERR_TOOMANYINFLUENCES when a vertex
    // has more than kD3DXMaxVertexInfluences influences or a face needs more
    // bones than the palette holds; E_NOTIMPL when the copies would exceed
    // kD3DXMaxMeshVertices. The optimisation bits of `options`
    // (D3DXMESHOPT_*) are accepted: faces keep their order within a group.
    HRESULT ConvertToIndexedBlendedMesh(DWORD options, const DWORD* adjacencyIn, DWORD paletteSize,
                                        DWORD* adjacencyOut, DWORD* faceRemap, D3DXBuffer** vertexRemap,
                                        DWORD* maxVertexInfluences, DWORD* numBoneCombinations,
                                        D3DXBuffer** boneCombinationTable, D3DXMesh** mesh);

private:
    friend HRESULT D3DXCreateSkinMeshFromMesh(D3DXMesh* mesh, DWORD numBones, D3DXSkinMesh** skinMesh);
    struct Impl;
    D3DXSkinMesh();
    ~D3DXSkinMesh();

    DWORD m_dwRefs = 1;
    std::unique_ptr<Impl> m_pImpl;
};

// A skin mesh around `mesh` (which gains a reference) with `numBones` bones
// that influence nothing yet. D3DERR_INVALIDCALL for a null mesh or result.
HRESULT D3DXCreateSkinMeshFromMesh(D3DXMesh* mesh, DWORD numBones, D3DXSkinMesh** skinMesh);

// A skin mesh from an X-file Mesh object: the mesh as D3DXLoadMeshFromXof
// reads it, the bones from its SkinWeights children in file order (the
// weights of a file vertex apply to every vertex made from it), the bone
// names and offset matrices. Outputs: `adjacency`, `materials`,
// `materialCount` as D3DXLoadMeshFromXof gives them; `boneNames` a buffer of
// one char pointer per bone followed by the NUL-terminated names the pointers
// point at; `boneTransforms` one D3DXMATRIX per bone (the offset matrix, from
// the mesh's bind pose into the bone's space). A mesh without SkinWeights is a
// skin mesh with no bones, and its name and transform buffers are null.
// Every output but the skin mesh may be null.
//
// D3DXERR_LOADEDMESHASNODATA for a mesh without vertices or faces;
// D3DXERR_INVALIDDATA when a SkinWeights object names a vertex the mesh does
// not have, gives a negative or non-finite weight or offset value, or is cut
// short (weight and index lists of different lengths do not even parse).
// XSkinMeshHeader is not needed: its counts are taken from the weights.
HRESULT D3DXLoadSkinMeshFromXof(XFileData* meshObject, DWORD options, Direct3DDevice8* device,
                                D3DXBuffer** adjacency, D3DXBuffer** materials, DWORD* materialCount,
                                D3DXBuffer** boneNames, D3DXBuffer** boneTransforms, D3DXSkinMesh** skinMesh);
