// The X-file reader: the text format as exporters write it, the data layout
// handed to the mesh and skin loaders, object lifetimes, and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/XFile.h"
#include "platform/Resources.h"

namespace {

// A model with a top-level material, a frame hierarchy with transforms, a mesh
// with children and a reference.
constexpr std::string_view kModel = R"(xof 0302txt 0064
// exported by hand
Header { 1; 0; 1; }

Material RedMat {
 1.000000;0.300000;0.330000;1.000000;;
 5.000000;
 0.500000;0.500000;0.500000;;
 0.000000;0.000000;0.000000;;
 TextureFilename { "earth.jpg"; }
}

Frame Root {
 FrameTransformMatrix {
  1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,10.0,20.0,30.0,1.0;;
 }
 Frame Child {
  Mesh displayMesh {
   4;
   0.0;0.0;0.0;,
   1.0;0.0;0.0;,
   0.0;1.0;0.0;,
   1.0;1.0;0.0;;
   2;
   3;0,2,1;,
   3;1,2,3;;
   MeshMaterialList {
    1;
    2;
    0,
    0;;
    { RedMat }
   }
  }
 }
}
)";

class XFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DirectXFileCreate(&m_pFile), S_OK);
        ASSERT_EQ(m_pFile->RegisterTemplates(D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES), S_OK);
    }
    void TearDown() override {
        if (m_pFile) m_pFile->Release();
    }

    HRESULT Open(std::string_view text, XFileEnumObject** enumObject) {
        DXFILELOADMEMORY memory{text.data(), static_cast<DWORD>(text.size())};
        return m_pFile->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, enumObject);
    }

    // The parse result of a whole text, or the failure.
    HRESULT Parse(std::string_view text) {
        XFileEnumObject* e = nullptr;
        HRESULT hr = Open(text, &e);
        if (e) e->Release();
        return hr;
    }

    XFile* m_pFile = nullptr;
};

std::string NameOf(XFileObject* object) {
    DWORD size = 0;
    EXPECT_EQ(object->GetName(nullptr, &size), S_OK);
    std::string name(size, '\0');
    EXPECT_EQ(object->GetName(name.data(), &size), S_OK);
    name.resize(size - 1);
    return name;
}

std::vector<unsigned char> DataOf(XFileData* data, const char* member = nullptr) {
    DWORD size = 0;
    void* bytes = nullptr;
    EXPECT_EQ(data->GetData(member, &size, &bytes), S_OK);
    const auto* p = static_cast<const unsigned char*>(bytes);
    return p ? std::vector<unsigned char>(p, p + size) : std::vector<unsigned char>{};
}

template <class T>
T At(const std::vector<unsigned char>& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Describes a tree: "Type:name(bytes){children}", references as "&name".
std::string Describe(XFileData* data) {
    const GUID* type = nullptr;
    EXPECT_EQ(data->GetType(&type), S_OK);
    std::string kind = IsEqualGUID(*type, TID_D3DRMFrame)                  ? "Frame"
                       : IsEqualGUID(*type, TID_D3DRMMesh)                 ? "Mesh"
                       : IsEqualGUID(*type, TID_D3DRMFrameTransformMatrix) ? "Matrix"
                       : IsEqualGUID(*type, TID_D3DRMMeshMaterialList)     ? "MaterialList"
                       : IsEqualGUID(*type, TID_D3DRMMaterial)             ? "Material"
                       : IsEqualGUID(*type, TID_D3DRMTextureFilename)      ? "Texture"
                       : IsEqualGUID(*type, TID_D3DRMInfo)                 ? "Header"
                                                                           : "Other";
    std::string out = kind + ":" + NameOf(data) + "(" + std::to_string(DataOf(data).size()) + ")";
    std::string children;
    for (;;) {
        XFileObject* child = nullptr;
        HRESULT hr = data->GetNextObject(&child);
        if (hr == DXFILEERR_NOMOREOBJECTS) break;
        EXPECT_EQ(hr, S_OK);
        if (FAILED(hr)) break;
        XFileData* childData = nullptr;
        XFileDataReference* reference = nullptr;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&childData)))) {
            children += Describe(childData);
            childData->Release();
        } else if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference,
                                                   reinterpret_cast<void**>(&reference)))) {
            children += "&" + NameOf(reference);
            reference->Release();
        }
        child->Release();
    }
    return children.empty() ? out : out + "{" + children + "}";
}

