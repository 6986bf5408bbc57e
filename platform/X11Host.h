// The saver's own connection to the X display of windows that other programs
// own (XScreenSaver's full-screen window, a settings preview pane), for the
// window layer. Only X11Host.cpp includes Xlib.
//
// Once the connection is open, an X protocol error no longer ends the
// process (a host may destroy its window at any moment), and a lost
// connection ends it at once with one line on standard error, so that a
// saver whose display went away never spins.
#pragma once

#include <string>

struct SDL_Window;

namespace platform::x11 {

// Opens the display named by $DISPLAY, once. False, with the reason, when it
// cannot be opened.
bool OpenDisplay(std::string& error);

// The open connection (a Display*), or null.
void* Display();

struct WindowAttributes {
    int width = 0;
    int height = 0;
    int screen = 0;
    unsigned long visualId = 0;
};

// Reads a window's attributes (one round trip). False when there is no such
// window, or no longer one.
bool ReadWindow(unsigned long window, WindowAttributes& out);

// The root window of the connection's default screen (the screen $DISPLAY
// names).
unsigned long RootOfDefaultScreen();

// The size of the connection's default screen; false without a connection.
bool DefaultScreenSize(int& width, int& height);

// Drops the events queued on the connection: no window of ours selects any,
// but a queue nobody reads must not grow.
void DrainEvents();

// Errors about this window are expected (it is the host's to destroy) and
// are not reported.
void ExpectErrorsAbout(unsigned long window);

// Whether a window manager looks after the display of this SDL window: on X,
// one that announces itself the EWMH way (the root's _NET_SUPPORTING_WM_CHECK
// names a live window that names itself); on any other display, always.
bool WindowManagerRunsFor(SDL_Window* window);

}  // namespace platform::x11
