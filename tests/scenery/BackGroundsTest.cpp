// The moons and the earth: what start-up loads for them, where they stand,
// and what the frame shows of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/Camera.h"
#include "app/ErrLog.h"
#include "app/Frame.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "render/ZSortRender.h"
#include "scenery/BackGrounds.h"
#include "platform/Clock.h"
#include "tests/support/Display.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestScene.h"

using namespace testing_support;

namespace {

void WriteHive(const std::filesystem::path& config, const std::string& values) {
    std::filesystem::create_directories(config / "glimmerwing");
    FILE* f = std::fopen((config / "glimmerwing" / "user.reg").c_str(), "w");
    std::fprintf(f, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n%s\n",
                 values.c_str());
    std::fclose(f);
}

}  // namespace

namespace {

// A scene started with its default settings: the background on.
class BackGroundScene : public ::testing::Test {
protected:
    void SetUp() override {
        m_config = std::filesystem::temp_directory_path() / ("gw-bg-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_config);
        std::filesystem::create_directories(m_config);
    }
    void TearDown() override {
        m_scene.Stop();
        std::filesystem::remove_all(m_config);
    }
    SaverScene m_scene;
    std::filesystem::path m_config;
};

}  // namespace

TEST_F(BackGroundScene, FourMoonsFromThePlacementsAndOneEarthBelow) {
    if (!m_scene.Start(m_config))
        return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
    const BackGroundObjects* moons = g_BackGrounds.Moons();
    ASSERT_NE(moons, nullptr);
    ASSERT_EQ(moons->Count(), 4);
    const D3DXMATRIX& first = moons->Object(0)->World();
    EXPECT_FLOAT_EQ(first.m[0][0], -3546.9727f);
    EXPECT_FLOAT_EQ(first.m[0][2], -2811.5469f);
    EXPECT_FLOAT_EQ(first.m[1][1], 4526.1265f);
    EXPECT_FLOAT_EQ(first.m[3][0], 15895.1738f);
    EXPECT_FLOAT_EQ(first.m[3][3], 1.0f);
    EXPECT_FLOAT_EQ(moons->Object(3)->World().m[3][2], 15142.6836f);

    const ModelObject* earth = g_BackGrounds.Earth();
    ASSERT_NE(earth, nullptr);
    const D3DXMATRIX& w = earth->World();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(w.m[r][c], r == c ? 23000.0f : 0.0f) << r << "," << c;
    EXPECT_FLOAT_EQ(w.m[3][0], 0.0f);
    EXPECT_FLOAT_EQ(w.m[3][1], -26000.0f);
    EXPECT_FLOAT_EQ(w.m[3][2], 0.0f);

    const std::string log = g_ErrLog.Text();
    EXPECT_NE(log.find("\tBackGrounds.InitDeviceObjects...\n\t\tm_pMoonBGO->InitDeviceObjects...\n"
                       "\t\tm_pBackGroundMdl->LoadXFile...\n\t\t\tpDXFile->CreateEnumObject1...\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\t\tFineResource...\n\t\tLoadResource...\n"), std::string::npos);
}

TEST_F(BackGroundScene, SettingOffReadsNothing) {
    WriteHive(m_config, "\"intBakGnd\"=dword:00000000");
    if (!m_scene.Start(m_config))
        return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
    EXPECT_EQ(g_BackGrounds.Moons(), nullptr);
    EXPECT_EQ(g_BackGrounds.Earth(), nullptr);
    // The background's own steps: from its line to the next object's.
    const std::string log = g_ErrLog.Text();
    const auto begin = log.find("\tBackGrounds.InitDeviceObjects...\n");
    ASSERT_NE(begin, std::string::npos);
    const std::string own = log.substr(begin + 1, log.find("\n\t", begin + 1) - begin);
    EXPECT_EQ(own.find("m_pMoonBGO"), std::string::npos) << own;
    EXPECT_EQ(own.find("LoadXFile"), std::string::npos) << own;
}

TEST_F(BackGroundScene, EarthShowsInTheFrameTexturedAndFogged) {
    // On a fixed clock the flock and its trails start where they always do.
    platform::UseFakeClock(platform::kEnvironmentFakeClockStartNs);
    const bool started = m_scene.Start(m_config);
    platform::UseRealClock();
    if (!started) return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
    g_Settings.intChkFPS = 0;
    // Looking down at the earth from above the flock's altitude.
    g_Camera.SetPosition(0.0f, 3000.0f, -6000.0f);
    g_Camera.LookAt(g_pd3dDevice, D3DXVECTOR3(0.0f, -3000.0f, 0.0f), D3DXVECTOR3(0, 1, 0));
    g_vLightDir = D3DXVECTOR4(0.5f, 0.9f, 0.5f, 0.0f);
    Render();
    // The earth fills the lower middle of the picture, lit and textured.
    ExpectMatchesReference("scenery", "earth_from_above", m_scene.Pixels(), 640, 480);
}
