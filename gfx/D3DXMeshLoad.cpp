// D3DXLoadMeshFromXof and D3DXLoadSkinMeshFromXof: a mesh, and a skin mesh,
// from a Mesh object of an X file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "gfx/D3DXMesh.h"
#include "gfx/D3DXSkinMesh.h"
#include "gfx/ImageDecode.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/XFile.h"

namespace {

// Holds one reference of a COM-like object and releases it.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T** operator&() {
        Reset();
        return &m_p;
    }
    T* operator->() const { return m_p; }
    T* get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    void Reset() {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

// Reads an object's data as the template lays it out, never past its end.
class DataReader {
public:
    explicit DataReader(XFileData* object) {
        DWORD size = 0;
        void* data = nullptr;
        if (SUCCEEDED(object->GetData(nullptr, &size, &data)) && data != nullptr) {
            m_p = static_cast<const BYTE*>(data);
            m_left = size;
        }
    }

    bool Dword(DWORD& out) { return Bytes(&out, sizeof(DWORD)); }
    bool Float(float& out) { return Bytes(&out, sizeof(float)); }
    bool Floats(float* out, std::size_t count) { return Bytes(out, count * sizeof(float)); }
    bool Pointer(const char*& out) { return Bytes(&out, sizeof(const char*)); }
    // Whether `count` items of `size` bytes can still follow.
    bool Holds(std::size_t count, std::size_t size) const { return count <= m_left / size; }

private:
    bool Bytes(void* out, std::size_t size) {
        if (size > m_left) return false;
        std::memcpy(out, m_p, size);
        m_p += size;
        m_left -= size;
        return true;
    }

    const BYTE* m_p = nullptr;
    std::size_t m_left = 0;
};

// A child as a data object: itself, or the object a reference names. Null for
// anything else.
HRESULT ChildData(XFileObject* child, XFileData** data) {
    *data = nullptr;
    if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(data)))) return S_OK;
    Ref<XFileDataReference> reference;
    if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&reference)))) {
        return reference->Resolve(data);
    }
    return S_OK;
}

bool IsType(XFileData* object, REFGUID type) {
    const GUID* id = nullptr;
    return SUCCEEDED(object->GetType(&id)) && id != nullptr && IsEqualGUID(*id, type);
}

// Calls visit(data object) for each child that is or names a data object.
template <class Visit>
HRESULT ForEachChild(XFileData* object, Visit visit) {
    for (;;) {
        Ref<XFileObject> child;
        HRESULT hr = object->GetNextObject(&child);
        if (hr == DXFILEERR_NOMOREOBJECTS) return S_OK;
        if (FAILED(hr)) return hr;
        Ref<XFileData> data;
        hr = ChildData(child.get(), &data);
        if (FAILED(hr)) return hr;
        if (!data) continue;
        hr = visit(data.get());
        if (FAILED(hr)) return hr;
    }
}

BYTE ColorByte(float c) {
    if (!(c > 0.0f)) return 0;
    if (c >= 1.0f) return 0xFF;
    return static_cast<BYTE>(c * 255.0f + 0.5f);
}

struct LoadedMaterial {
    D3DMATERIAL8 material{};
    std::string texture;
    bool hasTexture = false;
};

// The parts of a Mesh object and of its children.
struct MeshSource {
    DWORD vertexCount = 0;
    std::vector<D3DXVECTOR3> positions;
    std::vector<DWORD> faceStart;    // first corner of each face; one more entry at the end
    std::vector<DWORD> cornerVertex; // position index of each face corner

    bool hasNormals = false;
    std::vector<D3DXVECTOR3> normals;
    std::vector<DWORD> cornerNormal;  // normal index of each face corner

    bool hasTexCoords = false;
    std::vector<float> texCoords;  // u, v per position

    bool hasColors = false;
    std::vector<D3DCOLOR> colors;  // per position

