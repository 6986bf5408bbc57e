// The user's whale: what the keys do and where the fades settle, the pitch
// limit, coasting, the world's edge, a frame without time, the start, and the
// whale drawn both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/Camera.h"
#include "app/ErrLog.h"
#include "app/Frame.h"
#include "app/Startup.h"
#include "flock/GoalUser.h"
#include "render/ZSortRender.h"
#include "tests/support/Display.h"
#include "tests/support/TestScene.h"

namespace {

using V = D3DXVECTOR3;

float RowLength(const D3DXMATRIX& m, int row) {
    return std::sqrt(m.m[row][0] * m.m[row][0] + m.m[row][1] * m.m[row][1] + m.m[row][2] * m.m[row][2]);
}

class Whale : public ::testing::Test {
protected:
    void TearDown() override { g_fElapsedTime = 0.0f; }
    // frames of Control and FrameMove with the keys given as "WSDAEQ" letters.
    void Fly(const char* held, int frames, float dt = 0.03f) {
        const auto on = [held](char key) -> DWORD { return std::strchr(held, key) ? 1 : 0; };
        KeyState keys{};
        keys.bW = on('W'), keys.bS = on('S'), keys.bD = on('D');
        keys.bA = on('A'), keys.bE = on('E'), keys.bQ = on('Q');
        g_fElapsedTime = dt;
        for (int f = 0; f < frames; ++f) {
            W().Control(keys);
            W().FrameMove();
            m_maxAbsPitch = std::max(m_maxAbsPitch, std::fabs(W().Pitch()));
        }
    }
    GoalUser& W() { return *m_pWhale; }
    std::unique_ptr<GoalUser> m_pWhale = std::make_unique<GoalUser>();
    float m_maxAbsPitch = 0.0f;
};

TEST_F(Whale, StartsAtRestFacingPlusZAndTurnsTheWayItsAnglesSay) {
    EXPECT_EQ(W().GetPosition(), V(1000, 0, -500));  // no model loaded yet
    Fly("", 1);
    EXPECT_EQ(W().Direction(), V(0, 0, 1));
    EXPECT_EQ(W().GetPosition(), V(1000, 0, -500));
    EXPECT_EQ(W().Speed(), 0.0f);

    // A turns left: a positive yaw, toward -X when facing +Z; E lifts the nose.
    Fly("AE", 30);
    EXPECT_GT(W().Yaw(), 0.0f);
    EXPECT_GT(W().Pitch(), 0.0f);
    EXPECT_LT(W().Direction().x, 0.0f);
    EXPECT_GT(W().Direction().y, 0.0f);
    while (W().Yaw() > -0.3f || W().Pitch() > -0.1f) Fly("DQ", 1);
    Fly("", 1);
    EXPECT_GT(W().Direction().x, 0.0f);
    EXPECT_LT(W().Direction().y, 0.0f);
}

TEST_F(Whale, KeysDriveThrustAndRatesTowardWhereInputMeetsTheFade) {
    // A held key adds before the frame's fade takes its share, so a frame of
    // dt settles at input x (1 - fade dt) / fade: with small steps 140 for the
    // thrust, 1 / 0.9 for the yaw rate and 0.4 / 0.9 for the pitch rate. The
    // speed takes the thrust before its fade, 140 at any step: 140 / 0.99.
    const auto settled = [](float input, float fade, float dt) { return input * (1.0f - fade * dt) / fade; };
    for (float dt : {0.03f, 0.002f}) {
        m_pWhale = std::make_unique<GoalUser>();
        const int frames = static_cast<int>(30.0f / dt);
        Fly("W", frames, dt);
        EXPECT_NEAR(W().Thrust(), settled(70.0f, 0.5f, dt), 0.05f) << dt;
        EXPECT_NEAR(W().Speed(), 140.0f / 0.99f, 0.05f) << dt;
        EXPECT_GT(W().Position().z, 2000.0f);

        // Released, the thrust fades into the dead band and then stays there.
        Fly("", frames, dt);
        const float rest = W().Thrust();
        EXPECT_LE(rest, 0.1f);
        EXPECT_GT(rest, 0.0f);
        Fly("", 300, dt);
        EXPECT_EQ(W().Thrust(), rest);

        Fly("S", frames, dt);
        EXPECT_NEAR(W().Thrust(), -settled(70.0f, 0.5f, dt), 0.05f) << dt;
        Fly("A", frames / 2, dt);
        EXPECT_NEAR(W().YawRate(), settled(1.0f, 0.9f, dt), 1e-3f) << dt;
        Fly("D", frames, dt);
        EXPECT_NEAR(W().YawRate(), -settled(1.0f, 0.9f, dt), 1e-3f) << dt;
        Fly("E", frames / 2, dt);
        EXPECT_NEAR(W().PitchRate(), settled(0.4f, 0.9f, dt), 1e-3f) << dt;
        Fly("Q", frames, dt);
        EXPECT_NEAR(W().PitchRate(), -settled(0.4f, 0.9f, dt), 1e-3f) << dt;
    }
    // Held nose up and then down, the pitch goes right to its limits and never past them.
    EXPECT_LE(m_maxAbsPitch, 0.6f);
    EXPECT_GT(m_maxAbsPitch, 0.59f);
}

TEST_F(Whale, CoastingSlowsByDragAndEverythingFadesTowardZero) {
    Fly("WAE", 100);
    for (int f = 0; f < 100; ++f) {
        const float before[] = {W().Speed(), W().Thrust(), W().YawRate(), W().PitchRate()};
        Fly("", 1);
        EXPECT_NEAR(W().Speed(), 0.03f * before[1] + (1.0f - 0.99f * 0.03f) * before[0], 1e-3f);
        EXPECT_LT(W().Thrust(), before[1]);
        EXPECT_LT(W().YawRate(), before[2]);
        EXPECT_LT(W().PitchRate(), before[3]);
    }
    // A minute later all that is left are the dead bands: a thrust of at most
    // 0.1, rates of at most 0.01, and the pitch such a rate holds against the
    // levelling (0.01 / 0.2).
    Fly("", 2000);
    EXPECT_GE(W().Thrust(), 0.0f);
    EXPECT_LE(W().Thrust(), 0.1f);
    EXPECT_LE(W().Speed(), 0.1f / 0.99f + 1e-4f);
    EXPECT_GE(W().YawRate(), 0.0f);
    EXPECT_LE(W().YawRate(), 0.01f);
    EXPECT_GE(W().PitchRate(), 0.0f);
    EXPECT_LE(W().PitchRate(), 0.01f);
    EXPECT_LE(std::fabs(W().Pitch()), 0.0501f);
}

TEST_F(Whale, TheWorldsEdgeStopsTheWhaleUntilItHeadsBackInside) {
    Fly("W", 4000);  // 120 s straight along +Z: far enough to reach the edge
    EXPECT_LE(D3DXVec3Length(&W().Position()), GoalUser::kMaxRadius);
    EXPECT_GT(D3DXVec3Length(&W().Position()), GoalUser::kMaxRadius - 10.0f);

    // Pushing on outward gets nowhere: each frame that would cross the edge
    // is undone and the whale stops dead.
    const V edge = W().Position();
    float slowest = 1e9f;
    for (int f = 0; f < 300; ++f) {
        Fly("W", 1);
        EXPECT_LE(D3DXVec3Length(&W().Position()), GoalUser::kMaxRadius);
        slowest = std::min(slowest, W().Speed());
    }
    EXPECT_EQ(slowest, 0.0f);
    const V pushed = W().Position() - edge;
    EXPECT_LT(D3DXVec3Length(&pushed), 10.0f);

    // Without thrust it turns on the spot; headed back inside it flies in.
    Fly("", 300);
    while (W().Yaw() < 2.0f) Fly("A", 1);
    Fly("", 300);  // the turn runs out near half a circle
    const V turned = W().Position() - edge;
    EXPECT_LT(D3DXVec3Length(&turned), 10.0f);
    ASSERT_LT(D3DXVec3Dot(&W().Direction(), &W().Position()), 0.0f);
    Fly("W", 300);
    EXPECT_LT(D3DXVec3Length(&W().Position()), GoalUser::kMaxRadius - 500.0f);
}

TEST_F(Whale, WithoutTimeNothingMovesOrFades) {
    Fly("WDQ", 50);
    const V pos = W().Position();
    const float values[] = {W().Thrust(), W().Speed(), W().Yaw(), W().Pitch(), W().YawRate(),
                            W().PitchRate()};
    Fly("WSDAEQ", 20, 0.0f);
    Fly("", 20, 0.0f);
    EXPECT_EQ(W().Position(), pos);
    const float after[] = {W().Thrust(), W().Speed(), W().Yaw(), W().Pitch(), W().YawRate(),
                           W().PitchRate()};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(after[i], values[i]) << i;
}

// ---------------------------------------------------------------------------

class WhalePicture : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_scene.Start()) return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
    }
    void TearDown() override {
        m_whale.InvalidateDeviceObjects();
        m_whale.DeleteDeviceObjects();
        g_fElapsedTime = 0.0f;
        m_scene.Stop();
    }
    void Start(int anim) {
        Settings s;
        s.intChkAnim = anim;
        m_whale.SetParameters(s);
        ASSERT_EQ(m_whale.InitDeviceObjects(g_pd3dDevice, g_d3dCaps), S_OK) << g_ErrLog.Text();
        m_whale.RestoreDeviceObjects();
        EXPECT_EQ(m_whale.GetPosition(), V(1000, 0, -500));
        // A few frames with a little yaw, so the whale shows a three-quarter view.
        g_fElapsedTime = 0.03f;
        KeyState keys{};
        keys.bA = 1;
        for (int f = 0; f < 20; ++f) {
            const V before = m_whale.Position();
            m_whale.Control(keys);
            m_whale.FrameMove();
            ASSERT_EQ(m_whale.GetPosition(), before);
        }
    }
    // The user camera's start, or close beside the whale.
    void Aim(bool close) {
        const V w = m_whale.GetPosition();
        if (close) g_Camera.SetPosition(w.x + 260, w.y + 90, w.z - 180);
        else g_Camera.SetPosition(2500, 750, -1500);
        g_Camera.LookAt(g_pd3dDevice, w, V(0, 1, 0));
        g_Camera.UpdateFrustum();
        g_vLightDir = D3DXVECTOR4(0.5f, 0.9f, -0.5f, 0.0f);
    }
    // The whale's render and one pass of the sorted renderer; returns the lit pixels.
    int Draw(const char* dumpName) {
        return testing_support::LitPixels(testing_support::DrawOpaquePass(
            [&] {
                m_result = m_whale.Render(g_pd3dDevice, g_Camera.GetCameraView(), g_ZSortRender, g_vLightDir, g_Fog.GetEnd());
                m_queued = g_ZSortRender.Count();
                if (m_queued > 0) m_scale = RowLength(g_ZSortRender.Entry(0).matWorld, 0);
            },
            dumpName));
    }
    testing_support::SaverScene m_scene;
    GoalUser m_whale;
    HRESULT m_result = E_FAIL;
    DWORD m_queued = 0;
    float m_scale = 0.0f;
};

