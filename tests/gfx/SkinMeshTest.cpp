// Skin meshes: bones and weights loaded from X text, the conversion into an
// indexed-blended mesh for palette skinning, and drawing meshes from their
// device buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gfx/D3DXSkinMesh.h"
#include "gfx/ImageDecode.h"
#include "gfx/VertexFormat.h"
#include "gfx/VertexProgramAsm.h"
#include "gfx/XFile.h"
#include "tests/gfx/DeviceDrawFixture.h"

namespace {

// Releases what it holds at the end of the scope.
template <class T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

// Two triangles folded along the edge 0-2 with one normal per face, so file
// vertices 0 and 2 are split in two. "Root" pulls vertices 0, 1, 2 and "Tip"
// vertices 1, 2, 3.
constexpr const char* kHinge = R"(
Mesh hinge {
 4; 0;0;0;, 1;0;0;, 0;1;0;, 0;0;1;;
 2; 3;0,1,2;, 3;0,2,3;;
 MeshNormals { 2; 0;0;-1;, -1;0;0;; 2; 3;0,0,0;, 3;1,1,1;; }
 XSkinMeshHeader { 2; 3; 2; }
 SkinWeights { "Root"; 3; 0, 1, 2; 1.0, 0.75, 0.5; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,-1,0,1;; }
 SkinWeights { "Tip"; 3; 1, 2, 3; 0.25, 0.5, 1.0; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,-2,1;; }
}
)";
const float kHingeWeights[2][4] = {{1.0f, 0.75f, 0.5f, 0.0f}, {0.0f, 0.25f, 0.5f, 1.0f}};

// Loads the first object of an X text as a skin mesh.
struct SkinLoad {
    D3DXSkinMesh* skin = nullptr;
    D3DXBuffer* names = nullptr;
    D3DXBuffer* offsets = nullptr;
    HRESULT hr = E_FAIL;

    explicit SkinLoad(const std::string& text) {
        XFile* file = nullptr;
        DirectXFileCreate(&file);
        file->RegisterTemplates(D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES);
        DXFILELOADMEMORY memory{text.data(), static_cast<DWORD>(text.size())};
        XFileEnumObject* e = nullptr;
        hr = file->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e);
        XFileData* mesh = nullptr;
        if (SUCCEEDED(hr)) hr = e->GetNextDataObject(&mesh);
        if (SUCCEEDED(hr)) {
            hr = D3DXLoadSkinMeshFromXof(mesh, D3DXMESH_SYSTEMMEM, nullptr, nullptr, nullptr, nullptr, &names, &offsets,
                                         &skin);
        }
        if (mesh) mesh->Release();
        if (e) e->Release();
        file->Release();
    }
    ~SkinLoad() {
        for (D3DXBuffer* b : {names, offsets}) {
            if (b) b->Release();
        }
        if (skin) skin->Release();
    }
};

