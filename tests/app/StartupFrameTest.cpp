// Start-up and shutdown on a real window, and the frame: time step, keys,
// frame-rate text, presentation and the lost device.
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

#include "app/Camera.h"
#include "app/Entry.h"
#include "app/ErrLog.h"
#include "app/Frame.h"
#include "app/FrameTimer.h"
#include "app/Hack.h"
#include "app/Options.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "flock/Boids.h"
#include "flock/Goal.h"
#include "flock/GoalUser.h"
#include "render/ZSortRender.h"
#include "scenery/ParticleTrailPC.h"
#include "platform/Clock.h"
#include "platform/Gdi.h"
#include "platform/Input.h"
#include "platform/Resources.h"
#include "platform/SystemDir.h"
#include "platform/Window.h"
#include "tests/support/Display.h"
#include "tests/support/PrivateFolders.h"
#include "tests/support/ReferenceImage.h"

#include <SDL.h>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kClockStart = 50'000 * kMs;
constexpr const char* kTestClass = "GlimmerwingStartupTest";
constexpr D3DCOLOR kBlue50 = 0xFF000032;
constexpr D3DCOLOR kBlack = 0xFF000000;

// The lines of a device start-up that got as far as creating the device.
constexpr const char* kD3DLines =
    "InitiateD3D...\n"
    "\tDirect3DCreate8...\n"
    "\tGetAdapterDisplayMode...\n"
    "\tChecking VertexShaderVersion...\n"
    "\tCreateDevice...\n";

float DwordToFloat(DWORD v) {
    float f = 0.0f;
    static_assert(sizeof f == sizeof v);
    std::memcpy(&f, &v, sizeof f);
    return f;
}

DWORD RenderState(D3DRENDERSTATETYPE state) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(g_pd3dDevice->GetRenderState(state, &v), D3D_OK);
    return v;
}

DWORD StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(g_pd3dDevice->GetTextureStageState(stage, type, &v), D3D_OK);
    return v;
}

std::vector<MSG> TakeMessages() {
    std::vector<MSG> messages;
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) messages.push_back(msg);
    return messages;
}

int CloseRequests(HWND hwnd) {
    int n = 0;
    for (const MSG& m : TakeMessages())
        if (m.message == WM_CLOSE && m.hwnd == hwnd) ++n;
    return n;
}

unsigned Red(std::uint32_t p) { return (p >> 16) & 0xFF; }
unsigned Green(std::uint32_t p) { return (p >> 8) & 0xFF; }
unsigned Blue(std::uint32_t p) { return p & 0xFF; }

// Private directories, a fake clock with a started frame timer, windowed mode
// and fresh settings for every case; the device and windows are gone after it.
class StartupFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_folders.emplace("gw-startup", std::vector<const char*>{"GLIMMERWING_SOFTWARE_VERTEX"});
        m_dir = m_folders->Root();
        ASSERT_FALSE(m_dir.empty());
        g_ErrLog.ClearForTesting();

        g_bWindowed = 1;
        g_Settings = Settings{};
        platform::ResetWindowingForTesting();
        platform::ClearKeyStatesForTesting();
        platform::UseFakeClock(kClockStart);
        FrameTimerResetForTesting();
        FrameTimer(TIMER_START);
        ResetFrameRateForTesting();

        if (!platform::EnsureVideo()) return testing_support::MissingDisplay("no display");
        WNDCLASSA wc{};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kTestClass;
        RegisterClassA(&wc);
    }

    void TearDown() override {
        Terminate();
        for (HWND hwnd : m_windows)
            if (IsWindow(hwnd)) DestroyWindow(hwnd);
        g_bWindowed = 0;
        g_Settings = Settings{};
        g_Options = CommandLineOptions{};
        SetFrameRateFontHeight(0);
        g_ErrLog.ClearForTesting();
        platform::ResetWindowingForTesting();
        platform::ClearKeyStatesForTesting();
        FrameTimerResetForTesting();
        ResetFrameRateForTesting();
        platform::UseRealClock();
        m_folders.reset();
    }

    HWND MakeWindow() {
        HWND hwnd = CreateWindowExA(0, kTestClass, "test", WS_CAPTION | WS_SYSMENU, 0, 0, 640, 480, nullptr,
                                    nullptr, nullptr, nullptr);
        if (hwnd) m_windows.push_back(hwnd);
        return hwnd;
    }

    // A started saver on a fresh 640 x 480 window.
    HWND Start() {
        HWND hwnd = MakeWindow();
        EXPECT_NE(hwnd, nullptr);
        EXPECT_EQ(Initiate(hwnd), 1) << g_ErrLog.Text();
        if (g_pd3dDevice) g_pd3dDevice->KeepPresentedFrames(true);  // the cases read frames after the tick
        return hwnd;
    }

    // Brings the process back to "before start-up" between runs of one case.
    void Restart() {
        Terminate();
        g_ErrLog.ClearForTesting();
        g_Settings = Settings{};
    }

    fs::path HiveFile() const { return m_dir / "config" / "glimmerwing" / "user.reg"; }
    fs::path LogDirectory() const { return m_dir / "state" / "glimmerwing"; }
    fs::path LogFile() const { return LogDirectory() / ErrLog::kFileName; }

    void WriteHive(const std::string& values) const {
        fs::create_directories(HiveFile().parent_path());
        std::ofstream(HiveFile(), std::ios::binary)
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"
            << values;
    }
    void WriteSetting(const char* name, int value) const {
        char line[96];
        std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\n", name, static_cast<unsigned>(value));
        WriteHive(line);
    }
    static std::string ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static std::vector<std::uint32_t> Pixels() {
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(g_pd3dDevice->ReadBackBuffer(pixels));
        return pixels;
    }
    static std::uint32_t Pixel(const std::vector<std::uint32_t>& pixels, int x, int y) {
        return pixels[static_cast<std::size_t>(y) * g_pd3dDevice->BackBufferWidth() + static_cast<std::size_t>(x)];
    }

    fs::path m_dir;
    std::optional<testing_support::PrivateFolders> m_folders;
    std::vector<HWND> m_windows;
};

