// Rigid models read from MODEL resources: the two-pass load over the frame
// tree, the supplied models, the display mesh's buffers, material sets and
// log lines, and what it queues for the depth-sorted renderer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/ErrLog.h"
#include "gfx/Device.h"
#include "model/MeshModel.h"
#include "model/TextureCache.h"
#include "platform/Resources.h"
#include "platform/Window.h"
#include "render/ZSortRender.h"
#include "tests/support/TestDevice.h"
#include "tests/support/TestResources.h"
#include "tests/support/TestScene.h"

namespace {

// A unit quad; the name and the material list are filled in.
std::string Quad(std::string_view name, std::string_view extra = {}, float z = 0.0f) {
    const std::string zs = std::to_string(z);
    return "Mesh " + std::string(name) + " {\n 4;\n 0.0;0.0;" + zs + ";,\n 1.0;0.0;" + zs + ";,\n 0.0;1.0;" + zs +
           ";,\n 1.0;1.0;" + zs + ";;\n 2;\n 3;0,2,1;,\n 3;1,2,3;;\n" + std::string(extra) + "}\n";
}

std::string MaterialList(std::string_view material) {
    return " MeshMaterialList {\n  1;\n  2;\n  0,\n  0;;\n" + std::string(material) + " }\n";
}

constexpr std::string_view kRed =
    "  Material {\n   1.000000;0.300000;0.330000;1.000000;;\n   5.0;\n   0.5;0.5;0.5;;\n   0.0;0.0;0.0;;\n  }\n";
constexpr std::string_view kEarthTextured =
    "  Material {\n   1.0;1.0;1.0;1.0;;\n   5.0;\n   0.0;0.0;0.0;;\n   0.0;0.0;0.0;;\n"
    "   TextureFilename { \"earth.jpg\"; }\n  }\n";

std::string XFileText(std::string_view body) { return "xof 0302txt 0064\n" + std::string(body); }

class MeshModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        const HRESULT hr = m_device.Create(D3DCREATE_HARDWARE_VERTEXPROCESSING);
        if (testing_support::TestDevice::NothingToDrawOn(hr)) return testing_support::MissingDisplay("no display");
        ASSERT_EQ(hr, D3D_OK);
        m_pDevice = m_device.Device();
        g_ErrLog.ClearForTesting();
    }

    void TearDown() override {
        SetResourceTableForTesting({});
        EXPECT_EQ(g_TextureCache.Count(), 0) << "a model kept a texture";
        m_device.Release();
    }

    // The compiled resources (images included) plus test models of type MODEL.
    void UseModels(std::vector<std::pair<std::string, std::string>> models) {
        m_resources.Use("MODEL", std::move(models));
    }

    HRESULT LoadText(MeshModel& model, std::string_view body) {
        UseModels({{"TEST.X", XFileText(body)}});
        g_ErrLog.ClearForTesting();
        return model.LoadXFile(m_pDevice, "TEST.X");
    }

    testing_support::TestDevice m_device;
    Direct3DDevice8* m_pDevice = nullptr;
    testing_support::ExtraResources m_resources;
};

// A camera at the origin looking along +z.
ViewFrustum Frustum() { return testing_support::OriginFrustum(); }

D3DXMATRIX Identity() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

struct Vertex44 {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR diffuse;
    float u0, v0, u1, v1;
};

