// The process entry: the command-line scan, whole saver runs, the
// single-instance rule and the two window procedures in both modes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "app/ErrLog.h"
#include "app/Frame.h"
#include "app/FrameTimer.h"
#include "app/Settings.h"
#include "app/SettingsDialog.h"
#include "app/Startup.h"
#include "platform/Input.h"
#include "platform/Mutex.h"
#include "platform/SystemDir.h"
#include "platform/Window.h"
#include "tests/support/Display.h"
#include "tests/support/PrivateFolders.h"

namespace fs = std::filesystem;

namespace {

constexpr POINT kRestingCursor{100, 100};
constexpr unsigned kRunTimeLimitSeconds = 60;

// The cursor display count, read without changing it.
int CursorCount() {
    const int count = ShowCursor(TRUE) - 1;
    ShowCursor(FALSE);
    return count;
}

void SetCursorCount(int target) {
    int count = CursorCount();
    while (count < target) count = ShowCursor(TRUE);
    while (count > target) count = ShowCursor(FALSE);
}

// Every queued message, removed from the queue.
std::vector<MSG> TakeMessages() {
    std::vector<MSG> messages;
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) messages.push_back(msg);
    return messages;
}

// The code of the first quit message among `messages`, or -1 without one.
long long QuitCode(const std::vector<MSG>& messages) {
    for (const MSG& m : messages)
        if (m.message == WM_QUIT) return static_cast<long long>(m.wParam);
    return -1;
}

int Count(const std::vector<MSG>& messages, HWND hwnd, UINT message) {
    int n = 0;
    for (const MSG& m : messages)
        if (m.message == message && (message == WM_QUIT || m.hwnd == hwnd)) ++n;
    return n;
}