// ---------------------------------------------------------------------------
// Start-up

using Startup = StartupFixture;

TEST_F(Startup, RunsTheStagesInOrderAndLeavesNoLogFile) {
    Start();
    const std::string log = g_ErrLog.Text();
    EXPECT_EQ(log.rfind(std::string(kD3DLines) + "InitiateRenderer...\nInitiateObjects...\n", 0), 0u) << log;
    const std::string tail = "InitiateFont...\nInitiate3DFont...\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    EXPECT_EQ(log.find("Failed"), std::string::npos);
    EXPECT_FALSE(fs::exists(LogDirectory()));  // a good start leaves no trace

    EXPECT_EQ(g_bInitialized, 1);
    ASSERT_NE(g_pd3dDevice, nullptr);
    ASSERT_NE(g_pFont, nullptr);
    EXPECT_FALSE(g_pd3dDevice->IsSoftwareVertexProcessing());
    EXPECT_GE(g_d3dCaps.VertexShaderVersion, D3DVS_VERSION(1, 1));

    const FontDescription* font = DescribeFont(g_hFont);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->requestedFace, "Lucida Console");
    EXPECT_EQ(font->weight, 600);
    EXPECT_TRUE(font->underline);
    EXPECT_FALSE(font->italic);
    EXPECT_FALSE(font->strikeOut);
}

TEST_F(Startup, DeviceWithoutVertexProgramsStartsWithSoftwareProcessing) {
    ::setenv("GLIMMERWING_SOFTWARE_VERTEX", "1", 1);
    Start();
    ASSERT_NE(g_pd3dDevice, nullptr);
    EXPECT_TRUE(g_pd3dDevice->IsSoftwareVertexProcessing());
    EXPECT_EQ(g_d3dCaps.VertexShaderVersion, 0u);
}

TEST_F(Startup, FullScreenBackBufferFollowsDisplayMode) {
    g_bWindowed = 0;
    struct Case {
        int mode;
        UINT width, height;
    };
    for (const Case c : {Case{0, 640, 480}, Case{1, 640, 480}, Case{7, 640, 480}, Case{9, 640, 480},
                         Case{-1, 640, 480}, Case{2, 800, 600}, Case{3, 1024, 768}}) {
        SCOPED_TRACE(c.mode);
        WriteSetting("intDisMod", c.mode);
        Start();
        EXPECT_EQ(g_dwScreenWidth, c.width);
        EXPECT_EQ(g_dwScreenHeight, c.height);
        ASSERT_NE(g_pd3dDevice, nullptr);
        EXPECT_EQ(g_pd3dDevice->BackBufferWidth(), c.width);
        EXPECT_EQ(g_pd3dDevice->BackBufferHeight(), c.height);
        EXPECT_EQ(g_d3dpp.Windowed, 0);
        EXPECT_EQ(g_d3dpp.BackBufferFormat, D3DFMT_X8R8G8B8);  // the first format the adapter accepts
        EXPECT_EQ(g_d3dpp.AutoDepthStencilFormat, D3DFMT_D16);
        Restart();
    }
}

TEST_F(Startup, WindowedBackBufferIgnoresDisplayMode) {
    WriteSetting("intDisMod", 3);
    Start();
    EXPECT_EQ(g_dwScreenWidth, 1024u);
    ASSERT_NE(g_pd3dDevice, nullptr);
    EXPECT_EQ(g_pd3dDevice->BackBufferWidth(), 640u);
    EXPECT_EQ(g_pd3dDevice->BackBufferHeight(), 480u);
    EXPECT_EQ(g_d3dpp.Windowed, 1);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(g_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);
    EXPECT_EQ(g_d3dpp.BackBufferFormat, mode.Format);
    EXPECT_EQ(g_rcPicture.right - g_rcPicture.left, 0);  // the frame fills the window
}

