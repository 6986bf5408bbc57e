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
// A window with a sizing border (WS_THICKFRAME) can be resized by the user.
//
// A handle can also name an X window that another program owns and hands the
// saver to draw into (XScreenSaver's window, a settings preview pane): see
// AttachForeignWindow. SDL never touches such a window.
#pragma once

#include <string>

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

// Starts SDL's video subsystem once; false when there is no display. The
// first call sets the environment for a moment: make it before starting
// threads that may read the environment.
bool EnsureVideo();

// Drops every queued message and forgets every window class (tests).
void ResetWindowingForTesting();

// True when the window's size can change under its user: a window of ours
// with a sizing border, or a window of another program.
bool IsResizable(HWND hwnd);

// What the saver knows of an X window that another program owns.
struct ForeignWindow {
    void* display = nullptr;    // the saver's own connection to its display (a Display*)
    unsigned long window = 0;   // the X window id
    int screen = 0;             // the screen it lives on
    unsigned long visualId = 0; // its visual: a drawing context must be made for it
    int width = 0;              // its size, read again every time the queue is pumped
    int height = 0;
};

// A handle for the X window `window` of another program, whose messages go
// to the procedure of `className`. The window is never mapped, raised,
// resized, retitled or given a cursor, an icon or event selections: it is the
// other program's. When it is destroyed the handle gets WM_CLOSE, and
// DestroyWindow then only forgets it. Null, with the reason in `error`, when
// the display cannot be opened or there is no such window.
HWND AttachForeignWindow(const char* className, unsigned long window, std::string& error);

// The X window behind a handle made by AttachForeignWindow; null for others.
const ForeignWindow* ForeignWindowOf(HWND hwnd);

// The window an XScreenSaver hack draws into when asked for the root window:
// the one named by $XSCREENSAVER_WINDOW (hexadecimal 0x... or decimal), else
// the root window of the display's default screen. 0, with the reason in
// `error`, when the display cannot be opened.
unsigned long HackRootWindow(std::string& error);

// For a run that another program hosts: SIGTERM and SIGINT close the first
// window as its close box would, and SDL's video, should it start, neither
// holds the screen saver off nor handles those signals itself.
void PrepareHostedRun();

// The size of the default screen of the display that foreign windows live on;
// false (and nothing written) while no foreign window has opened it.
bool HostDisplaySize(int* width, int* height);

// X protocol errors on the saver's connection between these two calls are
// caught instead of reported; End makes a round trip and returns the first
// error's code (0 for none).
void BeginX11ErrorTrap();
int EndX11ErrorTrap();

}  // namespace platform