// Each case gets its own runtime, configuration and state directories, a pinned
// cursor, no keys down and a clean queue, cursor count and saver state.
class EntryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_folders.emplace("gw-entry");
        m_dir = m_folders->Root();
        ASSERT_FALSE(m_dir.empty());
        g_ErrLog.ClearForTesting();

        g_bWindowed = 0;
        g_ptCursor = POINT{0, 0};
        g_Settings = Settings{};
        g_d3dpp = D3DPRESENT_PARAMETERS{};
        platform::ResetWindowingForTesting();
        platform::ClearKeyStatesForTesting();
        platform::SetCursorPosForTesting(&kRestingCursor);
        FrameTimerResetForTesting();
        ResetFrameRateForTesting();
        SetCursorCount(0);
        WINNLSEnableIME(nullptr, TRUE);
    }

    void TearDown() override {
        for (HWND hwnd : m_windows)
            if (IsWindow(hwnd)) DestroyWindow(hwnd);
        if (g_d3dpp.hDeviceWindow && IsWindow(g_d3dpp.hDeviceWindow)) DestroyWindow(g_d3dpp.hDeviceWindow);
        if (g_pd3dDevice || g_pD3D) Terminate();
        g_bWindowed = 0;
        g_Settings = Settings{};
        platform::ResetWindowingForTesting();
        platform::ClearKeyStatesForTesting();
        platform::SetCursorPosForTesting(nullptr);
        FrameTimerResetForTesting();
        SetCursorCount(0);
        WINNLSEnableIME(nullptr, TRUE);
        m_folders.reset();
    }

    static bool HaveDisplay() { return platform::EnsureVideo(); }

    fs::path HiveFile() const { return m_dir / "config" / "glimmerwing" / "user.reg"; }
    fs::path LogFile() const { return m_dir / "state" / "glimmerwing" / ErrLog::kFileName; }

    void WriteHive(const std::string& values) const {
        fs::create_directories(HiveFile().parent_path());
        std::ofstream(HiveFile(), std::ios::binary)
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"
            << values;
    }
    std::string ReadHive() const {
        std::ifstream in(HiveFile(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // True when the saver's window class is still free, i.e. no run registered it.
    static bool SaverClassFree() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kWindowClassName;
        if (!RegisterClassA(&wc)) return false;
        UnregisterClassA(kWindowClassName, nullptr);
        return true;
    }

    // A window of the saver's class, created in the current mode.
    HWND CreateSaverWindow() {
        WNDCLASSA wc{};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = ScreenSaverWndProc;
        wc.lpszClassName = kWindowClassName;
        RegisterClassA(&wc);
        HWND hwnd = CreateWindowExA(0, kWindowClassName, kWindowTitle, WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                                    nullptr, nullptr);
        if (hwnd) m_windows.push_back(hwnd);
        return hwnd;
    }

    fs::path m_dir;
    std::optional<testing_support::PrivateFolders> m_folders;
    std::vector<HWND> m_windows;
};

// ---------------------------------------------------------------------------
// Command line

using CommandLine = EntryFixture;

TEST_F(CommandLine, OtherLettersEndAtOnceWithoutAWindow) {
    // A waiting quit message would end the loop at once with code 7, so a 0
    // with the message still queued means the saver never ran.
    for (const char* line : {"-s", "x", "/p 1234", "P", "9", "-w"}) {
        SCOPED_TRACE(line);
        PostQuitMessage(7);
        EXPECT_EQ(WinMain(nullptr, nullptr, line, 1), 0);
        const std::vector<MSG> left = TakeMessages();
        EXPECT_EQ(Count(left, nullptr, WM_QUIT), 1);
        EXPECT_EQ(QuitCode(left), 7);
        EXPECT_EQ(g_bWindowed, 0);
        EXPECT_EQ(g_d3dpp.hDeviceWindow, nullptr);
        EXPECT_TRUE(SaverClassFree());
    }
    EXPECT_FALSE(fs::exists(HiveFile()));
}

TEST_F(CommandLine, SettingsLetterAndEmptyLineGoToTheDialog) {
    // The dialog runs in memory; its user cancels it, which is the exit code.
    int shown = 0;
    platform::UseMemoryDialogsForTesting([&](HWND dialog) {
        ++shown;
        const DialogTemplate* shownTemplate = platform::DialogTemplateOf(dialog);
        ASSERT_NE(shownTemplate, nullptr);
        EXPECT_EQ(shownTemplate->caption, "Glimmerwing");
        platform::PressEscapeForTesting(dialog);
    });
    for (const char* line : {"", "   /_", "/c:1234", "C", " c", "_/C", "c /s"}) {
        SCOPED_TRACE(line);
        PostQuitMessage(7);
        EXPECT_EQ(WinMain(nullptr, nullptr, line, 1), IDCANCEL);
        EXPECT_EQ(Count(TakeMessages(), nullptr, WM_QUIT), 1);
        EXPECT_EQ(g_bWindowed, 0);
        EXPECT_TRUE(SaverClassFree());
    }
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 1), IDCANCEL);
    platform::UseMemoryDialogsForTesting({});
    EXPECT_EQ(shown, 8);
}

TEST_F(CommandLine, SaverLettersRunFullScreen) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    for (const char* line : {"/s", " s", "_S", "S", "/ _s:99"}) {
        SCOPED_TRACE(line);
        PostQuitMessage(7);
        EXPECT_EQ(WinMain(nullptr, nullptr, line, 1), 7);  // the loop ran and took the quit message
        EXPECT_EQ(g_bWindowed, 0);
        EXPECT_EQ(g_d3dpp.Windowed, 0);
        EXPECT_EQ(g_d3dpp.BackBufferWidth, 640u);
        EXPECT_EQ(g_d3dpp.BackBufferHeight, 480u);
        HWND hwnd = g_d3dpp.hDeviceWindow;
        ASSERT_TRUE(IsWindow(hwnd));
        RECT rc{};
        GetClientRect(hwnd, &rc);
        EXPECT_EQ(rc.right, GetSystemMetrics(SM_CXSCREEN));
        EXPECT_EQ(rc.bottom, GetSystemMetrics(SM_CYSCREEN));
        EXPECT_LT(CursorCount(), 0);
        // The clean-up ran: no device, settings written back.
        EXPECT_EQ(g_pd3dDevice, nullptr);
        EXPECT_EQ(g_bInitialized, 0);
        EXPECT_TRUE(fs::exists(HiveFile()));

        DestroyWindow(hwnd);
        EXPECT_EQ(CursorCount(), 0);
        TakeMessages();
        platform::ResetWindowingForTesting();
        g_d3dpp = D3DPRESENT_PARAMETERS{};
    }
}

