// One frame of the saver: time step, keyboard, scene update, drawing,
// presentation and the frame-rate text.
#pragma once

#include "platform/Win32Types.h"

// The keys held down at the start of the frame, each 1 while down.
struct KeyState {
    DWORD bW;
    DWORD bS;
    DWORD bD;
    DWORD bA;
    DWORD bE;
    DWORD bQ;
    DWORD bUp;
    DWORD bDown;
    DWORD bLeft;
    DWORD bRight;
    DWORD bPageUp;
    DWORD bPageDown;
    DWORD bEscape;
};

extern float g_fElapsedTime;
extern KeyState g_Keys;

// The longest time step a frame advances the scene by, in seconds.
constexpr float kMaxElapsedTime = 0.03f;

void Tick(HWND hwnd);
void ReadKeys();
void FrameMove();
void Render();
void DrawFPS();

// The frame-rate text as last formatted, and the reset of its counters (tests).
const char* FrameRateText();
void ResetFrameRateForTesting();