std::string DescribeAll(XFileEnumObject* e) {
    std::string out;
    for (;;) {
        XFileData* data = nullptr;
        HRESULT hr = e->GetNextDataObject(&data);
        if (hr == DXFILEERR_NOMOREOBJECTS) break;
        EXPECT_EQ(hr, S_OK);
        if (FAILED(hr)) break;
        out += Describe(data) + ";";
        data->Release();
    }
    return out;
}

// The first object of a parsed text, or null.
XFileData* FirstObject(XFileEnumObject* e) {
    XFileData* data = nullptr;
    return SUCCEEDED(e->GetNextDataObject(&data)) ? data : nullptr;
}

// ---------------------------------------------------------------------------

TEST_F(XFileTest, WalksObjectsInFileOrderWithTypesNamesAndSizes) {
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(Open(kModel, &e), S_OK);
    EXPECT_EQ(DescribeAll(e),
              "Header:(8);"
              "Material:RedMat(44){Texture:(8)};"
              "Frame:Root(0){Matrix:(64)Frame:Child(0){Mesh:displayMesh(88){MaterialList:(16){&RedMat}}}};");
    XFileData* none = reinterpret_cast<XFileData*>(1);
    EXPECT_EQ(e->GetNextDataObject(&none), DXFILEERR_NOMOREOBJECTS);
    EXPECT_EQ(none, nullptr);
    e->Release();
}

TEST_F(XFileTest, DataFollowsTheTemplateLayout) {
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(Open(kModel, &e), S_OK);
    XFileData* header = FirstObject(e);
    XFileData* material = FirstObject(e);
    XFileData* root = FirstObject(e);
    ASSERT_TRUE(header && material && root);

    auto h = DataOf(header);
    EXPECT_EQ(At<WORD>(h, 0), 1);
    EXPECT_EQ(At<WORD>(h, 2), 0);
    EXPECT_EQ(At<DWORD>(h, 4), 1u);
    EXPECT_EQ(DataOf(header, "flags"), std::vector<unsigned char>({1, 0, 0, 0}));

    // Structure members flattened: ColorRGBA, power, ColorRGB, ColorRGB.
    auto m = DataOf(material);
    EXPECT_FLOAT_EQ(At<float>(m, 4), 0.3f);
    EXPECT_FLOAT_EQ(At<float>(m, 16), 5.0f);
    EXPECT_EQ(DataOf(material, "specularColor").size(), 12u);
    DWORD size = 0;
    void* bytes = nullptr;
    EXPECT_EQ(material->GetData("noSuchMember", &size, &bytes), DXFILEERR_NOTFOUND);

    // STRING is a pointer to a NUL-terminated copy owned by the object.
    XFileObject* child = nullptr;
    ASSERT_EQ(material->GetNextObject(&child), S_OK);
    XFileData* texture = nullptr;
    ASSERT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&texture)), S_OK);
    EXPECT_STREQ(At<const char*>(DataOf(texture), 0), "earth.jpg");

    XFileObject* matrixObject = nullptr;
    ASSERT_EQ(root->GetNextObject(&matrixObject), S_OK);
    XFileData* matrix = nullptr;
    ASSERT_EQ(matrixObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&matrix)), S_OK);
    auto mat = DataOf(matrix);
    ASSERT_EQ(mat.size(), 64u);
    EXPECT_FLOAT_EQ(At<float>(mat, 48), 10.0f);
    EXPECT_FLOAT_EQ(At<float>(mat, 60), 1.0f);

    // Everything handed out outlives the reader and the enumerator.
    e->Release();
    m_pFile->Release();
    m_pFile = nullptr;
    EXPECT_STREQ(At<const char*>(DataOf(texture), 0), "earth.jpg");
    EXPECT_EQ(NameOf(root), "Root");
    for (XFileObject* o : {static_cast<XFileObject*>(header), static_cast<XFileObject*>(material),
                           static_cast<XFileObject*>(root), child, static_cast<XFileObject*>(texture), matrixObject,
                           static_cast<XFileObject*>(matrix)}) {
        o->Release();
    }
}

