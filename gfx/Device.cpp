#include "gfx/Device.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/DeviceInternal.h"
#include "gfx/DeviceResources.h"
#include "gfx/GlSurface.h"
#include "platform/Window.h"

namespace {

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m.m[0][0] = m.m[1][1] = m.m[2][2] = m.m[3][3] = 1.0f;
    return m;
}

bool IsValidTransform(D3DTRANSFORMSTATETYPE t) {
    return t == D3DTS_VIEW || t == D3DTS_PROJECTION || (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) ||
           (t >= D3DTS_WORLD && t < 512);
}

bool SoftwareVertexForced() {
    const char* v = std::getenv("GLIMMERWING_SOFTWARE_VERTEX");
    return v && std::strcmp(v, "1") == 0;
}

// GLIMMERWING_GL_DEBUG=1 asks the driver for a debug context and prints its
// debug messages (KHR_debug) on stderr.
bool GlDebugRequested() {
    const char* v = std::getenv("GLIMMERWING_GL_DEBUG");
    return v && std::strcmp(v, "1") == 0;
}

const char* DebugSource(GLenum source) {
    switch (source) {
        case GL_DEBUG_SOURCE_API: return "API";
        case GL_DEBUG_SOURCE_WINDOW_SYSTEM: return "window system";
        case GL_DEBUG_SOURCE_SHADER_COMPILER: return "shader compiler";
        case GL_DEBUG_SOURCE_THIRD_PARTY: return "third party";
        case GL_DEBUG_SOURCE_APPLICATION: return "application";
        default: return "other";
    }
}

const char* DebugType(GLenum type) {
    switch (type) {
        case GL_DEBUG_TYPE_ERROR: return "error";
        case GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR: return "deprecated";
        case GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR: return "undefined behaviour";
        case GL_DEBUG_TYPE_PORTABILITY: return "portability";
        case GL_DEBUG_TYPE_PERFORMANCE: return "performance";
        default: return "other";
    }
}

const char* DebugSeverity(GLenum severity) {
    switch (severity) {
        case GL_DEBUG_SEVERITY_HIGH: return "high";
        case GL_DEBUG_SEVERITY_MEDIUM: return "medium";
        case GL_DEBUG_SEVERITY_LOW: return "low";
        default: return "note";
    }
}

void GLAPIENTRY PrintDebugMessage(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length,
                                  const GLchar* message, const void*) {
    std::fprintf(stderr, "glimmerwing: GL debug (%s, %s, %s, %u): %.*s\n", DebugSource(source), DebugType(type),
                 DebugSeverity(severity), id, static_cast<int>(length < 0 ? std::strlen(message) : length),
                 message);
}

// The size of one attachment of the window's framebuffer (bound now), 0 where it has none.
int WindowAttachmentBits(GLenum attachment, GLenum size) {
    GLint type = GL_NONE;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
    if (type == GL_NONE) return 0;
    GLint bits = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, size, &bits);
    return bits;
}

// The colour formats a display adapter offers today: 32-bit modes only.
bool IsDisplayFormat(D3DFORMAT f) { return f == D3DFMT_X8R8G8B8; }
bool IsBackBufferFormat(D3DFORMAT f) { return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8; }

}  // namespace

D3DCAPS8 DeviceCapabilities() {
    D3DCAPS8 caps{};
    caps.DeviceType = D3DDEVTYPE_HAL;
    caps.AdapterOrdinal = D3DADAPTER_DEFAULT;
    caps.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    caps.MaxTextureWidth = 4096;
    caps.MaxTextureHeight = 4096;
    caps.MaxTextureRepeat = 8192;
    caps.MaxTextureAspectRatio = 4096;
    caps.MaxAnisotropy = 1;
    caps.MaxVertexW = 1.0e10f;
    caps.MaxTextureBlendStages = kMaxTextureStages;
    caps.MaxSimultaneousTextures = kMaxTextureStages;
    caps.MaxActiveLights = 8;
    caps.MaxVertexBlendMatrices = 4;
    caps.MaxPointSize = 64.0f;
    caps.MaxPrimitiveCount = 0xFFFFFF;
    caps.MaxVertexIndex = 0xFFFFFF;
    caps.MaxStreams = 16;
    caps.MaxStreamStride = 255;
    caps.VertexShaderVersion = SoftwareVertexForced() ? 0 : D3DVS_VERSION(1, 1);
    caps.MaxVertexShaderConst = 96;
    return caps;
}

