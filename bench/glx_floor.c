/* The least an OpenGL program on X does before its first frame: a window of
 * the screen's size, a double-buffered GLX visual with depth, one clear and
 * a swap, over and over. Its start-up is the floor under any saver's. */
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

int main(void) {
    Display* display = XOpenDisplay(0);
    if (!display) return 1;
    const int screen = DefaultScreen(display);
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_DEPTH_SIZE, 16, None};
    XVisualInfo* visual = glXChooseVisual(display, screen, attributes);
    if (!visual) return 2;
    XSetWindowAttributes wa = {0};
    wa.colormap = XCreateColormap(display, RootWindow(display, screen), visual->visual, AllocNone);
    wa.override_redirect = True;
    const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, DisplayWidth(display, screen),
                                        DisplayHeight(display, screen), 0, visual->depth, InputOutput, visual->visual,
                                        CWColormap | CWOverrideRedirect, &wa);
    XMapWindow(display, window);
    GLXContext context = glXCreateContext(display, visual, 0, True);
    if (!context || !glXMakeCurrent(display, window, context)) return 3;
    for (;;) {
        glClearColor(0.0f, 0.0f, 0.1f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glXSwapBuffers(display, window);
    }
}
