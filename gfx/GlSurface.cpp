#include "gfx/GlSurface.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>

#include "platform/Window.h"

// Xlib's headers come last: their macros (None, Bool, Status ...) would
// otherwise reach everything above.
#include <epoxy/gl.h>
#include <epoxy/glx.h>

struct GlSurface::Glx {
    ::Display* display = nullptr;
    int screen = 0;
    ::Window window = 0;
    GLXContext context = nullptr;
    bool doubleBuffered = true;
    int width = 0;  // the window's size as last read, kept after it has gone
    int height = 0;
};

namespace {

// The framebuffer configuration of the window's visual. Where the visual has
// several, a double-buffered one with a depth buffer is preferred (the device
// then draws straight into the window), the one closest to 16 depth bits and
// without stencil bits first (no more to clear than the scene uses).
GLXFBConfig ConfigForVisual(::Display* display, int screen, unsigned long visualId, bool& doubleBuffered) {
    int count = 0;
    GLXFBConfig* configs = glXGetFBConfigs(display, screen, &count);
    GLXFBConfig chosen = nullptr;
    long chosenRank = -1;
    doubleBuffered = false;
    for (int i = 0; i < count; ++i) {
        int visual = 0, drawable = 0, render = 0, doubled = 0, depth = 0, stencil = 0;
        glXGetFBConfigAttrib(display, configs[i], GLX_VISUAL_ID, &visual);
        glXGetFBConfigAttrib(display, configs[i], GLX_DRAWABLE_TYPE, &drawable);
        glXGetFBConfigAttrib(display, configs[i], GLX_RENDER_TYPE, &render);
        glXGetFBConfigAttrib(display, configs[i], GLX_DOUBLEBUFFER, &doubled);
        glXGetFBConfigAttrib(display, configs[i], GLX_DEPTH_SIZE, &depth);
        glXGetFBConfigAttrib(display, configs[i], GLX_STENCIL_SIZE, &stencil);
        if (static_cast<unsigned long>(visual) != visualId || !(drawable & GLX_WINDOW_BIT) || !(render & GLX_RGBA_BIT))
            continue;
        const long rank = (doubled ? 4000L : 0L) + (depth >= 16 ? 2000L : 0L) + (stencil == 0 ? 1000L : 0L) -
                          std::min(999L, static_cast<long>(std::abs(depth - 16)));
        if (rank > chosenRank) {
            chosen = configs[i];
            chosenRank = rank;
            doubleBuffered = doubled != 0;
        }
    }
    if (configs) XFree(configs);
    return chosen;
}

}  // namespace

HRESULT GlSurface::Create(HWND window, bool debug, std::unique_ptr<GlSurface>& surface) {
    std::unique_ptr<GlSurface> made(new GlSurface());  // private constructor
    made->m_hWindow = window;
    const HRESULT hr = platform::ForeignWindowOf(window) ? made->CreateGlx(debug) : made->CreateSdl(debug);
    if (FAILED(hr)) return hr;
    if (epoxy_gl_version() < 33) return D3DERR_NOTAVAILABLE;
    surface = std::move(made);
    return D3D_OK;
}

HRESULT GlSurface::CreateSdl(bool debug) {
    SDL_Window* window = platform::SdlWindowOf(m_hWindow);
    if (!window) return D3DERR_INVALIDCALL;
    m_pSdlWindow = window;
    platform::RetainSdlWindow(m_hWindow);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, debug ? SDL_GL_CONTEXT_DEBUG_FLAG : 0);
    m_pSdlContext = SDL_GL_CreateContext(window);
    if (!m_pSdlContext) return D3DERR_NOTAVAILABLE;
    return SDL_GL_MakeCurrent(window, static_cast<SDL_GLContext>(m_pSdlContext)) == 0 ? D3D_OK
                                                                                       : D3DERR_NOTAVAILABLE;
}