TEST_F(XFileTest, MemberDataOfVariableArrays) {
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(Open(kModel, &e), S_OK);
    XFileData* objects[3] = {};
    for (auto*& o : objects) o = FirstObject(e);
    XFileData* root = objects[2];
    XFileObject* skip = nullptr;
    XFileObject* childObject = nullptr;
    ASSERT_EQ(root->GetNextObject(&skip), S_OK);
    ASSERT_EQ(root->GetNextObject(&childObject), S_OK);
    XFileData* child = nullptr;
    ASSERT_EQ(childObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&child)), S_OK);
    XFileObject* meshObject = nullptr;
    ASSERT_EQ(child->GetNextObject(&meshObject), S_OK);
    XFileData* mesh = nullptr;
    ASSERT_EQ(meshObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&mesh)), S_OK);

    auto all = DataOf(mesh);
    EXPECT_EQ(At<DWORD>(all, 0), 4u);
    EXPECT_FLOAT_EQ(At<float>(all, 4 + 3 * 12 + 4), 1.0f);  // vertex 3, y
    EXPECT_EQ(At<DWORD>(all, 52), 2u);                       // nFaces after 4 vectors
    EXPECT_EQ(DataOf(mesh, "vertices").size(), 48u);
    auto faces = DataOf(mesh, "faces");
    ASSERT_EQ(faces.size(), 32u);
    EXPECT_EQ(At<DWORD>(faces, 0), 3u);
    EXPECT_EQ(At<DWORD>(faces, 8), 2u);
    EXPECT_EQ(At<DWORD>(faces, 28), 3u);

    // The reference resolves to the top-level material.
    XFileObject* listObject = nullptr;
    ASSERT_EQ(mesh->GetNextObject(&listObject), S_OK);
    XFileData* list = nullptr;
    ASSERT_EQ(listObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&list)), S_OK);
    XFileObject* refObject = nullptr;
    ASSERT_EQ(list->GetNextObject(&refObject), S_OK);
    XFileData* notData = nullptr;
    EXPECT_EQ(refObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&notData)), E_NOINTERFACE);
    XFileDataReference* ref = nullptr;
    ASSERT_EQ(refObject->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&ref)), S_OK);
    XFileData* resolved = nullptr;
    ASSERT_EQ(ref->Resolve(&resolved), S_OK);
    EXPECT_EQ(NameOf(resolved), "RedMat");
    EXPECT_EQ(DataOf(resolved), DataOf(objects[1]));
    XFileObject* end = nullptr;
    EXPECT_EQ(list->GetNextObject(&end), DXFILEERR_NOMOREOBJECTS);

    for (XFileObject* o : {static_cast<XFileObject*>(resolved), static_cast<XFileObject*>(ref), refObject,
                           static_cast<XFileObject*>(list), listObject, static_cast<XFileObject*>(mesh), meshObject,
                           static_cast<XFileObject*>(child), childObject, skip}) {
        o->Release();
    }
    for (auto* o : objects) o->Release();
    e->Release();
}

TEST_F(XFileTest, NamesFollowWin32SizeRules) {
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(Open(kModel, &e), S_OK);
    XFileData* header = FirstObject(e);
    XFileData* material = FirstObject(e);
    DWORD size = 0;
    EXPECT_EQ(material->GetName(nullptr, &size), S_OK);
    EXPECT_EQ(size, 7u);
    char small[4] = "xyz";
    size = sizeof(small);
    EXPECT_EQ(material->GetName(small, &size), DXFILEERR_BADVALUE);
    EXPECT_EQ(size, 7u);
    char exact[7];
    EXPECT_EQ(material->GetName(exact, &size), S_OK);
    EXPECT_STREQ(exact, "RedMat");
    // An unnamed object has the empty name.
    size = sizeof(small);
    EXPECT_EQ(header->GetName(small, &size), S_OK);
    EXPECT_EQ(size, 1u);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(header->GetName(small, nullptr), DXFILEERR_BADVALUE);
    header->Release();
    material->Release();
    e->Release();
}

