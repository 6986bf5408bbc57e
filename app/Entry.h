// The process entry: the command line, the single saver window, its message
// loop and the window procedures that close a full-screen run on mouse input,
// deactivation or a suspend query.
#pragma once

#include "platform/Win32Types.h"

extern HINSTANCE g_hInstance;
extern BOOL g_bWindowed;
extern POINT g_ptCursor;
extern DWORD g_dwMouseTolerance;

inline constexpr const char* kWindowClassName = "WindowsScreenSaverClass";
inline constexpr const char* kWindowTitle = "Glimmerwing Screen Saver";
inline constexpr const char* kMutexName = "GLIMMERWING_SCREEN_SAVER";
constexpr int kIconResource = 156;

// Exit code of a saver run whose message loop was never entered.
constexpr int kExitStartFailed = 1;

// The entry point: `commandLine` is the text after the program name.
int WinMain(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int show);

int RunScreenSaver();
LRESULT ScreenSaverWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ScreenSaverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