TEST(PictureRect, KeepsTheProjectionsShapeWithBarsUnlessTheDesktopIsWithinOnePercentOfIt) {
    struct Case {
        LONG width, height;
        float aspect;
        RECT expected;
    };
    const float standard = 4.0f / 3.0f, wide = 16.0f / 9.0f;
    for (const Case& c : {Case{1920, 1080, standard, {240, 0, 1680, 1080}},
                          Case{1280, 1024, standard, {0, 32, 1280, 992}},
                          Case{1280, 1024, wide, {0, 152, 1280, 872}},
                          Case{1024, 768, standard, {0, 0, 1024, 768}},
                          Case{1920, 1080, wide, {0, 0, 1920, 1080}},
                          Case{1366, 768, wide, {0, 0, 1366, 768}},      // 0.05 % wider
                          Case{1346, 1000, standard, {0, 0, 1346, 1000}},  // 0.95 % wider
                          Case{1347, 1000, standard, {7, 0, 1340, 1000}},  // 1.03 % wider
                          Case{0, 0, standard, {0, 0, 0, 0}}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const RECT r = PictureRect(c.width, c.height, c.aspect);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
}

TEST_F(Startup, ColourSettingChoosesClearAndFogColour) {
    for (const auto& [setting, colour] : {std::pair{0, kBlack}, std::pair{1, kBlue50}, std::pair{5, kBlue50}}) {
        SCOPED_TRACE(setting);
        WriteSetting("intChkCol", setting);
        HWND hwnd = Start();
        EXPECT_EQ(g_dwClearColor, colour);
        Tick(hwnd);
        const std::vector<std::uint32_t> pixels = Pixels();
        EXPECT_EQ(Pixel(pixels, 320, 240), colour);
        EXPECT_EQ(Pixel(pixels, 639, 479), colour);
        EXPECT_EQ(RenderState(D3DRS_FOGCOLOR), colour);
        Restart();
    }
}

TEST_F(Startup, AspectSettingShapesTheProjection) {
    const float yScale = 1.0f / std::tan(D3DX_PI / 7.0f);
    for (const auto& [setting, aspect] : {std::pair{0, 4.0f / 3.0f}, std::pair{1, 16.0f / 9.0f},
                                          std::pair{3, 16.0f / 9.0f}}) {
        SCOPED_TRACE(setting);
        WriteSetting("intAspMod", setting);
        Start();
        EXPECT_FLOAT_EQ(g_fAspect, aspect);
        D3DMATRIX proj{};
        ASSERT_EQ(g_pd3dDevice->GetTransform(D3DTS_PROJECTION, &proj), D3D_OK);
        EXPECT_NEAR(proj.m[1][1], yScale, 1e-4f);
        EXPECT_NEAR(proj.m[0][0], yScale / aspect, 1e-4f);
        EXPECT_NEAR(proj.m[2][2], 17500.0f / 17499.0f, 1e-5f);  // near 1, far at the fog end
        EXPECT_NEAR(proj.m[3][2], -17500.0f / 17499.0f, 1e-5f);
        EXPECT_EQ(proj.m[2][3], 1.0f);
        EXPECT_EQ(RenderState(D3DRS_FOGENABLE), static_cast<DWORD>(TRUE));
        EXPECT_EQ(RenderState(D3DRS_FOGVERTEXMODE), static_cast<DWORD>(D3DFOG_LINEAR));
        EXPECT_EQ(DwordToFloat(RenderState(D3DRS_FOGSTART)), 0.0f);
        EXPECT_EQ(DwordToFloat(RenderState(D3DRS_FOGEND)), 17500.0f);
        const D3DXVECTOR3 eye = g_Camera.GetPosition();
        EXPECT_EQ(eye, D3DXVECTOR3(2500.0f, 750.0f, -1500.0f));
        Restart();
    }
}

TEST_F(Startup, FailedDeviceCreationWritesTheLog) {
    // A window that is gone cannot carry a device.
    HWND hwnd = MakeWindow();
    ASSERT_NE(hwnd, nullptr);
    DestroyWindow(hwnd);

    EXPECT_EQ(Initiate(hwnd), 0);
    char failed[32];
    std::snprintf(failed, sizeof failed, "\tFailed hr=%x\n", static_cast<unsigned>(D3DERR_INVALIDCALL));
    const std::string expected = std::string(kD3DLines) + failed + "Failed\n";
    EXPECT_EQ(std::string(failed), "\tFailed hr=8876086c\n");
    EXPECT_EQ(g_ErrLog.Text(), expected);
    ASSERT_TRUE(fs::exists(LogFile()));
    EXPECT_EQ(ReadFile(LogFile()), expected);

    EXPECT_EQ(g_bInitialized, 0);
    EXPECT_EQ(g_pd3dDevice, nullptr);
    EXPECT_EQ(InitiateRenderer(hwnd), E_FAIL);
    EXPECT_EQ(InitiateObjects(hwnd), E_FAIL);

    // No frame runs after a failed start, not even for Escape.
    platform::SetKeyStateForTesting(VK_ESCAPE, true);
    Tick(hwnd);
    EXPECT_EQ(CloseRequests(hwnd), 0);

    Terminate();
    EXPECT_EQ(g_pD3D, nullptr);
}

TEST_F(Startup, AProgramOpenGLRefusesIsLoggedUnderItsStep) {
    // Translated vertex programs come out broken.
    SetGlslFilterForTesting([](std::string& source) {
        if (source.find("uniform vec4 c[") != std::string::npos) source += "broken beyond repair\n";
    });
    HWND hwnd = MakeWindow();
    ASSERT_NE(hwnd, nullptr);
    ::testing::internal::CaptureStderr();
    const int started = Initiate(hwnd);
    const std::string reported = ::testing::internal::GetCapturedStderr();
    SetGlslFilterForTesting({});
    EXPECT_EQ(started, 0);

    const std::string log = ReadFile(LogFile());
    const std::string step = "\t\tCreateVertexShader...\n\t\t\tOpenGL refused a vertex shader:\n\t\t\t";
    const std::size_t at = log.find(step);
    ASSERT_NE(at, std::string::npos) << log;
    // The driver's first line, then the step's failure.
    const std::size_t end = log.find('\n', at + step.size());
    const std::string driverLine = log.substr(at + step.size(), end - at - step.size());
    EXPECT_NE(reported.find(driverLine), std::string::npos) << reported;
    EXPECT_NE(log.find("\t\tFailed\n\tFailed\nFailed\n", end), std::string::npos) << log;
}

// Content that arrived damaged (a file cut short in a broken build) or a
// device that runs out of memory stops the start-up at the step that needed
// it, with the log of that step written; nothing crashes, and whatever was
// set up before is released.
TEST_F(Startup, DamagedContentOrAFailedResourceCreationStopsTheStartAtItsStep) {
    // The last line of one tab that starts a step: the object being brought up.
    const auto LastObjectStep = [](const std::string& log) {
        std::string last;
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);)
            if (line.size() > 4 && line[0] == '\t' && line[1] != '\t' && line.ends_with("...")) last = line + "\n";
        return last;
    };
    struct Damage {
        const char* resource;
        const char* step;  // the object whose step fails, then "\tFailed\nFailed\n"
    };
    const Damage damages[] = {
        {"CLOCK.FPP", "\tFerguson.InitDeviceObjects...\n"},
        {"MOON.BPS", "\tBackGrounds.InitDeviceObjects...\n"},
        {"MOON.X", "\tBackGrounds.InitDeviceObjects...\n"},
        {"BIRDDAMMY02.X", "\tBoids.InitDeviceObjects...\n"},
        {"TOONTOON.BMP", "\tZSortRender.InitDeviceObjects...\n"},
        {"PARTICLETRAILPC1.DDS", "\tParticleTrailPC.InitDeviceObjects...\n"},
    };
    std::vector<ResourceEntry> table(CompiledResourceTable().begin(), CompiledResourceTable().end());
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.resource);
        std::vector<ResourceEntry> damaged = table;
        for (ResourceEntry& entry : damaged)
            if (strcasecmp(entry.name, damage.resource) == 0) entry.size = std::min<std::size_t>(entry.size, 10);
        SetResourceTableForTesting(damaged);
        Restart();
        fs::remove(LogFile());
        EXPECT_EQ(Initiate(MakeWindow()), 0);
        const std::string log = g_ErrLog.Text();
        EXPECT_EQ(LastObjectStep(log), damage.step) << log;
        EXPECT_EQ(log.rfind("\tFailed\nFailed\n"), log.size() - 15) << log;
        EXPECT_EQ(ReadFile(LogFile()), log);
    }
    SetResourceTableForTesting({});

    // The n-th buffer or texture of a clean start fails: sampled over the
    // whole start-up.
    Restart();
    InjectResourceFailureForTesting(0);
    ASSERT_EQ(Initiate(MakeWindow()), 1) << g_ErrLog.Text();
    const int creations = InjectResourceFailureForTesting(0);
    ASSERT_GT(creations, 10);
    for (int failAt = 1; failAt <= creations; failAt += std::max(1, creations / 9)) {
        SCOPED_TRACE(failAt);
        Restart();
        fs::remove(LogFile());
        InjectResourceFailureForTesting(failAt);
        HWND hwnd = MakeWindow();
        const int started = Initiate(hwnd);
        if (started) {
            // Only a step whose failure the start-up goes on from: it still draws.
            Tick(hwnd);
            EXPECT_FALSE(fs::exists(LogFile()));
        } else {
            const std::string log = g_ErrLog.Text();
            EXPECT_EQ(log.substr(log.size() - 7), "Failed\n") << log;
            EXPECT_NE(log.find("\tFailed"), std::string::npos) << log;
            EXPECT_EQ(ReadFile(LogFile()), log);
        }
    }
    InjectResourceFailureForTesting(0);
}

