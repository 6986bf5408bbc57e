#include "platform/X11Host.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/Process.h"
#include "platform/Window.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
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

int IgnoreXError(::Display*, XErrorEvent*) { return 0; }

// The window that `window`'s _NET_SUPPORTING_WM_CHECK names, or None.
Window SupportingWmCheck(::Display* display, Window window, Atom check) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window named = None;
    if (XGetWindowProperty(display, window, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_WINDOW && format == 32 && count == 1 && data)
        named = *reinterpret_cast<Window*>(data);
    if (data) XFree(data);
    return named;
}

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

bool WindowManagerRunsFor(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info)) return true;
    if (info.subsystem != SDL_SYSWM_X11) return true;  // a Wayland compositor manages every window
    ::Display* display = info.info.x11.display;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None) return false;  // no window manager has ever announced itself on this display
    // The check window of a window manager that has gone is gone too: the
    // error that reading it gives is expected.
    XSync(display, False);
    const auto previous = XSetErrorHandler(IgnoreXError);
    const Window manager = SupportingWmCheck(display, DefaultRootWindow(display), check);
    const bool runs = manager != None && SupportingWmCheck(display, manager, check) == manager;
    XSync(display, False);
    XSetErrorHandler(previous);
    return runs;
}

}  // namespace platform::x11