TEST_F(CommandLine, WindowLetterRunsInA640By480Window) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    for (const char* line : {"/w", "W", " _w"}) {
        SCOPED_TRACE(line);
        g_bWindowed = 0;
        PostQuitMessage(7);
        EXPECT_EQ(WinMain(nullptr, nullptr, line, 1), 7);
        EXPECT_EQ(g_bWindowed, 1);
        EXPECT_EQ(g_d3dpp.Windowed, 1);
        EXPECT_EQ(g_d3dpp.BackBufferWidth, 640u);
        EXPECT_EQ(g_d3dpp.BackBufferHeight, 480u);
        HWND hwnd = g_d3dpp.hDeviceWindow;
        ASSERT_TRUE(IsWindow(hwnd));
        RECT rc{};
        GetClientRect(hwnd, &rc);
        EXPECT_EQ(rc.right, 640);
        EXPECT_EQ(rc.bottom, 480);
        EXPECT_EQ(CursorCount(), 0);  // a windowed run leaves the cursor alone

        DestroyWindow(hwnd);
        TakeMessages();
        platform::ResetWindowingForTesting();
        g_d3dpp = D3DPRESENT_PARAMETERS{};
    }
}

// ---------------------------------------------------------------------------
// Whole runs

using SaverRun = EntryFixture;

TEST_F(SaverRun, EscapeEndsAFullScreenRunCleanly) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    WriteHive("\"intBrdNumCur\"=dword:00000021\n");
    platform::SetKeyStateForTesting(VK_ESCAPE, true);
    ::alarm(kRunTimeLimitSeconds);  // a loop that never ends fails instead of hanging
    EXPECT_EQ(WinMain(nullptr, nullptr, "/s", 1), 0);
    ::alarm(0);

    EXPECT_FALSE(IsWindow(g_d3dpp.hDeviceWindow));
    EXPECT_GE(CursorCount(), 0);  // shown again
    EXPECT_EQ(WINNLSEnableIME(nullptr, TRUE), TRUE);
    EXPECT_EQ(g_pd3dDevice, nullptr);
    EXPECT_EQ(g_pD3D, nullptr);
    EXPECT_EQ(g_pFont, nullptr);
    EXPECT_EQ(Count(TakeMessages(), nullptr, WM_QUIT), 0);  // the loop took it
    // The stored value survived the run and every field was written back.
    const std::string hive = ReadHive();
    EXPECT_NE(hive.find("\"intBrdNumCur\"=dword:00000021"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"intPtlRndCol\"=dword:00000000"), std::string::npos) << hive;
    EXPECT_FALSE(fs::exists(LogFile()));

    // The mutex went with the run.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(mutex);
}

TEST_F(SaverRun, EscapeEndsAWindowedRunToo) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    platform::SetKeyStateForTesting(VK_ESCAPE, true);
    ::alarm(kRunTimeLimitSeconds);
    EXPECT_EQ(WinMain(nullptr, nullptr, "/w", 1), 0);
    ::alarm(0);
    EXPECT_EQ(g_bWindowed, 1);
    EXPECT_FALSE(IsWindow(g_d3dpp.hDeviceWindow));
    EXPECT_EQ(CursorCount(), 0);
    EXPECT_TRUE(fs::exists(HiveFile()));
}

