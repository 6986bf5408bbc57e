#include "platform/Window.h"

#include <SDL.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Icon.h"
#include "platform/Process.h"
#include "platform/X11Host.h"

struct HWND__ {
    SDL_Window* sdl = nullptr;
    Uint32 sdlId = 0;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    bool alive = false;
    int sdlRefs = 0;  // the window's own reference and the device's
    bool foreign = false;
    bool closePosted = false;  // a foreign window that vanished has been told to close
    platform::ForeignWindow host;
};

namespace {

struct WindowClass {
    std::string name;
    WNDCLASSA wc;
};

// Whether the environment leaves libdbus no session bus to connect to but one
// it would start itself: no address, and no user bus in the runtime folder.
bool NoSessionBusNamed() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return false;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    return !(runtime && *runtime && stat((std::string(runtime) + "/bus").c_str(), &info) == 0);
}

// SDL's video subsystem, started on first use. It is left running at exit:
// the process's end closes the display connection, and quitting SDL would
// unload the OpenGL driver while its memory is still counted as ours.
class Video {
public:
    bool Start() {
        if (m_bStarted) return true;
        if (m_bFailed) return false;
        SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
        SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
        // SIGTERM and SIGINT are ours (platform/Process.h): SDL's handlers
        // would be replaced by them anyway, and its quit event could not tell
        // a stop request from the last window closing.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        // Only a real display will do: without one SDL would fall back to an
        // off-screen driver, and a saver nobody can see is no saver.
        // SDL_VIDEODRIVER in the environment still wins.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
        // SDL connects to the session bus as it starts (input methods, the
        // desktop's screen saver). Where the environment names none, libdbus
        // would fork this process to run dbus-launch --autolaunch, which
        // takes its time and may leave a new bus daemon behind that serves
        // nobody; an address that fails at once spares that. It is taken
        // back at once, so nothing later sees it (no thread of ours runs yet).
        const bool withoutBus = NoSessionBusNamed();
        if (withoutBus) setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        const int started = SDL_Init(SDL_INIT_VIDEO);
        if (withoutBus) unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (started != 0) {
            m_bFailed = true;
            return false;
        }
        m_bStarted = true;
        return true;
    }

private:
    bool m_bStarted = false;
    bool m_bFailed = false;
};

Video& TheVideo() {
    static Video video;
    return video;
}

// A fixed ring of messages: posting never allocates after start-up.
class MessageQueue {
public:
    bool Push(const MSG& msg) {
        if (m_nCount == m_ring.size()) return false;  // full: the message is dropped, as Win32 does
        m_ring[(m_nHead + m_nCount) % m_ring.size()] = msg;
        ++m_nCount;
        return true;
    }
    bool Empty() const { return m_nCount == 0; }
    const MSG& Front() const { return m_ring[m_nHead]; }
    void Pop() {
        m_nHead = (m_nHead + 1) % m_ring.size();
        --m_nCount;
    }
    void Clear() { m_nHead = m_nCount = 0; }

private:
    std::array<MSG, 1024> m_ring{};
    std::size_t m_nHead = 0;
    std::size_t m_nCount = 0;
};

std::vector<WindowClass>& Classes() {
    static std::vector<WindowClass> classes;
    return classes;
}

// Windows live until the process ends so a stale handle never dangles.
std::vector<std::unique_ptr<HWND__>>& Windows() {
    static std::vector<std::unique_ptr<HWND__>> windows;
    return windows;
}

MessageQueue& Queue() {
    static MessageQueue queue;
    return queue;
}

bool SameName(const char* a, const char* b) { return a && b && SDL_strcasecmp(a, b) == 0; }

const WindowClass* FindClass(const char* name) {
    for (const auto& c : Classes())
        if (SameName(c.name.c_str(), name)) return &c;
    return nullptr;
}

HWND FromSdlId(Uint32 id) {
    for (const auto& w : Windows())
        if (w->alive && w->sdlId == id) return w.get();
    return nullptr;
}

HWND FirstAliveWindow() {
    for (const auto& w : Windows())
        if (w->alive) return w.get();
    return nullptr;
}

DWORD NowMs() { return SDL_GetTicks(); }

POINT ScreenCursor() {
    int x = 0, y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    return POINT{x, y};
}

LPARAM MakeLParam(int lo, int hi) {
    return static_cast<LPARAM>((static_cast<DWORD>(hi & 0xFFFF) << 16) | static_cast<DWORD>(lo & 0xFFFF));
}

