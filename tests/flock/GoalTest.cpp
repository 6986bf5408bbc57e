// The automatic goal: its waypoints and their intervals, how it steers toward
// them, and the invisible model that carries its world matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/Frame.h"
#include "app/Settings.h"
#include "flock/Goal.h"
#include "platform/Random.h"
#include "tests/gfx/DeviceDrawFixture.h"

namespace {

float Uniform() { return static_cast<float>(Rand()) / static_cast<float>(kRandMax); }

// The waypoint and interval that a change draws after SRand(seed), measured
// from `previous`.
float ExpectedChange(unsigned seed, const D3DXVECTOR3& previous, D3DXVECTOR3& target) {
    SRand(seed);
    float u[8];
    for (float& v : u) v = Uniform();
    target = D3DXVECTOR3(2500.0f * (u[0] - u[1]), 500.0f * (u[2] - u[3]), 2500.0f * (u[4] - u[5]));
    const D3DXVECTOR3 travel = target - previous;
    return 30.0f * (u[6] - u[7]) + 30.0f * D3DXVec3Length(&travel) / 2500.0f;
}

class GoalTest : public ::testing::Test {
protected:
    void SetUp() override {
        Goal::s_vPrevTarget = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        m_goal.SetParameters(g_Settings);
        g_fElapsedTime = 0.03f;
    }
    void TearDown() override { g_fElapsedTime = 0.0f; }

    // Flies `frames` frames: the closest approach to the waypoint, the
    // farthest distance after it, and the pitch range.
    struct Flight {
        float closest = 1e9f, farthestAfter = 0.0f, lowestPitch = 0.0f, highestPitch = 0.0f;
    };
    Flight Fly(int frames) {
        Flight f;
        for (int frame = 0; frame < frames; ++frame) {
            m_goal.FrameMove();
            const D3DXVECTOR3 gap = m_goal.m_vTarget - m_goal.m_vPos;
            const float d = D3DXVec3Length(&gap);
            if (d < f.closest) f.closest = f.farthestAfter = d;
            f.farthestAfter = std::max(f.farthestAfter, d);
            f.lowestPitch = std::min(f.lowestPitch, m_goal.m_fPitch);
            f.highestPitch = std::max(f.highestPitch, m_goal.m_fPitch);
            EXPECT_GE(m_goal.m_fSpeed, 0.6f - 0.25f * 1.2f * 0.03f);
            EXPECT_LE(m_goal.m_fSpeed, 2.4f + 0.5f * 1.2f * 0.03f);
        }
        return f;
    }

    Goal m_goal;
};

}  // namespace

TEST_F(GoalTest, WaypointIntervalsGrowWithTheDistanceFromThePreviousOne) {
    const D3DXVECTOR3 first = m_goal.m_vTarget;
    g_fElapsedTime = 0.5f;
    for (int i = 0; i < 40; ++i) m_goal.UpdateTarget();  // exactly 20 s: not yet past
    EXPECT_EQ(m_goal.m_vTarget, first);

    // The first change is measured from the origin, the next from it.
    D3DXVECTOR3 target, second;
    const float interval = ExpectedChange(4711, D3DXVECTOR3(0, 0, 0), target);
    SRand(4711);
    m_goal.UpdateTarget();
    EXPECT_EQ(m_goal.m_vTarget, target);
    EXPECT_FLOAT_EQ(m_goal.m_fTargetInterval, interval);
    EXPECT_EQ(m_goal.m_fTargetTimer, 0.0f);
    EXPECT_EQ(Goal::s_vPrevTarget, target);

    const float next = ExpectedChange(99, target, second);
    m_goal.m_fTargetTimer = m_goal.m_fTargetInterval;
    SRand(99);
    m_goal.UpdateTarget();
    EXPECT_EQ(m_goal.m_vTarget, second);
    EXPECT_FLOAT_EQ(m_goal.m_fTargetInterval, next);
}

TEST_F(GoalTest, ZeroOrNegativeIntervalPicksTheNextWaypointAtOnce) {
    // A seed whose jitter outweighs the travel gives a negative interval.
    unsigned seed = 0;
    D3DXVECTOR3 target;
    while (ExpectedChange(++seed, D3DXVECTOR3(0, 0, 0), target) > 0.0f) ASSERT_LT(seed, 100000u);
    m_goal.m_fTargetTimer = 25.0f;
    SRand(seed);
    m_goal.UpdateTarget();
    ASSERT_LE(m_goal.m_fTargetInterval, 0.0f);
    const D3DXVECTOR3 negative = m_goal.m_vTarget;
    g_fElapsedTime = 0.001f;
    m_goal.UpdateTarget();
    EXPECT_NE(m_goal.m_vTarget, negative);

    // A zero interval still needs the timer to pass it.
    m_goal.m_fTargetInterval = 0.0f;
    const D3DXVECTOR3 held = m_goal.m_vTarget;
    g_fElapsedTime = 0.0f;
    m_goal.UpdateTarget();
    EXPECT_EQ(m_goal.m_vTarget, held);
}