// ---------------------------------------------------------------------------
// Shutdown

using Shutdown = StartupFixture;

TEST_F(Shutdown, SettingsThatWereNeverLoadedAreNotWritten) {
    WriteHive("\"intBrdNumCur\"=dword:00000031\n\"Unknown\"=\"kept\"\n");
    const std::string before = ReadFile(HiveFile());
    g_Settings.intBrdNumCur = 5;
    Terminate();
    EXPECT_EQ(ReadFile(HiveFile()), before);
}

TEST_F(Shutdown, LoadedSettingsAreWrittenBackAndEverythingReleased) {
    WriteHive("\"intChkCol\"=dword:00000001\n\"Unknown\"=\"kept\"\n");
    HWND hwnd = Start();
    EXPECT_EQ(g_Settings.intChkCol, 1);
    g_Settings.intBrdNumCur = 42;
    Terminate();

    const std::string hive = ReadFile(HiveFile());
    EXPECT_NE(hive.find("\"intBrdNumCur\"=dword:0000002a"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"intChkCol\"=dword:00000001"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"Unknown\"=\"kept\""), std::string::npos) << hive;

    EXPECT_EQ(g_bInitialized, 0);
    EXPECT_EQ(g_pFont, nullptr);
    EXPECT_EQ(g_hFont, nullptr);
    EXPECT_EQ(g_pd3dDevice, nullptr);
    EXPECT_EQ(g_pD3D, nullptr);

    // A tick after shutdown does nothing; a second shutdown is harmless.
    platform::SetKeyStateForTesting(VK_ESCAPE, true);
    Tick(hwnd);
    EXPECT_EQ(CloseRequests(hwnd), 0);
    Terminate();
}