void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Queue().Push(MSG{hwnd, message, wParam, lParam, NowMs(), ScreenCursor()});
}

bool AnyForeignWindow() {
    for (const auto& w : Windows())
        if (w->alive && w->foreign) return true;
    return false;
}

// Reads the size of every foreign window again; one that is gone is told to
// close, once.
void PumpForeignWindows() {
    if (!platform::x11::Display()) return;
    for (const auto& w : Windows()) {
        if (!w->alive || !w->foreign || w->closePosted) continue;
        platform::x11::WindowAttributes attributes;
        if (platform::x11::ReadWindow(w->host.window, attributes)) {
            w->host.width = attributes.width;
            w->host.height = attributes.height;
        } else {
            w->closePosted = true;
            Post(w.get(), WM_CLOSE, 0, 0);
        }
    }
    platform::x11::DrainEvents();
}

UINT ButtonMessage(Uint8 button, bool down) {
    switch (button) {
        case SDL_BUTTON_LEFT: return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        case SDL_BUTTON_RIGHT: return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        case SDL_BUTTON_MIDDLE: return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        default: return WM_NULL;
    }
}

// Turns one SDL event into the window message it stands for.
void Translate(const SDL_Event& e) {
    switch (e.type) {
        case SDL_MOUSEMOTION:
            if (HWND w = FromSdlId(e.motion.windowID))
                Post(w, WM_MOUSEMOVE, 0, MakeLParam(e.motion.x, e.motion.y));
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            HWND w = FromSdlId(e.button.windowID);
            UINT msg = ButtonMessage(e.button.button, e.type == SDL_MOUSEBUTTONDOWN);
            if (w && msg != WM_NULL) Post(w, msg, 0, MakeLParam(e.button.x, e.button.y));
            break;
        }
        case SDL_WINDOWEVENT: {
            HWND w = FromSdlId(e.window.windowID);
            if (!w) break;
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) Post(w, WM_ACTIVATEAPP, 0, 0);
            else if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) Post(w, WM_ACTIVATEAPP, 1, 0);
            else if (e.window.event == SDL_WINDOWEVENT_CLOSE) Post(w, WM_CLOSE, 0, 0);
            break;
        }
        case SDL_QUIT:
            // Close the saver the ordinary way, so the settings are written back.
            if (HWND w = FirstAliveWindow()) Post(w, WM_CLOSE, 0, 0);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (HWND w = FromSdlId(e.key.windowID))
                Post(w, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, static_cast<WPARAM>(e.key.keysym.sym), 0);
            break;
        default: break;
    }
}

// A stop signal closes the saver window like its close box; one that came
// before the window existed waits for it.
void CloseOnStopRequest() {
    static bool s_bPosted = false;
    if (s_bPosted || !platform::StopRequested()) return;
    if (HWND w = FirstAliveWindow()) {
        Post(w, WM_CLOSE, 0, 0);
        s_bPosted = true;
    }
}

void PumpSystemEvents() {
    CloseOnStopRequest();
    PumpForeignWindows();
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) Translate(e);
}

bool Matches(const MSG& m, HWND hwnd, UINT lo, UINT hi) {
    if (hwnd && m.hwnd != hwnd) return false;
    if (lo == 0 && hi == 0) return true;
    return m.message >= lo && m.message <= hi;
}

void SetIcon(SDL_Window* window, HICON icon) {
    const IconImage* image = IconImageFromHandle(icon);
    if (!image || image->width <= 0 || image->height <= 0) return;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<std::uint32_t*>(image->rgba.data()), image->width, image->height, 32, image->width * 4,
        SDL_PIXELFORMAT_ABGR8888);
    if (!surface) return;
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

}  // namespace