std::vector<Vertex44> Vertices(const DisplayMesh& mesh) {
    std::vector<Vertex44> out(mesh.VertexCount());
    BYTE* data = nullptr;
    EXPECT_EQ(mesh.VertexBuffer()->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    if (data) std::memcpy(out.data(), data, out.size() * sizeof(Vertex44));
    mesh.VertexBuffer()->Unlock();
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// The supplied models

TEST_F(MeshModelTest, SuppliedModelsLoadWithOneMeshOfEachKind) {
    for (const char* name : {"BIRDDAMMY02.X", "MOON.X", "EARTH.X"}) {
        MeshModel model;
        g_ErrLog.ClearForTesting();
        ASSERT_EQ(model.LoadXFile(m_pDevice, name), S_OK) << name << "\n" << g_ErrLog.Text();
        EXPECT_STREQ(model.Name(), name);
        EXPECT_EQ(model.DisplayCount(), 1u) << name;
        EXPECT_EQ(model.DammyCount(), 1u) << name;
        EXPECT_GT(model.Display(0)->VertexCount(), 0u) << name;
        ASSERT_NE(model.Dammy(0)->Mesh(), nullptr) << name;
        // The proxy keeps position, normal and one texture set only.
        EXPECT_EQ(model.Dammy(0)->Mesh()->GetFVF(), 0x112u) << name;
        EXPECT_EQ(model.Release(), S_OK);
    }
}

TEST_F(MeshModelTest, EarthIgnoresItsFrameTranslations) {
    MeshModel model;
    ASSERT_EQ(model.LoadXFile(m_pDevice, "EARTH.X"), S_OK) << g_ErrLog.Text();
    const auto c = model.Display(0)->BoundsIn(Identity()).corners;
    EXPECT_NEAR((c[0].x + c[7].x) / 2, 0.0f, 1e-3f);
    EXPECT_NEAR((c[0].y + c[7].y) / 2, 0.0f, 1e-3f);
    EXPECT_NEAR((c[0].z + c[7].z) / 2, 0.0f, 1e-3f);
    EXPECT_GT(c[7].x - c[0].x, 0.0f);
}

// ---------------------------------------------------------------------------
// The walk over the file

TEST_F(MeshModelTest, FramesWithoutMeshesLoadEmpty) {
    MeshModel model;
    ASSERT_EQ(LoadText(model, "Frame A {\n Frame B {\n  FrameTransformMatrix {\n"
                              "   1,0,0,0,0,1,0,0,0,0,1,0,5,5,5,1;;\n  }\n }\n}\n"),
              S_OK)
        << g_ErrLog.Text();
    EXPECT_EQ(model.DisplayCount(), 0u);
    EXPECT_EQ(model.DammyCount(), 0u);
    ModelObject object;
    object.SetModel(&model);
    ZSortRender renderer;
    EXPECT_EQ(object.Render(m_pDevice, Identity(), Frustum(), renderer), S_OK);
    EXPECT_EQ(renderer.Count(), 0u);
    EXPECT_EQ(object.IsVisible(Frustum()), 0);
}

TEST_F(MeshModelTest, UnequalMeshCountsAreRejected) {
    MeshModel model;
    EXPECT_EQ(LoadText(model, "Frame A {\n" + Quad("birddisplay") + "}\n"), E_FAIL);
    EXPECT_STREQ(g_ErrLog.Text(),
                 "\t\t\tpDXFile->CreateEnumObject1...\n\t\t\tm_dwMeshDisplayNum != m_dwMeshDammyNum\n");
}

TEST_F(MeshModelTest, MeshNamesDecideTheKind) {
    {
        // Both words: a visible mesh.
        MeshModel model;
        EXPECT_EQ(LoadText(model, Quad("displaydammy") + Quad("birddammy")), S_OK) << g_ErrLog.Text();
        EXPECT_EQ(model.DisplayCount(), 1u);
        EXPECT_EQ(model.DammyCount(), 1u);
        EXPECT_STREQ(model.Display(0)->Name(), "displaydammy");
        EXPECT_STREQ(model.Dammy(0)->Name(), "birddammy");
    }
    {
        // The match is case-sensitive.
        MeshModel model;
        EXPECT_EQ(LoadText(model, Quad("birdDisplay") + Quad("birddammy")), E_FAIL);
        EXPECT_STREQ(g_ErrLog.Text(), "\t\t\tpDXFile->CreateEnumObject1...\n\t\t\tInvalidate Name\n");
        EXPECT_EQ(model.DisplayCount(), 0u);
    }
}

TEST_F(MeshModelTest, MissingResourceGivesTheReadersError) {
    MeshModel model;
    const HRESULT hr = model.LoadXFile(m_pDevice, "NOSUCHMODEL.X");
    EXPECT_LT(hr, 0);
    EXPECT_STREQ(g_ErrLog.Text(), "\t\t\tpDXFile->CreateEnumObject1...\n\t\t\tFailed\n");

    // An unparsable file fails the same way.
    g_ErrLog.ClearForTesting();
    EXPECT_LT(LoadText(model, "Frame A { Mesh m {"), 0);
    EXPECT_STREQ(g_ErrLog.Text(), "\t\t\tpDXFile->CreateEnumObject1...\n\t\t\tFailed\n");
}

TEST_F(MeshModelTest, NestedMeshesKeepDepthFirstOrder) {
    const std::string body = "Frame Root {\n"
                              " Frame Wing {\n"
                              "  Frame Tip {\n" +
                              Quad("tipdisplay") + Quad("tipdammy") +
                              "  }\n" + Quad("wingdisplay") +
                              " }\n" + Quad("rootdammy") + Quad("rootdisplay") + "}\n" + Quad("lastdammy");
    MeshModel model;
    ASSERT_EQ(LoadText(model, body), S_OK) << g_ErrLog.Text();
    ASSERT_EQ(model.DisplayCount(), 3u);
    ASSERT_EQ(model.DammyCount(), 3u);
    EXPECT_STREQ(model.Display(0)->Name(), "tipdisplay");
    EXPECT_STREQ(model.Display(1)->Name(), "wingdisplay");
    EXPECT_STREQ(model.Display(2)->Name(), "rootdisplay");
    EXPECT_STREQ(model.Dammy(0)->Name(), "tipdammy");
    EXPECT_STREQ(model.Dammy(1)->Name(), "rootdammy");
    EXPECT_STREQ(model.Dammy(2)->Name(), "lastdammy");
}

TEST_F(MeshModelTest, FrameTransformDoesNotMoveTheMesh) {
    const std::string body = "Frame A {\n FrameTransformMatrix {\n  1,0,0,0,0,1,0,0,0,0,1,0,100,200,300,1;;\n }\n" +
                             Quad("bodydisplay") + Quad("bodydammy") + "}\n";
    MeshModel model;
    ASSERT_EQ(LoadText(model, body), S_OK) << g_ErrLog.Text();
    const auto c = model.Display(0)->BoundsIn(Identity()).corners;
    EXPECT_NEAR(c[0].x, 0.0f, 1e-5f);
    EXPECT_NEAR(c[7].x, 1.0f, 1e-5f);
    EXPECT_NEAR(c[7].y, 1.0f, 1e-5f);
}

TEST_F(MeshModelTest, ReferenceInsideAFrameFailsTheWalk) {
    const std::string body = Quad("sharedisplay") + Quad("sharedammy") + "Frame A {\n { sharedisplay }\n}\n";
    MeshModel model;
    EXPECT_EQ(LoadText(model, body), E_FAIL);
    EXPECT_STREQ(g_ErrLog.Text(), "\t\t\tpDXFile->CreateEnumObject1...\n");
}

TEST_F(MeshModelTest, HostileFilesFailCleanly) {
    {
        // Frames nested far deeper than any model needs.
        std::string deep;
        for (int i = 0; i < 200; ++i) deep += "Frame f" + std::to_string(i) + " {\n";
        deep += Quad("deepdisplay") + Quad("deepdammy");
        for (int i = 0; i < 200; ++i) deep += "}\n";
        MeshModel model;
        EXPECT_LT(LoadText(model, deep), 0);
    }
    {
        // A visible mesh without vertices: its load fails, and so the model's.
        MeshModel model;
        EXPECT_EQ(LoadText(model, "Mesh emptydisplay {\n 0;;\n 0;;\n}\n" + Quad("emptydammy")), E_FAIL);
        const std::string log = g_ErrLog.Text();
        const std::string tail = "\t\t\tD3DXLoadMeshFromXof...\n\t\t\tFailed\n";
        ASSERT_GE(log.size(), tail.size());
        EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
        EXPECT_EQ(model.Release(), S_OK);
    }
}

TEST_F(MeshModelTest, ReleaseTwiceAndReleaseUnloadedAreHarmless) {
    MeshModel empty;
    EXPECT_EQ(empty.Release(), S_OK);
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("adisplay", MaterialList(kEarthTextured)) + Quad("adammy")), S_OK);
    EXPECT_EQ(model.Release(), S_OK);
    EXPECT_EQ(model.Release(), S_OK);
    DammyMesh dammy;
    EXPECT_EQ(dammy.Release(), S_OK);
    EXPECT_EQ(dammy.Release(), S_OK);
}