TEST_F(Shutdown, OptionsChangeOneRunButNeverTheStore) {
    WriteHive("\"intBrdNumCur\"=dword:00000031\n\"intChkCol\"=dword:00000001\n");
    g_Options = ParseCommandLine(std::vector<const char*>{"/w", "--birds", "7", "--no-blue-sky"});
    Start();
    EXPECT_EQ(g_Settings.intBrdNumCur, 7);
    EXPECT_EQ(g_dwClearColor, kBlack);
    g_Settings.intPtlSizCur = 42;  // not an option: stored as before
    Terminate();
    const std::string hive = ReadFile(HiveFile());
    EXPECT_NE(hive.find("\"intBrdNumCur\"=dword:00000031"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"intChkCol\"=dword:00000001"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"intPtlSizCur\"=dword:0000002a"), std::string::npos) << hive;
}

TEST_F(Shutdown, AHackNeitherReadsNorWritesTheStore) {
    WriteHive("\"intBrdNumCur\"=dword:00000031\n\"intChkCol\"=dword:00000001\n");
    const std::string before = ReadFile(HiveFile());
    g_Options = ParseCommandLine(std::vector<const char*>{"--window", "--particle-size", "12"});
    Start();
    EXPECT_EQ(g_Settings.intBrdNumCur, 20);
    EXPECT_EQ(g_Settings.intChkCol, 0);
    EXPECT_EQ(g_Settings.intChkFPS, 0);  // a hack shows the rate only when asked
    EXPECT_EQ(g_Settings.intPtlSizCur, 12);
    Terminate();
    EXPECT_EQ(ReadFile(HiveFile()), before);

    Restart();
    fs::remove(HiveFile());
    Start();
    Terminate();
    EXPECT_FALSE(fs::exists(HiveFile()));
}

// ---------------------------------------------------------------------------
// Frame

using Frame = StartupFixture;

TEST_F(Frame, AHackTakesItsWindowsSizeAndShapeFromFrameToFrame) {
    g_Options = ParseCommandLine(std::vector<const char*>{"--window", "--fps"});
    HWND hwnd = CreateWindowExA(0, kTestClass, "test", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    m_windows.push_back(hwnd);
    ASSERT_EQ(Initiate(hwnd), 1) << g_ErrLog.Text();
    g_pd3dDevice->KeepPresentedFrames(true);
    g_pd3dDevice->SetRenderState(D3DRS_AMBIENT, 0xFF102030);

    // A 16:9 preview pane.
    SDL_SetWindowSize(platform::SdlWindowOf(hwnd), 565, 317);
    for (int frame = 0; frame < 2; ++frame) {
        FollowHostWindow(hwnd);
        Tick(hwnd);
    }
    EXPECT_EQ(g_pd3dDevice->BackBufferWidth(), 565u);
    EXPECT_EQ(g_pd3dDevice->BackBufferHeight(), 317u);
    EXPECT_TRUE(g_pd3dDevice->DrawsIntoWindow());  // the new size is the window's again
    EXPECT_EQ(g_dwScreenHeight, 317u);
    EXPECT_EQ(RenderState(D3DRS_AMBIENT), 0xFF102030u);  // the device keeps its states
    D3DMATRIX proj{};
    ASSERT_EQ(g_pd3dDevice->GetTransform(D3DTS_PROJECTION, &proj), D3D_OK);
    EXPECT_NEAR(proj.m[1][1] / proj.m[0][0], 565.0f / 317.0f, 1e-3f);
    ASSERT_NE(DescribeFont(g_hFont), nullptr);
    EXPECT_EQ(DescribeFont(g_hFont)->height, 10);

    // The remade font draws: light rate text in the top-left corner.
    const auto pixels = Pixels();
    int lit = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 60; ++x) lit += Blue(Pixel(pixels, x, y)) > 0x80 ? 1 : 0;
    EXPECT_GT(lit, 10);
}

