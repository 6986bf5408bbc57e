// Meshes from X-file Mesh objects and what the model code does with them:
// attribute sorting, cloning into the drawing format, normals and bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/D3DXMesh.h"
#include "gfx/ImageDecode.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/XFile.h"

namespace {

// A cube of side 2 around the origin, faces wound clockwise seen from outside,
// one normal per face (so every corner is split three ways), texture
// coordinates per position, two materials, the first by reference.
constexpr std::string_view kCube = R"(xof 0302txt 0064
Material RedMat {
 1.0;0.3;0.33;1.0;;
 5.0;
 0.5;0.6;0.7;;
 0.1;0.2;0.3;;
 TextureFilename { "earth.jpg"; }
}
Frame Box {
 FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 100,0,0,1;; }
 Mesh displayMesh {
  8;
  -1;-1;-1;, 1;-1;-1;, -1;1;-1;, 1;1;-1;,
  -1;-1;1;, 1;-1;1;, -1;1;1;, 1;1;1;;
  6;
  4;0,2,3,1;, 4;4,5,7,6;, 4;0,4,6,2;, 4;1,3,7,5;, 4;2,6,7,3;, 4;0,1,5,4;;
  MeshNormals {
   6;
   0;0;-1;, 0;0;1;, -1;0;0;, 1;0;0;, 0;1;0;, 0;-1;0;;
   6;
   4;0,0,0,0;, 4;1,1,1,1;, 4;2,2,2,2;, 4;3,3,3,3;, 4;4,4,4,4;, 4;5,5,5,5;;
  }
  MeshTextureCoords {
   8;
   0;0;, 1;0;, 0;1;, 1;1;, 0;0;, 1;0;, 0;1;, 1;1;;
  }
  MeshMaterialList {
   2;
   3;
   0, 1, 0;;
   { RedMat }
   Material BlueMat {
    0;0;1;0.5;; 10; 1;1;1;; 0;0;0;;
   }
  }
 }
}
)";

const D3DXVECTOR3 kFaceNormals[6] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}};

class MeshLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DirectXFileCreate(&m_pFile), S_OK);
        ASSERT_EQ(m_pFile->RegisterTemplates(D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES), S_OK);
    }
    void TearDown() override {
        for (D3DXBuffer* b : {m_pAdjacency, m_pMaterials, m_pOrigins}) {
            if (b) b->Release();
        }
        if (m_pMesh) m_pMesh->Release();
        m_pFile->Release();
    }

    // Loads the first Mesh object of the text, searching frames depth first.
    HRESULT Load(std::string_view text) {
        DXFILELOADMEMORY memory{text.data(), static_cast<DWORD>(text.size())};
        XFileEnumObject* e = nullptr;
        HRESULT hr = m_pFile->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e);
        if (FAILED(hr)) return hr;
        hr = E_FAIL;
        for (XFileData* d = nullptr; hr == E_FAIL && e->GetNextDataObject(&d) == S_OK;) {
            hr = LoadFrom(d);
            d->Release();
        }
        e->Release();
        return hr;
    }

    HRESULT LoadFrom(XFileData* data) {
        const GUID* type = nullptr;
        data->GetType(&type);
        if (IsEqualGUID(*type, TID_D3DRMMesh)) {
            return D3DXLoadMeshFromXofEx(data, D3DXMESH_SYSTEMMEM, nullptr, &m_pAdjacency, &m_pMaterials,
                                         &m_dwMaterials, &m_pOrigins, &m_pMesh);
        }
        HRESULT hr = E_FAIL;
        for (XFileObject* child = nullptr; hr == E_FAIL && data->GetNextObject(&child) == S_OK;) {
            XFileData* childData = nullptr;
            if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&childData)))) {
                hr = LoadFrom(childData);
                childData->Release();
            }
            child->Release();
        }
        return hr;
    }

    XFile* m_pFile = nullptr;
    D3DXMesh* m_pMesh = nullptr;
    D3DXBuffer* m_pAdjacency = nullptr;
    D3DXBuffer* m_pMaterials = nullptr;
    D3DXBuffer* m_pOrigins = nullptr;
    DWORD m_dwMaterials = 0;
};