Direct3D8* Direct3DCreate8(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    // A run that draws into another program's window has its display already.
    if (!platform::HostDisplaySize(nullptr, nullptr) && !platform::EnsureVideo()) return nullptr;
    return new Direct3D8();  // owned by the caller's reference; Release deletes it
}

HRESULT Direct3D8::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (!mode || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    if (int w = 0, h = 0; platform::HostDisplaySize(&w, &h)) {
        *mode = D3DDISPLAYMODE{static_cast<UINT>(w), static_cast<UINT>(h), 0, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(0, &dm) != 0) return D3DERR_NOTAVAILABLE;
    mode->Width = static_cast<UINT>(dm.w);
    mode->Height = static_cast<UINT>(dm.h);
    mode->RefreshRate = static_cast<UINT>(dm.refresh_rate);
    mode->Format = D3DFMT_X8R8G8B8;
    return D3D_OK;
}

HRESULT Direct3D8::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                   D3DFORMAT backBufferFormat, BOOL) {
    if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    if (!IsDisplayFormat(displayFormat) || !IsBackBufferFormat(backBufferFormat)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT Direct3D8::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) {
    if (!caps || adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    *caps = DeviceCapabilities();
    return D3D_OK;
}

HRESULT Direct3D8::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                D3DPRESENT_PARAMETERS* params, Direct3DDevice8** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (!params || adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    if (!params->Windowed && !IsBackBufferFormat(params->BackBufferFormat)) return D3DERR_INVALIDCALL;
    if (params->EnableAutoDepthStencil && params->AutoDepthStencilFormat != D3DFMT_D16) return D3DERR_INVALIDCALL;
    HWND window = params->hDeviceWindow ? params->hDeviceWindow : focusWindow;

    auto* created = new Direct3DDevice8();  // handed to the caller, or released below
    const HRESULT hr = created->Create(window, behaviorFlags, *params);
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    // Direct3D fills in the sizes it chose for a windowed device.
    params->BackBufferWidth = created->m_Params.BackBufferWidth;
    params->BackBufferHeight = created->m_Params.BackBufferHeight;
    *device = created;
    return D3D_OK;
}

HRESULT Direct3DDevice8::Create(HWND window, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params) {
    // Direct3D's hardware device is an OpenGL 3.3 core context here; where the
    // driver cannot give one, the device is not available.
    const bool debug = GlDebugRequested();
    const HRESULT created = GlSurface::Create(window, debug, m_pSurface);
    if (FAILED(created)) return created;
    m_hWindow = window;
    m_bSoftwareVertexProcessing = (behaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING) ? TRUE : FALSE;
    m_Params = params;
    m_bFollowWindow = false;
    if (m_Params.Windowed && (m_Params.BackBufferWidth == 0 || m_Params.BackBufferHeight == 0)) {
        int w = 0, h = 0;
        m_pSurface->WindowSize(w, h);
        m_Params.BackBufferWidth = static_cast<UINT>(w);
        m_Params.BackBufferHeight = static_cast<UINT>(h);
        m_bFollowWindow = m_pSurface->IsResizable();
    }
    if (m_Params.Windowed && m_Params.BackBufferFormat == D3DFMT_UNKNOWN)
        m_Params.BackBufferFormat = D3DFMT_X8R8G8B8;

    if (debug) {
        if (epoxy_gl_version() >= 43 || epoxy_has_gl_extension("GL_KHR_debug")) {
            glEnable(GL_DEBUG_OUTPUT);
            glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
            glDebugMessageCallback(PrintDebugMessage, nullptr);
            glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
        } else {
            std::fputs("glimmerwing: GLIMMERWING_GL_DEBUG is set, but the driver has no KHR_debug\n", stderr);
        }
    }

    // Direct3D 8 windowed presentation does not wait for the retrace; full
    // screen with the default interval waits for it.
    const bool waitForRetrace =
        !m_Params.Windowed || m_Params.FullScreen_PresentationInterval == D3DPRESENT_INTERVAL_ONE;
    m_pSurface->SetSwapInterval(waitForRetrace ? 1 : 0);

    m_Caps = DeviceCapabilities();
    if (m_bSoftwareVertexProcessing) m_Caps.VertexShaderVersion = 0;

    // Direct3D's clip-space depth runs from 0 to w; where the driver can take
    // that convention the programs pass depth through, else they remap it.
    m_bClipControl = epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control");
    if (m_bClipControl) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    // What the window's own framebuffer offers; it stays with the context.
    GLboolean doubled = GL_FALSE;
    glGetBooleanv(GL_DOUBLEBUFFER, &doubled);
    m_Window.doubleBuffered = doubled == GL_TRUE;
    if (m_Window.doubleBuffered) {
        m_Window.depthBits = WindowAttachmentBits(GL_DEPTH, GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE);
        m_Window.stencilBits = WindowAttachmentBits(GL_STENCIL, GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE);
    }
    glGenVertexArrays(1, &m_glVertexArray);
    glGenVertexArrays(1, &m_glSoftwareVertexArray);
    glGenBuffers(1, &m_glSoftwareBuffer);

    const HRESULT hr = CreateBackBuffer();
    if (FAILED(hr)) return hr;
    SetDefaultStates();
    return D3D_OK;
}

Direct3DDevice8::~Direct3DDevice8() {
    if (m_pSurface) {
        m_pSurface->MakeCurrent();
        ReleaseBindings();
        for (auto& [key, program] : m_Programs)
            if (program) glDeleteProgram(program->glProgram);
        for (auto& [key, shader] : m_FixedVertexShaders) glDeleteShader(shader);
        for (auto& [key, shader] : m_FragmentShaders) glDeleteShader(shader);
        for (auto& [key, sampler] : m_Samplers) glDeleteSamplers(1, &sampler);
        for (auto& shader : m_Shaders)
            if (shader && shader->glShader) glDeleteShader(shader->glShader);
        m_Programs.clear();
        m_Shaders.clear();
        DestroySoftwareVertexObjects();
        if (m_glVertexArray) glDeleteVertexArrays(1, &m_glVertexArray);
        DestroyBackBuffer();
        m_pSurface.reset();
    }
}

// The back buffer is the window's own framebuffer where that can hold it:
// nothing is copied at Present then. A back buffer with alpha is always the
// device's own: the alpha of a window's framebuffer is not dependable (a
// visual of 24 bits may have alpha bits that drawing does not keep). Otherwise the device draws into a
// framebuffer object that Present copies or stretches into the window.
HRESULT Direct3DDevice8::CreateBackBuffer() {
    m_nBackWidth = m_Params.BackBufferWidth;
    m_nBackHeight = m_Params.BackBufferHeight;
    if (m_nBackWidth == 0 || m_nBackHeight == 0 || m_nBackWidth > 16384 || m_nBackHeight > 16384)
        return D3DERR_INVALIDCALL;
    m_bDepthBuffer = m_Params.EnableAutoDepthStencil != FALSE;
    m_bFramePresented = false;
    m_bPresentedKept = false;
    int drawW = 0, drawH = 0;
    m_pSurface->DrawableSize(drawW, drawH);
    if (WindowCanHoldBackBuffer(drawW, drawH)) {
        m_bDirect = true;
        m_Gl.Forget();
        m_Gl.Framebuffer(0);
        return D3D_OK;
    }
    return CreateOwnBackBuffer();
}

bool Direct3DDevice8::WindowCanHoldBackBuffer(int drawableWidth, int drawableHeight) const {
    return m_Window.doubleBuffered && m_pSurface->HasWindow() && !m_bPresentFitted &&
           drawableWidth == static_cast<int>(m_nBackWidth) && drawableHeight == static_cast<int>(m_nBackHeight) &&
           (!m_bDepthBuffer || m_Window.depthBits >= 16) && m_Params.BackBufferFormat != D3DFMT_A8R8G8B8;
}

HRESULT Direct3DDevice8::CreateOwnBackBuffer() {
    m_bDirect = false;
    glGenFramebuffers(1, &m_glFramebuffer);
    m_Gl.Forget();
    m_Gl.Framebuffer(m_glFramebuffer);
    glGenRenderbuffers(1, &m_glColorBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, m_glColorBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, static_cast<GLsizei>(m_nBackWidth),
                          static_cast<GLsizei>(m_nBackHeight));
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_glColorBuffer);
    if (m_bDepthBuffer) {
        glGenRenderbuffers(1, &m_glDepthBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, m_glDepthBuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, static_cast<GLsizei>(m_nBackWidth),
                              static_cast<GLsizei>(m_nBackHeight));
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_glDepthBuffer);
    }
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return D3DERR_OUTOFVIDEOMEMORY;
    return D3D_OK;
}