TEST_F(Frame, TimeStepIsCappedAtThirtyMilliseconds) {
    HWND hwnd = Start();
    ASSERT_NE(g_pd3dDevice, nullptr);
    Tick(hwnd);
    EXPECT_EQ(g_fElapsedTime, 0.0f);
    platform::AdvanceFakeClock(100 * kMs);
    Tick(hwnd);
    EXPECT_FLOAT_EQ(g_fElapsedTime, 0.03f);
    platform::AdvanceFakeClock(20 * kMs);
    Tick(hwnd);
    EXPECT_NEAR(g_fElapsedTime, 0.02f, 1e-6f);
    platform::AdvanceFakeClock(5000 * kMs);
    Tick(hwnd);
    EXPECT_FLOAT_EQ(g_fElapsedTime, 0.03f);
    EXPECT_EQ(g_pd3dDevice->PresentCount(), 4u);
}

// Where a world point lies in front of the camera: (x / z, y / z) in view space.
static std::pair<float, float> ViewSlope(const D3DXVECTOR3& p) {
    D3DXVECTOR3 v;
    const D3DXMATRIX view = g_Camera.GetView();
    D3DXVec3TransformCoord(&v, &p, &view);
    return {v.x / v.z, v.y / v.z};
}

TEST_F(Frame, EachModeMovesItsGoalTheFlockAndItsCamera) {
    // Objects come up in their fixed order.
    HWND hwnd = Start();
    const std::string log = g_ErrLog.Text();
    std::size_t at = 0;
    for (const char* line : {"\tZSortRender.InitDeviceObjects...\n", "\tDammySkm.InitDeviceObjects...\n",
                             "\tFerguson.InitDeviceObjects...\n", "\tParticleTrailPC.InitDeviceObjects...\n",
                             "\tBackGrounds.InitDeviceObjects...\n", "\tBoids.InitDeviceObjects...\n",
                             "\tGoal.InitDeviceObjects...\n", "\tGoalUser.InitDeviceObjects...\n"}) {
        const std::size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " after " << at << " in\n" << log;
        at = found + 1;
    }

    // Automatic: the flock flies after the goal, leaves trails, and the
    // camera looks at its centre.
    const D3DXVECTOR3 start = g_Boids.GetCenter();
    for (int i = 0; i < 20; ++i) {
        platform::AdvanceFakeClock(30 * kMs);
        Tick(hwnd);
    }
    const D3DXVECTOR3 moved = g_Boids.GetCenter() - start;
    EXPECT_GT(D3DXVec3Length(&moved), 50.0f);
    EXPECT_GT(g_ParticleTrailPC.ActiveCount(), 0u);
    auto [sx, sy] = ViewSlope(g_Boids.GetCenter());
    EXPECT_NEAR(sx, 0.0f, 0.05f);
    EXPECT_NEAR(sy, 0.0f, 0.05f);
    Restart();

    // User mode with the static whale: it is queued after the second pass and
    // waits in the queue for the next frame's first; the camera looks at it.
    WriteHive("\"intMode\"=dword:00000001\n\"intChkAnim\"=dword:00000000\n");
    hwnd = Start();
    for (int i = 0; i < 3; ++i) {
        platform::AdvanceFakeClock(30 * kMs);
        Tick(hwnd);
        EXPECT_EQ(g_ZSortRender.Count(), 1u);
    }
    std::tie(sx, sy) = ViewSlope(g_GoalUser.GetPosition());
    EXPECT_NEAR(sx, 0.0f, 0.05f);
    EXPECT_NEAR(sy, 0.0f, 0.05f);
    Restart();

    // Any other mode: nothing moves, the frame still renders.
    WriteHive("\"intMode\"=dword:00000002\n");
    hwnd = Start();
    const D3DXVECTOR3 still = g_Boids.GetCenter();
    const D3DXMATRIX camera = g_Camera.GetWorld();
    for (int i = 0; i < 5; ++i) {
        platform::AdvanceFakeClock(30 * kMs);
        Tick(hwnd);
    }
    const D3DXVECTOR3 drift = g_Boids.GetCenter() - still;
    EXPECT_EQ(D3DXVec3Length(&drift), 0.0f);
    EXPECT_EQ(std::memcmp(&camera, &g_Camera.GetWorld(), sizeof camera), 0);
    EXPECT_EQ(g_pd3dDevice->PresentCount(), 5u);
}