// Field access of a mesh's vertices through its format.
struct Vertices {
    explicit Vertices(D3DXMesh* mesh) {
        LayoutFromFVF(mesh->GetFVF(), layout);
        mesh->LockVertexBuffer(0, &bytes);
        BYTE* raw = nullptr;
        mesh->LockIndexBuffer(0, &raw);
        indices = reinterpret_cast<WORD*>(raw);
        mesh->LockAttributeBuffer(0, &attributes);
    }
    template <class T>
    T Get(DWORD v, DWORD reg, UINT extra = 0) const {
        T value{};
        std::memcpy(&value, bytes + v * layout.stride + layout.elements[reg].offset + extra, sizeof(T));
        return value;
    }
    D3DXVECTOR3 Position(DWORD v) const { return Get<D3DXVECTOR3>(v, D3DVSDE_POSITION); }
    D3DXVECTOR3 Normal(DWORD v) const { return Get<D3DXVECTOR3>(v, D3DVSDE_NORMAL); }

    VertexLayout layout;
    BYTE* bytes = nullptr;
    WORD* indices = nullptr;
    DWORD* attributes = nullptr;
};

void ExpectNear(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float tolerance = 1e-5f) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

D3DXVECTOR3 FaceNormal(const Vertices& v, DWORD face) {
    const D3DXVECTOR3 p0 = v.Position(v.indices[face * 3]);
    const D3DXVECTOR3 e1 = v.Position(v.indices[face * 3 + 1]) - p0;
    const D3DXVECTOR3 e2 = v.Position(v.indices[face * 3 + 2]) - p0;
    D3DXVECTOR3 n;
    D3DXVec3Cross(&n, &e1, &e2);
    return *D3DXVec3Normalize(&n, &n);
}

std::string Mesh(const std::string& body) { return "xof 0302txt 0064\nMesh m {\n" + body + "\n}\n"; }

// ---------------------------------------------------------------------------
// Loading

