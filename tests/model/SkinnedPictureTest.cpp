// Pictures of the supplied skinned models drawn through the started saver's
// device, camera, light and fog: the wing-beat over the clock, instances in one
// pose, and the software vertex path against the hardware one. Poses are held
// against the reference images in tests/model/reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Camera.h"
#include "app/Frame.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "model/SkinnedMesh.h"
#include "tests/support/Display.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestScene.h"

using namespace testing_support;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m;
    return *D3DXMatrixTranslation(&m, x, y, z);
}

bool Lit(std::uint32_t p) { return (p & 0xFFFFFFu) != 0; }

// Pixels where two pictures differ by more than a few levels in a channel.
int Differing(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b, int tolerance = 4) {
    int n = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::abs(Red(a[i]) - Red(b[i])) > tolerance || std::abs(Green(a[i]) - Green(b[i])) > tolerance ||
            std::abs(Blue(a[i]) - Blue(b[i])) > tolerance)
            ++n;
    return n;
}

struct Box {
    int left = kWidth, top = kHeight, right = -1, bottom = -1, count = 0;
};

Box LitBox(const std::vector<std::uint32_t>& p, int x0, int x1) {
    Box b;
    for (int y = 0; y < kHeight; ++y)
        for (int x = x0; x < x1; ++x)
            if (Lit(p[static_cast<std::size_t>(y * kWidth + x)])) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
                ++b.count;
            }
    return b;
}

class SkinnedPicture : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_scene.Start()) return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
        g_Settings.intChkFPS = 0;
        g_Camera.Reset();
        g_Fog.Apply(g_pd3dDevice, g_Camera, g_fAspect, TRUE);
        g_Camera.SetPosition(0.0f, 4.0f, -14.0f);
        g_Camera.LookAt(g_pd3dDevice, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0));
        g_vLightDir = D3DXVECTOR4(0.4f, 0.8f, -0.45f, 0.0f);
    }
    void TearDown() override {
        for (auto& mesh : m_meshes) {
            mesh->InvalidateDeviceObjects();
            mesh->DeleteDeviceObjects();
        }
        m_meshes.clear();
        g_fElapsedTime = 0.0f;
        m_scene.Stop();
    }

    SkinnedMesh& Model(const char* name, DWORD vertexShaderVersion = D3DVS_VERSION(1, 1)) {
        D3DCAPS8 caps = g_d3dCaps;
        caps.VertexShaderVersion = vertexShaderVersion;
        m_meshes.push_back(std::make_unique<SkinnedMesh>());
        SkinnedMesh& mesh = *m_meshes.back();
        EXPECT_EQ(mesh.InitDeviceObjects(g_pd3dDevice, caps, name), S_OK);
        EXPECT_NE(mesh.CurrentModel(), nullptr) << name;
        EXPECT_EQ(mesh.RestoreDeviceObjects(), S_OK);
        return mesh;
    }

    // Runs the model's clock for `frames` frames of 0.03 s.
    static void Run(SkinnedMesh& mesh, int frames) {
        g_fElapsedTime = 0.03f;
        for (int i = 0; i < frames; ++i) mesh.FrameMove(1, 1, 0);
    }

    // One frame with the model drawn at each world matrix.
    std::vector<std::uint32_t> Draw(SkinnedMesh& mesh, const std::vector<D3DXMATRIX>& worlds,
                                    const std::string& dumpName) {
        Direct3DDevice8* d = g_pd3dDevice;
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        d->BeginScene();
        for (const D3DXMATRIX& world : worlds) {
            SkinRenderParams params{world, g_Camera.GetView(), g_Camera.GetProjection(), g_vLightDir,
                                    g_Fog.GetEnd()};
            EXPECT_EQ(mesh.Render(params), S_OK);
        }
        d->EndScene();
        std::vector<std::uint32_t> pixels = m_scene.Pixels();
        if (const char* dir = std::getenv("GLIMMERWING_FRAME_DUMP"))
            SaverScene::WritePpm(std::filesystem::path(dir) / (dumpName + ".ppm"), pixels, kWidth, kHeight);
        return pixels;
    }

    SaverScene m_scene;
    std::vector<std::unique_ptr<SkinnedMesh>> m_meshes;
};

