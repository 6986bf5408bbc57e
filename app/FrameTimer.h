// The process-wide stopwatch of the saver: reset, start, stop, step, and the
// absolute, application and per-frame elapsed times, all through one function.
#pragma once

enum TimerCommand {
    TIMER_RESET,
    TIMER_START,
    TIMER_STOP,
    TIMER_ADVANCE,
    TIMER_GETABSOLUTETIME,
    TIMER_GETAPPTIME,
    TIMER_GETELAPSEDTIME
};

// Runs one TimerCommand and returns its result in seconds (0.0 for the
// commands that only change the state, -1.0 for an unknown command). Uses the
// performance counter, or the millisecond clock when there is no counter.
// Not thread-safe: only the window thread calls it.
float FrameTimer(int command);

// Returns the timer to its state at process start (stopped, not initialised),
// so the next call chooses the clock again.
void FrameTimerResetForTesting();