TEST_F(MeshLoadTest, CubeWithFaceNormalsSplitsCornersAndKeepsTheFileData) {
    ASSERT_EQ(Load(kCube), S_OK);
    EXPECT_EQ(m_pMesh->GetFVF(), D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
    EXPECT_EQ(m_pMesh->GetNumFaces(), 12u);
    EXPECT_EQ(m_pMesh->GetNumVertices(), 24u);  // 8 positions, each on three faces
    EXPECT_EQ(m_pMesh->GetOptions(), D3DXMESH_SYSTEMMEM);
    Vertices v(m_pMesh);
    for (DWORD f = 0; f < 12; ++f) {
        SCOPED_TRACE(f);
        // Fans (0, 1, 2), (0, 2, 3) of each quad; winding kept, normals per face.
        ExpectNear(FaceNormal(v, f), kFaceNormals[f / 2]);
        for (int k = 0; k < 3; ++k) ExpectNear(v.Normal(v.indices[f * 3 + k]), kFaceNormals[f / 2]);
        // Materials 0, 1, 0 and the last repeated.
        EXPECT_EQ(v.attributes[f], (f / 2 == 1) ? 1u : 0u);
    }
    // The first face's fan in file positions: 0,2,3 and 0,3,1; the first use
    // of a position keeps its index, texture coordinates follow the position.
    EXPECT_EQ(v.indices[0], 0);
    EXPECT_EQ(v.indices[1], 2);
    EXPECT_EQ(v.indices[5], 1);
    ExpectNear(v.Position(3), {1, 1, -1});
    EXPECT_EQ(v.Get<float>(3, D3DVSDE_TEXCOORD0), 1.0f);
    for (DWORD i = 8; i < 24; ++i) {
        const D3DXVECTOR3 p = v.Position(i);
        const float u = v.Get<float>(i, D3DVSDE_TEXCOORD0);
        const float w = v.Get<float>(i, D3DVSDE_TEXCOORD0, 4);
        EXPECT_EQ(u, p.x > 0 ? 1.0f : 0.0f);
        EXPECT_EQ(w, p.y > 0 ? 1.0f : 0.0f);
    }
    // Each vertex knows the file vertex it came from.
    ASSERT_EQ(m_pOrigins->GetBufferSize(), 24u * 4u);
    const auto* origins = static_cast<const DWORD*>(m_pOrigins->GetBufferPointer());
    for (DWORD i = 0; i < 24; ++i) {
        ASSERT_LT(origins[i], 8u);
        ExpectNear(v.Position(i), {origins[i] & 1 ? 1.0f : -1.0f, origins[i] & 2 ? 1.0f : -1.0f,
                                   origins[i] & 4 ? 1.0f : -1.0f}, 0.0f);
        EXPECT_EQ(origins[i], i < 8 ? i : origins[i]);
    }
    // A mesh fresh from the file has no attribute table yet.
    DWORD ranges = 7;
    EXPECT_EQ(m_pMesh->GetAttributeTable(nullptr, &ranges), S_OK);
    EXPECT_EQ(ranges, 0u);
}

TEST_F(MeshLoadTest, MaterialsCarryTheFileColoursAndTextureNames) {
    ASSERT_EQ(Load(kCube), S_OK);
    ASSERT_EQ(m_dwMaterials, 2u);
    ASSERT_NE(m_pMaterials, nullptr);
    const auto* m = static_cast<const D3DXMATERIAL*>(m_pMaterials->GetBufferPointer());
    EXPECT_FLOAT_EQ(m[0].MatD3D.Diffuse.g, 0.3f);
    EXPECT_FLOAT_EQ(m[0].MatD3D.Diffuse.b, 0.33f);
    EXPECT_EQ(m[0].MatD3D.Ambient.r, 0.0f);
    EXPECT_EQ(m[0].MatD3D.Ambient.a, 0.0f);
    EXPECT_EQ(m[0].MatD3D.Power, 5.0f);
    EXPECT_FLOAT_EQ(m[0].MatD3D.Specular.b, 0.7f);
    EXPECT_FLOAT_EQ(m[0].MatD3D.Emissive.g, 0.2f);
    ASSERT_NE(m[0].pTextureFilename, nullptr);
    EXPECT_STREQ(m[0].pTextureFilename, "earth.jpg");
    EXPECT_EQ(m[1].MatD3D.Diffuse.a, 0.5f);
    EXPECT_EQ(m[1].pTextureFilename, nullptr);
}

TEST_F(MeshLoadTest, AdjacencyJoinsFacesAcrossSplitCorners) {
    ASSERT_EQ(Load(kCube), S_OK);
    ASSERT_NE(m_pAdjacency, nullptr);
    ASSERT_EQ(m_pAdjacency->GetBufferSize(), 12u * 3u * 4u);
    const auto* adjacency = static_cast<const DWORD*>(m_pAdjacency->GetBufferPointer());
    // A closed surface: every edge has a neighbour, and neighbours agree.
    for (DWORD f = 0; f < 12; ++f) {
        for (int k = 0; k < 3; ++k) {
            const DWORD g = adjacency[f * 3 + k];
            ASSERT_LT(g, 12u);
            EXPECT_NE(g, f);
            EXPECT_TRUE(adjacency[g * 3] == f || adjacency[g * 3 + 1] == f || adjacency[g * 3 + 2] == f);
        }
    }
    // The diagonal of the first quad joins its two triangles.
    EXPECT_EQ(adjacency[2], 1u);
    EXPECT_EQ(adjacency[3], 0u);
}

TEST_F(MeshLoadTest, PentagonIsAFanWithVertexColours) {
    ASSERT_EQ(Load(Mesh(R"(
  5;
  0;0;0;, 1;0;0;, 2;1;0;, 1;2;0;, 0;1;0;;
  1;
  5;0,1,2,3,4;;
  MeshVertexColors {
   4;
   0;1.0;0.0;0.0;1.0;;,
   1;0.0;1.0;0.0;0.5;;,
   2;0.0;0.0;1.0;0.0;;,
   3;2.0;-1.0;0.2;1.0;;;
  }
)")),
              S_OK);
    EXPECT_EQ(m_pMesh->GetFVF(), D3DFVF_XYZ | D3DFVF_DIFFUSE);
    EXPECT_EQ(m_pMesh->GetNumFaces(), 3u);
    EXPECT_EQ(m_pMesh->GetNumVertices(), 5u);
    Vertices v(m_pMesh);
    const WORD expected[9] = {0, 1, 2, 0, 2, 3, 0, 3, 4};
    EXPECT_TRUE(std::equal(expected, expected + 9, v.indices));
    EXPECT_EQ(v.Get<D3DCOLOR>(0, D3DVSDE_DIFFUSE), 0xFFFF0000u);
    EXPECT_EQ(v.Get<D3DCOLOR>(1, D3DVSDE_DIFFUSE), 0x8000FF00u);
    EXPECT_EQ(v.Get<D3DCOLOR>(2, D3DVSDE_DIFFUSE), 0x000000FFu);
    EXPECT_EQ(v.Get<D3DCOLOR>(3, D3DVSDE_DIFFUSE), 0xFFFF0033u);  // clamped, rounded
    EXPECT_EQ(v.Get<D3DCOLOR>(4, D3DVSDE_DIFFUSE), 0xFFFFFFFFu);  // not listed
    // No material list: no materials.
    EXPECT_EQ(m_dwMaterials, 0u);
    EXPECT_EQ(m_pMaterials, nullptr);
    for (DWORD f = 0; f < 3; ++f) EXPECT_EQ(v.attributes[f], 0u);
}

TEST_F(MeshLoadTest, InconsistentMeshesAreRejected) {
    const std::string quad = "4; 0;0;0;, 1;0;0;, 0;1;0;, 1;1;0;; 2; 3;0,2,1;, 3;1,2,3;;\n";
    struct Case {
        const char* what;
        std::string text;
        HRESULT expected;
    };
    const Case cases[] = {
        {"no data", Mesh("0;; 0;;"), D3DXERR_LOADEDMESHASNODATA},
        {"no faces", Mesh("1; 0;0;0;; 0;;"), D3DXERR_LOADEDMESHASNODATA},
        {"index beyond the vertices", Mesh("3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,3;;"), D3DXERR_INVALIDDATA},
        {"face of two corners", Mesh("3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 2;0,1;;"), D3DXERR_INVALIDDATA},
        {"too few texture coordinates", Mesh(quad + "MeshTextureCoords { 3; 0;0;, 0;0;, 0;0;; }"),
         D3DXERR_INVALIDDATA},
        {"normals for other faces", Mesh(quad + "MeshNormals { 1; 0;0;1;; 1; 3;0,0,0;; }"), D3DXERR_INVALIDDATA},
        {"normal face of other size", Mesh(quad + "MeshNormals { 1; 0;0;1;; 2; 3;0,0,0;, 4;0,0,0,0;; }"),
         D3DXERR_INVALIDDATA},
        {"normal index beyond the normals", Mesh(quad + "MeshNormals { 1; 0;0;1;; 2; 3;0,0,0;, 3;0,1,0;; }"),
         D3DXERR_INVALIDDATA},
        {"colour of a missing vertex", Mesh(quad + "MeshVertexColors { 1; 4;1;1;1;1;;; }"), D3DXERR_INVALIDDATA},
        {"material index beyond the list", Mesh(quad + "MeshMaterialList { 1; 1; 1;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }"),
         D3DXERR_INVALIDDATA},
        {"fewer materials than counted", Mesh(quad + "MeshMaterialList { 2; 1; 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }"),
         D3DXERR_INVALIDDATA},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Load(c.text), c.expected) << c.what;
        EXPECT_EQ(m_pMesh, nullptr) << c.what;
        EXPECT_EQ(m_pAdjacency, nullptr) << c.what;
        EXPECT_EQ(m_pMaterials, nullptr) << c.what;
        EXPECT_EQ(m_pOrigins, nullptr) << c.what;
    }

    // Not a Mesh object.
    const std::string frame = "xof 0302txt 0064\nFrame f { }\n";
    DXFILELOADMEMORY memory{frame.data(), static_cast<DWORD>(frame.size())};
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(m_pFile->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e), S_OK);
    XFileData* f = nullptr;
    ASSERT_EQ(e->GetNextDataObject(&f), S_OK);
    EXPECT_EQ(D3DXLoadMeshFromXof(f, 0, nullptr, nullptr, nullptr, nullptr, &m_pMesh), D3DERR_INVALIDCALL);
    f->Release();
    e->Release();
}