D3DXMATRIX Scaled(float s) {
    D3DXMATRIX m;
    return *D3DXMatrixScaling(&m, s, s, s);
}

}  // namespace

TEST_F(SkinnedPicture, TheWingsBeatOverTheClockAndFramesReproduce) {
    SkinnedMesh& bird = Model("BIRDSKINNED03.X");
    ASSERT_GT(bird.TotalTicks(), 0.0f);
    std::vector<std::vector<std::uint32_t>> frames;
    for (int step = 0; step < 4; ++step) {
        frames.push_back(Draw(bird, {Scaled(2.0f)}, "bird03_" + std::to_string(step)));
        Run(bird, 4);  // 0.12 s
    }
    // The pose at 0.24 s, and a silhouette that changes from frame to frame.
    ExpectMatchesReference("model", "bird03_at_240ms", frames[2], kWidth, kHeight);
    for (int i = 1; i < 4; ++i) EXPECT_GT(Differing(frames[i - 1], frames[i]), 300) << "frame " << i;

    // A second bird run to the same time draws the same picture.
    SkinnedMesh& again = Model("BIRDSKINNED03.X");
    Run(again, 8);
    EXPECT_EQ(Differing(frames[2], Draw(again, {Scaled(2.0f)}, "bird03_again"), 0), 0);
}

TEST_F(SkinnedPicture, InstancesShareOnePoseAndTheTwoBirdsDiffer) {
    SkinnedMesh& bird = Model("BIRDSKINNED03.X");
    Run(bird, 5);
    const auto pair = Draw(bird, {Scaled(1.5f) * Translation(-4.5f, 0, 0), Scaled(1.5f) * Translation(4.5f, 0, 0)},
                           "bird03_pair");
    ExpectMatchesReference("model", "bird03_pair", pair, kWidth, kHeight);
    const Box left = LitBox(pair, 0, kWidth / 2), right = LitBox(pair, kWidth / 2, kWidth);
    ASSERT_GT(left.count, 0);
    ASSERT_GT(right.count, 0);
    // The same pose at two places: the same extent, a mirror-free shift.
    EXPECT_NEAR(left.right - left.left, right.right - right.left, 6);
    EXPECT_NEAR(left.bottom - left.top, right.bottom - right.top, 6);
    EXPECT_NEAR(left.count, right.count, left.count / 20);

    // The second bird model beats its wings on another clock.
    SkinnedMesh& other = Model("BIRDSKINNED04.X");
    Run(other, 5);
    const auto one = Draw(bird, {Scaled(2.0f)}, "bird03_t5");
    const auto two = Draw(other, {Scaled(2.0f)}, "bird04_t5");
    EXPECT_GT(Differing(one, two), 300);
}

TEST_F(SkinnedPicture, SoftwareVertexProcessingDrawsTheSamePicture) {
    SkinnedMesh& hardware = Model("BIRDSKINNED03.X");
    SkinnedMesh& software = Model("BIRDSKINNED03.X", 0);
    Run(hardware, 6);
    Run(software, 6);
    const auto a = Draw(hardware, {Scaled(2.0f)}, "bird03_hardware");
    const auto b = Draw(software, {Scaled(2.0f)}, "bird03_software");
    ASSERT_GT(LitBox(a, 0, kWidth).count, 2000);
    EXPECT_LT(Differing(a, b, 8), 40);
}

TEST_F(SkinnedPicture, TheWhaleSwims) {
    SkinnedMesh& whale = Model("WHALESKINNED.X");
    g_Camera.SetPosition(-10.0f, 6.0f, -16.0f);
    g_Camera.LookAt(g_pd3dDevice, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0));
    const auto first = Draw(whale, {Scaled(1.5f)}, "whale_0");
    Run(whale, 30);
    const auto later = Draw(whale, {Scaled(1.5f)}, "whale_1");
    ExpectMatchesReference("model", "whale_at_900ms", later, kWidth, kHeight);
    EXPECT_GT(Differing(first, later), 200);
}