// ---------------------------------------------------------------------------
// The display mesh after load

TEST_F(MeshModelTest, VerticesAreWhiteWithTheTextureSetCopied) {
    // A triangle whose file carries vertex colours and texture coordinates.
    auto coloured = [](std::string_view name) {
        return "Mesh " + std::string(name) +
               " {\n 3;\n 0.0;0.0;0.0;,\n 1.0;0.0;0.0;,\n 0.0;1.0;0.0;;\n 1;\n 3;0,2,1;;\n"
               " MeshTextureCoords {\n  3;\n  0.25;0.5;,\n  0.75;0.125;,\n  0.5;1.0;;\n }\n"
               " MeshVertexColors {\n  3;\n  0;1.0;0.0;0.0;1.0;,\n  1;0.0;1.0;0.0;1.0;,\n"
               "  2;0.0;0.0;1.0;0.5;;\n }\n}\n";
    };
    const std::string body = coloured("quaddisplay") + coloured("quaddammy");
    MeshModel model;
    ASSERT_EQ(LoadText(model, body), S_OK) << g_ErrLog.Text();
    const auto vertices = Vertices(*model.Display(0));
    ASSERT_EQ(vertices.size(), 3u);
    bool sawTexture = false;
    for (const Vertex44& v : vertices) {
        EXPECT_EQ(v.diffuse, 0xFFFFFFFFu);
        EXPECT_EQ(v.u0, v.u1);
        EXPECT_EQ(v.v0, v.v1);
        sawTexture = sawTexture || v.u0 == 0.75f;
    }
    EXPECT_TRUE(sawTexture) << "the file's texture coordinates were lost";
    // The proxy drops the colours: position, normal, one texture set.
    ASSERT_NE(model.Dammy(0)->Mesh(), nullptr);
    EXPECT_EQ(model.Dammy(0)->Mesh()->GetFVF(), 0x112u);
}