TEST_F(XFileTest, SeparatorCommentAndHeaderVariationsReadAlike) {
    const std::string body = "Mesh m {\n 3;\n 0.5;1;-2.25e1;,\n 1;0;0;,\n 0;1;0;;\n 1;\n 3;0,1,2;;\n}\n";
    const std::string variants[] = {
        "xof 0303txt 0032\n" + body,
        // Separators left out, doubled, swapped; comments of both kinds.
        "xof 0302txt 0064\n# comment\nMesh m { // trailing\n 3 0.5 1 -22.5, 1,0,0;;;; 0 1 0 1 3 0 1 2 }",
        "xof 0302txt 0064\nMesh m {3,0.5,1,-22.5,1,0,0,0,1,0,1,3,0,1,2,}",
        "xof 0302txt 0064\r\nMesh m\r\n{\r\n3;;0.5;1.0;-22.50;;,1;0;0;;,0;1;0;;;;1;;3;0;1;2;;;;\r\n}\r\n",
    };
    std::vector<unsigned char> reference;
    for (const std::string& text : variants) {
        SCOPED_TRACE(text);
        XFileEnumObject* e = nullptr;
        ASSERT_EQ(Open(text, &e), S_OK);
        XFileData* mesh = FirstObject(e);
        ASSERT_NE(mesh, nullptr);
        auto bytes = DataOf(mesh);
        EXPECT_EQ(bytes.size(), 4u + 36u + 4u + 16u);
        EXPECT_FLOAT_EQ(At<float>(bytes, 12), -22.5f);
        if (reference.empty()) reference = bytes;
        EXPECT_EQ(bytes, reference);
        mesh->Release();
        e->Release();
    }
}

TEST_F(XFileTest, TemplatesDefinedInTheFileAndStructureArrays) {
    constexpr std::string_view text = R"(xof 0302txt 0064
template Pair { <11111111-2222-3333-4444-555555555555> WORD a; DOUBLE b; }
template Grid {
 <11111111-2222-3333-4444-666666666666>
 DWORD rows;
 DWORD cols;
 array Pair cells[rows][cols];
 array CHAR tag[2];
 STRING label;
 [Pair]
}
Grid g { 2; 1; 1; 0.5;, 2; 1e300;; 65, 66; "x y"; Pair { 9; 9; } }
)";
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(Open(text, &e), S_OK);
    XFileData* grid = FirstObject(e);
    ASSERT_NE(grid, nullptr);
    auto bytes = DataOf(grid);
    ASSERT_EQ(bytes.size(), 8u + 2u * 10u + 2u + sizeof(char*));
    EXPECT_EQ(At<WORD>(bytes, 18), 2);
    EXPECT_EQ(At<double>(bytes, 20), 1e300);  // DOUBLE keeps its precision
    EXPECT_EQ(bytes[28], 'A');
    EXPECT_STREQ(At<const char*>(bytes, 30), "x y");
    EXPECT_EQ(DataOf(grid, "cells").size(), 20u);
    grid->Release();
    e->Release();
    // A restricted template takes only the listed children.
    EXPECT_EQ(Parse(std::string(text.substr(0, text.find("Pair { 9"))) + "Grid h { 0; 0; 1, 2; \"\"; } }"),
              DXFILEERR_BADOBJECT);
}

