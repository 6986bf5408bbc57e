#include "app/FrameTimer.h"

#include <cstdint>

#include "platform/Clock.h"

namespace {

struct TimerState {
    bool bInitialised = false;
    bool bUsingQPF = false;
    bool bTimerStopped = true;  // the timer starts stopped
    // Counter mode, in counter ticks.
    LONGLONG llQPFTicksPerSec = 0;
    LONGLONG llStopTime = 0;  // 0 = not stopped
    LONGLONG llLastElapsedTime = 0;
    LONGLONG llBaseTime = 0;
    LONGLONG llOriginTime = 0;  // counter at the first call: zero of AbsoluteTime
    // Fallback mode, in seconds.
    double fStopTime = 0.0;  // 0.0 = not stopped
    double fLastElapsedTime = 0.0;
    double fBaseTime = 0.0;
    double fOriginTime = 0.0;
    // The millisecond clock wraps every 49.7 days; it is unwrapped into 64 bits.
    DWORD dwLastClockMs = 0;
    std::uint64_t qwClockWrapMs = 0;
};

constinit TimerState g_timer{};

// The millisecond clock in seconds, continuing past its 32-bit wrap.
double FallbackClockSeconds() {
    const DWORD ms = timeGetTime();
    if (ms < g_timer.dwLastClockMs) g_timer.qwClockWrapMs += std::uint64_t{1} << 32;
    g_timer.dwLastClockMs = ms;
    return static_cast<double>(g_timer.qwClockWrapMs + ms) * 0.001;
}

float CounterModeCommand(int command) {
    LONGLONG llTime = 0;
    if (g_timer.llStopTime != 0 && command != TIMER_START && command != TIMER_GETABSOLUTETIME) {
        llTime = g_timer.llStopTime;
    } else {
        QueryPerformanceCounter(&llTime);
    }
    const double ticks = static_cast<double>(g_timer.llQPFTicksPerSec);

    switch (command) {
        case TIMER_RESET:
            g_timer.llBaseTime = llTime;
            g_timer.llLastElapsedTime = llTime;
            g_timer.llStopTime = 0;
            g_timer.bTimerStopped = false;
            return 0.0f;
        case TIMER_START:
            if (g_timer.bTimerStopped) g_timer.llBaseTime += llTime - g_timer.llStopTime;
            g_timer.llStopTime = 0;
            g_timer.llLastElapsedTime = llTime;
            g_timer.bTimerStopped = false;
            return 0.0f;
        case TIMER_STOP:
            g_timer.llStopTime = llTime;
            g_timer.llLastElapsedTime = llTime;
            g_timer.bTimerStopped = true;
            return 0.0f;
        case TIMER_ADVANCE:
            // Only a stopped timer is stepped; on a running one the step would
            // turn the stop time into a moment near the clock's zero.
            if (g_timer.llStopTime != 0) g_timer.llStopTime += g_timer.llQPFTicksPerSec / 10;
            return 0.0f;
        case TIMER_GETABSOLUTETIME:
            return static_cast<float>(static_cast<double>(llTime - g_timer.llOriginTime) / ticks);
        case TIMER_GETAPPTIME:
            return static_cast<float>(static_cast<double>(llTime - g_timer.llBaseTime) / ticks);
        case TIMER_GETELAPSEDTIME: {
            const double fElapsed = static_cast<double>(llTime - g_timer.llLastElapsedTime) / ticks;
            g_timer.llLastElapsedTime = llTime;
            return static_cast<float>(fElapsed);
        }
        default:
            return -1.0f;
    }
}

float FallbackModeCommand(int command) {
    double fTime = 0.0;
    if (g_timer.fStopTime != 0.0 && command != TIMER_START && command != TIMER_GETABSOLUTETIME) {
        fTime = g_timer.fStopTime;
    } else {
        fTime = FallbackClockSeconds();
    }

    switch (command) {
        case TIMER_RESET:
            g_timer.fBaseTime = fTime;
            g_timer.fLastElapsedTime = fTime;
            g_timer.fStopTime = 0.0;
            g_timer.bTimerStopped = false;
            return 0.0f;
        case TIMER_START:
            if (g_timer.bTimerStopped) g_timer.fBaseTime += fTime - g_timer.fStopTime;
            g_timer.fStopTime = 0.0;
            g_timer.fLastElapsedTime = fTime;
            g_timer.bTimerStopped = false;
            return 0.0f;
        case TIMER_STOP:
            g_timer.fStopTime = fTime;
            g_timer.fLastElapsedTime = fTime;
            g_timer.bTimerStopped = true;
            return 0.0f;
        case TIMER_ADVANCE:
            if (g_timer.fStopTime != 0.0) g_timer.fStopTime += 0.1;
            return 0.0f;
        case TIMER_GETABSOLUTETIME:
            return static_cast<float>(fTime - g_timer.fOriginTime);
        case TIMER_GETAPPTIME:
            return static_cast<float>(fTime - g_timer.fBaseTime);
        case TIMER_GETELAPSEDTIME: {
            const double fElapsed = fTime - g_timer.fLastElapsedTime;
            g_timer.fLastElapsedTime = fTime;
            return static_cast<float>(fElapsed);
        }
        default:
            return -1.0f;
    }
}

}  // namespace

float FrameTimer(int command) {
    if (!g_timer.bInitialised) {
        g_timer.bInitialised = true;
        LONGLONG llTicksPerSec = 0;
        g_timer.bUsingQPF = QueryPerformanceFrequency(&llTicksPerSec) != FALSE && llTicksPerSec > 0;
        if (g_timer.bUsingQPF) {
            g_timer.llQPFTicksPerSec = llTicksPerSec;
            QueryPerformanceCounter(&g_timer.llOriginTime);
        } else {
            g_timer.fOriginTime = FallbackClockSeconds();
        }
    }
    return g_timer.bUsingQPF ? CounterModeCommand(command) : FallbackModeCommand(command);
}

void FrameTimerResetForTesting() { g_timer = TimerState{}; }
