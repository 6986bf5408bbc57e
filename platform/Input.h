// Keyboard, cursor and input-method services in their Win32 shape.
#pragma once

#include "platform/Win32Types.h"

// Virtual-key codes of the keys the saver polls.
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_PRIOR = 0x21;  // Page Up
constexpr int VK_NEXT = 0x22;   // Page Down
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
// Letters are their upper-case ASCII codes ('A' .. 'Z'), digits '0' .. '9'.

// Bit 15 is set while the key is down, and at the first call after a press
// that was released again before it (a tap between two frames is not lost).
// Pumps pending system events first, so the state is current even when no
// message was read since the last call.
SHORT GetAsyncKeyState(int virtualKey);

// The cursor display counter: the cursor shows while the count is 0 or more.
// Returns the new count.
int ShowCursor(BOOL show);

// The pointer position on the desktop.
BOOL GetCursorPos(POINT* point);

// Text input (the input-method editor) on or off for the program.
BOOL WINNLSEnableIME(HWND hwnd, BOOL enable);

namespace platform {

// Key states injected by tests instead of the keyboard; cleared by an empty call.
void SetKeyStateForTesting(int virtualKey, bool down);
void ClearKeyStatesForTesting();
void SetCursorPosForTesting(const POINT* point);  // null: the real pointer again

}  // namespace platform