TEST_F(MeshLoadTest, MoreVerticesThanSixteenBitIndicesReachFail) {
    std::string body = "65536;\n";
    for (int i = 0; i < 65536; ++i) body += "0;0;0;,";
    body += "; 1; 3;0,1,2;;";
    EXPECT_EQ(Load(Mesh(body)), E_NOTIMPL);
    EXPECT_EQ(m_pMesh, nullptr);
}

TEST_F(MeshLoadTest, DamagedFilesLoadOrFailButNeverMisbehave) {
    // Reproducible byte changes of the cube: digits, separators, braces and
    // counts swapped for others; every result is a mesh or a negative code.
    const std::string alphabet = "0123456789;,{}\" -.e9<>\n";
    std::uint32_t state = 12345;
    auto next = [&] { return (state = state * 1664525u + 1013904223u) >> 8; };
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text(kCube);
        const int changes = 1 + static_cast<int>(next() % 4);
        for (int c = 0; c < changes; ++c) {
            const std::size_t at = 16 + next() % (text.size() - 16);
            switch (next() % 3) {
                case 0: text[at] = alphabet[next() % alphabet.size()]; break;
                case 1: text.erase(at, 1 + next() % 8); break;
                default: text.insert(at, 1, alphabet[next() % alphabet.size()]); break;
            }
        }
        const HRESULT hr = Load(text);
        if (SUCCEEDED(hr)) {
            ++loaded;
            ASSERT_NE(m_pMesh, nullptr);
            DWORD* adjacency = static_cast<DWORD*>(m_pAdjacency->GetBufferPointer());
            for (DWORD i = 0; i < m_pMesh->GetNumFaces() * 3; ++i) {
                ASSERT_TRUE(adjacency[i] == UNUSED32 || adjacency[i] < m_pMesh->GetNumFaces());
            }
            D3DXMesh* sorted = nullptr;
            ASSERT_EQ(m_pMesh->Optimize(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr, &sorted), S_OK);
            sorted->Release();
        } else {
            EXPECT_EQ(m_pMesh, nullptr);
        }
        for (D3DXBuffer** b : {&m_pAdjacency, &m_pMaterials, &m_pOrigins}) {
            if (*b) (*b)->Release();
            *b = nullptr;
        }
        if (m_pMesh) m_pMesh->Release();
        m_pMesh = nullptr;
    }
    EXPECT_GT(loaded, 0);
}

