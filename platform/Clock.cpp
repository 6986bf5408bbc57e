#include "platform/Clock.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerUs = 1'000;

// Constant-initialised: objects built before main may already read the clock.
constinit std::atomic<bool> g_fake{false};
constinit std::atomic<std::int64_t> g_fakeNs{0};
constinit std::atomic<std::int64_t> g_frameStepNs{0};
constinit std::atomic<bool> g_counterAvailable{true};

std::int64_t NowNs() {
    // The first read of any clock, which may come from an object built
    // before main, already sees a fake clock that the environment asks for,
    // so that everything seeded from the clock repeats from run to run.
    static const bool fromEnvironment = platform::InitClockFromEnvironment();
    (void)fromEnvironment;
    if (g_fake.load(std::memory_order_relaxed)) {
        return g_fakeNs.load(std::memory_order_relaxed);
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

// A positive decimal integer whose value in nanoseconds fits into 64 bits.
bool ParseStepUs(const char* text, std::int64_t& stepUs) {
    if (text == nullptr || *text == '\0') return false;
    std::int64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        const int digit = *p - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() / kNsPerUs - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (value <= 0) return false;
    stepUs = value;
    return true;
}

}  // namespace

BOOL QueryPerformanceCounter(LONGLONG* count) {
    if (count == nullptr) return FALSE;
    if (!g_counterAvailable.load(std::memory_order_relaxed)) {
        *count = 0;
        return FALSE;
    }
    *count = NowNs();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LONGLONG* freq) {
    if (freq == nullptr) return FALSE;
    if (!g_counterAvailable.load(std::memory_order_relaxed)) {
        *freq = 0;
        return FALSE;
    }
    *freq = kNsPerSecond;
    return TRUE;
}

DWORD timeGetTime() {
    // Two's-complement wrap: the low 32 bits of the millisecond count.
    const std::int64_t ms = NowNs() / kNsPerMs;
    return static_cast<DWORD>(static_cast<std::uint64_t>(ms));
}

UINT timeBeginPeriod(UINT period) { return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

UINT timeEndPeriod(UINT period) { return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

namespace platform {

void UseFakeClock(std::int64_t startNs) {
    g_fakeNs.store(startNs, std::memory_order_relaxed);
    g_frameStepNs.store(0, std::memory_order_relaxed);
    g_fake.store(true, std::memory_order_relaxed);
}

void AdvanceFakeClock(std::int64_t ns) {
    if (g_fake.load(std::memory_order_relaxed)) {
        g_fakeNs.fetch_add(ns, std::memory_order_relaxed);
    }
}

void UseRealClock() {
    g_fake.store(false, std::memory_order_relaxed);
    g_frameStepNs.store(0, std::memory_order_relaxed);
}

bool IsFakeClock() { return g_fake.load(std::memory_order_relaxed); }

bool InitClockFromEnvironment() {
    std::int64_t stepUs = 0;
    if (!ParseStepUs(std::getenv("GLIMMERWING_FAKE_CLOCK_STEP_US"), stepUs)) return false;
    UseFakeClock(kEnvironmentFakeClockStartNs);
    g_frameStepNs.store(stepUs * kNsPerUs, std::memory_order_relaxed);
    return true;
}

void ClockFrameStep() {
    const std::int64_t step = g_frameStepNs.load(std::memory_order_relaxed);
    if (step != 0) AdvanceFakeClock(step);
}

void PauseMicroseconds(unsigned long microseconds) {
    timespec pause{static_cast<time_t>(microseconds / 1'000'000),
                   static_cast<long>(microseconds % 1'000'000) * static_cast<long>(kNsPerUs)};
    nanosleep(&pause, nullptr);  // a signal ends it early (EINTR), and the caller moves on
}

void SetPerformanceCounterAvailableForTesting(bool available) {
    g_counterAvailable.store(available, std::memory_order_relaxed);
}

}  // namespace platform