TEST_F(MeshModelTest, MaterialSetsDifferOnlyInOpacity) {
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("reddisplay", MaterialList(kRed)) + Quad("reddammy")), S_OK) << g_ErrLog.Text();
    const DisplayMesh& mesh = *model.Display(0);
    ASSERT_EQ(mesh.AttribCount(), 1u);
    for (int k = 0; k < DisplayMesh::kLevels; ++k) {
        const D3DMATERIAL8& m = mesh.MaterialSet(k)[0];
        EXPECT_FLOAT_EQ(m.Diffuse.r, 1.0f);
        EXPECT_FLOAT_EQ(m.Diffuse.g, 0.3f);
        EXPECT_FLOAT_EQ(m.Diffuse.b, 0.33f);
        EXPECT_NEAR(m.Diffuse.a, (k + 1) * 0.1f, 1e-6f) << k;
        EXPECT_EQ(m.Ambient.r, m.Diffuse.r);
        EXPECT_EQ(m.Ambient.g, m.Diffuse.g);
        EXPECT_EQ(m.Ambient.b, m.Diffuse.b);
        EXPECT_EQ(m.Ambient.a, m.Diffuse.a);
        EXPECT_FLOAT_EQ(m.Power, 5.0f);
    }
    const D3DMATERIAL8& half = mesh.MaterialSet(4)[0];
    EXPECT_NEAR(half.Ambient.a, 0.5f, 1e-6f);
    EXPECT_EQ(mesh.Textures()[0], nullptr);
}