TEST_F(XFileTest, AnimationKeysAndFrameReferences) {
    constexpr std::string_view text = R"(xof 0302txt 0064
Frame Bone { }
AnimationSet Walk {
 Animation {
  { Bone }
  AnimationOptions { 1; 0; }
  AnimationKey {
   0;
   2;
   0;4;1.000000,0.000000,0.000000,0.000000;;,
   4800;4;0.000000,1.000000,0.000000,0.000000;;;
  }
  AnimationKey { 2; 1; 9840; 3; 1.0, 2.0, 3.0;;; }
 }
}
)";
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(Open(text, &e), S_OK);
    XFileData* bone = FirstObject(e);
    XFileData* set = FirstObject(e);
    ASSERT_TRUE(bone && set);
    XFileObject* animObject = nullptr;
    ASSERT_EQ(set->GetNextObject(&animObject), S_OK);
    XFileData* animation = nullptr;
    ASSERT_EQ(animObject->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&animation)), S_OK);

    std::vector<XFileObject*> children;
    for (XFileObject* c = nullptr; animation->GetNextObject(&c) == S_OK;) children.push_back(c);
    ASSERT_EQ(children.size(), 4u);
    XFileDataReference* ref = nullptr;
    ASSERT_EQ(children[0]->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&ref)), S_OK);
    XFileData* target = nullptr;
    ASSERT_EQ(ref->Resolve(&target), S_OK);
    const GUID* type = nullptr;
    target->GetType(&type);
    EXPECT_TRUE(IsEqualGUID(*type, TID_D3DRMFrame));
    EXPECT_EQ(NameOf(target), "Bone");

    XFileData* rotation = nullptr;
    XFileData* position = nullptr;
    children[2]->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&rotation));
    children[3]->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&position));
    ASSERT_TRUE(rotation && position);
    rotation->GetType(&type);
    EXPECT_TRUE(IsEqualGUID(*type, TID_D3DRMAnimationKey));
    auto r = DataOf(rotation);
    ASSERT_EQ(r.size(), 8u + 2u * 24u);  // type, count, then (time, n, w x y z) per key
    EXPECT_EQ(At<DWORD>(r, 8 + 24), 4800u);
    EXPECT_EQ(At<DWORD>(r, 8 + 24 + 4), 4u);
    EXPECT_FLOAT_EQ(At<float>(r, 8 + 24 + 12), 1.0f);
    auto p = DataOf(position);
    ASSERT_EQ(p.size(), 8u + 20u);
    EXPECT_EQ(At<DWORD>(p, 8), 9840u);
    EXPECT_FLOAT_EQ(At<float>(p, 24), 3.0f);

    for (XFileObject* o : children) o->Release();
    for (XFileObject* o : {static_cast<XFileObject*>(ref), static_cast<XFileObject*>(target),
                           static_cast<XFileObject*>(rotation), static_cast<XFileObject*>(position),
                           static_cast<XFileObject*>(animation), animObject, static_cast<XFileObject*>(bone),
                           static_cast<XFileObject*>(set)}) {
        o->Release();
    }
    e->Release();
}

TEST_F(XFileTest, ReferencesByGuidAndForward) {
    constexpr std::string_view text = R"(xof 0302txt 0064
Frame User { { <01234567-89AB-CDEF-0123-456789ABCDEF> } { Later } }
Frame <01234567-89ab-cdef-0123-456789abcdef> { }
Frame Later { <FEDCBA98-7654-3210-FEDC-BA9876543210> }
)";
    XFileEnumObject* e = nullptr;
    ASSERT_EQ(Open(text, &e), S_OK);
    XFileData* user = FirstObject(e);
    ASSERT_NE(user, nullptr);
    for (int i = 0; i < 2; ++i) {
        XFileObject* child = nullptr;
        ASSERT_EQ(user->GetNextObject(&child), S_OK);
        XFileDataReference* ref = nullptr;
        ASSERT_EQ(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&ref)), S_OK);
        XFileData* target = nullptr;
        ASSERT_EQ(ref->Resolve(&target), S_OK);
        GUID id{};
        target->GetId(&id);
        EXPECT_EQ(id.Data1, i == 0 ? 0x01234567u : 0xFEDCBA98u);
        EXPECT_EQ(id.Data4[7], i == 0 ? 0xEF : 0x10);
        EXPECT_EQ(NameOf(target), i == 0 ? "" : "Later");
        target->Release();
        ref->Release();
        child->Release();
    }
    user->Release();
    e->Release();
    // A GUID reference needs an object with that GUID.
    EXPECT_EQ(Parse("xof 0302txt 0064\nFrame A { { <00000000-0000-0000-0000-000000000000> } }"),
              DXFILEERR_BADDATAREFERENCE);
}

TEST_F(XFileTest, OpensResourcesOfTheProgram) {
    static const ResourceEntry table[] = {
        {"MODEL", "CUBE.X", reinterpret_cast<const unsigned char*>(kModel.data()), kModel.size()},
        {"MODEL", "BROKEN.X", reinterpret_cast<const unsigned char*>("xof 0302bin 0064"), 16},
    };
    SetResourceTableForTesting(table);
    DXFILELOADRESOURCE source{nullptr, "cube.x", "Model"};
    XFileEnumObject* e = nullptr;
    EXPECT_EQ(m_pFile->CreateEnumObject(&source, DXFILELOAD_FROMRESOURCE, &e), S_OK);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(DescribeAll(e).substr(0, 9), "Header:(8");
    e->Release();
    source.lpName = "missing.x";
    EXPECT_EQ(m_pFile->CreateEnumObject(&source, DXFILELOAD_FROMRESOURCE, &e), DXFILEERR_RESOURCENOTFOUND);
    EXPECT_EQ(e, nullptr);
    source.lpName = "broken.x";
    EXPECT_EQ(m_pFile->CreateEnumObject(&source, DXFILELOAD_FROMRESOURCE, &e), DXFILEERR_BADFILETYPE);
    source.lpName = "cube.x";
    EXPECT_EQ(m_pFile->CreateEnumObject(&source, DXFILELOAD_FROMFILE, &e), DXFILEERR_BADVALUE);
    SetResourceTableForTesting({});
}

