#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSec = 1'000'000'000;

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv(kVar)) m_saved = v;
    }
    void TearDown() override {
        platform::UseRealClock();
        platform::SetPerformanceCounterAvailableForTesting(true);
        if (m_saved) {
            setenv(kVar, m_saved->c_str(), 1);
        } else {
            unsetenv(kVar);
        }
    }
    static constexpr const char* kVar = "GLIMMERWING_FAKE_CLOCK_STEP_US";
    std::optional<std::string> m_saved;
};

LONGLONG Counter() {
    LONGLONG c = 0;
    EXPECT_EQ(QueryPerformanceCounter(&c), TRUE);
    return c;
}

TEST_F(ClockTest, RealCounterIsNanosecondsAndMillisecondClockFollowsIt) {
    LONGLONG freq = 0;
    ASSERT_EQ(QueryPerformanceFrequency(&freq), TRUE);
    EXPECT_EQ(freq, kSec);

    const LONGLONG before = Counter();
    const DWORD ms = timeGetTime();
    const LONGLONG after = Counter();
    EXPECT_LE(before, after);
    // The millisecond value lies between the two counter reads (modulo 2^32).
    const DWORD lo = static_cast<DWORD>(before / kMs);
    const DWORD hi = static_cast<DWORD>(after / kMs);
    EXPECT_LE(static_cast<DWORD>(ms - lo), static_cast<DWORD>(hi - lo));

    EXPECT_EQ(QueryPerformanceCounter(nullptr), FALSE);
}

TEST_F(ClockTest, FakeClockDrivesCounterAndMillisecondsAndWraps) {
    platform::UseFakeClock(5 * kSec + 999'999);
    EXPECT_TRUE(platform::IsFakeClock());
    EXPECT_EQ(Counter(), 5 * kSec + 999'999);
    EXPECT_EQ(timeGetTime(), 5000u);  // milliseconds are truncated

    platform::AdvanceFakeClock(1);
    EXPECT_EQ(timeGetTime(), 5001u);

    // The millisecond clock is a 32-bit value: 2^32 + 7 ms reads as 7.
    platform::UseFakeClock(((std::int64_t{1} << 32) + 7) * kMs);
    EXPECT_EQ(timeGetTime(), 7u);
}

TEST_F(ClockTest, MissingCounterFailsButMillisecondClockStillRuns) {
    platform::UseFakeClock(42 * kSec);
    platform::SetPerformanceCounterAvailableForTesting(false);
    LONGLONG value = 123;
    EXPECT_EQ(QueryPerformanceFrequency(&value), FALSE);
    EXPECT_EQ(value, 0);
    value = 123;
    EXPECT_EQ(QueryPerformanceCounter(&value), FALSE);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(timeGetTime(), 42000u);
}

TEST_F(ClockTest, EnvironmentStepAdvancesOncePerFrame) {
    setenv(kVar, "16667", 1);
    ASSERT_TRUE(platform::InitClockFromEnvironment());
    EXPECT_EQ(Counter(), platform::kEnvironmentFakeClockStartNs);
    platform::ClockFrameStep();
    platform::ClockFrameStep();
    EXPECT_EQ(Counter(), platform::kEnvironmentFakeClockStartNs + 2 * 16'667'000);

    // A fake clock set up by a test is not stepped by the frame loop.
    platform::UseFakeClock(kSec);
    platform::ClockFrameStep();
    EXPECT_EQ(Counter(), kSec);
}

TEST_F(ClockTest, MalformedEnvironmentStepKeepsRealClock) {
    for (const char* bad : {"", "0", "-5", "+5", "12x", " 12", "1.5", "99999999999999999999"}) {
        setenv(kVar, bad, 1);
        EXPECT_FALSE(platform::InitClockFromEnvironment()) << "'" << bad << "'";
        EXPECT_FALSE(platform::IsFakeClock()) << "'" << bad << "'";
    }
    unsetenv(kVar);
    EXPECT_FALSE(platform::InitClockFromEnvironment());
}

}  // namespace