TEST_F(Frame, ReadKeysMapsEachKeyToItsField) {
    const int keys[] = {'W', 'S', 'D', 'A', 'E', 'Q', VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT, VK_PRIOR, VK_NEXT,
                        VK_ESCAPE};
    DWORD KeyState::*const fields[] = {&KeyState::bW,    &KeyState::bS,      &KeyState::bD,       &KeyState::bA,
                                       &KeyState::bE,    &KeyState::bQ,      &KeyState::bUp,      &KeyState::bDown,
                                       &KeyState::bLeft, &KeyState::bRight,  &KeyState::bPageUp,  &KeyState::bPageDown,
                                       &KeyState::bEscape};
    for (std::size_t down = 0; down < std::size(keys); ++down) {
        for (int key : keys) platform::SetKeyStateForTesting(key, false);
        platform::SetKeyStateForTesting(keys[down], true);
        ReadKeys();
        for (std::size_t i = 0; i < std::size(fields); ++i)
            EXPECT_EQ(g_Keys.*fields[i], i == down ? 1u : 0u) << "key " << keys[down] << ", field " << i;
    }
    for (int key : keys) platform::SetKeyStateForTesting(key, true);
    ReadKeys();
    for (auto field : fields) EXPECT_EQ(g_Keys.*field, 1u);
    for (int key : keys) platform::SetKeyStateForTesting(key, false);
    ReadKeys();
    for (auto field : fields) EXPECT_EQ(g_Keys.*field, 0u);
}

TEST_F(Frame, EscapeClosesAWindowedRun) {
    HWND hwnd = Start();
    TakeMessages();
    platform::SetKeyStateForTesting('W', true);
    Tick(hwnd);
    EXPECT_EQ(CloseRequests(hwnd), 0);
    platform::SetKeyStateForTesting(VK_ESCAPE, true);
    Tick(hwnd);
    EXPECT_EQ(g_Keys.bEscape, 1u);
    EXPECT_EQ(CloseRequests(hwnd), 1);
    EXPECT_TRUE(IsWindow(hwnd));  // the close goes through the queue
}

TEST_F(Frame, RateTextIsRefreshedAfterEachSecondCountedFromTheFirstFrame) {
    HWND hwnd = Start();
    EXPECT_STREQ(FrameRateText(), " 0.00 ");
    platform::AdvanceFakeClock(5000 * kMs);  // a slow start-up: not frame time
    Tick(hwnd);  // t = 5: the first interval begins
    EXPECT_STREQ(FrameRateText(), " 0.00 ");
    platform::AdvanceFakeClock(500 * kMs);
    Tick(hwnd);  // t = 5.5
    EXPECT_STREQ(FrameRateText(), " 0.00 ");
    platform::AdvanceFakeClock(600 * kMs);
    Tick(hwnd);  // t = 6.1: two frames in 1.1 s
    EXPECT_STREQ(FrameRateText(), " 1.82 ");
    platform::AdvanceFakeClock(500 * kMs);
    Tick(hwnd);  // t = 6.6: unchanged
    EXPECT_STREQ(FrameRateText(), " 1.82 ");
    platform::AdvanceFakeClock(300 * kMs);
    Tick(hwnd);  // t = 6.9
    platform::AdvanceFakeClock(300 * kMs);
    Tick(hwnd);  // t = 7.2: three frames since the last update
    EXPECT_STREQ(FrameRateText(), " 2.73 ");
}

TEST_F(Frame, RateTextIsDrawnLightBlueAtTheTopLeft) {
    // Nothing but the text in the picture: no background, and the flock
    // standing out of the start camera's sight.
    WriteHive("\"intBakGnd\"=dword:00000000\n\"intMode\"=dword:00000002\n");
    HWND hwnd = Start();
    Tick(hwnd);
    const std::vector<std::uint32_t> pixels = Pixels();
    int lit = 0, full = 0, outside = 0, offColour = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const std::uint32_t p = Pixel(pixels, x, y);
            if ((p & 0xFFFFFF) == 0) continue;
            ++lit;
            if (x >= 200 || y >= 48) ++outside;
            // Edges of faint coverage round to grey; the colour shows where the text is.
            if (Blue(p) >= 0x20 &&
                (Blue(p) <= Red(p) || std::abs(static_cast<int>(Red(p)) - static_cast<int>(Green(p))) > 2))
                ++offColour;
            // 0xBB and 0xFF at alpha 0x88 over black.
            if (std::abs(static_cast<int>(Red(p)) - 0x63) <= 2 && std::abs(static_cast<int>(Blue(p)) - 0x88) <= 2)
                ++full;
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(offColour, 0);
    EXPECT_GT(lit, 20);
    EXPECT_GT(full, 0);
}