TEST_F(GoalTest, FliesTowardWaypointsClimbingDivingAndTurningToTheirSide) {
    m_goal.m_vTarget = D3DXVECTOR3(1500.0f, 300.0f, 200.0f);
    m_goal.m_vDir = D3DXVECTOR3(0.0f, 0.0f, 1.0f);
    m_goal.FrameMove();
    // First frame: speed 0 lifted to half cruise, plus 0.5 cruise a second
    // for the waypoint ahead; it turns toward +x (negative yaw rate).
    EXPECT_FLOAT_EQ(m_goal.m_fSpeed, 0.6f + 0.5f * 1.2f * 0.03f);
    EXPECT_FLOAT_EQ(m_goal.m_fPitch, 0.003f);
    EXPECT_LT(m_goal.m_fYawRate, 0.0f);
    EXPECT_NEAR(m_goal.m_vPos.z, 10.0f + 0.618f * 100.0f * 0.03f, 1e-3f);

    // It closes in, then circles the waypoint: it cannot hover.
    Flight flight = Fly(2000);
    EXPECT_LT(flight.closest, 150.0f);
    EXPECT_LT(flight.farthestAfter, 500.0f);
    EXPECT_GT(flight.highestPitch, 0.5f);
    EXPECT_LE(flight.highestPitch, 0.8f);

    m_goal.m_vTarget = D3DXVECTOR3(-1200.0f, -400.0f, -1500.0f);
    flight = Fly(2000);
    EXPECT_LT(flight.closest, 150.0f);
    EXPECT_LT(flight.lowestPitch, -0.5f);
    EXPECT_GE(flight.lowestPitch, -0.8f);
}

TEST_F(GoalTest, DeadBandCasesAndTheFarBoundary) {
    // On the waypoint: pitch levels, speed falls, the yaw rate is kept.
    m_goal.m_vPos = m_goal.m_vTarget = D3DXVECTOR3(100.0f, 0.0f, 0.0f);
    m_goal.m_fPitch = 0.5f;
    m_goal.m_fSpeed = 1.2f;
    m_goal.m_fYawRate = 0.3f;
    m_goal.FrameMove();
    EXPECT_FLOAT_EQ(m_goal.m_fPitch, 0.497f);
    EXPECT_FLOAT_EQ(m_goal.m_fSpeed, 1.2f - 0.25f * 1.2f * 0.03f);
    EXPECT_FLOAT_EQ(m_goal.m_fYawRate, 0.3f);
    EXPECT_FLOAT_EQ(m_goal.m_fRoll, -0.075f);

    // Straight behind inside the dead band: kept; straight ahead: +-0.01.
    m_goal.m_vPos = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    m_goal.m_vDir = D3DXVECTOR3(0.0f, 0.0f, 1.0f);
    m_goal.m_vTarget = D3DXVECTOR3(0.0f, 0.0f, -1000.0f);
    m_goal.m_fYaw = 0.0f;
    m_goal.m_fYawRate = 0.005f;
    m_goal.FrameMove();
    EXPECT_FLOAT_EQ(m_goal.m_fYawRate, 0.005f);
    m_goal.m_vTarget = m_goal.m_vPos + m_goal.m_vDir * 1000.0f;
    m_goal.FrameMove();
    EXPECT_FLOAT_EQ(std::fabs(m_goal.m_fYawRate), 0.01f);

    // Beyond 80000 before the move: back to the origin.
    m_goal.m_vPos = D3DXVECTOR3(80001.0f, 0.0f, 0.0f);
    m_goal.FrameMove();
    EXPECT_EQ(m_goal.m_vPos, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
}

TEST_F(GoalTest, SameSeedSameFlight) {
    auto fly = [](Goal& goal) {
        goal.SetParameters(g_Settings);
        goal.m_vTarget = D3DXVECTOR3(500.0f, 50.0f, -700.0f);
        Goal::s_vPrevTarget = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        SRand(2024);
        for (int frame = 0; frame < 3000; ++frame) {  // 90 s: several waypoints
            goal.UpdateTarget();
            goal.FrameMove();
        }
        return goal.m_vPos;
    };
    Goal a, b;
    const D3DXVECTOR3 pa = fly(a);
    EXPECT_EQ(fly(b), pa);
    EXPECT_EQ(b.m_vTarget, a.m_vTarget);
    EXPECT_NE(a.m_vTarget, D3DXVECTOR3(500.0f, 50.0f, -700.0f));
}

// The goal's model is the proxy bird, never drawn; its object carries the
// world matrix the position is read from.
class GoalModelTest : public device_draw::DrawFixture {
protected:
    void TearDown() override {
        m_goal.DeleteDeviceObjects();
        g_fElapsedTime = 0.0f;
        DrawFixture::TearDown();
    }
    Goal m_goal;
};

TEST_F(GoalModelTest, PositionIsTheStartOfTheLatestMove) {
    m_goal.SetParameters(g_Settings);
    ASSERT_EQ(m_goal.InitDeviceObjects(m_pDevice, D3DCAPS8{}), S_OK);
    ASSERT_NE(m_goal.m_pDammyObj, nullptr);
    EXPECT_EQ(m_goal.m_pDammyObj->Model(), m_goal.m_pDammyMdl);
    EXPECT_GT(m_goal.m_pDammyMdl->DammyCount(), 0u);

    g_fElapsedTime = 0.03f;
    m_goal.m_vTarget = D3DXVECTOR3(-800.0f, 100.0f, 900.0f);
    for (int frame = 0; frame < 50; ++frame) {
        const D3DXVECTOR3 before = m_goal.m_vPos;
        m_goal.FrameMove();
        EXPECT_EQ(m_goal.GetPosition(), before);
        const D3DXMATRIX& world = m_goal.m_pDammyObj->World();
        EXPECT_EQ(m_goal.m_vDir, D3DXVECTOR3(world.m[2][0], world.m[2][1], world.m[2][2]));
    }
    EXPECT_EQ(m_goal.DeleteDeviceObjects(), S_OK);
    EXPECT_EQ(m_goal.m_pDammyMdl, nullptr);
    EXPECT_EQ(m_goal.m_pDammyObj, nullptr);
}
