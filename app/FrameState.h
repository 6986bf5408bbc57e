// What one frame shares with the whole scene: its time step and the keys held
// down when it began. The frame loop writes both at the start of every frame;
// every FrameMove reads them.
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

// The frame's time step in seconds, never more than kMaxElapsedTime.
extern float g_fElapsedTime;
extern KeyState g_Keys;

// The longest time step a frame advances the scene by, in seconds.
constexpr float kMaxElapsedTime = 0.03f;