TEST(SkinLoadTest, BonesNamesOffsetsAndWeightsFollowSplitVertices) {
    for (const char* header : {"xof 0303txt 0032", "xof 0302txt 0064"}) {
        SCOPED_TRACE(header);
        SkinLoad load(std::string(header) + kHinge);
        ASSERT_EQ(load.hr, S_OK);
        ASSERT_EQ(load.skin->GetNumBones(), 2u);
        ASSERT_EQ(load.skin->GetNumVertices(), 6u) << "vertices 0 and 2 split for their normals";
        auto* const* names = static_cast<char* const*>(load.names->GetBufferPointer());
        EXPECT_STREQ(names[0], "Root");
        EXPECT_STREQ(names[1], "Tip");
        ASSERT_EQ(load.offsets->GetBufferSize(), 2 * sizeof(D3DXMATRIX));
        const auto* offsets = static_cast<const D3DXMATRIX*>(load.offsets->GetBufferPointer());
        EXPECT_EQ(offsets[0](3, 1), -1.0f);
        EXPECT_EQ(offsets[1](3, 2), -2.0f);

        // Each loaded vertex carries the weights of the file vertex whose
        // position it has (x + 2y + 3z names it), once per bone.
        Held<D3DXMesh> mesh;
        ASSERT_EQ(load.skin->GetOriginalMesh(&mesh.p), S_OK);
        BYTE* vertices = nullptr;
        mesh->LockVertexBuffer(D3DLOCK_READONLY, &vertices);
        for (DWORD bone = 0; bone < 2; ++bone) {
            const DWORD n = load.skin->GetNumBoneInfluences(bone);
            std::vector<DWORD> influenced(n);
            std::vector<float> weights(n);
            ASSERT_EQ(load.skin->GetBoneInfluence(bone, influenced.data(), weights.data()), S_OK);
            std::vector<float> found(6, 0.0f);
            for (DWORD i = 0; i < n; ++i) found[influenced[i]] += weights[i];
            EXPECT_EQ(n, 5u - bone);
            for (DWORD v = 0; v < 6; ++v) {
                float p[3];
                std::memcpy(p, vertices + v * mesh->GetNumBytesPerVertex(), sizeof p);
                const int file = static_cast<int>(p[0] + 2 * p[1] + 3 * p[2]);
                EXPECT_EQ(found[v], kHingeWeights[bone][file]) << "bone " << bone << " vertex " << v;
            }
        }
        mesh->UnlockVertexBuffer();
        DWORD most = 0;
        EXPECT_EQ(load.skin->GetMaxVertexInfluences(&most), S_OK);
        EXPECT_EQ(most, 2u);
    }
}