TEST_F(MeshLoadTest, EverySuppliedModelLoads) {
    for (const char* name : {"BIRDDAMMY02.X", "WHALEDAMMY.X", "MOON.X", "EARTH.X"}) {
        SCOPED_TRACE(name);
        std::ifstream file(std::string(GLIMMERWING_SOURCE_DIR) + "/resources/" + name, std::ios::binary);
        ASSERT_TRUE(file.good());
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        DXFILELOADMEMORY memory{text.data(), static_cast<DWORD>(text.size())};
        XFileEnumObject* e = nullptr;
        ASSERT_EQ(m_pFile->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e), S_OK);
        int meshes = 0;
        // Depth first through the frames, loading every mesh on the way.
        std::function<void(XFileData*)> walk = [&](XFileData* data) {
            const GUID* type = nullptr;
            data->GetType(&type);
            if (IsEqualGUID(*type, TID_D3DRMMesh)) {
                ++meshes;
                D3DXMesh* mesh = nullptr;
                D3DXBuffer* materials = nullptr;
                DWORD count = 0;
                EXPECT_EQ(D3DXLoadMeshFromXof(data, D3DXMESH_SYSTEMMEM, nullptr, nullptr, &materials, &count, &mesh),
                          S_OK);
                EXPECT_GE(count, 1u);
                if (mesh) mesh->Release();
                if (materials) materials->Release();
            }
            for (XFileObject* child = nullptr; data->GetNextObject(&child) == S_OK; child->Release()) {
                XFileData* childData = nullptr;
                ASSERT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&childData)), S_OK);
                walk(childData);
                childData->Release();
            }
        };
        for (XFileData* d = nullptr; e->GetNextDataObject(&d) == S_OK; d->Release()) walk(d);
        EXPECT_EQ(meshes, 2);
        e->Release();
    }
}

// ---------------------------------------------------------------------------
// Optimize, clone, normals, bounds

// A strip of five triangles over eight vertices (vertex 7 unused) with
// attributes 2, 0, 1, 0, 2.
D3DXMesh* MakeStrip() {
    D3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(5, 8, D3DXMESH_MANAGED, D3DFVF_XYZ, nullptr, &mesh), S_OK);
    Vertices v(mesh);
    for (DWORD i = 0; i < 8; ++i) {
        const D3DXVECTOR3 p(static_cast<float>(i), static_cast<float>(i % 2), 0.0f);
        std::memcpy(v.bytes + i * 12, &p, 12);
    }
    const WORD indices[15] = {0, 1, 2, 2, 1, 3, 2, 3, 4, 4, 3, 5, 4, 5, 6};
    std::memcpy(v.indices, indices, sizeof(indices));
    const DWORD attributes[5] = {2, 0, 1, 0, 2};
    std::memcpy(v.attributes, attributes, sizeof(attributes));
    return mesh;
}