TEST_F(SaverRun, SecondInstanceExitsAtOnce) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    WriteHive("\"intMode\"=dword:00000001\n");
    const std::string before = ReadHive();

    HANDLE held = CreateMutexA(nullptr, FALSE, kMutexName);
    ASSERT_NE(held, nullptr);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    PostQuitMessage(7);
    EXPECT_EQ(RunScreenSaver(), 0);
    EXPECT_EQ(Count(TakeMessages(), nullptr, WM_QUIT), 1);  // the loop never ran
    EXPECT_TRUE(SaverClassFree());
    EXPECT_EQ(g_d3dpp.hDeviceWindow, nullptr);
    EXPECT_EQ(ReadHive(), before);  // no shutdown either
    EXPECT_EQ(CursorCount(), 0);

    // Once the other instance is gone the saver runs.
    CloseHandle(held);
    PostQuitMessage(7);
    EXPECT_EQ(RunScreenSaver(), 7);
}

TEST_F(SaverRun, FailedWindowStillShutsDownButKeepsStoredSettings) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    WriteHive("\"intBrdNumCur\"=dword:00000030\n\"intChkCol\"=dword:00000001\n");
    const std::string before = ReadHive();

    // The class name is taken, so the saver cannot register its class or make its window.
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = kWindowClassName;
    ASSERT_NE(RegisterClassA(&wc), 0);

    PostQuitMessage(7);
    EXPECT_EQ(RunScreenSaver(), kExitStartFailed);
    EXPECT_EQ(Count(TakeMessages(), nullptr, WM_QUIT), 1);
    EXPECT_EQ(ReadHive(), before);
    EXPECT_FALSE(fs::exists(LogFile()));
    EXPECT_EQ(g_bInitialized, 0);

    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(mutex);
}

// ---------------------------------------------------------------------------
// Window procedures, full screen

using FullScreenWindow = EntryFixture;

TEST_F(FullScreenWindow, CreateHidesCursorAndDestroyShowsItAndQuits) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    SetCursorCount(2);  // hidden however often it was shown before
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(CursorCount(), -1);
    EXPECT_EQ(WINNLSEnableIME(nullptr, FALSE), FALSE);  // text input was off

    SetCursorCount(-3);
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(CursorCount(), 0);
    EXPECT_EQ(WINNLSEnableIME(nullptr, TRUE), TRUE);  // and is on again
    const std::vector<MSG> messages = TakeMessages();
    EXPECT_EQ(Count(messages, nullptr, WM_QUIT), 1);
    EXPECT_EQ(QuitCode(messages), 0);
}

TEST_F(FullScreenWindow, MouseTravelOfMoreThanFourPixelsCloses) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    TakeMessages();
    g_ptCursor = POINT{500, 400};

    const POINT four{502, 398};  // 2 + 2
    platform::SetCursorPosForTesting(&four);
    SendMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 0);
    EXPECT_EQ(g_ptCursor.x, 500);  // the reference stays while nothing fires
    EXPECT_EQ(g_ptCursor.y, 400);

    const POINT alsoFour{496, 400};
    platform::SetCursorPosForTesting(&alsoFour);
    SendMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 0);

    const POINT five{497, 404};  // 3 + 4 from the reference, not from the last position
    platform::SetCursorPosForTesting(&five);
    SendMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 1);
    EXPECT_EQ(g_ptCursor.x, 497);  // the reference moves with the close request
    EXPECT_EQ(g_ptCursor.y, 404);
    EXPECT_TRUE(IsWindow(hwnd));  // closing is left to the queue

    const POINT exactlyFive{502, 404};
    platform::SetCursorPosForTesting(&exactlyFive);
    SendMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 1);
}