TEST_F(MeshModelTest, UnusedMaterialsStillPairEachRangeWithItsOwn) {
    // Two materials, both naming the earth texture; the faces use only the
    // second (the red one).
    const std::string list = " MeshMaterialList {\n  2;\n  2;\n  1,\n  1;;\n" + std::string(kEarthTextured) +
                             "  Material {\n   1.0;0.3;0.33;1.0;;\n   5.0;\n   0;0;0;;\n   0;0;0;;\n"
                             "   TextureFilename { \"earth.jpg\"; }\n  }\n }\n";
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("pairdisplay", list) + Quad("pairdammy")), S_OK) << g_ErrLog.Text();
    const DisplayMesh& mesh = *model.Display(0);
    ASSERT_EQ(mesh.AttribCount(), 1u);
    EXPECT_FLOAT_EQ(mesh.MaterialSet(9)[0].Diffuse.g, 0.3f);
    ASSERT_NE(mesh.Textures()[0], nullptr);
    // Both materials hold the texture; releasing the model gives both back
    // (the fixture checks that the cache ends empty).
    EXPECT_EQ(g_TextureCache.RefCountOf(mesh.Textures()[0]), 2);
    model.Release();
    EXPECT_EQ(g_TextureCache.Count(), 0);
}

TEST_F(MeshModelTest, LoadWritesItsStepsInOrder) {
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("earthdisplay", MaterialList(kEarthTextured)) + Quad("earthdammy")), S_OK);
    EXPECT_STREQ(g_ErrLog.Text(),
                 "\t\t\tpDXFile->CreateEnumObject1...\n"
                 "\t\t\tpDXFile->CreateEnumObject2...\n"
                 "\t\t\tD3DXLoadMeshFromXof...\n"
                 "\t\t\tD3DXCreateTextureFromResource...earth.jpg\n"
                 "\t\t\tpTempMesh1->Optimize...\n"
                 "\t\t\tpTempMesh1->CloneMeshFVF...\n"
                 "\t\t\tCreateVertex,IndexBuffer...\n"
                 "\t\t\tD3DXComputeBoundingBox...\n"
                 "\t\t\tD3DXComputeBoundingSphere...\n"
                 "\t\t\tD3DXLoadMeshFromXof...\n"
                 "\t\t\tCloneMeshFVF...\n");
    EXPECT_NE(model.Display(0)->Textures()[0], nullptr);
}

TEST_F(MeshModelTest, MeshesNamingOneTextureShareIt) {
    MeshModel first, second;
    ASSERT_EQ(LoadText(first, Quad("adisplay", MaterialList(kEarthTextured)) + Quad("adammy")), S_OK);
    ASSERT_EQ(second.LoadXFile(m_pDevice, "TEST.X"), S_OK);
    Direct3DTexture8* texture = first.Display(0)->Textures()[0];
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(second.Display(0)->Textures()[0], texture);
    EXPECT_EQ(g_TextureCache.RefCountOf(texture), 2);
    first.Release();
    EXPECT_EQ(g_TextureCache.RefCountOf(texture), 1);
    second.Release();
    EXPECT_EQ(g_TextureCache.Count(), 0);
}

TEST_F(MeshModelTest, MissingTextureLeavesTheMaterialUntextured) {
    const std::string material =
        "  Material {\n   1;1;1;1;;\n   0;\n   0;0;0;;\n   0;0;0;;\n   TextureFilename { \"nothere.jpg\"; }\n  }\n";
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("adisplay", MaterialList(material)) + Quad("adammy")), S_OK) << g_ErrLog.Text();
    EXPECT_EQ(model.Display(0)->Textures()[0], nullptr);
    EXPECT_NE(std::string(g_ErrLog.Text()).find("\t\t\tD3DXCreateTextureFromResource...nothere.jpg\n\t\t\tFailed\n"),
              std::string::npos);
}

