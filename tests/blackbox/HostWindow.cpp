// A stand-in for a screen-saver host: makes a mapped X window that another
// program is to draw into, prints its id (0x...) on a line of its own, and
// keeps it until killed (which destroys the window with the connection).
//
//   glimmerwing-test-host [WIDTHxHEIGHT] [--screen N] [--deep-visual]
//
// The window's background is a mid grey, so that a picture drawn over it is
// told from no picture at all. --deep-visual gives the window a TrueColor
// visual that is not the screen's default, where one exists.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_bStop = 0;
extern "C" void OnSignal(int) { g_bStop = 1; }

Visual* OtherTrueColorVisual(Display* display, int screen, int& depth) {
    XVisualInfo wanted{};
    wanted.screen = screen;
    wanted.c_class = TrueColor;
    int count = 0;
    XVisualInfo* infos = XGetVisualInfo(display, VisualScreenMask | VisualClassMask, &wanted, &count);
    Visual* chosen = nullptr;
    for (int i = 0; i < count && !chosen; ++i) {
        if (infos[i].visual != DefaultVisual(display, screen) && infos[i].depth >= 24) {
            chosen = infos[i].visual;
            depth = infos[i].depth;
        }
    }
    if (infos) XFree(infos);
    return chosen;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned width = 320, height = 240;
    int screen = -1;
    bool deep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screen") == 0 && i + 1 < argc) screen = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--deep-visual") == 0) deep = true;
        else if (std::sscanf(argv[i], "%ux%u", &width, &height) != 2) {
            std::fprintf(stderr, "usage: %s [WIDTHxHEIGHT] [--screen N] [--deep-visual]\n", argv[0]);
            return 2;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("glimmerwing-test-host: no display\n", stderr);
        return 1;
    }
    if (screen < 0 || screen >= ScreenCount(display)) screen = DefaultScreen(display);

    int depth = DefaultDepth(display, screen);
    Visual* visual = deep ? OtherTrueColorVisual(display, screen, depth) : nullptr;
    if (!visual) {
        visual = DefaultVisual(display, screen);
        depth = DefaultDepth(display, screen);
    }
    XSetWindowAttributes attributes{};
    attributes.colormap = XCreateColormap(display, RootWindow(display, screen), visual, AllocNone);
    attributes.background_pixel = 0x808080;
    attributes.border_pixel = 0;
    const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, width, height, 0, depth,
                                        InputOutput, visual, CWColormap | CWBackPixel | CWBorderPixel, &attributes);
    XStoreName(display, window, "glimmerwing test host");
    XSelectInput(display, window, StructureNotifyMask);
    XMapWindow(display, window);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) break;
    }
    std::printf("0x%lx\n", window);
    std::fflush(stdout);

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    while (!g_bStop) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
        usleep(20000);
    }
    XCloseDisplay(display);
    return 0;
}