namespace platform {

SDL_Window* SdlWindowOf(HWND hwnd) { return IsWindow(hwnd) ? hwnd->sdl : nullptr; }

bool IsResizable(HWND hwnd) { return IsWindow(hwnd) && (hwnd->foreign || (hwnd->style & WS_THICKFRAME) != 0); }

HWND AttachForeignWindow(const char* className, unsigned long window, std::string& error) {
    const WindowClass* cls = FindClass(className);
    if (!cls) {
        error = "no window class";
        return nullptr;
    }
    if (!x11::OpenDisplay(error)) return nullptr;
    x11::WindowAttributes attributes;
    if (!x11::ReadWindow(window, attributes)) {
        char text[64];
        std::snprintf(text, sizeof text, "there is no window 0x%lx", window);
        error = text;
        return nullptr;
    }
    x11::ExpectErrorsAbout(window);

    auto made = std::make_unique<HWND__>();
    made->proc = cls->wc.lpfnWndProc;
    made->alive = true;
    made->foreign = true;
    made->host = ForeignWindow{x11::Display(), window, attributes.screen, attributes.visualId, attributes.width,
                               attributes.height};
    HWND hwnd = made.get();
    Windows().push_back(std::move(made));
    if (hwnd->proc(hwnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(hwnd);
        error = "the window procedure refused the window";
        return nullptr;
    }
    return hwnd;
}

const ForeignWindow* ForeignWindowOf(HWND hwnd) { return IsWindow(hwnd) && hwnd->foreign ? &hwnd->host : nullptr; }

unsigned long HackRootWindow(std::string& error) {
    if (!x11::OpenDisplay(error)) return 0;
    if (const char* named = std::getenv("XSCREENSAVER_WINDOW"); named && *named) {
        char* end = nullptr;
        const unsigned long window = std::strtoul(named, &end, 0);
        if (end && *end == '\0' && window != 0) return window;
    }
    return x11::RootOfDefaultScreen();
}

bool HostDisplaySize(int* width, int* height) {
    int w = 0, h = 0;
    if (!x11::DefaultScreenSize(w, h)) return false;
    if (width) *width = w;
    if (height) *height = h;
    return true;
}

void PrepareHostedRun() {
    // Unless told otherwise, SDL's video start asks the desktop to hold the
    // screen saver off, and XScreenSaver answers that by deactivating.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
}

void RetainSdlWindow(HWND hwnd) {
    if (hwnd && hwnd->sdl) ++hwnd->sdlRefs;
}

void ReleaseSdlWindow(HWND hwnd) {
    if (!hwnd || !hwnd->sdl || hwnd->sdlRefs <= 0) return;
    if (--hwnd->sdlRefs == 0) {
        SDL_DestroyWindow(hwnd->sdl);
        hwnd->sdl = nullptr;
    }
}

bool EnsureVideo() { return TheVideo().Start(); }

void ResetWindowingForTesting() {
    Queue().Clear();
    Classes().clear();
}

}  // namespace platform

ATOM RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
    if (FindClass(wc->lpszClassName)) return 0;  // class already exists
    Classes().push_back(WindowClass{wc->lpszClassName, *wc});
    return static_cast<ATOM>(0xC000 + Classes().size());
}

BOOL UnregisterClassA(const char* className, HINSTANCE) {
    auto& classes = Classes();
    auto it = std::find_if(classes.begin(), classes.end(),
                           [&](const WindowClass& c) { return SameName(c.name.c_str(), className); });
    if (it == classes.end()) return FALSE;
    classes.erase(it);
    return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE, const char* name) {
    // The system arrow is the only cursor the saver uses; SDL shows it by default.
    return name == IDC_ARROW ? reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(32512)) : nullptr;
}

HBRUSH GetStockBrush(int brush) {
    return reinterpret_cast<HBRUSH>(static_cast<std::uintptr_t>(0x1000 + brush));
}

int GetSystemMetrics(int index) {
    if (index != SM_CXSCREEN && index != SM_CYSCREEN) return 0;
    if (!platform::EnsureVideo()) return 0;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 0;
    return index == SM_CXSCREEN ? mode.w : mode.h;
}