TEST_F(MeshModelTest, MeshWithoutMaterialsIsDrawnWhite) {
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("plaindisplay") + Quad("plaindammy")), S_OK) << g_ErrLog.Text();
    const DisplayMesh& mesh = *model.Display(0);
    for (int k = 0; k < DisplayMesh::kLevels; ++k) {
        ASSERT_NE(mesh.MaterialSet(k), nullptr);
        const D3DMATERIAL8& m = mesh.MaterialSet(k)[0];
        EXPECT_EQ(m.Diffuse.r, 1.0f);
        EXPECT_EQ(m.Diffuse.g, 1.0f);
        EXPECT_EQ(m.Diffuse.b, 1.0f);
        EXPECT_NEAR(m.Diffuse.a, (k + 1) * 0.1f, 1e-6f);
        EXPECT_EQ(m.Ambient.a, m.Diffuse.a);
    }
    ModelObject object;
    object.SetModel(&model);
    object.SetPosition(0, 0, 10);
    ZSortRender renderer;
    EXPECT_EQ(object.Render(m_pDevice, Identity(), Frustum(), renderer), S_OK);
    ASSERT_EQ(renderer.Count(), 1u);
    EXPECT_NE(renderer.Entry(0).pMaterials, nullptr);
    EXPECT_NE(renderer.Entry(0).ppTextures, nullptr);
    EXPECT_EQ(renderer.Entry(0).ppTextures[0], nullptr);
}

// ---------------------------------------------------------------------------
// Submission to the renderer

TEST_F(MeshModelTest, RenderQueuesOneEntryOnlyWhenInView) {
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("reddisplay", MaterialList(kRed)) + Quad("reddammy")), S_OK);
    ModelObject object;
    object.SetModel(&model);
    ZSortRender renderer;

    object.SetPosition(-0.5f, -0.5f, 10.0f);
    EXPECT_EQ(object.IsVisible(Frustum()), 1);
    EXPECT_EQ(object.Render(m_pDevice, Identity(), Frustum(), renderer), S_OK);
    ASSERT_EQ(renderer.Count(), 1u);
    const ZSortRenderEntry& e = renderer.Entry(0);
    const DisplayMesh& mesh = *model.Display(0);
    EXPECT_EQ(e.pVB, mesh.VertexBuffer());
    EXPECT_EQ(e.dwAttribNum, 1u);
    EXPECT_EQ(e.pMaterials, mesh.MaterialSet(9)) << "near meshes are drawn opaque";
    EXPECT_FLOAT_EQ(e.matWorld.m[3][2], 10.0f);

    // Far away (but inside the far plane): the faintest set.
    renderer.Clear();
    object.SetPosition(0.0f, 0.0f, 8000.0f);
    EXPECT_EQ(object.Render(m_pDevice, Identity(), Frustum(), renderer), S_OK);
    ASSERT_EQ(renderer.Count(), 1u);
    EXPECT_EQ(renderer.Entry(0).pMaterials, mesh.MaterialSet(0));

    // Behind the eye: nothing queued, still success.
    renderer.Clear();
    object.SetPosition(-0.5f, -0.5f, -10.0f);
    EXPECT_EQ(object.IsVisible(Frustum()), 0);
    EXPECT_EQ(object.Render(m_pDevice, Identity(), Frustum(), renderer), S_OK);
    EXPECT_EQ(renderer.Count(), 0u);
}

TEST_F(MeshModelTest, EachVisibleMeshQueuesItsOwnEntry) {
    MeshModel model;
    ASSERT_EQ(LoadText(model, Quad("neardisplay", {}, 0.0f) + Quad("fardisplay", {}, -50.0f) + Quad("adammy") +
                                  Quad("bdammy")),
              S_OK);
    ModelObject object;
    object.SetModel(&model);
    object.SetPosition(0, 0, 20.0f);
    ZSortRender renderer;
    EXPECT_EQ(object.Render(m_pDevice, Identity(), Frustum(), renderer), S_OK);
    ASSERT_EQ(renderer.Count(), 1u) << "the second mesh lies behind the eye";
    EXPECT_EQ(renderer.Entry(0).pVB, model.Display(0)->VertexBuffer());
    EXPECT_EQ(object.IsVisible(Frustum()), 1);
}