    bool hasMaterials = false;
    std::vector<DWORD> faceMaterial;
    std::vector<LoadedMaterial> materials;
};

HRESULT ReadMeshData(XFileData* object, MeshSource& mesh) {
    DataReader in(object);
    DWORD vertices = 0;
    if (!in.Dword(vertices) || !in.Holds(vertices, 12)) return D3DXERR_INVALIDDATA;
    mesh.vertexCount = vertices;
    mesh.positions.resize(vertices);
    for (D3DXVECTOR3& p : mesh.positions) in.Floats(&p.x, 3);
    DWORD faces = 0;
    if (!in.Dword(faces) || !in.Holds(faces, 4)) return D3DXERR_INVALIDDATA;
    if (vertices == 0 || faces == 0) return D3DXERR_LOADEDMESHASNODATA;
    mesh.faceStart.reserve(static_cast<std::size_t>(faces) + 1);
    for (DWORD f = 0; f < faces; ++f) {
        DWORD n = 0;
        if (!in.Dword(n) || n < 3 || !in.Holds(n, 4)) return D3DXERR_INVALIDDATA;
        mesh.faceStart.push_back(static_cast<DWORD>(mesh.cornerVertex.size()));
        for (DWORD i = 0; i < n; ++i) {
            DWORD v = 0;
            in.Dword(v);
            if (v >= vertices) return D3DXERR_INVALIDDATA;
            mesh.cornerVertex.push_back(v);
        }
    }
    mesh.faceStart.push_back(static_cast<DWORD>(mesh.cornerVertex.size()));
    return S_OK;
}

DWORD FaceCount(const MeshSource& mesh) { return static_cast<DWORD>(mesh.faceStart.size() - 1); }

HRESULT ReadNormals(XFileData* object, MeshSource& mesh) {
    DataReader in(object);
    DWORD count = 0;
    if (!in.Dword(count) || !in.Holds(count, 12)) return D3DXERR_INVALIDDATA;
    mesh.normals.resize(count);
    for (D3DXVECTOR3& n : mesh.normals) in.Floats(&n.x, 3);
    DWORD faces = 0;
    if (!in.Dword(faces) || faces != FaceCount(mesh)) return D3DXERR_INVALIDDATA;
    mesh.cornerNormal.resize(mesh.cornerVertex.size());
    for (DWORD f = 0; f < faces; ++f) {
        DWORD n = 0;
        if (!in.Dword(n) || n != mesh.faceStart[f + 1] - mesh.faceStart[f]) return D3DXERR_INVALIDDATA;
        for (DWORD i = 0; i < n; ++i) {
            DWORD index = 0;
            if (!in.Dword(index) || index >= count) return D3DXERR_INVALIDDATA;
            mesh.cornerNormal[mesh.faceStart[f] + i] = index;
        }
    }
    mesh.hasNormals = true;
    return S_OK;
}

HRESULT ReadTexCoords(XFileData* object, MeshSource& mesh) {
    DataReader in(object);
    DWORD count = 0;
    if (!in.Dword(count) || count != mesh.vertexCount || !in.Holds(count, 8)) return D3DXERR_INVALIDDATA;
    mesh.texCoords.resize(static_cast<std::size_t>(count) * 2);
    in.Floats(mesh.texCoords.data(), mesh.texCoords.size());
    mesh.hasTexCoords = true;
    return S_OK;
}

HRESULT ReadColors(XFileData* object, MeshSource& mesh) {
    DataReader in(object);
    DWORD count = 0;
    if (!in.Dword(count) || !in.Holds(count, 20)) return D3DXERR_INVALIDDATA;
    mesh.colors.assign(mesh.vertexCount, 0xFFFFFFFFu);
    for (DWORD i = 0; i < count; ++i) {
        DWORD index = 0;
        float c[4] = {};
        in.Dword(index);
        in.Floats(c, 4);
        if (index >= mesh.vertexCount) return D3DXERR_INVALIDDATA;
        mesh.colors[index] = D3DCOLOR_ARGB(ColorByte(c[3]), ColorByte(c[0]), ColorByte(c[1]), ColorByte(c[2]));
    }
    mesh.hasColors = true;
    return S_OK;
}

