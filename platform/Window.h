// Windows and the message queue, in the Win32 shape the saver's entry code is
// written in, over an SDL2 window.
//
// Posted messages and the messages made from SDL events share one queue:
//   mouse motion       -> WM_MOUSEMOVE (lParam client x/y, MSG::pt in screen coordinates)
//   mouse buttons      -> WM_LBUTTONDOWN / WM_RBUTTONDOWN / WM_MBUTTONDOWN (and the ...UP)
//   focus lost/gained  -> WM_ACTIVATEAPP with wParam 0 / 1
//   close request      -> WM_CLOSE (the window's close box, SIGINT / SIGTERM)
//   key down / up      -> WM_KEYDOWN / WM_KEYUP (the saver polls the keyboard instead)
// No suspend query ever arrives: the system does not ask us.
//
// Every window is created with an OpenGL-capable surface, so the graphics
// device can attach to it. A window manager draws frames outside the client
// area, so a window's size is its client size and AdjustWindowRect adds nothing.
#pragma once

#include "platform/Win32Types.h"

struct SDL_Window;

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
};

inline const char* const IDC_ARROW = MAKEINTRESOURCEA(32512);
constexpr int WHITE_BRUSH = 0;

ATOM RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(const char* className, HINSTANCE instance);
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
HBRUSH GetStockBrush(int brush);

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int command);
BOOL GetClientRect(HWND hwnd, RECT* rect);
HWND GetForegroundWindow();
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);
int GetSystemMetrics(int index);

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);

namespace platform {

// The SDL window behind a handle (null for a destroyed or unknown window).
SDL_Window* SdlWindowOf(HWND hwnd);

// The graphics device keeps the SDL window of its window alive until it is
// released, as a Direct3D device may outlive its window's destruction: a
// destroyed window is hidden, and its SDL window goes with the last reference.
void RetainSdlWindow(HWND hwnd);
void ReleaseSdlWindow(HWND hwnd);

// Starts SDL's video subsystem once; false when there is no display.
bool EnsureVideo();

// Drops every queued message and forgets every window class (tests).
void ResetWindowingForTesting();

}  // namespace platform
