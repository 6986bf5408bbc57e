// The flock: neighbours, the wish and its rules, the resets that keep the
// flock together, the loop timeline, the trail clock, reproducible frames,
// and the birds drawn both ways.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Camera.h"
#include "app/ErrLog.h"
#include "app/Frame.h"
#include "app/Startup.h"
#include "flock/Boids.h"
#include "platform/Clock.h"
#include "render/ZSortRender.h"
#include "scenery/ParticleTrailPC.h"
#include "tests/support/Display.h"
#include "tests/support/TestScene.h"

namespace {

using V = D3DXVECTOR3;

class Flock : public ::testing::Test {
protected:
    void TearDown() override {
        g_fElapsedTime = 0.0f;
        platform::UseRealClock();
    }
    // A new flock of n birds made as start-up makes it, without models.
    void Make(int n, int loop = 0) {
        m_pFlock = std::make_unique<Boids>();
        Settings s;
        s.intBrdNumCur = n;
        s.intChkLoop = loop;
        s.intChkAnim = 0;
        m_pFlock->SetParameters(s);
        ASSERT_EQ(m_pFlock->CreateBirdsForTesting(), S_OK);
    }
    Bird& Put(int i, V pos, V dir = V(0, 0, 1)) {
        Bird& b = F().BirdForTesting(i);
        b.vPos = pos;
        b.vDir = dir;
        return b;
    }
    void Step(V goal, float dt = 0.03f) {
        g_fElapsedTime = dt;
        F().FrameMove(goal, *m_trails);
    }
    bool AllFinite() const {
        for (int i = 0; i < F().BirdCount(); ++i) {
            const Bird& b = F().GetBird(i);
            const float values[] = {b.vPos.x, b.vPos.y, b.vPos.z, b.vDir.x, b.vDir.y, b.vDir.z, b.fYaw, b.fPitch,
                                    b.fRoll, b.fSpeed, b.vSeparation.x, b.vAlignment.x, b.vCohesion.x};
            for (float v : values)
                if (!std::isfinite(v)) return false;
        }
        return true;
    }
    Boids& F() { return *m_pFlock; }
    const Boids& F() const { return *m_pFlock; }
    std::unique_ptr<Boids> m_pFlock = std::make_unique<Boids>();
    std::unique_ptr<ParticleTrailPC> m_trails = std::make_unique<ParticleTrailPC>();
};

TEST_F(Flock, BirdCountOutsideTheDialogRangeIsBroughtIntoIt) {
    const int asked[] = {0, -5, 4, 5, 17, 50, 51, 80, 100000};
    const int kept[] = {5, 5, 5, 5, 17, 50, 50, 50, 50};
    for (int k = 0; k < 9; ++k) {
        Boids flock;
        Settings s;
        s.intBrdNumCur = asked[k];
        flock.SetParameters(s);
        ASSERT_EQ(flock.CreateBirdsForTesting(), S_OK);
        EXPECT_EQ(flock.BirdCount(), kept[k]) << asked[k];
        EXPECT_EQ(s.intBrdNumCur, asked[k]);
    }
}

TEST_F(Flock, NeighboursStrictlyInsideTheRadiusEachPairOnce) {
    Make(5);
    Put(0, V(0, 0, 0));
    Put(1, V(400, 0, 0));  // exactly the radius: not a neighbour
    Put(2, V(0, 0, 399.5f));
    Put(3, V(0, 0, -2000));
    Put(4, V(-300, 0, 0));
    Step(V(0, 0, 0));
    const int expected[] = {2, 0, 1, 0, 1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(F().GetBird(i).nNeighbours, expected[i]) << i;
    // Separation d / (0.3 h^2) from each neighbour, equal and opposite per pair.
    const V s0 = V(0, 0, -399.5f) / (0.3f * 399.5f * 399.5f) + V(300, 0, 0) / (0.3f * 300.0f * 300.0f);
    EXPECT_NEAR(F().GetBird(0).vSeparation.x, s0.x, 1e-7f);
    EXPECT_NEAR(F().GetBird(0).vSeparation.z, s0.z, 1e-7f);
    EXPECT_NEAR(F().GetBird(2).vSeparation.z, 1.0f / (0.3f * 399.5f), 1e-7f);
    // Lonely birds keep zero terms.
    for (int i : {1, 3}) {
        const Bird& b = F().GetBird(i);
        EXPECT_EQ(D3DXVec3Length(&b.vSeparation) + D3DXVec3Length(&b.vAlignment) + D3DXVec3Length(&b.vCohesion), 0.0f);
    }
}

// The wish is read back from what bird 0 (at the origin, heading +Z, with no
// neighbour) does in one frame: its yaw rate, speed and pitch rate.
TEST_F(Flock, WishLeashesToCentreThenGoalElseBlendsAndIsShortenedToOne) {
    const V ahead[4] = {V(-450, 0, 400), V(450, 0, 400), V(-450, 0, 400), V(450, 0, 400)};  // centre (0, 0, 320)
    auto run = [&](const V (&others)[4], V goal) -> const Bird& {
        Make(5);
        Put(0, V(0, 0, 0));
        for (int i = 0; i < 4; ++i) Put(i + 1, others[i]);
        Step(goal);
        return F().GetBird(0);
    };
    {  // More than 400 from the centre: only the centre counts, though the goal is far aside.
        const V far[4] = {V(-50, 0, 2000), V(50, 0, 2000), V(-50, 0, 2100), V(50, 0, 2100)};
        const Bird& b = run(far, V(5000, 0, 0));
        EXPECT_EQ(b.fYawRate, 0.0f);
        EXPECT_GT(b.fSpeed, 1.8f);
    }
    {  // Near the centre, far from the goal: only the goal (at right angles: slow down, full turn).
        const Bird& b = run(ahead, V(5000, 0, 0));
        EXPECT_NEAR(b.fYawRate, -2.0f * 0.03f, 1e-6f);
        EXPECT_NEAR(b.fRoll, 0.3f * 2.0f * 0.03f, 1e-6f);
        EXPECT_LT(b.fSpeed, 1.8f);
    }
    {  // Near both: centre + goal = (1, 0, 1) / sqrt 2, half ahead.
        const Bird& b = run(ahead, V(300, 0, 0));
        EXPECT_NEAR(b.fYawRate, -2.0f * (1.0f - std::sqrt(0.5f)) * 0.03f, 1e-5f);
        EXPECT_GT(b.fSpeed, 1.8f);
    }
    // Centre straight along +X; the goal 200 away at an elevation.
    const V side[4] = {V(450, 0, 300), V(450, 0, -300), V(450, 0, 300), V(450, 0, -300)};  // centre (360, 0, 0)
    auto goalAt = [](float x, float angle) { return V(200 * x * std::cos(angle), 200 * std::sin(angle), 0); };
    // w = (1 + cos .15, sin .15, 0): w.y = 0.149, but 0.075 once shortened to length 1: a level wish.
    EXPECT_EQ(run(side, goalAt(1, 0.15f)).fPitchRate, 0.0f);
    // w = (1 - cos .08, sin .08, 0), length 0.08, is used as it is: w.y = 0.08 is level.
    EXPECT_EQ(run(side, goalAt(-1, 0.08f)).fPitchRate, 0.0f);
    // The same with w.y = 0.149 climbs.
    EXPECT_NEAR(run(side, goalAt(-1, 0.15f)).fPitchRate, 0.03f, 1e-7f);
}

TEST_F(Flock, HeadingFollowsTheStoredAnglesWithTheirSignsTurned) {
    Make(5);
    for (int i = 0; i < 5; ++i) Put(i, V(100.0f * static_cast<float>(i), 0, 0));
    Bird& b = F().BirdForTesting(0);
    b.fYaw = 0.5f;
    b.fPitch = 0.2f;
    Step(V(200, 0, 0), 0.0f);
    // Positive yaw turns toward -X, positive pitch climbs; the matrix sits at the old position.
    EXPECT_NEAR(b.vDir.x, -std::cos(0.2f) * std::sin(0.5f), 1e-6f);
    EXPECT_NEAR(b.vDir.y, std::sin(0.2f), 1e-6f);
    EXPECT_NEAR(b.vDir.z, std::cos(0.2f) * std::cos(0.5f), 1e-6f);
    EXPECT_FLOAT_EQ(b.World().m[2][1], b.vDir.y);
    EXPECT_EQ(b.World().m[3][0], 0.0f);
    const V before = b.vPos;
    Step(V(200, 0, 0));
    EXPECT_NEAR(D3DXVec3Length(&b.vVel), b.fSpeed * 100.0f * 0.03f, 1e-4f);
    EXPECT_NEAR(b.vPos.x - before.x, b.vVel.x, 1e-5f);
}

TEST_F(Flock, StragglersLandOnTheCentreAndCoincidentBirdsStayFinite) {
    Make(10);
    for (int i = 0; i < 7; ++i) Put(i, V(10.0f * static_cast<float>(i), 0, 0), V(0, 0, 1));
    Put(7, V(20000, 0, 0));
    Put(8, V(0, 20000, 0));
    Put(9, V(0, 0, -20000));
    const V centre = F().GetCenter();
    Step(V(0, 0, 0));
    for (int i = 7; i < 10; ++i) EXPECT_EQ(std::memcmp(&F().GetBird(i).vPos, &centre, sizeof centre), 0) << i;
    for (int f = 0; f < 300; ++f) {
        Step(V(0, 0, 0));
        ASSERT_TRUE(AllFinite()) << "frame " << f;
    }
}

TEST_F(Flock, BeyondTheOriginLimitTheWholeFlockComesHome) {
    Make(10);
    for (int i = 0; i < 10; ++i) Put(i, V(90000.0f + 30.0f * static_cast<float>(i), 0, 0));
    Step(V(90000, 0, 0));
    // Bird 0 moves and puts everyone at the origin; the rest fly one step from there.
    for (int i = 0; i < 10; ++i) EXPECT_LE(D3DXVec3Length(&F().GetBird(i).vPos), 3.6f * 100.0f * 0.03f + 1e-3f) << i;
    for (int f = 0; f < 300; ++f) {
        Step(V(0, 0, 0));
        ASSERT_TRUE(AllFinite()) << "frame " << f;
    }
    const V c = F().GetCenter();
    EXPECT_LT(D3DXVec3Length(&c), 5000.0f);
}

TEST_F(Flock, LoopTimeline) {
    Make(10, 1);
    const int n = 10;
    std::vector<int> ready(n, 0), start(n, 0), end(n, 0);
    int trigger = 0;
    std::vector<float> yaw(n), speed(n);
    for (int f = 1; f <= 1600; ++f) {
        Step(V(200, 1, 200));
        const float t = 0.03f * static_cast<float>(f);
        for (int i = 0; i < n; ++i) {
            const Bird& b = F().GetBird(i);
            if (!trigger && b.bLooping) {
                trigger = f;
                EXPECT_NEAR(t, 20.0f, 0.04f);
                EXPECT_NEAR(F().LoopTimer(), 0.0f, 1e-6f);
                EXPECT_GE(F().LoopInterval(), 60.0f);
                EXPECT_LE(F().LoopInterval(), 130.0f);
            }
            if (!trigger) continue;
            if (!ready[i] && b.bLoopReady) {
                ready[i] = f;
                EXPECT_LE(std::fabs(b.fPitch), 0.05f) << i;
                EXPECT_LE(std::fabs(b.fRoll), 0.05f) << i;
                yaw[i] = b.fYaw;
                speed[i] = b.fSpeed;
            }
            if (ready[i] && ready[i] < f && !start[i] && b.fLoopAngle < 0 && b.bLooping) {
                EXPECT_EQ(b.fPitch, 0.0f);
                EXPECT_EQ(b.fRoll, 0.0f);
            }
            if (ready[i] && !start[i] && b.fLoopAngle >= 0) start[i] = f;
            if (start[i] && !end[i]) {
                EXPECT_EQ(b.fYaw, yaw[i]);
                EXPECT_EQ(b.fSpeed, speed[i]);
                if (!b.bLooping) end[i] = f;
            }
        }
    }
    ASSERT_GT(trigger, 0);
    for (int i = 0; i < n; ++i) {
        ASSERT_GT(end[i], 0) << i;
        const float rate = F().GetBird(i).fLoopRate;
        EXPECT_LE(0.03f * static_cast<float>(start[i] - ready[i]), 0.7853982f / rate + 0.031f) << i;
        const float loop = 0.03f * static_cast<float>(end[i] - start[i]);
        EXPECT_GE(loop, 12.5f) << i;
        EXPECT_LE(loop, 14.0f) << i;
    }

    // With the setting off the timer stands and nobody loops.
    Make(10, 0);
    for (int f = 0; f < 1000; ++f) {
        Step(V(200, 1, 200));
        for (int i = 0; i < n; ++i) ASSERT_EQ(F().GetBird(i).bLooping, 0);
    }
    EXPECT_EQ(F().LoopTimer(), 30.0f);
}

TEST_F(Flock, NoTimeStepMovesNothingButWhatIsSetOutright) {
    Make(5, 1);
    for (int i = 0; i < 5; ++i) Put(i, V(50.0f * static_cast<float>(i), 0, 0));
    Put(4, V(0, 0, 9000));  // a straggler
    Bird& b = F().BirdForTesting(0);
    b.fPitchRate = 0.009f;
    b.fYawRate = 0.5f;
    const V centre = F().GetCenter();
    Step(V(100, 0, 0), 0.0f);
    EXPECT_EQ(b.vPos, V(0, 0, 0));
    EXPECT_EQ(b.fPitchRate, 0.0f);
    EXPECT_EQ(b.fYawRate, 0.5f);
    EXPECT_FLOAT_EQ(b.fRoll, -0.15f);
    EXPECT_EQ(F().GetBird(4).vPos, centre);
    EXPECT_EQ(F().LoopTimer(), 30.0f);
    EXPECT_EQ(F().TrailClock(), 0.0f);
    EXPECT_EQ(m_trails->ActiveCount(), 0u);
}

TEST_F(Flock, TrailsEverySixthFrameFromOneGroup) {
    Make(20);
    int group[2] = {0, 0};
    for (int i = 0; i < 20; ++i) ++group[F().GetBird(i).nGroup];
    DWORD before = 0;
    for (int f = 1; f <= 18; ++f) {
        Step(V(200, 1, 200));
        const DWORD added = m_trails->ActiveCount() - before;
        before = m_trails->ActiveCount();
        if (f % 6) {
            EXPECT_EQ(added, 0u) << f;
            continue;
        }
        EXPECT_TRUE(added == static_cast<DWORD>(group[0]) || added == static_cast<DWORD>(group[1])) << f;
        // The particle carries the bird's last displacement, units per frame.
        const V v = m_trails->FirstActive()->vVelocity;
        EXPECT_GE(D3DXVec3Length(&v), 0.9f * 100.0f * 0.03f - 1e-4f);
        EXPECT_LE(D3DXVec3Length(&v), 3.6f * 100.0f * 0.03f + 1e-4f);
    }
    // Reaching exactly 1.0 emits.
    const float dt = 1.0f / 24.0f;
    ASSERT_EQ(6.0f * dt, 0.25f);
    Make(20);
    before = m_trails->ActiveCount();
    for (int f = 0; f < 3; ++f) Step(V(200, 1, 200), dt);
    EXPECT_EQ(m_trails->ActiveCount(), before);
    Step(V(200, 1, 200), dt);
    EXPECT_GT(m_trails->ActiveCount(), before);
    EXPECT_EQ(F().TrailClock(), 0.0f);
}

TEST_F(Flock, SameClockSameFlockFrameForFrame) {
    auto record = [&](std::int64_t clockNs) {
        platform::UseFakeClock(clockNs);
        m_trails = std::make_unique<ParticleTrailPC>();  // an empty pool: emission draws the same numbers
        Make(30, 1);
        std::vector<float> trace;
        for (int f = 0; f < 1500; ++f) {
            Step(V(300.0f * std::sin(0.01f * static_cast<float>(f)), 50, 200));
            for (int i = 0; i < 30; ++i) {
                const Bird& b = F().GetBird(i);
                trace.insert(trace.end(), {b.vPos.x, b.vPos.y, b.vPos.z, b.fYaw, b.fPitch, b.fRoll, b.fLoopAngle});
            }
        }
        return trace;
    };
    const auto first = record(5'000'000'000);
    EXPECT_EQ(first, record(5'000'000'000));
    EXPECT_NE(first, record(5'001'000'000));
    // Creation: in the cube around (200, 1, 200), level, at cruise speed, a loop delay ahead.
    platform::UseFakeClock(7'000'000'000);
    Make(50);
    for (int i = 0; i < 50; ++i) {
        const Bird& b = F().GetBird(i);
        EXPECT_LE(std::fabs(b.vPos.x - 200) + std::fabs(b.vPos.z - 200), 66.0f);
        EXPECT_LE(std::fabs(b.vPos.y - 1), 33.0f);
        EXPECT_NEAR(D3DXVec3Length(&b.vDir), 1.0f, 1e-5f);
        EXPECT_FLOAT_EQ(b.fSpeed, 1.8f);
        EXPECT_LE(b.fLoopAngle, 0.0f);
        EXPECT_GE(b.fLoopAngle, -0.7853982f);
    }
}

// ---------------------------------------------------------------------------

class FlockPicture : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_scene.Start()) return testing_support::SceneNotStarted(m_scene.DisplayMissing(), m_scene.Error());
        g_ErrLog.ClearForTesting();
    }
    void TearDown() override {
        m_flock.InvalidateDeviceObjects();
        m_flock.DeleteDeviceObjects();
        g_fElapsedTime = 0.0f;
        m_scene.Stop();
    }
    void Start(int anim) {
        Settings s;
        s.intBrdNumCur = 12;
        s.intChkAnim = anim;
        m_flock.SetParameters(s);
        ASSERT_EQ(m_flock.InitDeviceObjects(g_pd3dDevice, g_d3dCaps), S_OK) << g_ErrLog.Text();
        m_flock.RestoreDeviceObjects();
        ParticleTrailPC trails;
        g_fElapsedTime = 0.03f;
        for (int f = 0; f < 20; ++f) m_flock.FrameMove(V(200, 1, 400), trails);
    }
    // The camera 220 behind the flock centre, or turned away from it.
    void Aim(bool away) {
        const V c = m_flock.GetCenter();
        g_Camera.SetPosition(c.x, c.y + 60, c.z - 220);
        g_Camera.LookAt(g_pd3dDevice, away ? V(c.x, c.y + 60, c.z - 900) : c, V(0, 1, 0));
        g_Camera.UpdateFrustum();
        g_vLightDir = D3DXVECTOR4(0.5f, 0.9f, -0.5f, 0.0f);
    }
    // One opaque pass, as the frame draws it; returns the lit pixels.
    int Draw(const char* dumpName) {
        return testing_support::LitPixels(testing_support::DrawOpaquePass(
            [&] {
                m_flock.Render(g_pd3dDevice, g_Camera.GetCameraView(), g_ZSortRender, g_vLightDir, g_Fog.GetEnd());
                m_queued = g_ZSortRender.Count();
            },
            dumpName));
    }
    testing_support::SaverScene m_scene;
    Boids m_flock;
    DWORD m_queued = 0;
};

TEST_F(FlockPicture, StaticBirdsQueueIntoTheSortedRendererAtThreeTimesTheirSize) {
    Start(0);
    EXPECT_NE(std::string(g_ErrLog.Text()).find("\t\tm_pDammyMdl->LoadXFile...\n"), std::string::npos);
    EXPECT_EQ(m_flock.SkinnedModels(), nullptr);
    Aim(false);
    const int lit = Draw("boids_static.ppm");
    EXPECT_GT(m_queued, 6u);
    EXPECT_LE(m_queued, 12u * m_flock.DammyModel()->DisplayCount());
    EXPECT_GT(lit, 300);
    // Drawing again without a move queues the same matrices: the scale is not kept.
    m_flock.Render(g_pd3dDevice, g_Camera.GetCameraView(), g_ZSortRender, g_vLightDir, g_Fog.GetEnd());
    ASSERT_GT(g_ZSortRender.Count(), 0u);
    const D3DXMATRIX& w = g_ZSortRender.Entry(0).matWorld;
    EXPECT_NEAR(std::sqrt(w.m[0][0] * w.m[0][0] + w.m[0][1] * w.m[0][1] + w.m[0][2] * w.m[0][2]), 3.0f, 1e-4f);
    g_ZSortRender.Clear();
    Aim(true);
    EXPECT_EQ(Draw("boids_static_away.ppm"), 0);
    EXPECT_EQ(m_queued, 0u);
}

TEST_F(FlockPicture, AnimatedBirdsAreDrawnSkinnedWhenVisible) {
    Start(1);
    EXPECT_NE(std::string(g_ErrLog.Text()).find("\t\tm_pSkinnedSkm.InitDeviceObjects...\n"), std::string::npos);
    ASSERT_NE(m_flock.SkinnedModels(), nullptr);
    Aim(false);
    EXPECT_GT(Draw("boids_skinned.ppm"), 300);
    EXPECT_EQ(m_queued, 0u);
    Aim(true);
    EXPECT_EQ(Draw("boids_skinned_away.ppm"), 0);
}

}  // namespace
