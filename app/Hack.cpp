#include "app/Hack.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/Camera.h"
#include "app/Entry.h"
#include "app/ErrLog.h"
#include "app/Frame.h"
#include "app/FrameTimer.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "gfx/D3DXTexture.h"
#include "platform/Clock.h"
#include "platform/Icon.h"
#include "platform/SystemDir.h"
#include "platform/Window.h"

namespace {

// The size of our own window for --window.
constexpr int kOwnWindowWidth = 640;
constexpr int kOwnWindowHeight = 480;

LRESULT HackWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The back buffer's height for a window `windowHeight` pixels high.
int BackBufferHeightFor(const CommandLineOptions& options, int windowHeight) {
    if (!options.settings.intDisMod) return windowHeight;
    switch (*options.settings.intDisMod) {
        case 2: return 600;
        case 3: return 768;
        default: return 480;
    }
}

HWND OpenTarget(const CommandLineOptions& options, std::string& error) {
    switch (options.target) {
        case HackTarget::OwnWindow: {
            HWND hwnd = CreateWindowExA(0, kWindowClassName, kWindowTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                        kOwnWindowWidth, kOwnWindowHeight, nullptr, nullptr, g_hInstance, nullptr);
            if (!hwnd) error = "the window could not be created (no display?)";
            return hwnd;
        }
        case HackTarget::WindowId:
            return platform::AttachForeignWindow(kWindowClassName, options.windowId, error);
        case HackTarget::Root: {
            const unsigned long window = platform::HackRootWindow(error);
            return window ? platform::AttachForeignWindow(kWindowClassName, window, error) : nullptr;
        }
        case HackTarget::None: break;
    }
    error = "no window to draw into";
    return nullptr;
}

// The clean-up that ends every hack run, also one left by an exception.
class HackCleanup {
public:
    HackCleanup() = default;
    HackCleanup(const HackCleanup&) = delete;
    HackCleanup& operator=(const HackCleanup&) = delete;
    ~HackCleanup() {
        timeEndPeriod(1);
        FrameTimer(TIMER_STOP);
        Terminate();
    }
};

}  // namespace

void FollowHostWindow(HWND hwnd) {
    RECT rc{};
    if (!GetClientRect(hwnd, &rc) || rc.right <= 0 || rc.bottom <= 0 || !g_pd3dDevice) return;
    const float aspect = static_cast<float>(rc.right) / static_cast<float>(rc.bottom);
    if (aspect != g_fAspect) {
        g_fAspect = aspect;
        // The automatic camera sets its own projection every frame; the user
        // camera keeps the one start-up gave it.
        g_Camera.SetPerspective(g_pd3dDevice, g_fAspect, 1.0f, g_Fog.GetEnd());
    }
    g_dwScreenWidth = g_pd3dDevice->BackBufferWidth();
    g_dwScreenHeight = g_pd3dDevice->BackBufferHeight();
    if (g_Settings.intChkFPS == 1)
        SetFrameRateFontHeight(FrameRateFontHeight(static_cast<int>(g_dwScreenHeight), rc.bottom));
}

int FrameRateFontHeight(int backBufferHeight, int windowHeight) {
    if (backBufferHeight <= 0 || windowHeight <= 0) return 0;
    const int onWindow = std::clamp(windowHeight / 30, 10, 72);
    return std::max(1, static_cast<int>(std::lround(static_cast<double>(onWindow) * backBufferHeight / windowHeight)));
}

int RunHack(const CommandLineOptions& options) {
    platform::PrepareHostedRun();
    g_bWindowed = 1;

    WNDCLASSA wc{};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = HackWndProc;
    wc.hInstance = g_hInstance;
    wc.hIcon = LoadIconA(g_hInstance, MAKEINTRESOURCEA(kIconResource));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = GetStockBrush(WHITE_BRUSH);
    wc.lpszClassName = kWindowClassName;
    RegisterClassA(&wc);

    std::string error;
    HWND hwnd = OpenTarget(options, error);
    if (!hwnd) {
        std::fprintf(stderr, "glimmerwing: %s\n", error.c_str());
        return kExitStartFailed;
    }
    // The images are decoded while OpenGL comes up.
    PrefetchTextureImages();
    RECT rc{};
    GetClientRect(hwnd, &rc);
    SetFrameRateFontHeight(FrameRateFontHeight(BackBufferHeightFor(options, rc.bottom), rc.bottom));

    timeBeginPeriod(1);
    FrameTimer(TIMER_START);
    HackCleanup cleanup;
    if (!Initiate(hwnd)) {
        std::fprintf(stderr, "glimmerwing: start-up failed; the log is in %s/%s\n",
                     platform::SystemDirectoryPath().c_str(), ErrLog::kFileName);
        return kExitStartFailed;
    }

    MSG msg{};
    for (;;) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!GetMessageA(&msg, nullptr, 0, 0)) break;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        FollowHostWindow(hwnd);
        Tick(hwnd);
        if (options.delayMicroseconds > 0) platform::PauseMicroseconds(options.delayMicroseconds);
    }
    return static_cast<int>(msg.wParam);
}