TEST_F(Frame, TheFirstSecondOfADefaultRunMatchesItsReference) {
    // The flock, its trails, the moons and the earth from the first camera,
    // on the fixed clock.
    HWND hwnd = Start();
    // The goal drew its first waypoint when the test program started, from
    // the real clock: the flock chases a fixed one instead.
    g_Goal.m_vTarget = D3DXVECTOR3(1200.0f, 150.0f, -800.0f);
    for (int frame = 0; frame < 40; ++frame) {
        platform::AdvanceFakeClock(30 * kMs);
        Tick(hwnd);
    }
    testing_support::ExpectMatchesReference("app", "first_second", Pixels(), 640, 480);
}

TEST_F(Frame, NoRateTextUnlessTheSettingIsExactlyOne) {
    for (int setting : {0, 2}) {
        SCOPED_TRACE(setting);
        WriteSetting("intChkFPS", setting);
        HWND hwnd = Start();
        Tick(hwnd);
        platform::AdvanceFakeClock(1500 * kMs);
        Tick(hwnd);
        EXPECT_STREQ(FrameRateText(), " 0.00 ");  // no counting either
        const std::vector<std::uint32_t> pixels = Pixels();
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 200; ++x) ASSERT_EQ(Pixel(pixels, x, y), kBlack) << x << "," << y;
        EXPECT_EQ(RenderState(D3DRS_FOGENABLE), static_cast<DWORD>(TRUE));
        Restart();
    }
}

TEST_F(Frame, ResettableLostDeviceIsResetAndRendererStatesReturn) {
    WriteSetting("intChkCol", 1);
    HWND hwnd = Start();
    ASSERT_NE(g_pd3dDevice, nullptr);
    Tick(hwnd);
    const std::uint64_t presents = g_pd3dDevice->PresentCount();

    g_pd3dDevice->SimulateDeviceLoss(true);
    Tick(hwnd);
    EXPECT_EQ(g_pd3dDevice->PresentCount(), presents);  // this frame was lost
    EXPECT_EQ(g_pd3dDevice->TestCooperativeLevel(), D3D_OK);

    // Reset starts from the device defaults; start-up's renderer states are back.
    EXPECT_EQ(StageState(0, D3DTSS_COLORARG2), D3DTA_DIFFUSE);
    EXPECT_EQ(StageState(0, D3DTSS_MINFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(StageState(1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(StageState(1, D3DTSS_COLORARG2), D3DTA_CURRENT);
    EXPECT_EQ(StageState(1, D3DTSS_ALPHAARG2), D3DTA_DIFFUSE);
    EXPECT_EQ(RenderState(D3DRS_MULTISAMPLEANTIALIAS), static_cast<DWORD>(FALSE));
    EXPECT_EQ(RenderState(D3DRS_AMBIENT), 0xFF000000u);
    EXPECT_EQ(RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
    EXPECT_EQ(RenderState(D3DRS_FOGCOLOR), kBlue50);
    EXPECT_EQ(DwordToFloat(RenderState(D3DRS_FOGEND)), 17500.0f);
    D3DMATRIX proj{};
    g_pd3dDevice->GetTransform(D3DTS_PROJECTION, &proj);
    EXPECT_NEAR(proj.m[1][1], 1.0f / std::tan(D3DX_PI / 7.0f), 1e-4f);

    Tick(hwnd);
    EXPECT_EQ(g_pd3dDevice->PresentCount(), presents + 1);
    EXPECT_EQ(Pixel(Pixels(), 320, 240), kBlue50);
}

TEST_F(Frame, DeviceThatStaysLostKeepsFramesRunning) {
    HWND hwnd = Start();
    ASSERT_NE(g_pd3dDevice, nullptr);
    Tick(hwnd);
    const std::uint64_t presents = g_pd3dDevice->PresentCount();
    // A reset would replace this with the default or with the fog end.
    g_pd3dDevice->SetRenderState(D3DRS_FOGEND, FloatToDword(5.0f));

    g_pd3dDevice->SimulateDeviceLoss(false);
    for (int i = 0; i < 3; ++i) {
        platform::AdvanceFakeClock(16 * kMs);
        Tick(hwnd);
        EXPECT_NEAR(g_fElapsedTime, 0.016f, 1e-6f);
    }
    EXPECT_EQ(g_pd3dDevice->PresentCount(), presents);
    EXPECT_EQ(g_pd3dDevice->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(DwordToFloat(RenderState(D3DRS_FOGEND)), 5.0f);
    EXPECT_EQ(g_bInitialized, 1);

    TakeMessages();
    platform::SetKeyStateForTesting(VK_ESCAPE, true);
    Tick(hwnd);
    EXPECT_EQ(CloseRequests(hwnd), 1);  // Escape still ends the run
}

}  // namespace