// A window that changed its size gets a back buffer of its new size; the
// viewport, when it covered the whole back buffer, covers the new one.
void Direct3DDevice8::FollowWindowSize(int width, int height) {
    if (width <= 0 || height <= 0) return;
    const UINT w = std::min(static_cast<UINT>(width), 16384u), h = std::min(static_cast<UINT>(height), 16384u);
    if (w == m_nBackWidth && h == m_nBackHeight) return;
    const bool wholeViewport = m_Viewport.X == 0 && m_Viewport.Y == 0 && m_Viewport.Width == m_nBackWidth &&
                               m_Viewport.Height == m_nBackHeight;
    DestroyBackBuffer();
    m_Params.BackBufferWidth = w;
    m_Params.BackBufferHeight = h;
    if (FAILED(CreateBackBuffer())) {
        m_bLost = true;
        m_bLostResettable = true;
        return;
    }
    if (wholeViewport || std::uint64_t{m_Viewport.X} + m_Viewport.Width > w ||
        std::uint64_t{m_Viewport.Y} + m_Viewport.Height > h)
        m_Viewport = D3DVIEWPORT8{0, 0, w, h, m_Viewport.MinZ, m_Viewport.MaxZ};
}

void Direct3DDevice8::DestroyBackBuffer() {
    if (m_glFramebuffer) glDeleteFramebuffers(1, &m_glFramebuffer);
    if (m_glColorBuffer) glDeleteRenderbuffers(1, &m_glColorBuffer);
    if (m_glDepthBuffer) glDeleteRenderbuffers(1, &m_glDepthBuffer);
    m_glFramebuffer = m_glColorBuffer = m_glDepthBuffer = 0;
    m_bDirect = false;
}