TEST_F(WhalePicture, StaticWhaleQueuesAtThirtyTimesItsSizeEveryTimeItIsDrawn) {
    Start(0);
    EXPECT_EQ(m_whale.SkinnedModel(), nullptr);
    Aim(false);
    const int far = Draw("whale_static_far.ppm");
    EXPECT_EQ(m_result, S_OK);
    EXPECT_GT(m_queued, 0u);
    EXPECT_LE(m_queued, m_whale.DammyModel()->DisplayCount());
    EXPECT_NEAR(m_scale, 30.0f, 1e-3f);
    EXPECT_GT(far, 200);
    // Drawn again without a move: the same size, and the moved matrix is kept.
    Aim(true);
    const int close = Draw("whale_static_close.ppm");
    EXPECT_NEAR(m_scale, 30.0f, 1e-3f);
    EXPECT_GT(close, far * 4);
    EXPECT_NEAR(RowLength(m_whale.DammyObject()->World(), 2), 1.0f, 1e-5f);
}

TEST_F(WhalePicture, AnimatedWhaleIsDrawnSkinnedAtOnce) {
    Start(1);
    ASSERT_NE(m_whale.SkinnedModel(), nullptr);
    Aim(false);
    const int far = Draw("whale_skinned_far.ppm");
    EXPECT_EQ(m_result, S_OK);
    EXPECT_EQ(m_queued, 0u);
    EXPECT_GT(far, 200);
    Aim(true);
    const int close = Draw("whale_skinned_close.ppm");
    EXPECT_EQ(m_result, S_OK);
    EXPECT_GT(close, far * 4);
    EXPECT_NEAR(RowLength(m_whale.DammyObject()->World(), 2), 1.0f, 1e-5f);
}

}  // namespace