HRESULT GlSurface::CreateGlx(bool debug) {
    const platform::ForeignWindow* host = platform::ForeignWindowOf(m_hWindow);
    auto* display = static_cast<::Display*>(host->display);
    int errorBase = 0, eventBase = 0;
    if (!glXQueryExtension(display, &errorBase, &eventBase) ||
        !epoxy_has_glx_extension(display, host->screen, "GLX_ARB_create_context_profile"))
        return D3DERR_NOTAVAILABLE;

    auto glx = std::make_unique<Glx>();
    glx->display = display;
    glx->screen = host->screen;
    glx->window = host->window;
    glx->width = host->width;
    glx->height = host->height;
    GLXFBConfig config = ConfigForVisual(display, host->screen, host->visualId, glx->doubleBuffered);
    if (!config) return D3DERR_NOTAVAILABLE;

    const int attributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB,
                              3,
                              GLX_CONTEXT_MINOR_VERSION_ARB,
                              3,
                              GLX_CONTEXT_PROFILE_MASK_ARB,
                              GLX_CONTEXT_CORE_PROFILE_BIT_ARB,
                              GLX_CONTEXT_FLAGS_ARB,
                              debug ? GLX_CONTEXT_DEBUG_BIT_ARB : 0,
                              None};
    platform::BeginX11ErrorTrap();
    glx->context = glXCreateContextAttribsARB(display, config, nullptr, True, attributes);
    const int createError = platform::EndX11ErrorTrap();
    m_pGlx = std::move(glx);  // the destructor deletes whatever was made
    if (!m_pGlx->context || createError != 0) return D3DERR_NOTAVAILABLE;

    platform::BeginX11ErrorTrap();
    const Bool current = glXMakeCurrent(display, m_pGlx->window, m_pGlx->context);
    if (platform::EndX11ErrorTrap() != 0 || !current) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

GlSurface::~GlSurface() {
    if (m_pGlx) {
        if (m_pGlx->context) {
            glXMakeCurrent(m_pGlx->display, None, nullptr);
            glXDestroyContext(m_pGlx->display, m_pGlx->context);
        }
        return;
    }
    if (m_pSdlContext) SDL_GL_DeleteContext(static_cast<SDL_GLContext>(m_pSdlContext));
    if (m_pSdlWindow) platform::ReleaseSdlWindow(m_hWindow);
}

void GlSurface::MakeCurrent() {
    if (!m_pGlx) {
        SDL_GL_MakeCurrent(m_pSdlWindow, static_cast<SDL_GLContext>(m_pSdlContext));
        return;
    }
    platform::BeginX11ErrorTrap();
    // An OpenGL 3 context may be current without a drawable.
    if (platform::ForeignWindowOf(m_hWindow))
        glXMakeCurrent(m_pGlx->display, m_pGlx->window, m_pGlx->context);
    else
        glXMakeContextCurrent(m_pGlx->display, None, None, m_pGlx->context);
    platform::EndX11ErrorTrap();
}

void GlSurface::WindowSize(int& width, int& height) const {
    if (!m_pGlx) SDL_GetWindowSize(m_pSdlWindow, &width, &height);
    else DrawableSize(width, height);
}

void GlSurface::DrawableSize(int& width, int& height) const {
    if (!m_pGlx) {
        SDL_GL_GetDrawableSize(m_pSdlWindow, &width, &height);
        return;
    }
    if (const platform::ForeignWindow* host = platform::ForeignWindowOf(m_hWindow)) {
        m_pGlx->width = host->width;
        m_pGlx->height = host->height;
    }
    width = m_pGlx->width;
    height = m_pGlx->height;
}

void GlSurface::Swap() {
    if (!m_pGlx) {
        SDL_GL_SwapWindow(m_pSdlWindow);
        return;
    }
    if (!platform::ForeignWindowOf(m_hWindow)) return;  // the window has gone
    if (m_pGlx->doubleBuffered) glXSwapBuffers(m_pGlx->display, m_pGlx->window);
    else glFlush();
}

void GlSurface::SetSwapInterval(int interval) {
    if (!m_pGlx) {
        SDL_GL_SetSwapInterval(interval);
        return;
    }
    platform::BeginX11ErrorTrap();
    if (epoxy_has_glx_extension(m_pGlx->display, m_pGlx->screen, "GLX_EXT_swap_control"))
        glXSwapIntervalEXT(m_pGlx->display, m_pGlx->window, interval);
    else if (epoxy_has_glx_extension(m_pGlx->display, m_pGlx->screen, "GLX_MESA_swap_control"))
        glXSwapIntervalMESA(static_cast<unsigned>(interval));
    platform::EndX11ErrorTrap();
}

bool GlSurface::IsMinimized() const {
    return !m_pGlx && (SDL_GetWindowFlags(m_pSdlWindow) & SDL_WINDOW_MINIMIZED) != 0;
}

bool GlSurface::HasWindow() const { return !m_pGlx || platform::ForeignWindowOf(m_hWindow) != nullptr; }

bool GlSurface::IsResizable() const { return platform::IsResizable(m_hWindow); }