// Direct3D 8's documented initial states.
void Direct3DDevice8::SetDefaultStates() {
    m_RenderStates.fill(0);
    auto rs = [&](D3DRENDERSTATETYPE s, DWORD v) { m_RenderStates[s] = v; };
    rs(D3DRS_ZENABLE, m_Params.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE);
    rs(D3DRS_FILLMODE, D3DFILL_SOLID);
    rs(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    rs(D3DRS_ZWRITEENABLE, TRUE);
    rs(D3DRS_ALPHATESTENABLE, FALSE);
    rs(D3DRS_LASTPIXEL, TRUE);
    rs(D3DRS_SRCBLEND, D3DBLEND_ONE);
    rs(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    rs(D3DRS_CULLMODE, D3DCULL_CCW);
    rs(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    rs(D3DRS_ALPHAREF, 0);
    rs(D3DRS_ALPHAFUNC, D3DCMP_ALWAYS);
    rs(D3DRS_DITHERENABLE, FALSE);
    rs(D3DRS_ALPHABLENDENABLE, FALSE);
    rs(D3DRS_FOGENABLE, FALSE);
    rs(D3DRS_SPECULARENABLE, FALSE);
    rs(D3DRS_FOGCOLOR, 0);
    rs(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
    rs(D3DRS_FOGSTART, FloatToDword(0.0f));
    rs(D3DRS_FOGEND, FloatToDword(1.0f));
    rs(D3DRS_FOGDENSITY, FloatToDword(1.0f));
    rs(D3DRS_STENCILFAIL, 1);
    rs(D3DRS_STENCILZFAIL, 1);
    rs(D3DRS_STENCILPASS, 1);
    rs(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    rs(D3DRS_STENCILMASK, 0xFFFFFFFF);
    rs(D3DRS_STENCILWRITEMASK, 0xFFFFFFFF);
    rs(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);
    rs(D3DRS_CLIPPING, TRUE);
    rs(D3DRS_LIGHTING, TRUE);
    rs(D3DRS_AMBIENT, 0);
    rs(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
    rs(D3DRS_COLORVERTEX, TRUE);
    rs(D3DRS_LOCALVIEWER, TRUE);
    rs(D3DRS_NORMALIZENORMALS, FALSE);
    rs(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
    rs(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2);
    rs(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    rs(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL);
    rs(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    rs(D3DRS_SOFTWAREVERTEXPROCESSING, m_bSoftwareVertexProcessing);
    rs(D3DRS_POINTSIZE, FloatToDword(1.0f));
    rs(D3DRS_POINTSIZE_MIN, FloatToDword(0.0f));
    rs(D3DRS_POINTSCALE_A, FloatToDword(1.0f));
    rs(D3DRS_POINTSCALE_B, FloatToDword(0.0f));
    rs(D3DRS_POINTSCALE_C, FloatToDword(0.0f));
    rs(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
    rs(D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF);
    rs(D3DRS_POINTSIZE_MAX, FloatToDword(64.0f));
    rs(D3DRS_COLORWRITEENABLE, 0x0F);
    rs(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    rs(D3DRS_POSITIONORDER, 1);  // D3DORDER_CUBIC
    rs(D3DRS_NORMALORDER, 0);    // D3DORDER_LINEAR

    for (DWORD stage = 0; stage < kMaxTextureStages; ++stage) {
        auto& s = m_StageStates[stage];
        s.fill(0);
        s[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        s[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        s[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        s[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        s[D3DTSS_TEXCOORDINDEX] = stage;
        s[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
        s[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
        s[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
        s[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
        s[D3DTSS_MINFILTER] = D3DTEXF_POINT;
        s[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        s[D3DTSS_MAXANISOTROPY] = 1;
        s[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        s[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        s[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        s[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }

    m_Transforms.fill(Identity());
    m_Viewport = D3DVIEWPORT8{0, 0, m_nBackWidth, m_nBackHeight, 0.0f, 1.0f};
    m_Material = D3DMATERIAL8{};
    ++m_nRenderStateVersion;
    ++m_nTransformsVersion;
    ++m_nMaterialVersion;
}

void Direct3DDevice8::BindBackBuffer() {
    m_Gl.Forget();
    m_bFramePresented = false;
    glBindFramebuffer(GL_FRAMEBUFFER, m_glFramebuffer);
    glViewport(0, 0, static_cast<GLsizei>(m_nBackWidth), static_cast<GLsizei>(m_nBackHeight));
}

void Direct3DDevice8::TargetBackBuffer() {
    m_Gl.Framebuffer(m_glFramebuffer);
    m_bFramePresented = false;
}

void Direct3DDevice8::FinishDrawing() {
    if (m_bOpenGl) glFinish();
}

Direct3DDevice8::Statistics Direct3DDevice8::GetStatistics() const {
    Statistics s = m_Stats;
    s.stateCalls = m_Gl.Calls();
    return s;
}


HRESULT Direct3DDevice8::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                               DWORD stencil) {
    if ((count > 0 && !rects) || (flags & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) == 0)
        return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_ZBUFFER) && !m_bDepthBuffer) return D3DERR_INVALIDCALL;
    if (flags & D3DCLEAR_STENCIL) return D3DERR_INVALIDCALL;  // the depth buffer has no stencil bits
    (void)stencil;
    if (!m_bOpenGl) return D3D_OK;
    ForgetGlStateIfObjectsWentAway();
    TargetBackBuffer();

    // Clearing ignores the write masks but is limited to the viewport (and to
    // the rectangles, when given). Direct3D rectangles count rows from the top.
    m_Gl.ColorMask(true, true, true, true);
    m_Gl.DepthMask(true);
    m_Gl.Enable(GL_SCISSOR_TEST, true);
    m_Gl.ClearColor(static_cast<float>((color >> 16) & 0xFF) / 255.0f, static_cast<float>((color >> 8) & 0xFF) / 255.0f,
                    static_cast<float>(color & 0xFF) / 255.0f, static_cast<float>((color >> 24) & 0xFF) / 255.0f);
    m_Gl.ClearDepth(static_cast<double>(z));
    // The window's depth buffer may come with stencil bits the device never
    // uses: they are cleared along with the depth, which is cheaper than
    // leaving them.
    const GLbitfield mask = ((flags & D3DCLEAR_TARGET) ? GL_COLOR_BUFFER_BIT : 0u) |
                            ((flags & D3DCLEAR_ZBUFFER) ? GL_DEPTH_BUFFER_BIT : 0u) |
                            ((flags & D3DCLEAR_ZBUFFER) && m_bDirect && m_Window.stencilBits > 0
                                 ? GL_STENCIL_BUFFER_BIT
                                 : 0u);
    const LONG vx1 = static_cast<LONG>(m_Viewport.X), vy1 = static_cast<LONG>(m_Viewport.Y);
    const LONG vx2 = vx1 + static_cast<LONG>(m_Viewport.Width), vy2 = vy1 + static_cast<LONG>(m_Viewport.Height);
    auto clearRect = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::max(x1, vx1);
        y1 = std::max(y1, vy1);
        x2 = std::min(x2, vx2);
        y2 = std::min(y2, vy2);
        if (x2 <= x1 || y2 <= y1) return;
        m_Gl.Scissor(x1, static_cast<GLint>(m_nBackHeight) - y2, x2 - x1, y2 - y1);
        glClear(mask);
    };
    if (count == 0) clearRect(vx1, vy1, vx2, vy2);
    for (DWORD i = 0; i < count; ++i) clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    m_Gl.Enable(GL_SCISSOR_TEST, false);
    return D3D_OK;
}

HRESULT Direct3DDevice8::BeginScene() {
    if (m_bInScene) return D3DERR_INVALIDCALL;
    m_bInScene = true;
    return D3D_OK;
}

HRESULT Direct3DDevice8::EndScene() {
    if (!m_bInScene) return D3DERR_INVALIDCALL;
    m_bInScene = false;
    return D3D_OK;
}

HRESULT Direct3DDevice8::Present(const RECT*, const RECT* destRect, HWND, const void*) {
    if (m_bInScene) return D3DERR_INVALIDCALL;
    if (destRect && (destRect->right <= destRect->left || destRect->bottom <= destRect->top))
        return D3DERR_INVALIDCALL;
    // A full-screen device loses the display while its window is minimised.
    if (!m_Params.Windowed && m_pSurface->IsMinimized() && !m_bLost) {
        m_bLost = true;
        m_bLostResettable = false;
    }
    if (m_bLost) return D3DERR_DEVICELOST;

    if (!m_bOpenGl) {
        ++m_nPresents;
        return D3D_OK;
    }
    int drawW = 0, drawH = 0;
    m_pSurface->DrawableSize(drawW, drawH);
    // The destination in drawable pixels, rows counted from the bottom.
    GLint x0 = 0, y0 = 0, x1 = drawW, y1 = drawH;
    if (destRect) {
        int winW = 0, winH = 0;
        m_pSurface->WindowSize(winW, winH);
        const double sx = winW > 0 ? static_cast<double>(drawW) / winW : 1.0;
        const double sy = winH > 0 ? static_cast<double>(drawH) / winH : 1.0;
        x0 = static_cast<GLint>(std::lround(destRect->left * sx));
        x1 = static_cast<GLint>(std::lround(destRect->right * sx));
        y0 = drawH - static_cast<GLint>(std::lround(destRect->bottom * sy));
        y1 = drawH - static_cast<GLint>(std::lround(destRect->top * sy));
    }
    const bool wholeWindow = x0 == 0 && y0 == 0 && x1 == drawW && y1 == drawH;
    m_bPresentFitted = !wholeWindow;

    if (m_bDirect) {
        const bool fits = drawW == static_cast<int>(m_nBackWidth) && drawH == static_cast<int>(m_nBackHeight);
        // A window that follows its size gets a back buffer of the new size
        // below; until then a frame of the old size is shown as it is.
        if (m_pSurface->HasWindow() && wholeWindow && (fits || m_bFollowWindow)) {
            if (m_bKeepPresented) {
                ReadFramebuffer(m_PresentedFrame);
                m_bPresentedKept = true;
            }
            m_pSurface->Swap();
            m_bFramePresented = true;
            ++m_nPresents;
            if (m_bFollowWindow) FollowWindowSize(drawW, drawH);
            return D3D_OK;
        }
        // The picture has to move or stretch (or the window has gone): from
        // now on the device draws into a back buffer of its own, starting
        // with this frame.
        if (FAILED(MoveIntoOwnBackBuffer())) {
            m_bLost = true;
            m_bLostResettable = true;
            return D3DERR_DEVICELOST;
        }
    }

    m_Gl.Enable(GL_SCISSOR_TEST, false);  // it would limit the blit
    m_Gl.Framebuffer(0);
    if (!wholeWindow) {
        // Bars in the border colour where the picture does not reach; the
        // blit covers the rest.
        m_Gl.ColorMask(true, true, true, true);
        const D3DCOLOR c = m_dwBorderColor;
        m_Gl.ClearColor(static_cast<float>((c >> 16) & 0xFF) / 255.0f, static_cast<float>((c >> 8) & 0xFF) / 255.0f,
                        static_cast<float>(c & 0xFF) / 255.0f, 1.0f);
        m_Gl.Enable(GL_SCISSOR_TEST, true);
        auto clearBar = [&](GLint left, GLint bottom, GLint right, GLint top) {
            left = std::max(left, 0);
            bottom = std::max(bottom, 0);
            right = std::min(right, static_cast<GLint>(drawW));
            top = std::min(top, static_cast<GLint>(drawH));
            if (right <= left || top <= bottom) return;
            m_Gl.Scissor(left, bottom, right - left, top - bottom);
            glClear(GL_COLOR_BUFFER_BIT);
        };
        const GLint innerBottom = std::clamp(y0, 0, static_cast<GLint>(drawH));
        const GLint innerTop = std::clamp(y1, innerBottom, static_cast<GLint>(drawH));
        clearBar(0, 0, drawW, innerBottom);            // below
        clearBar(0, innerTop, drawW, drawH);           // above
        clearBar(0, innerBottom, x0, innerTop);        // left
        clearBar(x1, innerBottom, drawW, innerTop);    // right
        m_Gl.Enable(GL_SCISSOR_TEST, false);
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_glFramebuffer);
    const bool sameSize = x1 - x0 == static_cast<GLint>(m_nBackWidth) && y1 - y0 == static_cast<GLint>(m_nBackHeight);
    glBlitFramebuffer(0, 0, static_cast<GLint>(m_nBackWidth), static_cast<GLint>(m_nBackHeight), x0, y0, x1, y1,
                      GL_COLOR_BUFFER_BIT, sameSize ? GL_NEAREST : GL_LINEAR);
    m_pSurface->Swap();
    m_Gl.Framebuffer(m_glFramebuffer);
    m_bFramePresented = true;
    ++m_nPresents;
    if (m_bFollowWindow) FollowWindowSize(drawW, drawH);
    return D3D_OK;
}

// Leaves the window's framebuffer for a back buffer of the device's own,
// taking the frame drawn so far along.
HRESULT Direct3DDevice8::MoveIntoOwnBackBuffer() {
    const HRESULT hr = CreateOwnBackBuffer();
    if (FAILED(hr)) {
        DestroyBackBuffer();
        return hr;
    }
    if (m_pSurface->HasWindow()) {
        const auto w = static_cast<GLint>(m_nBackWidth), h = static_cast<GLint>(m_nBackHeight);
        m_Gl.Enable(GL_SCISSOR_TEST, false);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_glFramebuffer);
        // The frame is complete at Present: its colour is all that is left to take.
        glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        m_Gl.Forget();
    }
    return D3D_OK;
}

HRESULT Direct3DDevice8::TestCooperativeLevel() {
    if (!m_bLost) return D3D_OK;
    if (!m_Params.Windowed && !m_bLostResettable && !m_pSurface->IsMinimized())
        m_bLostResettable = true;  // the window is back: a reset can succeed now
    return m_bLostResettable ? D3DERR_DEVICENOTRESET : D3DERR_DEVICELOST;
}

HRESULT Direct3DDevice8::Reset(D3DPRESENT_PARAMETERS* params) {
    if (!params) return D3DERR_INVALIDCALL;
    if (m_bLost && !m_bLostResettable) return D3DERR_DEVICELOST;
    D3DPRESENT_PARAMETERS next = *params;
    const bool followWindow = next.Windowed && (next.BackBufferWidth == 0 || next.BackBufferHeight == 0);
    if (followWindow) {
        int w = 0, h = 0;
        m_pSurface->WindowSize(w, h);
        next.BackBufferWidth = static_cast<UINT>(w);
        next.BackBufferHeight = static_cast<UINT>(h);
    }
    if (next.Windowed && next.BackBufferFormat == D3DFMT_UNKNOWN) next.BackBufferFormat = D3DFMT_X8R8G8B8;
    if (next.BackBufferWidth == 0 || next.BackBufferHeight == 0 || next.BackBufferWidth > 16384 ||
        next.BackBufferHeight > 16384 || !IsBackBufferFormat(next.BackBufferFormat) ||
        (next.EnableAutoDepthStencil && next.AutoDepthStencilFormat != D3DFMT_D16)) {
        // As in Direct3D, a failed reset leaves the device lost until a reset
        // with usable parameters.
        m_bLost = true;
        m_bLostResettable = true;
        return D3DERR_INVALIDCALL;
    }
    m_pSurface->MakeCurrent();
    DestroyBackBuffer();
    m_Gl.Forget();
    m_Params = next;
    m_bFollowWindow = followWindow && m_pSurface->IsResizable();
    const HRESULT hr = CreateBackBuffer();
    if (FAILED(hr)) {
        // Without a back buffer the device cannot present: it stays lost
        // until a reset succeeds.
        m_bLost = true;
        m_bLostResettable = true;
        return hr;
    }
    // A reset device starts again from the default states, with nothing bound.
    ReleaseBindings();
    SetDefaultStates();
    m_bInScene = false;
    m_bLost = false;
    m_bLostResettable = false;
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetDeviceCaps(D3DCAPS8* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    *caps = m_Caps;
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= kRenderStateCount) return D3DERR_INVALIDCALL;
    if (m_RenderStates[state] != value) {
        m_RenderStates[state] = value;
        ++m_nRenderStateVersion;
    }
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (state >= kRenderStateCount || !value) return D3DERR_INVALIDCALL;
    *value = m_RenderStates[state];
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kMaxTextureStages || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
    m_StageStates[stage][type] = value;
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (stage >= kMaxTextureStages || type >= kTextureStageStateCount || !value) return D3DERR_INVALIDCALL;
    *value = m_StageStates[stage][type];
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix || !IsValidTransform(state)) return D3DERR_INVALIDCALL;
    m_Transforms[state] = *matrix;
    ++m_nTransformsVersion;
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix || !IsValidTransform(state)) return D3DERR_INVALIDCALL;
    *matrix = m_Transforms[state];
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetViewport(const D3DVIEWPORT8* viewport) {
    if (!viewport || viewport->Width == 0 || viewport->Height == 0 ||
        std::uint64_t{viewport->X} + viewport->Width > m_nBackWidth ||
        std::uint64_t{viewport->Y} + viewport->Height > m_nBackHeight)
        return D3DERR_INVALIDCALL;
    m_Viewport = *viewport;
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetViewport(D3DVIEWPORT8* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = m_Viewport;
    return D3D_OK;
}

HRESULT Direct3DDevice8::SetMaterial(const D3DMATERIAL8* material) {
    if (!material) return D3DERR_INVALIDCALL;
    m_Material = *material;
    ++m_nMaterialVersion;
    return D3D_OK;
}

HRESULT Direct3DDevice8::GetMaterial(D3DMATERIAL8* material) {
    if (!material) return D3DERR_INVALIDCALL;
    *material = m_Material;
    return D3D_OK;
}

bool Direct3DDevice8::ReadBackBuffer(std::vector<std::uint32_t>& pixels) {
    if (!m_bDirect && !m_glFramebuffer) return false;  // no back buffer
    if (m_bDirect && m_bFramePresented) {
        // The swap took the frame out of the window's back buffer.
        if (!m_bPresentedKept) return false;
        pixels = m_PresentedFrame;
        return true;
    }
    ReadFramebuffer(pixels);
    return true;
}

void Direct3DDevice8::ReadFramebuffer(std::vector<std::uint32_t>& pixels) {
    const std::size_t w = m_nBackWidth, h = m_nBackHeight;
    pixels.resize(w * h);
    m_ReadRows.resize(w * h * 4);
    m_Gl.Framebuffer(m_glFramebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, static_cast<GLsizei>(w), static_cast<GLsizei>(h), GL_RGBA, GL_UNSIGNED_BYTE, m_ReadRows.data());
    // OpenGL's row 0 is the bottom row; the back buffer's top-left is pixel (0, 0).
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = &m_ReadRows[(h - 1 - y) * w * 4];
        for (std::size_t x = 0; x < w; ++x, src += 4)
            pixels[y * w + x] = (std::uint32_t{src[3]} << 24) | (std::uint32_t{src[0]} << 16) |
                                (std::uint32_t{src[1]} << 8) | std::uint32_t{src[2]};
    }
}

void Direct3DDevice8::SimulateDeviceLoss(bool resettable) {
    m_bLost = true;
    m_bLostResettable = resettable;
}