TEST(SkinLoadTest, MeshesWithoutWeightsOrDataAndDamagedWeights) {
    const std::string head = "xof 0302txt 0064\nMesh m { 4; 0;0;0;, 1;0;0;, 0;1;0;, 0;0;1;; 2; 3;0,1,2;, 3;0,2,3;;\n";
    const std::string identity = " 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;; }\n}\n";
    {
        SkinLoad load(head + "}\n");
        ASSERT_EQ(load.hr, S_OK);
        EXPECT_EQ(load.skin->GetNumBones(), 0u);
        EXPECT_EQ(load.names, nullptr);
        EXPECT_EQ(load.offsets, nullptr);
    }
    EXPECT_EQ(SkinLoad("xof 0302txt 0064\nMesh empty { 0;; 0;; }\n").hr, D3DXERR_LOADEDMESHASNODATA);

    struct Case {
        const char* what;
        std::string weights;
        HRESULT expected;  // S_OK: any failure will do
    };
    const Case cases[] = {
        {"vertex beyond the mesh", "2; 0, 4; 0.5, 0.5;" + identity, D3DXERR_INVALIDDATA},
        {"negative weight", "2; 0, 1; 0.5, -0.5;" + identity, D3DXERR_INVALIDDATA},
        {"fewer indices than weights", "3; 0, 1; 0.5, 0.5, 0.5;" + identity, S_OK},
        {"count beyond the lists", "1000000; 0, 1; 0.5, 0.5;" + identity, S_OK},
        {"no offset matrix", "1; 0; 1.0; }\n}\n", S_OK},
    };
    for (const Case& c : cases) {
        SkinLoad load(head + "SkinWeights { \"B\"; " + c.weights);
        EXPECT_TRUE(c.expected == S_OK ? FAILED(load.hr) : load.hr == c.expected) << c.what << ": " << load.hr;
        EXPECT_TRUE(load.skin == nullptr && load.names == nullptr && load.offsets == nullptr) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Conversion

// A zero-filled mesh with vertex v at (v, 0, 0).
D3DXMesh* MakeMesh(DWORD fvf, DWORD vertices, const std::vector<WORD>& indices, const std::vector<DWORD>& attributes) {
    D3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(static_cast<DWORD>(attributes.size()), vertices, 0, fvf, nullptr, &mesh), S_OK);
    BYTE* v = nullptr;
    BYTE* i = nullptr;
    DWORD* a = nullptr;
    mesh->LockVertexBuffer(0, &v);
    mesh->LockIndexBuffer(0, &i);
    mesh->LockAttributeBuffer(0, &a);
    for (DWORD n = 0; n < vertices; ++n) {
        const float x = static_cast<float>(n);
        std::memcpy(v + n * mesh->GetNumBytesPerVertex(), &x, sizeof x);
    }
    std::memcpy(i, indices.data(), indices.size() * sizeof(WORD));
    std::copy(attributes.begin(), attributes.end(), a);
    mesh->UnlockAttributeBuffer();
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    return mesh;
}

// A converted vertex: its k weights (the last implied) and the bones its four
// index bytes name through the group's palette.
struct Blend {
    std::vector<float> weights;
    std::vector<DWORD> bones;
};

Blend ReadBlend(D3DXMesh* mesh, DWORD k, DWORD v, const DWORD* palette) {
    VertexLayout layout;
    LayoutFromFVF(mesh->GetFVF(), layout);
    BYTE* vertices = nullptr;
    mesh->LockVertexBuffer(D3DLOCK_READONLY, &vertices);
    const BYTE* p = vertices + v * layout.stride;
    Blend b;
    b.weights.resize(k);
    std::memcpy(b.weights.data(), p + layout.elements[D3DVSDE_BLENDWEIGHT].offset, (k - 1) * sizeof(float));
    b.weights[k - 1] = 1.0f;
    for (DWORD j = 0; j + 1 < k; ++j) b.weights[k - 1] -= b.weights[j];
    for (DWORD j = 0; j < 4; ++j) b.bones.push_back(palette[p[layout.elements[D3DVSDE_BLENDINDICES].offset + j]]);
    return b;
}

TEST(SkinConvertTest, TwoInfluencesGiveTheDrawingLayoutWithNormalisedWeightsAndPaletteSlots) {
    constexpr DWORD kSourceFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2;
    Held<D3DXMesh> mesh{MakeMesh(kSourceFvf, 3, {0, 1, 2}, {7})};
    BYTE* v = nullptr;
    mesh->LockVertexBuffer(0, &v);
    const float tail[8] = {0.0f, 0.0f, -1.0f, 0.0f, 0.25f, 0.5f, 0.75f, 1.0f};  // normal, colour, two uv pairs
    std::memcpy(v + 44 + 12, tail, sizeof tail);
    mesh->UnlockVertexBuffer();

    // Vertex 0: bones 3 (0.3) and 1 (0.9); vertex 1: bone 1 only; vertex 2: none.
    Held<D3DXSkinMesh> skin;
    ASSERT_EQ(D3DXCreateSkinMeshFromMesh(mesh.p, 4, &skin.p), S_OK);
    const DWORD v0[] = {0}, v01[] = {0, 1};
    const float w3[] = {0.3f}, w1[] = {0.9f, 0.5f};
    ASSERT_EQ(skin->SetBoneInfluence(3, 1, v0, w3), S_OK);
    ASSERT_EQ(skin->SetBoneInfluence(1, 2, v01, w1), S_OK);

    Held<D3DXMesh> blended;
    Held<D3DXBuffer> table, remap;
    DWORD k = 0, groups = 0;
    ASSERT_EQ(skin->ConvertToIndexedBlendedMesh(D3DXMESH_MANAGED | D3DXMESHOPT_VERTEXCACHE, nullptr, 28, nullptr,
                                                nullptr, &remap.p, &k, &groups, &table.p, &blended.p),
              S_OK);
    EXPECT_EQ(k, 2u);
    ASSERT_EQ(groups, 1u);
    EXPECT_EQ(blended->GetFVF(), D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2);
    EXPECT_EQ(blended->GetNumBytesPerVertex(), 52u);
    EXPECT_EQ(blended->GetOptions(), D3DXMESH_MANAGED) << "optimisation bits are no mesh options";

    const auto* group = static_cast<const D3DXBONECOMBINATION*>(table->GetBufferPointer());
    EXPECT_EQ(group->AttribId, 7u);
    EXPECT_EQ(std::vector<DWORD>(group->BoneId, group->BoneId + 3), (std::vector<DWORD>{1, 3, UNUSED32}));
    EXPECT_EQ(group->BoneId[27], UNUSED32);

    const auto* origin = static_cast<const DWORD*>(remap->GetBufferPointer());
    BYTE* out = nullptr;
    blended->LockVertexBuffer(D3DLOCK_READONLY, &out);
    for (DWORD n = 0; n < 3; ++n) {
        const Blend b = ReadBlend(blended.p, k, n, group->BoneId);
        if (origin[n] == 0) {  // 0.9 and 0.3 scaled to 0.75 and 0.25, heavier first
            EXPECT_NEAR(b.weights[0], 0.75f, 1e-6f);
            EXPECT_EQ(b.bones, (std::vector<DWORD>{1, 3, 3, 3}));
        } else if (origin[n] == 1) {  // one bone with all the weight, its slot repeated
            EXPECT_NEAR(b.weights[0], 1.0f, 1e-6f);
            EXPECT_NEAR(b.weights[1], 0.0f, 1e-6f);
            EXPECT_EQ(b.bones, (std::vector<DWORD>{1, 1, 1, 1}));
            EXPECT_EQ(std::memcmp(out + n * 52 + 20, tail, sizeof tail), 0) << "normal, colour and uv copied";
        } else {  // no bone: palette slot 0 with weight 1
            EXPECT_NEAR(b.weights[0], 1.0f, 1e-6f);
            EXPECT_EQ(b.bones[0], 1u);
        }
    }
}

TEST(SkinConvertTest, FortyBonesSplitIntoPalettesOfTwentyEight) {
    // A strip of 40 quads whose column c is pulled by bones c % 40 (0.7) and
    // (c + 1) % 40 (0.3), so quad q needs bones q .. q + 2. Quads 35 .. 39
    // carry attribute 1 and come first in the file.
    constexpr DWORD kColumns = 41, kBones = 40, kPalette = 28, kFaces = 80;
    std::vector<WORD> indices;
    std::vector<DWORD> attributes;
    for (DWORD n = 0; n < 40; ++n) {
        const auto q = static_cast<WORD>((n + 35) % 40), c = static_cast<WORD>(kColumns + q);
        indices.insert(indices.end(), {q, c, WORD(q + 1), WORD(q + 1), c, WORD(c + 1)});
        attributes.insert(attributes.end(), 2, q >= 35 ? 1u : 0u);
    }
    Held<D3DXMesh> mesh{MakeMesh(D3DFVF_XYZ | D3DFVF_NORMAL, 2 * kColumns, indices, attributes)};
    Held<D3DXSkinMesh> skin;
    ASSERT_EQ(D3DXCreateSkinMeshFromMesh(mesh.p, kBones, &skin.p), S_OK);
    std::vector<std::map<DWORD, float>> expected(2 * kColumns);
    for (DWORD bone = 0; bone < kBones; ++bone) {
        std::vector<DWORD> influenced;
        std::vector<float> weights;
        for (DWORD v = 0; v < 2 * kColumns; ++v) {
            const DWORD column = v % kColumns;
            if (column % kBones != bone && (column + 1) % kBones != bone) continue;
            influenced.push_back(v);
            weights.push_back(column % kBones == bone ? 0.7f : 0.3f);
            expected[v][bone] = weights.back();
        }
        ASSERT_EQ(skin->SetBoneInfluence(bone, DWORD(influenced.size()), influenced.data(), weights.data()), S_OK);
    }

    Held<D3DXMesh> blended;
    Held<D3DXBuffer> table, remap;
    std::vector<DWORD> faceRemap(kFaces);
    DWORD k = 0, groups = 0;
    ASSERT_EQ(skin->ConvertToIndexedBlendedMesh(0, nullptr, kPalette, nullptr, faceRemap.data(), &remap.p, &k,
                                                &groups, &table.p, &blended.p),
              S_OK);
    ASSERT_EQ(groups, 3u) << "37 bones for attribute 0 need two palettes, attribute 1 one";
    EXPECT_GT(blended->GetNumVertices(), 2 * kColumns) << "vertices shared across groups are copied";
    std::vector<D3DXATTRIBUTERANGE> ranges(groups);
    ASSERT_EQ(blended->GetAttributeTable(ranges.data(), &groups), S_OK);

    const auto* combinations = static_cast<const D3DXBONECOMBINATION*>(table->GetBufferPointer());
    const auto* origin = static_cast<const DWORD*>(remap->GetBufferPointer());
    BYTE* indexBytes = nullptr;
    blended->LockIndexBuffer(D3DLOCK_READONLY, &indexBytes);
    const auto* outIndices = reinterpret_cast<const WORD*>(indexBytes);
    DWORD nextFace = 0, nextVertex = 0;
    std::vector<int> drawn(kFaces, 0);
    for (DWORD g = 0; g < groups; ++g) {
        SCOPED_TRACE("group " + std::to_string(g));
        const D3DXBONECOMBINATION& c = combinations[g];
        EXPECT_EQ(std::memcmp(&ranges[g], &c, sizeof ranges[g]), 0) << "attribute table = groups";
        EXPECT_EQ(c.AttribId, g == 2 ? 1u : 0u);
        EXPECT_EQ(c.FaceStart, nextFace);
        EXPECT_EQ(c.VertexStart, nextVertex);
        nextFace += c.FaceCount;
        nextVertex += c.VertexCount;
        EXPECT_LE(std::count_if(c.BoneId, c.BoneId + kPalette, [](DWORD b) { return b != UNUSED32; }),
                  static_cast<long>(kPalette));

        for (DWORD f = c.FaceStart; f < c.FaceStart + c.FaceCount; ++f) {
            ++drawn[faceRemap[f]];
            EXPECT_EQ(attributes[faceRemap[f]], c.AttribId);
            for (DWORD corner = 0; corner < 3; ++corner) {
                const DWORD v = outIndices[f * 3 + corner];
                ASSERT_TRUE(v >= c.VertexStart && v < c.VertexStart + c.VertexCount) << "vertex of its own group";
                EXPECT_EQ(origin[v], indices[faceRemap[f] * 3 + corner]);
            }
        }
        // Every slot of a vertex names a bone of the palette that pulls the
        // source vertex with the weight given.
        for (DWORD v = c.VertexStart; v < c.VertexStart + c.VertexCount; ++v) {
            const Blend b = ReadBlend(blended.p, k, v, c.BoneId);
            for (DWORD j = 0; j < k; ++j) {
                const auto it = expected[origin[v]].find(b.bones[j]);
                ASSERT_NE(it, expected[origin[v]].end()) << "vertex " << v << " slot " << j;
                EXPECT_NEAR(b.weights[j], it->second, 1e-6f);
            }
        }
    }
    EXPECT_EQ(nextFace, kFaces);
    EXPECT_EQ(nextVertex, blended->GetNumVertices());
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), 1), static_cast<long>(kFaces)) << "each face drawn once";
}

