// One frame of the saver: time step, keyboard, scene update, drawing,
// presentation and the frame-rate text.
#pragma once

#include "app/FrameState.h"
#include "platform/Win32Types.h"

void Tick(HWND hwnd);
void ReadKeys();
void FrameMove();
void Render();
void DrawFPS();

// The frame-rate text as last formatted, and the reset of its counters (tests).
const char* FrameRateText();
void ResetFrameRateForTesting();