TEST(MeshOptimizeTest, AttributeSortOrdersFacesStablyAndBuildsTheTable) {
    D3DXMesh* mesh = MakeStrip();
    DWORD adjacencyIn[15];
    ASSERT_EQ(mesh->GenerateAdjacencyFromIndices(adjacencyIn), S_OK);
    EXPECT_EQ(adjacencyIn[1], 1u);  // edge 1-2 of face 0 is shared with face 1

    D3DXMesh* sorted = nullptr;
    DWORD faceRemap[5];
    DWORD adjacencyOut[15];
    D3DXBuffer* vertexRemap = nullptr;
    ASSERT_EQ(mesh->Optimize(D3DXMESHOPT_ATTRSORT, adjacencyIn, adjacencyOut, faceRemap, &vertexRemap, &sorted), S_OK);
    EXPECT_EQ(sorted->GetOptions(), D3DXMESH_MANAGED);
    const DWORD expectedFaces[5] = {1, 3, 2, 0, 4};
    EXPECT_TRUE(std::equal(expectedFaces, expectedFaces + 5, faceRemap));

    Vertices v(sorted);
    const DWORD expectedAttributes[5] = {0, 0, 1, 2, 2};
    EXPECT_TRUE(std::equal(expectedAttributes, expectedAttributes + 5, v.attributes));
    // Vertices numbered as the sorted faces first use them; the unused one last.
    ASSERT_EQ(sorted->GetNumVertices(), 8u);
    ASSERT_EQ(vertexRemap->GetBufferSize(), 32u);
    const auto* remap = static_cast<const DWORD*>(vertexRemap->GetBufferPointer());
    const DWORD expectedVertices[8] = {2, 1, 3, 4, 5, 0, 6, 7};
    EXPECT_TRUE(std::equal(expectedVertices, expectedVertices + 8, remap));
    for (DWORD f = 0; f < 5; ++f) {
        for (int k = 0; k < 3; ++k) {
            // Same triangles, same positions.
            Vertices old(mesh);
            ExpectNear(v.Position(v.indices[f * 3 + k]), old.Position(old.indices[faceRemap[f] * 3 + k]));
        }
    }

    D3DXATTRIBUTERANGE table[4] = {};
    DWORD count = 0;
    ASSERT_EQ(sorted->GetAttributeTable(nullptr, &count), S_OK);
    ASSERT_EQ(count, 3u);
    ASSERT_EQ(sorted->GetAttributeTable(table, &count), S_OK);
    const D3DXATTRIBUTERANGE expected[3] = {{0, 0, 2, 0, 5}, {1, 2, 1, 0, 4}, {2, 3, 2, 0, 7}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].AttribId, expected[i].AttribId);
        EXPECT_EQ(table[i].FaceStart, expected[i].FaceStart);
        EXPECT_EQ(table[i].FaceCount, expected[i].FaceCount);
        EXPECT_EQ(table[i].VertexStart, expected[i].VertexStart);
        EXPECT_EQ(table[i].VertexCount, expected[i].VertexCount);
    }

    // Adjacency follows the faces to their new places.
    for (DWORD f = 0; f < 5; ++f) {
        for (int k = 0; k < 3; ++k) {
            const DWORD old = adjacencyIn[faceRemap[f] * 3 + k];
            EXPECT_EQ(old == UNUSED32 ? UNUSED32 : faceRemap[adjacencyOut[f * 3 + k]], old);
        }
    }
    vertexRemap->Release();
    sorted->Release();

    // COMPACT drops the unused vertex; IGNOREVERTS leaves the vertices alone.
    ASSERT_EQ(mesh->Optimize(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_COMPACT, nullptr, nullptr, nullptr, nullptr, &sorted),
              S_OK);
    EXPECT_EQ(sorted->GetNumVertices(), 7u);
    sorted->Release();
    ASSERT_EQ(mesh->Optimize(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_IGNOREVERTS, nullptr, nullptr, nullptr, nullptr,
                             &sorted),
              S_OK);
    Vertices kept(sorted);
    EXPECT_EQ(kept.indices[0], 2);  // face 1 = (2, 1, 3), old numbers
    sorted->Release();

    // An index past the vertices (written through the raw buffer) is refused.
    Vertices raw(mesh);
    raw.indices[4] = 8;
    EXPECT_EQ(mesh->Optimize(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr, &sorted), D3DXERR_INVALIDMESH);
    EXPECT_EQ(sorted, nullptr);
    mesh->Release();
}

