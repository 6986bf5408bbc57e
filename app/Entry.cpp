#include "app/Entry.h"

#include <cstdio>
#include <cstdlib>

#include "app/FrameTimer.h"
#include "app/Frame.h"
#include "app/SettingsDialog.h"
#include "app/Startup.h"
#include "gfx/D3DXTexture.h"
#include "platform/Clock.h"
#include "platform/Icon.h"
#include "platform/Input.h"
#include "platform/Mutex.h"
#include "platform/Process.h"
#include "platform/Window.h"

HINSTANCE g_hInstance = nullptr;
BOOL g_bWindowed = 0;
POINT g_ptCursor{0, 0};
DWORD g_dwMouseTolerance = 4;

namespace {

void HideCursorAndIme() {
    while (ShowCursor(FALSE) >= 0) {
    }
    WINNLSEnableIME(nullptr, FALSE);
}

void ShowCursorAndIme() {
    while (ShowCursor(TRUE) < 0) {
    }
    WINNLSEnableIME(nullptr, TRUE);
}

// The clean-up that ends every saver run, also one left by an exception:
// timer resolution, frame timer, shutdown, mutex.
class RunCleanup {
public:
    explicit RunCleanup(HANDLE mutex) : m_hMutex(mutex) {}
    RunCleanup(const RunCleanup&) = delete;
    RunCleanup& operator=(const RunCleanup&) = delete;
    ~RunCleanup() {
        timeEndPeriod(1);
        FrameTimer(TIMER_STOP);
        Terminate();
        if (m_hMutex) {
            ReleaseMutex(m_hMutex);
            CloseHandle(m_hMutex);
        }
    }

private:
    HANDLE m_hMutex;
};

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, const char* commandLine, int) {
    g_hInstance = instance;
    const char* p = commandLine ? commandLine : "";
    for (;; ++p) {
        switch (*p) {
            case '\0':
                // The dialog's own loop does not watch for stop requests.
                platform::RestoreDefaultStopSignals();
                return ShowSettingsDialog(nullptr);
            case ' ':
            case '/':
            case '_':
                continue;
            case 'C':
            case 'c':
                platform::RestoreDefaultStopSignals();
                return ShowSettingsDialog(GetForegroundWindow());
            case 'S':
            case 's':
                return RunScreenSaver();
            case 'W':
            case 'w':
                g_bWindowed = 1;
                return RunScreenSaver();
            default:
                return 0;
        }
    }
}

int RunScreenSaver() {
    int width = 0, height = 0;
    DWORD style = 0, exStyle = 0;
    if (!g_bWindowed) {
        width = GetSystemMetrics(SM_CXSCREEN);
        height = GetSystemMetrics(SM_CYSCREEN);
        style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        exStyle = WS_EX_TOPMOST;
    } else {
        style = WS_CAPTION | WS_SYSMENU | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        RECT rc{0, 0, 640, 480};
        AdjustWindowRect(&rc, style, FALSE);
        width = rc.right - rc.left;
        height = rc.bottom - rc.top;
    }

    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (!mutex) return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;
    }
    // The images are decoded while the window and OpenGL come up; the window
    // system starts first, before any thread of ours.
    platform::EnsureVideo();
    PrefetchTextureImages();

    WNDCLASSA wc{};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = ScreenSaverWndProc;
    wc.hInstance = g_hInstance;
    wc.hIcon = LoadIconA(g_hInstance, MAKEINTRESOURCEA(kIconResource));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = GetStockBrush(WHITE_BRUSH);
    wc.lpszClassName = kWindowClassName;

    HWND hwnd = nullptr;
    if (RegisterClassA(&wc))
        hwnd = CreateWindowExA(exStyle, kWindowClassName, kWindowTitle, style, 0, 0, width, height, nullptr, nullptr,
                               g_hInstance, nullptr);

    timeBeginPeriod(1);
    FrameTimer(TIMER_START);
    RunCleanup cleanup(mutex);

    if (!hwnd) {
        std::fputs("glimmerwing: the saver window could not be created (no display?)\n", stderr);
        return kExitStartFailed;
    }
    if (!Initiate(hwnd)) return kExitStartFailed;

    GetCursorPos(&g_ptCursor);
    MSG msg{};
    for (;;) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!GetMessageA(&msg, nullptr, 0, 0)) break;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            Tick(hwnd);
        }
    }
    return static_cast<int>(msg.wParam);
}

LRESULT ScreenSaverWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            if (!g_bWindowed) HideCursorAndIme();
            break;
        case WM_DESTROY:
            if (!g_bWindowed) ShowCursorAndIme();
            ShowWindow(hwnd, SW_HIDE);
            PostQuitMessage(0);
            break;
        case WM_SYSCOMMAND:
            if (!g_bWindowed && (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_SCREENSAVE))
                return 0;
            break;
        default:
            break;
    }
    return ScreenSaverProc(hwnd, message, wParam, lParam);
}

LRESULT ScreenSaverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_bWindowed) {
        switch (message) {
            case WM_LBUTTONDOWN:
            case WM_RBUTTONDOWN:
            case WM_MBUTTONDOWN:
                PostMessageA(hwnd, WM_CLOSE, 0, 0);
                break;
            case WM_ACTIVATEAPP:
                if (wParam == 0) PostMessageA(hwnd, WM_CLOSE, 0, 0);
                break;
            case WM_MOUSEMOVE: {
                POINT pt{};
                GetCursorPos(&pt);
                const auto travel = static_cast<DWORD>(std::abs(pt.x - g_ptCursor.x) + std::abs(pt.y - g_ptCursor.y));
                if (travel > g_dwMouseTolerance) {
                    PostMessageA(hwnd, WM_CLOSE, 0, 0);
                    g_ptCursor = pt;
                }
                break;
            }
            case WM_POWERBROADCAST:
                if (wParam == PBT_APMQUERYSUSPEND) {
                    PostMessageA(hwnd, WM_CLOSE, 0, 0);
                    return TRUE;
                }
                break;
            case WM_CLOSE:
                ShowCursorAndIme();
                break;
            default:
                break;
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
