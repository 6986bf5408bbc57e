// The depth-sorted renderer with the toon program: queue, sort and the
// pictures it draws.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "app/Camera.h"
#include "app/Frame.h"
#include "app/Startup.h"
#include "render/ZSortRender.h"
#include "tests/support/TestScene.h"

using namespace testing_support;

namespace {

class ZSortRenderScene : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_scene.Start()) GTEST_SKIP() << m_scene.Error();
        D3DXMatrixIdentity(&m_identity);
        m_material = D3DMATERIAL8{};
        m_material.Diffuse = {1, 1, 1, 1};
    }
    void TearDown() override {
        m_sphere.Release();
        m_box.Release();
        g_ZSortRender.Clear();
        m_scene.Stop();
    }

    // Camera at `eye` looking at the origin, light from the camera's side.
    void Look(D3DXVECTOR3 eye, D3DXVECTOR3 target = D3DXVECTOR3(0, 0, 0)) {
        g_Camera.Reset();
        g_Fog.Apply(g_pd3dDevice, g_Camera, g_fAspect, TRUE);
        g_Camera.SetPosition(eye.x, eye.y, eye.z);
        g_Camera.LookAt(g_pd3dDevice, target, D3DXVECTOR3(0, 1, 0));
    }

    void Queue(const ToonMesh& mesh, const D3DXMATRIX& world, D3DXVECTOR3 centre) {
        m_ranges[m_nRanges] = D3DXATTRIBUTERANGE{0, 0, mesh.faces, 0, mesh.vertices};
        g_ZSortRender.Add(mesh.vb, mesh.ib, &m_ranges[m_nRanges], world, centre, &m_material, &m_noTexture, 1);
        ++m_nRanges;
    }

    // The frame's whole render: what is queued goes into its first pass.
    std::vector<std::uint32_t> Draw() {
        Render();
        return Frame();
    }

    // The queue drawn as the frame's second pass draws it: ramp and mesh
    // texture modulated with the vertex colour, alpha blending on.
    std::vector<std::uint32_t> DrawBlended() {
        Direct3DDevice8* d = g_pd3dDevice;
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, g_dwClearColor, 1.0f, 0);
        d->BeginScene();
        g_Camera.UpdateFrustum();
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        const D3DXVECTOR3 sort = g_Camera.GetSortVector();
        g_ZSortRender.Sort(sort.x, sort.y, sort.z);
        g_ZSortRender.Render(d, g_Camera.GetView(), g_Camera.GetProjection(), g_vLightDir, g_Fog.GetEnd());
        g_ZSortRender.Clear();
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->EndScene();
        return Frame();
    }

    std::vector<std::uint32_t> Frame() {
        std::vector<std::uint32_t> pixels = m_scene.Pixels();
        if (const char* dir = std::getenv("GLIMMERWING_FRAME_DUMP")) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            SaverScene::WritePpm(std::filesystem::path(dir) / (std::string(info->name()) + ".ppm"), pixels, 640, 480);
        }
        return pixels;
    }

    SaverScene m_scene;
    ToonMesh m_sphere, m_box;
    D3DXMATRIX m_identity;
    D3DMATERIAL8 m_material;
    Direct3DTexture8* m_noTexture = nullptr;
    D3DXATTRIBUTERANGE m_ranges[8]{};
    int m_nRanges = 0;
};

std::uint32_t At(const std::vector<std::uint32_t>& p, int x, int y) { return p[static_cast<std::size_t>(y * 640 + x)]; }

}  // namespace

TEST_F(ZSortRenderScene, SphereShowsTheRampBands) {
    ASSERT_TRUE(MakeSphere(g_pd3dDevice, 3.0f, 48, 24, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, -10));
    g_vLightDir = D3DXVECTOR4(1.0f, 0.0f, 0.0f, 0.0f);  // light from +X: bands run across the picture
    Queue(m_sphere, m_identity, D3DXVECTOR3(0, 0, 0));
    const auto pixels = DrawBlended();

    // Along the horizontal through the centre the greys step through the
    // ramp's bands, brightest toward the light.
    std::set<int> greys;
    for (int x = 0; x < 640; ++x) {
        const std::uint32_t p = At(pixels, x, 240);
        EXPECT_EQ(Red(p), Green(p));
        EXPECT_EQ(Green(p), Blue(p));
        greys.insert(Red(p));
    }
    for (int band : {253, 229, 202, 131, 35}) EXPECT_TRUE(greys.count(band)) << "band " << band;
    EXPECT_GT(Red(At(pixels, 400, 240)), Red(At(pixels, 240, 240)));
    EXPECT_EQ(At(pixels, 5, 5) & 0xFFFFFF, 0u);  // background outside the sphere
}

TEST_F(ZSortRenderScene, FirstPassDrawsTheVertexColourFogged) {
    ASSERT_TRUE(MakeSphere(g_pd3dDevice, 3.0f, 48, 24, 0xFFFFFFFF, m_sphere));
    Look(D3DXVECTOR3(0, 0, -10));
    g_vLightDir = D3DXVECTOR4(1.0f, 0.0f, 0.0f, 0.0f);
    Queue(m_sphere, m_identity, D3DXVECTOR3(0, 0, 0));
    const auto pixels = Draw();
    // A white silhouette: the stages select the diffuse colour; the fog at
    // about 7 units of 17500 barely dims it.
    for (int x : {240, 320, 400}) EXPECT_GE(Red(At(pixels, x, 240)), 250) << x;
    EXPECT_EQ(g_ZSortRender.Count(), 0u);
}
