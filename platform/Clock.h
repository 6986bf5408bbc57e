// Time sources: the high-resolution performance counter and the multimedia
// millisecond clock, both read from CLOCK_MONOTONIC. A fake clock can replace the
// real one so that tests and recorded runs see reproducible frames and seeds.
#pragma once

#include <cstdint>

#include "platform/Win32Types.h"

constexpr UINT TIMERR_NOERROR = 0;
constexpr UINT TIMERR_NOCANDO = 97;

// The counter in nanoseconds of the monotonic clock. FALSE (and *count = 0)
// when the counter is unavailable or count is null.
BOOL QueryPerformanceCounter(LONGLONG* count);
// 1e9 ticks per second. FALSE (and *freq = 0) when the counter is unavailable
// or freq is null.
BOOL QueryPerformanceFrequency(LONGLONG* freq);
// Milliseconds of the same clock, wrapping at 2^32. Works without the counter.
DWORD timeGetTime();
// The system timer resolution needs no raising here; both only check the value.
UINT timeBeginPeriod(UINT period);
UINT timeEndPeriod(UINT period);

namespace platform {

// The start of the fake clock turned on by InitClockFromEnvironment.
constexpr std::int64_t kEnvironmentFakeClockStartNs = 1'000'000'000;

// From now on every clock read returns startNs until it is advanced.
void UseFakeClock(std::int64_t startNs);
// Moves the fake clock forward (or back, for negative ns). No effect on the
// real clock.
void AdvanceFakeClock(std::int64_t ns);
// Back to CLOCK_MONOTONIC; the per-frame step is cleared.
void UseRealClock();
bool IsFakeClock();

// When GLIMMERWING_FAKE_CLOCK_STEP_US holds a positive decimal integer N, turns
// on a fake clock at kEnvironmentFakeClockStartNs that ClockFrameStep advances
// by N microseconds. Returns whether the fake clock was turned on; a missing or
// malformed value leaves the real clock in use.
bool InitClockFromEnvironment();
// Called once per frame: advances a clock turned on by InitClockFromEnvironment
// by its step; does nothing otherwise.
void ClockFrameStep();

// Sleeps for `microseconds` of real time, whichever clock is in use; returns
// early when a signal arrives, so that a signal's handler is acted on at once.
void PauseMicroseconds(unsigned long microseconds);

// Makes QueryPerformanceCounter / QueryPerformanceFrequency report failure, as
// on a machine without the counter. Also works with the fake clock.
void SetPerformanceCounterAvailableForTesting(bool available);

}  // namespace platform