TEST_F(FullScreenWindow, ButtonsAndDeactivationClose) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    TakeMessages();

    for (UINT message : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN}) {
        SendMessageA(hwnd, message, 0, 0);
        EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 1) << message;
    }
    for (UINT message : {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP, WM_KEYDOWN}) {
        SendMessageA(hwnd, message, 0, 0);
        EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 0) << message;
    }
    SendMessageA(hwnd, WM_ACTIVATEAPP, 1, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 0);
    SendMessageA(hwnd, WM_ACTIVATEAPP, 0, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 1);
    EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(FullScreenWindow, SuspendQueryIsGrantedAndClosesThroughTheQueue) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    TakeMessages();

    EXPECT_EQ(SendMessageA(hwnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), TRUE);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 1);

    constexpr WPARAM kResumeSuspend = 7;  // any other power event passes by
    SendMessageA(hwnd, WM_POWERBROADCAST, kResumeSuspend, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 0);
}

TEST_F(FullScreenWindow, TaskSwitchAndSecondSaverCommandsAreSwallowed) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    TakeMessages();
    for (WPARAM command : {SC_SCREENSAVE, SC_NEXTWINDOW, SC_PREVWINDOW}) {
        EXPECT_EQ(SendMessageA(hwnd, WM_SYSCOMMAND, command, 0), 0);
        EXPECT_TRUE(IsWindow(hwnd));
        EXPECT_TRUE(TakeMessages().empty());
    }
}

TEST_F(FullScreenWindow, QueuedCloseDestroysTheWindowAndQuitsWithZero) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    TakeMessages();
    ASSERT_EQ(CursorCount(), -1);

    // A click, as the loop would see it: fetched and dispatched.
    PostMessageA(hwnd, WM_LBUTTONDOWN, 0, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    std::vector<MSG> queued = TakeMessages();
    ASSERT_EQ(Count(queued, hwnd, WM_CLOSE), 1);

    for (const MSG& m : queued)
        if (m.message == WM_CLOSE) DispatchMessageA(&m);
    EXPECT_FALSE(IsWindow(hwnd));
    // Close and destroy each show the cursor; the count may end above zero.
    EXPECT_GE(CursorCount(), 0);
    queued = TakeMessages();
    EXPECT_EQ(Count(queued, nullptr, WM_QUIT), 1);
    EXPECT_EQ(QuitCode(queued), 0);
}

// ---------------------------------------------------------------------------
// Window procedures, windowed

using WindowedWindow = EntryFixture;

TEST_F(WindowedWindow, MouseClicksDeactivationAndSuspendDoNotClose) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    g_bWindowed = 1;
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(CursorCount(), 0);
    EXPECT_EQ(WINNLSEnableIME(nullptr, TRUE), TRUE);  // text input untouched
    TakeMessages();

    g_ptCursor = POINT{0, 0};
    const POINT far{600, 500};
    platform::SetCursorPosForTesting(&far);
    SendMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(g_ptCursor.x, 0);
    for (UINT message : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN}) SendMessageA(hwnd, message, 0, 0);
    SendMessageA(hwnd, WM_ACTIVATEAPP, 0, 0);
    SendMessageA(hwnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0);
    SendMessageA(hwnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    EXPECT_EQ(Count(TakeMessages(), hwnd, WM_CLOSE), 0);
    EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(WindowedWindow, CloseDestroysAndQuitsWithoutTouchingTheCursor) {
    if (!HaveDisplay()) return testing_support::MissingDisplay("no display");
    g_bWindowed = 1;
    HWND hwnd = CreateSaverWindow();
    ASSERT_NE(hwnd, nullptr);
    TakeMessages();
    SetCursorCount(-2);  // whatever someone else did with it stays

    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(CursorCount(), -2);
    const std::vector<MSG> queued = TakeMessages();
    EXPECT_EQ(Count(queued, nullptr, WM_QUIT), 1);
    EXPECT_EQ(QuitCode(queued), 0);
}

}  // namespace
