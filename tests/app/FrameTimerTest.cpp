#include <gtest/gtest.h>

#include <cstdint>

#include "app/FrameTimer.h"
#include "platform/Clock.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSec = 1'000 * kMs;
constexpr float kTol = 1e-5f;

void Wait(std::int64_t ms) { platform::AdvanceFakeClock(ms * kMs); }

class FrameTimerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        platform::SetPerformanceCounterAvailableForTesting(GetParam());
        platform::UseFakeClock(100 * kSec);
        FrameTimerResetForTesting();
    }
    void TearDown() override {
        FrameTimerResetForTesting();
        platform::SetPerformanceCounterAvailableForTesting(true);
        platform::UseRealClock();
    }
};

// Every case runs in counter mode and in the millisecond fallback mode.
INSTANTIATE_TEST_SUITE_P(Modes, FrameTimerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Counter" : "Fallback"; });

TEST_P(FrameTimerTest, ElapsedTimeMeasuresFromStartAndBetweenQueries) {
    Wait(5000);  // before the first Start: not part of any result
    EXPECT_EQ(FrameTimer(TIMER_START), 0.0f);
    Wait(250);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.25f, kTol);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.0f, kTol);
    Wait(16);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.016f, kTol);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 0.266f, kTol);
}

TEST_P(FrameTimerTest, StoppedTimeIsCutOutOfAppTime) {
    FrameTimer(TIMER_START);
    Wait(1000);
    EXPECT_EQ(FrameTimer(TIMER_STOP), 0.0f);
    const float absAtStop = FrameTimer(TIMER_GETABSOLUTETIME);
    Wait(3000);
    // While stopped, elapsed and application time stand still; absolute time runs.
    EXPECT_EQ(FrameTimer(TIMER_GETELAPSEDTIME), 0.0f);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 1.0f, kTol);
    EXPECT_NEAR(FrameTimer(TIMER_GETABSOLUTETIME) - absAtStop, 3.0f, kTol);
    FrameTimer(TIMER_STOP);  // a second Stop changes nothing
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 1.0f, kTol);

    FrameTimer(TIMER_START);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.0f, kTol);
    Wait(500);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 1.5f, kTol);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.5f, kTol);
}

TEST_P(FrameTimerTest, AdvanceStepsOnlyAStoppedTimer) {
    FrameTimer(TIMER_START);
    Wait(1000);
    FrameTimer(TIMER_STOP);
    EXPECT_EQ(FrameTimer(TIMER_ADVANCE), 0.0f);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 1.1f, kTol);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.1f, kTol);
    EXPECT_EQ(FrameTimer(TIMER_GETELAPSEDTIME), 0.0f);
    Wait(2000);
    FrameTimer(TIMER_START);  // continues from the stepped time
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 1.1f, kTol);

    // On a running timer Advance must not throw the clock back to its origin.
    Wait(100);
    FrameTimer(TIMER_GETELAPSEDTIME);
    FrameTimer(TIMER_ADVANCE);
    Wait(20);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.02f, kTol);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 1.22f, kTol);
}

TEST_P(FrameTimerTest, ResetRestartsAppTimeAndUnknownCommandsChangeNothing) {
    EXPECT_EQ(FrameTimer(TIMER_RESET), 0.0f);  // runs the timer without a Start
    Wait(700);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 0.7f, kTol);
    EXPECT_EQ(FrameTimer(TIMER_RESET), 0.0f);
    EXPECT_EQ(FrameTimer(TIMER_GETAPPTIME), 0.0f);
    Wait(40);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 0.04f, kTol);
    // Unknown commands answer -1 and leave the state alone.
    for (int command : {7, -1, 100}) EXPECT_EQ(FrameTimer(command), -1.0f) << command;
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.04f, kTol);
}

TEST_P(FrameTimerTest, AbsoluteTimeKeepsFrameResolutionOnALongRunningMachine) {
    // 200 days of uptime: seconds since boot as a float would step by 2 s.
    platform::UseFakeClock(200LL * 86400 * kSec);
    const float t0 = FrameTimer(TIMER_GETABSOLUTETIME);
    Wait(1234);
    EXPECT_NEAR(FrameTimer(TIMER_GETABSOLUTETIME) - t0, 1.234f, 1e-4f);
}

TEST(FrameTimerModeTest, ModeIsChosenOnFirstUseAndKept) {
    platform::UseFakeClock(100 * kSec);
    platform::SetPerformanceCounterAvailableForTesting(false);
    FrameTimerResetForTesting();
    FrameTimer(TIMER_START);
    // The counter appearing later does not switch modes: sub-millisecond steps
    // stay invisible to the millisecond clock.
    platform::SetPerformanceCounterAvailableForTesting(true);
    platform::AdvanceFakeClock(400'000);
    EXPECT_EQ(FrameTimer(TIMER_GETELAPSEDTIME), 0.0f);

    // Counter mode sees them.
    FrameTimerResetForTesting();
    FrameTimer(TIMER_START);
    platform::AdvanceFakeClock(400'000);
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.0004f, 1e-7f);

    FrameTimerResetForTesting();
    platform::UseRealClock();
}

TEST(FrameTimerModeTest, FallbackSurvivesTheMillisecondClockWrap) {
    platform::UseFakeClock(((std::int64_t{1} << 32) - 100) * kMs);
    platform::SetPerformanceCounterAvailableForTesting(false);
    FrameTimerResetForTesting();
    FrameTimer(TIMER_START);
    Wait(300);  // the 32-bit millisecond value wraps to 200
    EXPECT_NEAR(FrameTimer(TIMER_GETELAPSEDTIME), 0.3f, kTol);
    EXPECT_NEAR(FrameTimer(TIMER_GETAPPTIME), 0.3f, kTol);

    FrameTimerResetForTesting();
    platform::SetPerformanceCounterAvailableForTesting(true);
    platform::UseRealClock();
}

}  // namespace