TEST_F(MeshLoadTest, CloneFillsWhatTheSourceLacksWithZero) {
    ASSERT_EQ(Load(kCube), S_OK);
    D3DXMesh* clone = nullptr;
    ASSERT_EQ(m_pMesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, 0x252, nullptr, &clone), S_OK);
    EXPECT_EQ(clone->GetFVF(), 0x252u);
    EXPECT_EQ(clone->GetNumBytesPerVertex(), 44u);
    ASSERT_EQ(clone->GetNumVertices(), m_pMesh->GetNumVertices());
    Vertices from(m_pMesh);
    Vertices to(clone);
    for (DWORD i = 0; i < clone->GetNumVertices(); ++i) {
        ExpectNear(to.Position(i), from.Position(i), 0.0f);
        ExpectNear(to.Normal(i), from.Normal(i), 0.0f);
        EXPECT_EQ(to.Get<D3DCOLOR>(i, D3DVSDE_DIFFUSE), 0u);
        EXPECT_EQ(to.Get<float>(i, D3DVSDE_TEXCOORD0), from.Get<float>(i, D3DVSDE_TEXCOORD0));
        EXPECT_EQ(to.Get<float>(i, D3DVSDE_TEXCOORD0, 4), from.Get<float>(i, D3DVSDE_TEXCOORD0, 4));
        EXPECT_EQ(to.Get<float>(i, D3DVSDE_TEXCOORD0 + 1), 0.0f);
        EXPECT_EQ(to.Get<float>(i, D3DVSDE_TEXCOORD0 + 1, 4), 0.0f);
    }
    EXPECT_TRUE(std::equal(from.indices, from.indices + 36, to.indices));
    EXPECT_TRUE(std::equal(from.attributes, from.attributes + 12, to.attributes));

    // And back down to position, normal, one texture set.
    D3DXMesh* proxy = nullptr;
    ASSERT_EQ(clone->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, nullptr, &proxy), S_OK);
    EXPECT_EQ(proxy->GetNumBytesPerVertex(), 32u);
    Vertices back(proxy);
    EXPECT_EQ(std::memcmp(back.bytes, from.bytes, 24 * 32), 0);
    proxy->Release();
    clone->Release();

    EXPECT_EQ(m_pMesh->CloneMeshFVF(0, D3DFVF_XYZRHW, nullptr, &clone), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pMesh->CloneMeshFVF(D3DXMESH_32BIT, 0x252, nullptr, &clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
}

TEST_F(MeshLoadTest, TheDisplayMeshPreparationKeepsOneRangePerMaterial) {
    ASSERT_EQ(Load(kCube), S_OK);
    D3DXMesh* sorted = nullptr;
    ASSERT_EQ(m_pMesh->Optimize(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr, &sorted), S_OK);
    DWORD count = 0;
    sorted->GetAttributeTable(nullptr, &count);
    ASSERT_EQ(count, 2u);
    D3DXATTRIBUTERANGE table[2];
    sorted->GetAttributeTable(table, &count);
    EXPECT_EQ(table[0].FaceCount, 10u);
    EXPECT_EQ(table[1].FaceStart, 10u);
    EXPECT_EQ(table[1].FaceCount, 2u);
    EXPECT_EQ(table[0].VertexStart, 0u);
    EXPECT_EQ(table[0].VertexCount, 20u);
    EXPECT_EQ(table[1].VertexStart, 20u);  // the +z face's own four vertices
    EXPECT_EQ(table[1].VertexCount, 4u);

    D3DXMesh* drawn = nullptr;
    ASSERT_EQ(sorted->CloneMeshFVF(D3DXMESH_SYSTEMMEM, 0x252, nullptr, &drawn), S_OK);
    DWORD clonedCount = 0;
    drawn->GetAttributeTable(nullptr, &clonedCount);
    EXPECT_EQ(clonedCount, 2u);
    ASSERT_EQ(D3DXComputeNormals(drawn, nullptr), S_OK);
    Vertices v(drawn);
    for (DWORD f = 0; f < 12; ++f) {
        for (int k = 0; k < 3; ++k) ExpectNear(v.Normal(v.indices[f * 3 + k]), FaceNormal(v, f));
    }
    drawn->Release();
    sorted->Release();
}

TEST_F(MeshLoadTest, NormalsAreAreaWeightedAndJoinAcrossAdjacency) {
    // Without adjacency the split cube keeps its flat faces (checked above);
    // with it, the three copies of each corner become one point.
    ASSERT_EQ(Load(kCube), S_OK);
    D3DXMesh* mesh = nullptr;
    ASSERT_EQ(m_pMesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ | D3DFVF_NORMAL, nullptr, &mesh), S_OK);
    ASSERT_EQ(D3DXComputeNormals(mesh, static_cast<const DWORD*>(m_pAdjacency->GetBufferPointer())), S_OK);
    Vertices v(mesh);
    for (DWORD i = 0; i < 24; ++i) {
        const D3DXVECTOR3 p = v.Position(i);
        const D3DXVECTOR3 n = v.Normal(i);
        EXPECT_NEAR(D3DXVec3Length(&n), 1.0f, 1e-5f);
        EXPECT_GT(D3DXVec3Dot(&n, &p), 1.0f);  // outward, off every face plane
        for (DWORD j = 0; j < 24; ++j) {
            if (v.Position(j) == p) ExpectNear(v.Normal(j), n);
        }
    }
    mesh->Release();

    // A big triangle in z = 0 and a small one in x = 0 share vertex 0.
    ASSERT_EQ(D3DXCreateMeshFVF(2, 5, 0, D3DFVF_XYZ | D3DFVF_NORMAL, nullptr, &mesh), S_OK);
    Vertices w(mesh);
    const D3DXVECTOR3 points[5] = {{0, 0, 0}, {0, 4, 0}, {4, 0, 0}, {0, 0, 1}, {0, 1, 0}};
    for (DWORD i = 0; i < 5; ++i) std::memcpy(w.bytes + i * 24, &points[i], 12);
    const WORD indices[6] = {0, 1, 2, 0, 3, 4};
    std::memcpy(w.indices, indices, sizeof(indices));
    ASSERT_EQ(D3DXComputeNormals(mesh, nullptr), S_OK);
    D3DXVECTOR3 expected(-0.5f, 0.0f, -8.0f);  // areas 8 and 0.5
    D3DXVec3Normalize(&expected, &expected);
    ExpectNear(w.Normal(0), expected);
    ExpectNear(w.Normal(1), {0, 0, -1});
    ExpectNear(w.Normal(3), {-1, 0, 0});
    mesh->Release();

    D3DXMesh* noNormals = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, 0, D3DFVF_XYZ, nullptr, &noNormals), S_OK);
    EXPECT_EQ(D3DXComputeNormals(noNormals, nullptr), D3DERR_INVALIDCALL);
    noNormals->Release();
}