HRESULT ReadMaterial(XFileData* object, LoadedMaterial& out) {
    DataReader in(object);
    float v[11] = {};
    if (!in.Floats(v, 11)) return D3DXERR_INVALIDDATA;
    D3DMATERIAL8& m = out.material;
    m.Diffuse = {v[0], v[1], v[2], v[3]};
    m.Ambient = {0.0f, 0.0f, 0.0f, 0.0f};
    m.Power = v[4];
    m.Specular = {v[5], v[6], v[7], 1.0f};
    m.Emissive = {v[8], v[9], v[10], 1.0f};
    return ForEachChild(object, [&](XFileData* child) -> HRESULT {
        if (out.hasTexture || !IsType(child, TID_D3DRMTextureFilename)) return S_OK;
        DataReader name(child);
        const char* text = nullptr;
        if (!name.Pointer(text)) return D3DXERR_INVALIDDATA;
        if (text != nullptr && text[0] != '\0') {
            out.texture = text;
            out.hasTexture = true;
        }
        return S_OK;
    });
}

HRESULT ReadMaterialList(XFileData* object, MeshSource& mesh) {
    DataReader in(object);
    DWORD materials = 0;
    DWORD indexes = 0;
    if (!in.Dword(materials) || !in.Dword(indexes) || !in.Holds(indexes, 4)) return D3DXERR_INVALIDDATA;
    const DWORD faces = FaceCount(mesh);
    mesh.faceMaterial.assign(faces, 0);
    DWORD last = 0;
    for (DWORD i = 0; i < indexes; ++i) {
        DWORD index = 0;
        in.Dword(index);
        if (materials > 0 && index >= materials) return D3DXERR_INVALIDDATA;
        if (materials == 0) index = 0;
        if (i < faces) mesh.faceMaterial[i] = index;
        last = index;
    }
    // A list shorter than the faces repeats its last index.
    for (DWORD f = indexes; f < faces; ++f) mesh.faceMaterial[f] = last;

    mesh.materials.clear();
    HRESULT hr = ForEachChild(object, [&](XFileData* child) -> HRESULT {
        if (!IsType(child, TID_D3DRMMaterial)) return S_OK;
        if (mesh.materials.size() >= materials) return D3DXERR_INVALIDDATA;
        mesh.materials.emplace_back();
        return ReadMaterial(child, mesh.materials.back());
    });
    if (FAILED(hr)) return hr;
    if (mesh.materials.size() != materials) return D3DXERR_INVALIDDATA;
    mesh.hasMaterials = true;
    return S_OK;
}

HRESULT MakeMaterialBuffer(const MeshSource& mesh, D3DXBuffer** buffer) {
    std::size_t size = mesh.materials.size() * sizeof(D3DXMATERIAL);
    for (const LoadedMaterial& m : mesh.materials) {
        if (m.hasTexture) size += m.texture.size() + 1;
    }
    if (size > 0x7FFFFFFFu) return E_OUTOFMEMORY;
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(size), buffer);
    if (FAILED(hr)) return hr;
    auto* records = static_cast<D3DXMATERIAL*>((*buffer)->GetBufferPointer());
    char* names = reinterpret_cast<char*>(records + mesh.materials.size());
    for (std::size_t i = 0; i < mesh.materials.size(); ++i) {
        records[i].MatD3D = mesh.materials[i].material;
        records[i].pTextureFilename = nullptr;
        if (mesh.materials[i].hasTexture) {
            const std::string& name = mesh.materials[i].texture;
            std::memcpy(names, name.c_str(), name.size() + 1);
            records[i].pTextureFilename = names;
            names += name.size() + 1;
        }
    }
    return S_OK;
}