BOOL AdjustWindowRect(RECT* rect, DWORD, BOOL) { return rect ? TRUE : FALSE; }

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, void*) {
    const WindowClass* cls = FindClass(className);
    if (!cls || width <= 0 || height <= 0) return nullptr;
    if (!platform::EnsureVideo()) return nullptr;

    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    const bool popup = (style & WS_POPUP) != 0;
    bool fullScreen = false;
    if (popup) {
        flags |= SDL_WINDOW_BORDERLESS;
        fullScreen = width == GetSystemMetrics(SM_CXSCREEN) && height == GetSystemMetrics(SM_CYSCREEN);
    }
    if (exStyle & WS_EX_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    if (style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;

    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // The device draws straight into the window when its back buffer has the
    // window's size: the window's framebuffer has the depth buffer the
    // device's own would have.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);

    SDL_Window* sdl = SDL_CreateWindow(title ? title : "", x, y, width, height, flags);
    if (!sdl) return nullptr;
    // A popup as large as the desktop is the full-screen saver: no mode
    // switch, the window manager is asked to put it above everything. With
    // no window manager nobody would answer (SDL then waits 100 ms for the
    // answer when the window is shown), and the popup covers the desktop
    // as it is.
    if (fullScreen && platform::x11::WindowManagerRunsFor(sdl))
        SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);

    auto window = std::make_unique<HWND__>();
    window->sdl = sdl;
    window->sdlId = SDL_GetWindowID(sdl);
    window->proc = cls->wc.lpfnWndProc;
    window->style = style;
    window->exStyle = exStyle;
    window->alive = true;
    window->sdlRefs = 1;
    HWND hwnd = window.get();
    Windows().push_back(std::move(window));

    if (cls->wc.hIcon) SetIcon(sdl, cls->wc.hIcon);

    if (hwnd->proc(hwnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

BOOL IsWindow(HWND hwnd) {
    if (!hwnd) return FALSE;
    for (const auto& w : Windows())
        if (w.get() == hwnd) return w->alive ? TRUE : FALSE;
    return FALSE;
}

BOOL DestroyWindow(HWND hwnd) {
    if (!IsWindow(hwnd)) return FALSE;
    hwnd->proc(hwnd, WM_DESTROY, 0, 0);
    hwnd->alive = false;
    if (hwnd->foreign) return TRUE;  // the window is its owner's: only the handle goes
    SDL_HideWindow(hwnd->sdl);
    platform::ReleaseSdlWindow(hwnd);
    return TRUE;
}

BOOL ShowWindow(HWND hwnd, int command) {
    if (!IsWindow(hwnd) || hwnd->foreign) return FALSE;
    const bool wasVisible = (SDL_GetWindowFlags(hwnd->sdl) & SDL_WINDOW_SHOWN) != 0;
    if (command == SW_HIDE) {
        SDL_HideWindow(hwnd->sdl);
    } else {
        SDL_ShowWindow(hwnd->sdl);
        if (hwnd->style & WS_POPUP) SDL_RaiseWindow(hwnd->sdl);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
    if (!IsWindow(hwnd) || !rect) return FALSE;
    int w = hwnd->host.width, h = hwnd->host.height;
    if (!hwnd->foreign) SDL_GetWindowSize(hwnd->sdl, &w, &h);
    *rect = RECT{0, 0, w, h};
    return TRUE;
}

HWND GetForegroundWindow() {
    // Another program's window cannot be named here; the saver's own focused
    // window is the only foreground window we can report.
    SDL_Window* focus = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetKeyboardFocus() : nullptr;
    return focus ? FromSdlId(SDL_GetWindowID(focus)) : nullptr;
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(hwnd);
    return 0;
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsWindow(hwnd)) return 0;
    return hwnd->proc(hwnd, message, wParam, lParam);
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd && !IsWindow(hwnd)) return FALSE;
    return Queue().Push(MSG{hwnd, message, wParam, lParam, NowMs(), ScreenCursor()}) ? TRUE : FALSE;
}

void PostQuitMessage(int exitCode) {
    Queue().Push(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<std::intptr_t>(exitCode)), 0, NowMs(),
                     POINT{0, 0}});
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) return FALSE;
    PumpSystemEvents();
    auto& q = Queue();
    if (q.Empty()) return FALSE;
    // The saver peeks without a filter; a filtered peek looks at the front only.
    const MSG& front = q.Front();
    if (front.message != WM_QUIT && !Matches(front, hwnd, filterMin, filterMax)) return FALSE;
    *msg = front;
    if (removeFlags & PM_REMOVE) q.Pop();
    return TRUE;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (!msg) return -1;
    for (;;) {
        if (PeekMessageA(msg, hwnd, filterMin, filterMax, PM_REMOVE)) return msg->message == WM_QUIT ? FALSE : TRUE;
        if (SDL_WasInit(SDL_INIT_VIDEO)) {
            SDL_Event e;
            if (SDL_WaitEventTimeout(&e, 100)) Translate(e);
        } else if (AnyForeignWindow()) {
            SDL_Delay(100);  // the next pump looks at the foreign windows again
        } else {
            return -1;  // nothing could ever arrive
        }
    }
}

BOOL TranslateMessage(const MSG* msg) {
    // Character messages are not used by the saver; key messages stay as they are.
    return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !IsWindow(msg->hwnd)) return 0;
    return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
