// The OpenGL context of a device and the window that shows its frames.
//
// The saver's own windows are SDL windows, and SDL makes their context. A
// window of another program (XScreenSaver's, a settings preview pane) gets a
// context made with GLX on that window's own screen and visual: the
// framebuffer configuration whose visual is the window's, and an OpenGL 3.3
// core context from glXCreateContextAttribsARB. A context made for another
// visual or screen could not draw into the window, and SDL never touches it.
#pragma once

#include <memory>

#include "gfx/D3D8Types.h"
#include "platform/Win32Types.h"

struct SDL_Window;

class GlSurface {
public:
    // Makes an OpenGL 3.3 core context for `window` (a debug context when
    // asked) and makes it current. D3DERR_INVALIDCALL for a handle that names
    // no window, D3DERR_NOTAVAILABLE when no such context can be had.
    static HRESULT Create(HWND window, bool debug, std::unique_ptr<GlSurface>& surface);

    GlSurface(const GlSurface&) = delete;
    GlSurface& operator=(const GlSurface&) = delete;
    // Deletes the context; the caller has released its objects first.
    ~GlSurface();

    // Makes the context current for drawing into the window. A context whose
    // window has gone is made current without one, so that objects can still
    // be released.
    void MakeCurrent();
    // The window's client size, and its drawable's size in pixels.
    void WindowSize(int& width, int& height) const;
    void DrawableSize(int& width, int& height) const;
    // Shows the default framebuffer's back buffer.
    void Swap();
    // 1: presentation waits for the display's retrace where the driver can; 0: it does not.
    void SetSwapInterval(int interval);
    bool IsMinimized() const;
    // Whether the window the context draws into is still there (another
    // program's window can go at any time).
    bool HasWindow() const;
    // Whether the window can change its size under the device.
    bool IsResizable() const;

private:
    struct Glx;
    GlSurface() = default;
    HRESULT CreateSdl(bool debug);
    HRESULT CreateGlx(bool debug);

    HWND m_hWindow = nullptr;
    SDL_Window* m_pSdlWindow = nullptr;
    void* m_pSdlContext = nullptr;  // SDL_GLContext
    std::unique_ptr<Glx> m_pGlx;
};