// One SkinWeights object: a bone, the file vertices it moves and how much.
struct BoneSource {
    std::string name;
    std::vector<DWORD> vertices;  // file vertex indices
    std::vector<float> weights;
    D3DXMATRIX offset;
};

HRESULT ReadSkinWeights(XFileData* object, const MeshSource& mesh, BoneSource& bone) {
    DataReader in(object);
    const char* name = nullptr;
    DWORD count = 0;
    if (!in.Pointer(name) || !in.Dword(count) || !in.Holds(count, 8)) return D3DXERR_INVALIDDATA;
    bone.name = name ? name : "";
    bone.vertices.resize(count);
    bone.weights.resize(count);
    for (DWORD& v : bone.vertices) in.Dword(v);
    in.Floats(bone.weights.data(), count);
    if (!in.Floats(&bone.offset.m[0][0], 16)) return D3DXERR_INVALIDDATA;
    for (DWORD i = 0; i < count; ++i) {
        if (bone.vertices[i] >= mesh.vertexCount) return D3DXERR_INVALIDDATA;
        if (!std::isfinite(bone.weights[i]) || bone.weights[i] < 0.0f) return D3DXERR_INVALIDDATA;
    }
    for (const auto& row : bone.offset.m) {
        if (!std::all_of(std::begin(row), std::end(row), [](float x) { return std::isfinite(x); })) {
            return D3DXERR_INVALIDDATA;
        }
    }
    return S_OK;
}

