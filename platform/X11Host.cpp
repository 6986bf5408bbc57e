#include "platform/X11Host.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/Process.h"
#include "platform/Window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

::Display* g_pDisplay = nullptr;

// The error trap: while it is set, errors are counted instead of reported.
bool g_bTrapping = false;
int g_nTrappedError = 0;

std::vector<unsigned long>& QuietWindows() {
    static std::vector<unsigned long> windows;
    return windows;
}

int OnXError(::Display* display, XErrorEvent* event) {
    if (g_bTrapping) {
        if (g_nTrappedError == 0) g_nTrappedError = event->error_code;
        return 0;
    }
    const auto& quiet = QuietWindows();
    if (std::find(quiet.begin(), quiet.end(), event->resourceid) != quiet.end()) return 0;
    // Anything else is a fault of ours worth a line, but not the end of the run.
    static int reported = 0;
    if (reported < 3) {
        ++reported;
        char text[160] = "";
        XGetErrorText(display, event->error_code, text, sizeof text);
        std::fprintf(stderr, "glimmerwing: X error: %s (request %d.%d)\n", text, event->request_code,
                     event->minor_code);
    }
    return 0;
}

int OnXIoError(::Display*) { platform::DisplayConnectionLost(); }

}  // namespace

namespace platform {

void BeginX11ErrorTrap() {
    g_bTrapping = true;
    g_nTrappedError = 0;
}

int EndX11ErrorTrap() {
    if (g_pDisplay) XSync(g_pDisplay, False);
    g_bTrapping = false;
    return g_nTrappedError;
}

}  // namespace platform

namespace platform::x11 {

bool OpenDisplay(std::string& error) {
    if (g_pDisplay) return true;
    g_pDisplay = XOpenDisplay(nullptr);
    if (!g_pDisplay) {
        const char* name = XDisplayName(nullptr);
        error = std::string("cannot open the X display '") + (name ? name : "") + "'";
        return false;
    }
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnXIoError);
    return true;
}

void* Display() { return g_pDisplay; }

bool ReadWindow(unsigned long window, WindowAttributes& out) {
    if (!g_pDisplay || window == 0) return false;
    XWindowAttributes attributes{};
    BeginX11ErrorTrap();
    const Status status = XGetWindowAttributes(g_pDisplay, window, &attributes);
    g_bTrapping = false;  // a round trip has just been made: nothing is pending
    if (!status || g_nTrappedError != 0) return false;
    out.width = attributes.width;
    out.height = attributes.height;
    out.screen = XScreenNumberOfScreen(attributes.screen);
    out.visualId = XVisualIDFromVisual(attributes.visual);
    return true;
}

unsigned long RootOfDefaultScreen() { return g_pDisplay ? RootWindow(g_pDisplay, DefaultScreen(g_pDisplay)) : 0; }

bool DefaultScreenSize(int& width, int& height) {
    if (!g_pDisplay) return false;
    width = DisplayWidth(g_pDisplay, DefaultScreen(g_pDisplay));
    height = DisplayHeight(g_pDisplay, DefaultScreen(g_pDisplay));
    return true;
}

void DrainEvents() {
    if (!g_pDisplay) return;
    while (XPending(g_pDisplay) > 0) {
        XEvent event;
        XNextEvent(g_pDisplay, &event);
    }
}

void ExpectErrorsAbout(unsigned long window) { QuietWindows().push_back(window); }

}  // namespace platform::x11
