// A started saver with the depth-sorted renderer ready to take entries, and
// the two ways the frame draws its queue: the whole frame (the queue goes into
// its first pass) and the blended second pass on its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Camera.h"
#include "app/Frame.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "render/ZSortRender.h"
#include "tests/support/Display.h"
#include "tests/support/TestScene.h"

namespace zsort_testing {

using namespace testing_support;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

inline std::uint32_t At(const std::vector<std::uint32_t>& p, int x, int y) {
    return p[static_cast<std::size_t>(y * kWidth + x)];
}
inline std::uint32_t Rgb(std::uint32_t p) { return p & 0xFFFFFFu; }

inline D3DXMATRIX Identity() {
    D3DXMATRIX m;
    return *D3DXMatrixIdentity(&m);
}

inline D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m;
    return *D3DXMatrixTranslation(&m, x, y, z);
}

class ZSortRenderScene : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_scene.Start()) return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
        g_Settings.intChkFPS = 0;  // no frame-rate text over the pictures
        m_material = D3DMATERIAL8{};
        m_material.Diffuse = {1, 1, 1, 1};
    }
    void TearDown() override {
        m_sphere.Release();
        m_box.Release();
        g_ZSortRender.Clear();
        m_scene.Stop();
    }

    // Camera at `eye` looking at `target` with the start-up projection and fog.
    static void Look(D3DXVECTOR3 eye, D3DXVECTOR3 target = D3DXVECTOR3(0, 0, 0)) {
        g_Camera.Reset();
        g_Fog.Apply(g_pd3dDevice, g_Camera, g_fAspect, TRUE);
        g_Camera.SetPosition(eye.x, eye.y, eye.z);
        g_Camera.LookAt(g_pd3dDevice, target, D3DXVECTOR3(0, 1, 0));
    }

    // The background and fog colour (the colour setting's two choices).
    static void UseBackground(D3DCOLOR colour) {
        g_dwClearColor = colour;
        g_Fog.SetColor(colour);
        g_Fog.Apply(g_pd3dDevice, g_Camera, g_fAspect, TRUE);
    }

    // One entry drawing the whole mesh as one range without a mesh texture.
    void Queue(const ToonMesh& mesh, const D3DXMATRIX& world, D3DXVECTOR3 centre) {
        ASSERT_LT(m_nRanges, 16);
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

    // The back buffer; also written to $GLIMMERWING_FRAME_DUMP/<test>.ppm when set.
    std::vector<std::uint32_t> Frame() {
        std::vector<std::uint32_t> pixels = m_scene.Pixels();
        if (const char* dir = std::getenv("GLIMMERWING_FRAME_DUMP")) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            SaverScene::WritePpm(std::filesystem::path(dir) / (std::string(info->name()) + ".ppm"), pixels, kWidth,
                                 kHeight);
        }
        return pixels;
    }

    SaverScene m_scene;
    ToonMesh m_sphere, m_box;
    D3DMATERIAL8 m_material{};
    Direct3DTexture8* m_noTexture = nullptr;
    D3DXATTRIBUTERANGE m_ranges[16]{};
    int m_nRanges = 0;
};

}  // namespace zsort_testing