TEST_F(XFileTest, TemplatesAreNeededAndRegisteredAllOrNothing) {
    XFile* bare = nullptr;
    ASSERT_EQ(DirectXFileCreate(&bare), S_OK);
    DXFILELOADMEMORY memory{kModel.data(), static_cast<DWORD>(kModel.size())};
    XFileEnumObject* e = nullptr;
    EXPECT_EQ(bare->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e), DXFILEERR_NOTEMPLATE);

    const std::string faulty = "xof 0302txt 0064\ntemplate Header { <3D82AB43-62DA-11cf-AB39-0020AF71E433> WORD major; "
                               "WORD minor; DWORD flags; }\ntemplate Broken { <1-2> }\n";
    EXPECT_EQ(bare->RegisterTemplates(faulty.data(), static_cast<DWORD>(faulty.size())), DXFILEERR_PARSEERROR);
    const std::string headerOnly = "xof 0302txt 0064\nHeader { 1; 0; 1; }\n";
    memory = {headerOnly.data(), static_cast<DWORD>(headerOnly.size())};
    EXPECT_EQ(bare->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e), DXFILEERR_NOTEMPLATE);
    // Data objects do not belong in a template block.
    EXPECT_EQ(m_pFile->RegisterTemplates(headerOnly.data(), static_cast<DWORD>(headerOnly.size())),
              DXFILEERR_PARSEERROR);
    bare->Release();
}

// ---------------------------------------------------------------------------
// Faulty and hostile input

TEST_F(XFileTest, FaultsGiveTheirCodes) {
    const std::string h = "xof 0302txt 0064\n";
    struct Case {
        const char* what;
        std::string text;
        HRESULT expected;
    };
    const Case cases[] = {
        {"empty", "", DXFILEERR_BADFILETYPE},
        {"short header", "xof 0302tx", DXFILEERR_BADFILETYPE},
        {"not an X file", "abc 0302txt 0064\n", DXFILEERR_BADFILETYPE},
        {"binary", "xof 0302bin 0064", DXFILEERR_BADFILETYPE},
        {"compressed", "xof 0303tzip0032", DXFILEERR_BADFILECOMPRESSIONTYPE},
        {"version", "xof 0102txt 0064", DXFILEERR_BADFILEVERSION},
        {"float size", "xof 0302txt 0016", DXFILEERR_BADFILEFLOATSIZE},
        {"unknown template", h + "Gizmo { 1; }", DXFILEERR_NOTEMPLATE},
        {"fewer values than counted", h + "Mesh { 3; 0;0;0;, 1;1;1;; 0;; }", DXFILEERR_PARSEERROR},
        {"more values than the template", h + "Header { 1; 0; 1; 7; }", DXFILEERR_PARSEERROR},
        {"float for an integer", h + "Header { 1.5; 0; 1; }", DXFILEERR_PARSEERROR},
        {"WORD out of range", h + "Header { 70000; 0; 1; }", DXFILEERR_PARSEERROR},
        {"garbage in a number", h + "Header { 1x; 0; 1; }", DXFILEERR_PARSEERROR},
        {"float out of range", h + "Vector { 1e39; 0; 0; }", DXFILEERR_PARSEERROR},
        {"unterminated string", h + "TextureFilename { \"abc; }", DXFILEERR_PARSEERROR},
        {"bad GUID", h + "template T { <3D82AB43-62DA-11cf-AB39-0020AF71E4> DWORD a; }", DXFILEERR_PARSEERROR},
        {"GUID with a bad digit", h + "template T { <3D82AB43-62DA-11cf-AB39-0020AF71E4G3> }", DXFILEERR_PARSEERROR},
        {"size member unknown", h + "template T { <11111111-2222-3333-4444-555555555555> array DWORD a[n]; }",
         DXFILEERR_PARSEERROR},
        {"known GUID, other layout",
         h + "template TextureFilename { <A42790E1-7810-11cf-8F52-0040333594A3> DWORD a; DWORD b; }",
         DXFILEERR_BADTYPE},
        {"child of a closed template", h + "Header { 1; 0; 1; Header { 1; 0; 1; } }", DXFILEERR_BADOBJECT},
        {"unknown reference", h + "Frame A { { Nowhere } }", DXFILEERR_BADDATAREFERENCE},
        {"reference to an ancestor", h + "Frame A { Frame B { { A } } }", DXFILEERR_BADDATAREFERENCE},
        {"references in a circle", h + "Frame A { { B } } Frame B { { A } }", DXFILEERR_BADDATAREFERENCE},
        {"reference at the top", h + "{ A }", DXFILEERR_PARSEERROR},
        {"huge count, tiny data", h + "Mesh { 4000000000; 1;2;3;; 0;; }", DXFILEERR_BADARRAYSIZE},
        {"negative count", h + "Mesh { -1; 1;2;3;; 0;; }", DXFILEERR_BADARRAYSIZE},
        {"huge fixed dimensions",
         h + "template T { <11111111-2222-3333-4444-555555555555> array DWORD a[4294967295][4294967295]; }\nT { 1; }",
         DXFILEERR_BADARRAYSIZE},
        {"unclosed object", h + "Frame A { Frame B { }", DXFILEERR_PARSEERROR},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.text), c.expected) << c.what;
    }
}