HRESULT LoadMesh(XFileData* meshObject, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacencyOut,
                 D3DXBuffer** materialsOut, DWORD* materialCountOut, D3DXBuffer** originsOut, D3DXMesh** meshOut,
                 std::vector<BoneSource>* bones = nullptr) {
    if (!IsType(meshObject, TID_D3DRMMesh)) return D3DERR_INVALIDCALL;
    if (options & D3DXMESH_32BIT) return E_NOTIMPL;
    MeshSource source;
    HRESULT hr = ReadMeshData(meshObject, source);
    if (FAILED(hr)) return hr;

    bool seenNormals = false, seenTexCoords = false, seenColors = false, seenMaterials = false;
    hr = ForEachChild(meshObject, [&](XFileData* child) -> HRESULT {
        if (!seenNormals && IsType(child, TID_D3DRMMeshNormals)) {
            seenNormals = true;
            return ReadNormals(child, source);
        }
        if (!seenTexCoords && IsType(child, TID_D3DRMMeshTextureCoords)) {
            seenTexCoords = true;
            return ReadTexCoords(child, source);
        }
        if (!seenColors && IsType(child, TID_D3DRMMeshVertexColors)) {
            seenColors = true;
            return ReadColors(child, source);
        }
        if (!seenMaterials && IsType(child, TID_D3DRMMeshMaterialList)) {
            seenMaterials = true;
            return ReadMaterialList(child, source);
        }
        if (bones && IsType(child, DXFILEOBJ_SkinWeights)) {
            bones->emplace_back();
            return ReadSkinWeights(child, source, bones->back());
        }
        return S_OK;
    });
    if (FAILED(hr)) return hr;

    // Triangles: the fans of the faces, each corner a file corner.
    const DWORD faces = FaceCount(source);
    std::vector<DWORD> triangleCorners;  // file corner of each triangle corner
    std::vector<DWORD> triangleFace;     // file face of each triangle
    std::size_t triangleCount = source.cornerVertex.size() - 2 * static_cast<std::size_t>(faces);
    if (triangleCount > kD3DXMaxMeshFaces) return E_OUTOFMEMORY;
    triangleCorners.reserve(triangleCount * 3);
    triangleFace.reserve(triangleCount);
    for (DWORD f = 0; f < faces; ++f) {
        const DWORD start = source.faceStart[f];
        const DWORD n = source.faceStart[f + 1] - start;
        for (DWORD i = 1; i + 1 < n; ++i) {
            triangleCorners.insert(triangleCorners.end(), {start, start + i, start + i + 1});
            triangleFace.push_back(f);
        }
    }

    // Vertices: one per position, plus one more for each further normal a
    // position gets on another face.
    std::vector<DWORD> cornerOutVertex(source.cornerVertex.size());
    std::vector<DWORD> vertexPosition(source.vertexCount);
    std::vector<DWORD> vertexNormal;
    for (DWORD v = 0; v < source.vertexCount; ++v) vertexPosition[v] = v;
    if (source.hasNormals) {
        vertexNormal.assign(source.vertexCount, UNUSED32);
        std::unordered_map<std::uint64_t, DWORD> splits;
        for (std::size_t c = 0; c < source.cornerVertex.size(); ++c) {
            const DWORD p = source.cornerVertex[c];
            const DWORD n = source.cornerNormal[c];
            if (vertexNormal[p] == UNUSED32 || vertexNormal[p] == n) {
                vertexNormal[p] = n;
                cornerOutVertex[c] = p;
                continue;
            }
            const std::uint64_t key = (std::uint64_t{p} << 32) | n;
            auto it = splits.find(key);
            if (it == splits.end()) {
                if (vertexPosition.size() >= kD3DXMaxMeshVertices) return E_NOTIMPL;
                it = splits.emplace(key, static_cast<DWORD>(vertexPosition.size())).first;
                vertexPosition.push_back(p);
                vertexNormal.push_back(n);
            }
            cornerOutVertex[c] = it->second;
        }
    } else {
        cornerOutVertex = source.cornerVertex;
    }
    if (vertexPosition.size() > kD3DXMaxMeshVertices) return E_NOTIMPL;

    DWORD fvf = D3DFVF_XYZ;
    if (source.hasNormals) fvf |= D3DFVF_NORMAL;
    if (source.hasColors) fvf |= D3DFVF_DIFFUSE;
    if (source.hasTexCoords) fvf |= D3DFVF_TEX1;
    VertexLayout layout;
    LayoutFromFVF(fvf, layout);

    Ref<D3DXMesh> mesh;
    hr = D3DXCreateMeshFVF(static_cast<DWORD>(triangleCount), static_cast<DWORD>(vertexPosition.size()), options, fvf,
                           device, &mesh);
    if (FAILED(hr)) return hr;
    BYTE* vertices = nullptr;
    BYTE* indices = nullptr;
    DWORD* attributes = nullptr;
    mesh->LockVertexBuffer(0, &vertices);
    mesh->LockIndexBuffer(0, &indices);
    mesh->LockAttributeBuffer(0, &attributes);
    for (std::size_t v = 0; v < vertexPosition.size(); ++v) {
        BYTE* out = vertices + v * layout.stride;
        const DWORD p = vertexPosition[v];
        std::memcpy(out, &source.positions[p].x, 12);
        if (source.hasNormals && vertexNormal[v] != UNUSED32) {
            std::memcpy(out + layout.elements[D3DVSDE_NORMAL].offset, &source.normals[vertexNormal[v]].x, 12);
        }
        if (source.hasColors) {
            std::memcpy(out + layout.elements[D3DVSDE_DIFFUSE].offset, &source.colors[p], 4);
        }
        if (source.hasTexCoords) {
            std::memcpy(out + layout.elements[D3DVSDE_TEXCOORD0].offset, &source.texCoords[p * 2], 8);
        }
    }
    for (std::size_t t = 0; t < triangleCount; ++t) {
        for (int k = 0; k < 3; ++k) {
            const WORD index = static_cast<WORD>(cornerOutVertex[triangleCorners[t * 3 + k]]);
            std::memcpy(indices + (t * 3 + k) * sizeof(WORD), &index, sizeof(WORD));
        }
        attributes[t] = source.hasMaterials ? source.faceMaterial[triangleFace[t]] : 0;
    }
    mesh->UnlockAttributeBuffer();
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();

    Ref<D3DXBuffer> adjacency;
    if (adjacencyOut) {
        // Faces meet where they share file positions, whatever normals split.
        std::vector<DWORD> positionCorners(triangleCorners.size());
        for (std::size_t i = 0; i < triangleCorners.size(); ++i) {
            positionCorners[i] = source.cornerVertex[triangleCorners[i]];
        }
        hr = D3DXCreateBuffer(static_cast<DWORD>(triangleCount * 3 * sizeof(DWORD)), &adjacency);
        if (FAILED(hr)) return hr;
        BuildTriangleAdjacency(positionCorners.data(), static_cast<DWORD>(triangleCount),
                               static_cast<DWORD*>(adjacency->GetBufferPointer()));
    }
    Ref<D3DXBuffer> materials;
    if (materialsOut && source.hasMaterials && !source.materials.empty()) {
        hr = MakeMaterialBuffer(source, &materials);
        if (FAILED(hr)) return hr;
    }
    Ref<D3DXBuffer> origins;
    if (originsOut) {
        hr = D3DXCreateBuffer(static_cast<DWORD>(vertexPosition.size() * sizeof(DWORD)), &origins);
        if (FAILED(hr)) return hr;
        std::memcpy(origins->GetBufferPointer(), vertexPosition.data(), vertexPosition.size() * sizeof(DWORD));
    }

    if (adjacencyOut) *adjacencyOut = adjacency.Detach();
    if (originsOut) *originsOut = origins.Detach();
    if (materialsOut) *materialsOut = materials.Detach();
    if (materialCountOut) *materialCountOut = static_cast<DWORD>(source.materials.size());
    *meshOut = mesh.Detach();
    return S_OK;
}

}  // namespace

