// The saver as an XScreenSaver hack: it draws into a window that another
// program owns (--root, --window-id) or into a resizable window of its own
// (--window), with the built-in settings changed by the command line.
//
// Unlike a Windows-style run there is no single-instance rule (XScreenSaver
// runs one hack per screen while its settings' preview runs another), input
// does not end the run (the host does: SIGTERM, SIGINT, or destroying the
// window, each an ordinary end with exit code 0), and the frames are paced:
// a pause of --delay microseconds after each, and the display's retrace where
// the driver has one. The picture takes the window's shape and the back
// buffer its size, frame by frame.
#pragma once

#include "app/Options.h"
#include "platform/Win32Types.h"

// Runs the hack that `options` describe (route Hack) and returns the exit code.
int RunHack(const CommandLineOptions& options);

// Before each frame: the projection takes the window's shape, and the
// frame-rate text a size for the window's height.
void FollowHostWindow(HWND hwnd);

// The frame-rate font's cell height in back-buffer pixels, such that the text
// is about a thirtieth of the window's height on the window (at least 10
// pixels, so that it stays readable in a small preview pane).
int FrameRateFontHeight(int backBufferHeight, int windowHeight);