TEST_F(XFileTest, NestingIsLimited) {
    auto nested = [](int depth) {
        std::string text = "xof 0302txt 0064\n";
        for (int i = 0; i < depth; ++i) text += "Frame {";
        text += std::string(static_cast<std::size_t>(depth), '}');
        return text;
    };
    EXPECT_EQ(Parse(nested(kXFileMaxNesting)), S_OK);
    EXPECT_EQ(Parse(nested(kXFileMaxNesting + 1)), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Parse(nested(200000)), DXFILEERR_PARSEERROR);

    // Templates built on each other, deeper than the limit.
    std::string chain = "xof 0302txt 0064\ntemplate T0 { <10000000-0000-0000-0000-000000000000> DWORD a; }\n";
    for (int i = 1; i <= kXFileMaxTemplateNesting; ++i) {
        char guid[64];
        std::snprintf(guid, sizeof(guid), "<%08X-0000-0000-0000-000000000000>", 0x10000000 + i);
        chain += "template T" + std::to_string(i) + " { " + guid + " T" + std::to_string(i - 1) + " inner; }\n";
    }
    EXPECT_EQ(Parse(chain), DXFILEERR_PARSEERROR);
}

TEST_F(XFileTest, EveryTruncationFailsUnlessItEndsBetweenObjects) {
    // Where the top-level objects of the model end.
    std::vector<std::size_t> ends;
    int depth = 0;
    for (std::size_t i = 16; i < kModel.size(); ++i) {
        if (kModel[i] == '{') ++depth;
        if (kModel[i] == '}' && --depth == 0) ends.push_back(i + 1);
    }
    ASSERT_EQ(ends.size(), 3u);
    auto blank = [](std::string_view s) {
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s.substr(i, 2) == "//") {
                i = s.find('\n', i);
                if (i == std::string_view::npos) return true;
            } else if (s[i] != ' ' && s[i] != '\n' && s[i] != '\r' && s[i] != '\t') {
                return false;
            }
        }
        return true;
    };
    for (std::size_t length = 0; length <= kModel.size(); ++length) {
        const std::string_view prefix = kModel.substr(0, length);
        const std::size_t complete = static_cast<std::size_t>(
            std::upper_bound(ends.begin(), ends.end(), length) - ends.begin());
        const std::size_t lastEnd = complete ? ends[complete - 1] : 16;
        const bool whole = length >= 16 && blank(prefix.substr(std::min(lastEnd, length)));
        XFileEnumObject* e = nullptr;
        const HRESULT hr = Open(prefix, &e);
        EXPECT_EQ(SUCCEEDED(hr), whole) << "cut at " << length << ": " << std::hex << hr;
        if (FAILED(hr)) {
            EXPECT_EQ(e, nullptr);
            continue;
        }
        std::size_t objects = 0;
        for (XFileData* d = nullptr; e->GetNextDataObject(&d) == S_OK; ++objects) d->Release();
        EXPECT_EQ(objects, complete) << "cut at " << length;
        e->Release();
    }
}

}  // namespace