HRESULT D3DXLoadMeshFromXofEx(XFileData* meshObject, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacency,
                              D3DXBuffer** materials, DWORD* materialCount, D3DXBuffer** vertexOrigins,
                              D3DXMesh** mesh) {
    if (adjacency) *adjacency = nullptr;
    if (materials) *materials = nullptr;
    if (materialCount) *materialCount = 0;
    if (vertexOrigins) *vertexOrigins = nullptr;
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (meshObject == nullptr) return D3DERR_INVALIDCALL;
    try {
        return LoadMesh(meshObject, options, device, adjacency, materials, materialCount, vertexOrigins, mesh);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT D3DXLoadMeshFromXof(XFileData* meshObject, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacency,
                            D3DXBuffer** materials, DWORD* materialCount, D3DXMesh** mesh) {
    return D3DXLoadMeshFromXofEx(meshObject, options, device, adjacency, materials, materialCount, nullptr, mesh);
}

namespace {

HRESULT LoadSkinMesh(XFileData* meshObject, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacency,
                     D3DXBuffer** materials, DWORD* materialCount, D3DXBuffer** boneNamesOut,
                     D3DXBuffer** boneTransformsOut, D3DXSkinMesh** skinMeshOut) {
    std::vector<BoneSource> bones;
    Ref<D3DXMesh> mesh;
    Ref<D3DXBuffer> origins;
    Ref<D3DXBuffer> adjacencyBuffer;
    Ref<D3DXBuffer> materialBuffer;
    DWORD materialTotal = 0;
    HRESULT hr = LoadMesh(meshObject, options, device, adjacency ? &adjacencyBuffer : nullptr,
                          materials ? &materialBuffer : nullptr, &materialTotal, &origins, &mesh, &bones);
    if (FAILED(hr)) return hr;

    // The loaded vertices made from each file vertex.
    const DWORD vertexCount = mesh->GetNumVertices();
    const auto* origin = static_cast<const DWORD*>(origins->GetBufferPointer());
    DWORD fileVertices = 0;
    for (DWORD v = 0; v < vertexCount; ++v) fileVertices = std::max(fileVertices, origin[v] + 1);
    std::vector<DWORD> firstCopy(fileVertices, UNUSED32);
    std::vector<DWORD> nextCopy(vertexCount, UNUSED32);
    for (DWORD v = vertexCount; v-- > 0;) {
        nextCopy[v] = firstCopy[origin[v]];
        firstCopy[origin[v]] = v;
    }

    Ref<D3DXSkinMesh> skin;
    hr = D3DXCreateSkinMeshFromMesh(mesh.get(), static_cast<DWORD>(bones.size()), &skin);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> vertices;
    std::vector<float> weights;
    for (std::size_t b = 0; b < bones.size(); ++b) {
        vertices.clear();
        weights.clear();
        for (std::size_t i = 0; i < bones[b].vertices.size(); ++i) {
            const DWORD file = bones[b].vertices[i];
            for (DWORD v = file < fileVertices ? firstCopy[file] : UNUSED32; v != UNUSED32; v = nextCopy[v]) {
                vertices.push_back(v);
                weights.push_back(bones[b].weights[i]);
            }
        }
        hr = skin->SetBoneInfluence(static_cast<DWORD>(b), static_cast<DWORD>(vertices.size()), vertices.data(),
                                    weights.data());
        if (FAILED(hr)) return hr;
    }

    Ref<D3DXBuffer> names;
    Ref<D3DXBuffer> transforms;
    if (!bones.empty()) {
        std::size_t size = bones.size() * sizeof(char*);
        for (const BoneSource& bone : bones) size += bone.name.size() + 1;
        if (size > 0x7FFFFFFFu) return E_OUTOFMEMORY;
        if (boneNamesOut) {
            hr = D3DXCreateBuffer(static_cast<DWORD>(size), &names);
            if (FAILED(hr)) return hr;
            auto* pointers = static_cast<char**>(names->GetBufferPointer());
            char* text = reinterpret_cast<char*>(pointers + bones.size());
            for (std::size_t b = 0; b < bones.size(); ++b) {
                pointers[b] = text;
                std::memcpy(text, bones[b].name.c_str(), bones[b].name.size() + 1);
                text += bones[b].name.size() + 1;
            }
        }
        if (boneTransformsOut) {
            hr = D3DXCreateBuffer(static_cast<DWORD>(bones.size() * sizeof(D3DXMATRIX)), &transforms);
            if (FAILED(hr)) return hr;
            auto* matrices = static_cast<D3DXMATRIX*>(transforms->GetBufferPointer());
            for (std::size_t b = 0; b < bones.size(); ++b) matrices[b] = bones[b].offset;
        }
    }

    if (adjacency) *adjacency = adjacencyBuffer.Detach();
    if (materials) *materials = materialBuffer.Detach();
    if (materialCount) *materialCount = materialTotal;
    if (boneNamesOut) *boneNamesOut = names.Detach();
    if (boneTransformsOut) *boneTransformsOut = transforms.Detach();
    *skinMeshOut = skin.Detach();
    return S_OK;
}

}  // namespace

HRESULT D3DXLoadSkinMeshFromXof(XFileData* meshObject, DWORD options, Direct3DDevice8* device,
                                D3DXBuffer** adjacency, D3DXBuffer** materials, DWORD* materialCount,
                                D3DXBuffer** boneNames, D3DXBuffer** boneTransforms, D3DXSkinMesh** skinMesh) {
    if (adjacency) *adjacency = nullptr;
    if (materials) *materials = nullptr;
    if (materialCount) *materialCount = 0;
    if (boneNames) *boneNames = nullptr;
    if (boneTransforms) *boneTransforms = nullptr;
    if (skinMesh == nullptr) return D3DERR_INVALIDCALL;
    *skinMesh = nullptr;
    if (meshObject == nullptr) return D3DERR_INVALIDCALL;
    try {
        return LoadSkinMesh(meshObject, options, device, adjacency, materials, materialCount, boneNames,
                            boneTransforms, skinMesh);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