TEST(SkinConvertTest, PalettesTooSmallTooManyInfluencesAndBadWeightsAreRefused) {
    Held<D3DXMesh> mesh{MakeMesh(D3DFVF_XYZ, 3, {0, 1, 2}, {0})};
    Held<D3DXSkinMesh> skin;
    ASSERT_EQ(D3DXCreateSkinMeshFromMesh(mesh.p, 6, &skin.p), S_OK);
    auto convert = [&](D3DXSkinMesh* s, DWORD palette) {
        DWORD k = 0, groups = 0;
        D3DXMesh* blended = nullptr;
        D3DXBuffer* table = nullptr;
        const HRESULT hr = s->ConvertToIndexedBlendedMesh(0, nullptr, palette, nullptr, nullptr, nullptr, &k, &groups,
                                                          &table, &blended);
        EXPECT_EQ(SUCCEEDED(hr), blended != nullptr && table != nullptr);
        if (blended) blended->Release();
        if (table) table->Release();
        return hr;
    };
    // One bone per corner: the face needs three.
    const DWORD v0[] = {0}, v1[] = {1}, v2[] = {2}, all[] = {0, 1, 2}, beyond[] = {3};
    const float one[] = {1.0f}, some[] = {0.2f, 0.2f, 0.2f}, nan[] = {std::nanf("")}, negative[] = {-1.0f};
    ASSERT_EQ(skin->SetBoneInfluence(0, 1, v0, one), S_OK);
    ASSERT_EQ(skin->SetBoneInfluence(1, 1, v1, one), S_OK);
    ASSERT_EQ(skin->SetBoneInfluence(2, 1, v2, one), S_OK);
    EXPECT_EQ(convert(skin.p, 2), D3DXERR_TOOMANYINFLUENCES);
    EXPECT_EQ(convert(skin.p, 3), S_OK);
    EXPECT_EQ(convert(skin.p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(convert(skin.p, kD3DXMaxPaletteSize + 1), D3DERR_INVALIDCALL);

    for (DWORD bone = 0; bone < 5; ++bone) ASSERT_EQ(skin->SetBoneInfluence(bone, 3, all, some), S_OK);
    EXPECT_EQ(convert(skin.p, 28), D3DXERR_TOOMANYINFLUENCES) << "five bones on one vertex";

    EXPECT_EQ(skin->SetBoneInfluence(0, 1, beyond, one), D3DERR_INVALIDCALL);
    EXPECT_EQ(skin->SetBoneInfluence(0, 1, v0, nan), D3DERR_INVALIDCALL);
    EXPECT_EQ(skin->SetBoneInfluence(0, 1, v0, negative), D3DERR_INVALIDCALL);
    EXPECT_EQ(skin->SetBoneInfluence(6, 1, v0, one), D3DERR_INVALIDCALL);

    Held<D3DXSkinMesh> rigid;
    ASSERT_EQ(D3DXCreateSkinMeshFromMesh(mesh.p, 0, &rigid.p), S_OK);
    EXPECT_EQ(convert(rigid.p, 28), D3DERR_INVALIDCALL) << "no bones to blend with";
}

// ---------------------------------------------------------------------------
// Drawing from the mesh's own buffers

class MeshDrawTest : public device_draw::DrawFixture {};

TEST_F(MeshDrawTest, DrawSubsetDrawsOneAttributeFromBuffersThatFollowTheMesh) {
    // Two quads in clip space: the left one attribute 0 (red), the right one
    // attribute 1 (green), the right one first.
    using device_draw::NearColour;
    using device_draw::Rgb;
    constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
    struct V {
        float x, y, z;
        D3DCOLOR c;
    };
    const D3DCOLOR red = Rgb(255, 0, 0), green = Rgb(0, 255, 0), blue = Rgb(0, 0, 255), black = Rgb(0, 0, 0);
    const V quads[8] = {{-0.9f, -0.5f, 0.5f, red},  {-0.9f, 0.5f, 0.5f, red},  {-0.1f, 0.5f, 0.5f, red},
                        {-0.1f, -0.5f, 0.5f, red},  {0.1f, -0.5f, 0.5f, green}, {0.1f, 0.5f, 0.5f, green},
                        {0.9f, 0.5f, 0.5f, green}, {0.9f, -0.5f, 0.5f, green}};
    const WORD indices[12] = {4, 5, 6, 4, 6, 7, 0, 1, 2, 0, 2, 3};
    const DWORD attributes[4] = {1, 1, 0, 0};

    Held<D3DXMesh> mesh;
    ASSERT_EQ(D3DXCreateMeshFVF(4, 8, D3DXMESH_MANAGED, kFvf, m_pDevice, &mesh.p), S_OK);
    BYTE* v = nullptr;
    BYTE* i = nullptr;
    DWORD* a = nullptr;
    mesh->LockVertexBuffer(0, &v);
    mesh->LockIndexBuffer(0, &i);
    mesh->LockAttributeBuffer(0, &a);
    std::memcpy(v, quads, sizeof quads);
    std::memcpy(i, indices, sizeof indices);
    std::copy(std::begin(attributes), std::end(attributes), a);
    mesh->UnlockAttributeBuffer();
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();

    Held<Direct3DVertexBuffer8> vb;
    ASSERT_EQ(mesh->GetVertexBuffer(&vb.p), S_OK);
    D3DVERTEXBUFFER_DESC desc{};
    vb->GetDesc(&desc);
    EXPECT_TRUE(desc.FVF == kFvf && desc.Pool == D3DPOOL_MANAGED && desc.Size == sizeof quads);
    EXPECT_EQ(std::memcmp(vb->Data(), quads, sizeof quads), 0);
    Held<Direct3DIndexBuffer8> ib;
    ASSERT_EQ(mesh->GetIndexBuffer(&ib.p), S_OK);
    EXPECT_EQ(std::memcmp(ib->Data(), indices, sizeof indices), 0);

    PlainColourStates();
    m_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const int left = PixelX(-0.5f), right = PixelX(0.5f), middle = PixelY(0.0f);
    auto draw = [&](D3DXMesh* m, DWORD attribute, D3DCOLOR leftColour, D3DCOLOR rightColour) {
        EXPECT_EQ(ClearTo(black), D3D_OK);
        EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
        EXPECT_EQ(m->DrawSubset(attribute), S_OK);
        EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
        const auto pixels = Pixels();
        EXPECT_TRUE(NearColour(At(pixels, left, middle), leftColour));
        EXPECT_TRUE(NearColour(At(pixels, right, middle), rightColour));
    };

    // Without an attribute table: the run of faces with the attribute.
    const auto draws = m_pDevice->DrawCount();
    draw(mesh.p, 0, red, black);
    EXPECT_EQ(m_pDevice->DrawCount(), draws + 1);
    draw(mesh.p, 5, black, black);
    EXPECT_EQ(m_pDevice->DrawCount(), draws + 1) << "an attribute no face has draws nothing";

    // Writing the mesh's vertices reaches the device buffer.
    mesh->LockVertexBuffer(0, &v);
    for (int n = 0; n < 4; ++n) std::memcpy(v + n * sizeof(V) + 12, &blue, 4);
    mesh->UnlockVertexBuffer();
    draw(mesh.p, 0, blue, black);

    // A sorted copy keeps the device and draws the ranges of its table.
    Held<D3DXMesh> sorted;
    ASSERT_EQ(mesh->Optimize(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr, &sorted.p), S_OK);
    Held<Direct3DDevice8> device;
    ASSERT_EQ(sorted->GetDevice(&device.p), S_OK);
    EXPECT_EQ(device.p, m_pDevice);
    draw(sorted.p, 1, black, green);

    // A mesh made without a device has nothing to draw with.
    Held<D3DXMesh> loose;
    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, 0, kFvf, nullptr, &loose.p), S_OK);
    Direct3DVertexBuffer8* none = nullptr;
    EXPECT_EQ(loose->GetVertexBuffer(&none), D3DERR_INVALIDCALL);
    EXPECT_EQ(loose->DrawSubset(0), D3DERR_INVALIDCALL);
}

}  // namespace