TEST(MeshBoundsTest, BoxAndSphereOfStridedPoints) {
    struct Vertex {
        D3DXVECTOR3 p;
        float padding[3];
    };
    const Vertex points[4] = {{{1, 2, 3}, {99, 99, 99}},
                              {{-1, 0, 5}, {99, 99, 99}},
                              {{3, -2, 3}, {99, 99, 99}},
                              {{1, 0, 1}, {99, 99, 99}}};
    D3DXVECTOR3 low, high;
    ASSERT_EQ(D3DXComputeBoundingBox(&points[0].p, 4, sizeof(Vertex), &low, &high), S_OK);
    ExpectNear(low, {-1, -2, 1}, 0.0f);
    ExpectNear(high, {3, 2, 5}, 0.0f);

    D3DXVECTOR3 centre;
    float radius = 0.0f;
    ASSERT_EQ(D3DXComputeBoundingSphere(&points[0].p, 4, sizeof(Vertex), &centre, &radius), S_OK);
    ExpectNear(centre, {1, 0, 3});  // the average, not the box centre
    EXPECT_NEAR(radius, std::sqrt(8.0f), 1e-5f);

    ASSERT_EQ(D3DXComputeBoundingSphere(&points[0].p, 1, sizeof(Vertex), &centre, &radius), S_OK);
    EXPECT_EQ(radius, 0.0f);
    EXPECT_EQ(D3DXComputeBoundingBox(&points[0].p, 0, sizeof(Vertex), &low, &high), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXComputeBoundingSphere(nullptr, 4, sizeof(Vertex), &centre, &radius), D3DERR_INVALIDCALL);
}

TEST(MeshCreateTest, LimitsOfTheSystemMemoryMesh) {
    D3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(1, 65535, 0, D3DFVF_XYZ, nullptr, &mesh), S_OK);
    ASSERT_NE(mesh, nullptr);
    mesh->Release();
    EXPECT_EQ(D3DXCreateMeshFVF(1, 65536, 0, D3DFVF_XYZ, nullptr, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(0, 3, 0, D3DFVF_XYZ, nullptr, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_32BIT, D3DFVF_XYZ, nullptr, &mesh), E_NOTIMPL);
    EXPECT_EQ(D3DXCreateMeshFVF(0xFFFFFFFF, 3, 0, D3DFVF_XYZ, nullptr, &mesh), E_OUTOFMEMORY);
    EXPECT_EQ(D3DXCreateMeshFVF(1, 3, 0, D3DFVF_NORMAL, nullptr, &mesh), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh, nullptr);
}

}  // namespace
