// The Direct3D 8-shaped device: the adapter's answers, creation and its
// default states, Clear and the viewport read back from the back buffer, the
// scene rules, Reset and the lost device.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/Device.h"
#include "platform/Window.h"
#include "tests/support/TestDevice.h"

namespace {

constexpr D3DCOLOR kRed = 0xFFFF0000;
constexpr D3DCOLOR kBlue = 0xFF0000FF;
constexpr D3DCOLOR kGreen = 0xFF00FF00;

class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("GLIMMERWING_SOFTWARE_VERTEX")) m_savedSoftware = v;
        ::unsetenv("GLIMMERWING_SOFTWARE_VERTEX");
        if (FAILED(m_display.Open())) return testing_support::MissingDisplay("no display");
        m_pD3D = m_display.D3D();
    }

    void TearDown() override {
        if (m_pDevice) m_pDevice->Release();
        m_pDevice = nullptr;
        m_display.Release();
        if (m_savedSoftware) ::setenv("GLIMMERWING_SOFTWARE_VERTEX", m_savedSoftware->c_str(), 1);
        else ::unsetenv("GLIMMERWING_SOFTWARE_VERTEX");
    }

    HWND MakeWindow(int width, int height) { return m_display.MakeWindow(width, height); }

    static D3DPRESENT_PARAMETERS Windowed(HWND hwnd, UINT width = 0, UINT height = 0) {
        return testing_support::TestDevice::WindowedParams(hwnd, width, height);
    }

    // A windowed device with a 0 x 0 back buffer on a fresh window.
    Direct3DDevice8* MakeDevice(int width = 160, int height = 120,
                                DWORD behavior = D3DCREATE_HARDWARE_VERTEXPROCESSING) {
        HWND hwnd = MakeWindow(width, height);
        EXPECT_NE(hwnd, nullptr);
        D3DPRESENT_PARAMETERS pp = Windowed(hwnd);
        EXPECT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, behavior, &pp, &m_pDevice), D3D_OK);
        if (m_pDevice) m_pDevice->KeepPresentedFrames(true);  // the cases read frames after Present
        return m_pDevice;
    }

    std::vector<std::uint32_t> Pixels() const {
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(m_pDevice->ReadBackBuffer(pixels));
        return pixels;
    }
    std::uint32_t At(const std::vector<std::uint32_t>& pixels, UINT x, UINT y) const {
        return pixels[static_cast<std::size_t>(y) * m_pDevice->BackBufferWidth() + x];
    }
    DWORD RenderState(D3DRENDERSTATETYPE s) const {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(m_pDevice->GetRenderState(s, &v), D3D_OK);
        return v;
    }
    DWORD StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE t) const {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(m_pDevice->GetTextureStageState(stage, t, &v), D3D_OK);
        return v;
    }

    testing_support::TestDevice m_display;  // the Direct3D object and the windows
    Direct3D8* m_pD3D = nullptr;
    Direct3DDevice8* m_pDevice = nullptr;
    std::optional<std::string> m_savedSoftware;
};

// ---------------------------------------------------------------------------
// The Direct3D object

using Adapter = DeviceFixture;

TEST(Direct3DObject, WrongSdkVersionGivesNothing) {
    EXPECT_EQ(Direct3DCreate8(D3D_SDK_VERSION - 1), nullptr);
    EXPECT_EQ(Direct3DCreate8(0), nullptr);
}

TEST_F(Adapter, ReportsTheDesktopModeAndAcceptsOnly32BitFullScreen) {
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);
    EXPECT_EQ(static_cast<int>(mode.Width), GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(static_cast<int>(mode.Height), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(m_pD3D->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, nullptr), D3DERR_INVALIDCALL);

    // Start-up tries these in order and takes the first one accepted.
    for (D3DFORMAT f : {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_R8G8B8})
        EXPECT_EQ(m_pD3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, f, f, FALSE), D3DERR_NOTAVAILABLE) << f;
    EXPECT_EQ(m_pD3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE),
              D3D_OK);
    EXPECT_EQ(m_pD3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE),
              D3D_OK);
    EXPECT_NE(m_pD3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE),
              D3D_OK);
}

TEST_F(Adapter, VertexProgramVersionCanBeTurnedOff) {
    D3DCAPS8 caps{};
    ASSERT_EQ(m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, D3DVS_VERSION(1, 1));
    EXPECT_GE(caps.MaxVertexShaderConst, 96u);
    EXPECT_GE(caps.MaxTextureBlendStages, 2u);

    ::setenv("GLIMMERWING_SOFTWARE_VERTEX", "1", 1);
    ASSERT_EQ(m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, 0u);
    ::setenv("GLIMMERWING_SOFTWARE_VERTEX", "0", 1);
    ASSERT_EQ(m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, D3DVS_VERSION(1, 1));
}

// ---------------------------------------------------------------------------
// Creation

using Creation = DeviceFixture;

TEST_F(Creation, StartsWithDirect3DDefaultStates) {
    ASSERT_NE(MakeDevice(), nullptr);
    EXPECT_EQ(RenderState(D3DRS_LIGHTING), static_cast<DWORD>(TRUE));
    EXPECT_EQ(RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
    EXPECT_EQ(RenderState(D3DRS_ZENABLE), static_cast<DWORD>(D3DZB_TRUE));  // automatic depth buffer
    EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(RenderState(D3DRS_FOGENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(RenderState(D3DRS_FOGEND), FloatToDword(1.0f));

    EXPECT_EQ(StageState(0, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(StageState(0, D3DTSS_COLORARG1), D3DTA_TEXTURE);
    EXPECT_EQ(StageState(0, D3DTSS_COLORARG2), D3DTA_CURRENT);
    EXPECT_EQ(StageState(0, D3DTSS_ALPHAOP), static_cast<DWORD>(D3DTOP_SELECTARG1));
    for (DWORD stage = 1; stage < kMaxTextureStages; ++stage) {
        EXPECT_EQ(StageState(stage, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_DISABLE)) << stage;
        EXPECT_EQ(StageState(stage, D3DTSS_ALPHAOP), static_cast<DWORD>(D3DTOP_DISABLE)) << stage;
    }
    EXPECT_EQ(StageState(0, D3DTSS_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));

    D3DMATRIX m{};
    ASSERT_EQ(m_pDevice->GetTransform(D3DTS_PROJECTION, &m), D3D_OK);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], r == c ? 1.0f : 0.0f);
    D3DVIEWPORT8 vp{};
    ASSERT_EQ(m_pDevice->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.X, 0u);
    EXPECT_EQ(vp.Width, 160u);
    EXPECT_EQ(vp.Height, 120u);
    EXPECT_EQ(vp.MinZ, 0.0f);
    EXPECT_EQ(vp.MaxZ, 1.0f);
}

TEST_F(Creation, WithoutDepthBufferDepthIsOffAndCannotBeCleared) {
    HWND hwnd = MakeWindow(64, 64);
    D3DPRESENT_PARAMETERS pp = Windowed(hwnd);
    pp.EnableAutoDepthStencil = FALSE;
    ASSERT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                   &m_pDevice),
              D3D_OK);
    EXPECT_EQ(RenderState(D3DRS_ZENABLE), static_cast<DWORD>(D3DZB_FALSE));
    EXPECT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
}

TEST_F(Creation, WindowedZeroSizeTakesTheClientSize) {
    HWND hwnd = MakeWindow(320, 200);
    D3DPRESENT_PARAMETERS pp = Windowed(hwnd);
    pp.BackBufferFormat = D3DFMT_UNKNOWN;  // windowed: the desktop's format
    ASSERT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                   &m_pDevice),
              D3D_OK);
    EXPECT_EQ(m_pDevice->BackBufferWidth(), 320u);
    EXPECT_EQ(m_pDevice->BackBufferHeight(), 200u);
    EXPECT_EQ(pp.BackBufferWidth, 320u);  // filled in, for a later Reset with the same record
    EXPECT_EQ(pp.BackBufferHeight, 200u);
    EXPECT_EQ(Pixels().size(), 320u * 200u);
}

TEST_F(Creation, HardwareAndSoftwareVertexProcessing) {
    ASSERT_NE(MakeDevice(), nullptr);
    D3DCAPS8 caps{};
    ASSERT_EQ(m_pDevice->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, D3DVS_VERSION(1, 1));
    EXPECT_FALSE(m_pDevice->IsSoftwareVertexProcessing());
    m_pDevice->Release();
    m_pDevice = nullptr;

    ASSERT_NE(MakeDevice(64, 64, D3DCREATE_SOFTWARE_VERTEXPROCESSING), nullptr);
    ASSERT_EQ(m_pDevice->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, 0u);
    EXPECT_TRUE(m_pDevice->IsSoftwareVertexProcessing());
    EXPECT_EQ(RenderState(D3DRS_SOFTWAREVERTEXPROCESSING), static_cast<DWORD>(TRUE));
}

TEST_F(Creation, RefusesWhatItCannotCreate) {
    HWND hwnd = MakeWindow(64, 64);
    Direct3DDevice8* device = reinterpret_cast<Direct3DDevice8*>(0x1);

    D3DPRESENT_PARAMETERS pp = Windowed(hwnd);
    EXPECT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, hwnd, 0, &pp, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, 0, nullptr, &device), D3DERR_INVALIDCALL);

    pp.AutoDepthStencilFormat = D3DFMT_D24S8;
    EXPECT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, 0, &pp, &device), D3DERR_INVALIDCALL);

    // Full screen with no format found (start-up leaves it unknown).
    pp = Windowed(hwnd, 640, 480);
    pp.Windowed = FALSE;
    pp.BackBufferFormat = D3DFMT_UNKNOWN;
    EXPECT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, 0, &pp, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);

    // A window that is gone.
    HWND gone = MakeWindow(64, 64);
    DestroyWindow(gone);
    pp = Windowed(gone);
    EXPECT_EQ(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, gone, 0, &pp, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);
}

TEST_F(Creation, DeviceOutlivesItsWindow) {
    ASSERT_NE(MakeDevice(), nullptr);
    ASSERT_TRUE(DestroyWindow(m_display.Window()));
    EXPECT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kGreen, 1.0f, 0), D3D_OK);
    EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(At(Pixels(), 80, 60), kGreen);
}

// ---------------------------------------------------------------------------
// Clear and viewport

using ClearAndViewport = DeviceFixture;

TEST_F(ClearAndViewport, ClearsTheWholeTargetOrTheRectanglesFromTheTopLeft) {
    ASSERT_NE(MakeDevice(), nullptr);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kRed, 1.0f, 0), D3D_OK);
    std::vector<std::uint32_t> pixels = Pixels();
    ASSERT_EQ(pixels.size(), 160u * 120u);
    for (std::uint32_t p : pixels) ASSERT_EQ(p, kRed);

    const D3DRECT rects[] = {{10, 20, 30, 40}, {150, 0, 400, 5}};  // the second runs off the right edge
    ASSERT_EQ(m_pDevice->Clear(2, rects, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
    pixels = Pixels();
    EXPECT_EQ(At(pixels, 10, 20), kBlue);
    EXPECT_EQ(At(pixels, 29, 39), kBlue);
    EXPECT_EQ(At(pixels, 9, 20), kRed);
    EXPECT_EQ(At(pixels, 10, 19), kRed);
    EXPECT_EQ(At(pixels, 30, 39), kRed);
    EXPECT_EQ(At(pixels, 29, 40), kRed);
    EXPECT_EQ(At(pixels, 10, 120 - 21), kRed);  // not mirrored to the bottom
    EXPECT_EQ(At(pixels, 159, 0), kBlue);
    EXPECT_EQ(At(pixels, 159, 4), kBlue);
    EXPECT_EQ(At(pixels, 159, 5), kRed);

    // Colour alpha and channels land where they belong (in a back buffer that keeps alpha).
    D3DPRESENT_PARAMETERS withAlpha = Windowed(m_display.Window());
    withAlpha.BackBufferFormat = D3DFMT_A8R8G8B8;
    ASSERT_EQ(m_pDevice->Reset(&withAlpha), D3D_OK);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80123456, 1.0f, 0), D3D_OK);
    EXPECT_EQ(At(Pixels(), 0, 0), 0x80123456u);
}

TEST_F(ClearAndViewport, BadClearCallsAreRefused) {
    ASSERT_NE(MakeDevice(), nullptr);
    EXPECT_EQ(m_pDevice->Clear(1, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->Clear(0, nullptr, 0, kRed, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, kRed, 1.0f, 0), D3DERR_INVALIDCALL);
}

TEST_F(ClearAndViewport, ClearStaysInsideTheViewport) {
    ASSERT_NE(MakeDevice(), nullptr);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    const D3DVIEWPORT8 vp{100, 50, 40, 30, 0.0f, 1.0f};
    ASSERT_EQ(m_pDevice->SetViewport(&vp), D3D_OK);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
    std::vector<std::uint32_t> pixels = Pixels();
    EXPECT_EQ(At(pixels, 100, 50), kBlue);
    EXPECT_EQ(At(pixels, 139, 79), kBlue);
    EXPECT_EQ(At(pixels, 99, 50), kRed);
    EXPECT_EQ(At(pixels, 140, 79), kRed);
    EXPECT_EQ(At(pixels, 100, 80), kRed);

    const D3DRECT partly{0, 0, 110, 60};  // only its part inside the viewport
    ASSERT_EQ(m_pDevice->Clear(1, &partly, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3D_OK);
    pixels = Pixels();
    EXPECT_EQ(At(pixels, 100, 50), kGreen);
    EXPECT_EQ(At(pixels, 109, 59), kGreen);
    EXPECT_EQ(At(pixels, 110, 59), kBlue);
    EXPECT_EQ(At(pixels, 50, 20), kRed);
}

TEST_F(ClearAndViewport, ViewportMustLieInsideTheBackBuffer) {
    ASSERT_NE(MakeDevice(), nullptr);
    D3DVIEWPORT8 vp{0, 0, 160, 120, 0.0f, 1.0f};
    EXPECT_EQ(m_pDevice->SetViewport(&vp), D3D_OK);
    vp = D3DVIEWPORT8{159, 119, 1, 1, 0.0f, 1.0f};
    EXPECT_EQ(m_pDevice->SetViewport(&vp), D3D_OK);
    for (const D3DVIEWPORT8& bad : {D3DVIEWPORT8{0, 0, 161, 120, 0.0f, 1.0f}, D3DVIEWPORT8{0, 1, 160, 120, 0.0f, 1.0f},
                                    D3DVIEWPORT8{10, 10, 0, 10, 0.0f, 1.0f}, D3DVIEWPORT8{10, 10, 10, 0, 0.0f, 1.0f}}) {
        EXPECT_EQ(m_pDevice->SetViewport(&bad), D3DERR_INVALIDCALL) << bad.X << "," << bad.Y << " " << bad.Width;
    }
    EXPECT_EQ(m_pDevice->SetViewport(nullptr), D3DERR_INVALIDCALL);
    D3DVIEWPORT8 now{};
    m_pDevice->GetViewport(&now);
    EXPECT_EQ(now.X, 159u);  // a refused viewport changes nothing
    EXPECT_EQ(now.Width, 1u);
}

TEST_F(ClearAndViewport, ViewportWhoseEndWrapsAroundIsRefused) {
    ASSERT_NE(MakeDevice(), nullptr);
    // X + Width wraps to 0x10 in 32 bits, which is inside the back buffer.
    const D3DVIEWPORT8 wrapped{0xFFFFFFF0u, 0, 0x20, 10, 0.0f, 1.0f};
    EXPECT_EQ(m_pDevice->SetViewport(&wrapped), D3DERR_INVALIDCALL);
}

// ---------------------------------------------------------------------------
// Scene and presentation

using Scene = DeviceFixture;

TEST_F(Scene, BeginEndAndPresentFollowTheSceneRules) {
    ASSERT_NE(MakeDevice(), nullptr);
    EXPECT_EQ(m_pDevice->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->PresentCount(), 0u);
    EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(m_pDevice->PresentCount(), 1u);

    // Presenting leaves the back buffer as it was drawn, also into a
    // destination rectangle; an empty or inverted one is refused.
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(At(Pixels(), 5, 5), kBlue);
    const RECT inset{20, 0, 140, 120}, empty{20, 0, 20, 120}, inverted{0, 120, 160, 0};
    EXPECT_EQ(m_pDevice->Present(nullptr, &inset, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(m_pDevice->Present(nullptr, &empty, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->Present(nullptr, &inverted, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->PresentCount(), 3u);
    EXPECT_EQ(At(Pixels(), 5, 5), kBlue);
}

// A back buffer of the window's size is the window's own framebuffer, whose
// frame the swap takes; one of another size, or shown in part of the window,
// is the device's own. Either way a read finds the frame that was drawn.
TEST_F(Scene, FramesAreReadWhereTheyAreDrawnAsPresentationChangesPaths) {
    ASSERT_NE(MakeDevice(), nullptr);
    m_pDevice->KeepPresentedFrames(false);
    ASSERT_TRUE(m_pDevice->DrawsIntoWindow()) << "the display's visual has no 16-bit depth buffer";
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kRed, 1.0f, 0), D3D_OK);
    EXPECT_EQ(At(Pixels(), 159, 119), kRed);
    ASSERT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    std::vector<std::uint32_t> gone;
    EXPECT_FALSE(m_pDevice->ReadBackBuffer(gone)) << "a swapped frame that was not kept cannot be read";
    m_pDevice->KeepPresentedFrames(true);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
    ASSERT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(At(Pixels(), 0, 0), kBlue);

    // Shown in part of the window: the frame moves into a back buffer of the device's own.
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3D_OK);
    const D3DRECT corner{0, 0, 10, 10};
    ASSERT_EQ(m_pDevice->Clear(1, &corner, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    const RECT inset{20, 0, 140, 120};
    ASSERT_EQ(m_pDevice->Present(nullptr, &inset, nullptr, nullptr), D3D_OK);
    EXPECT_FALSE(m_pDevice->DrawsIntoWindow());
    std::vector<std::uint32_t> pixels = Pixels();
    EXPECT_EQ(At(pixels, 0, 0), kRed);  // top-left stays top-left
    EXPECT_EQ(At(pixels, 159, 119), kGreen);

    // Another size is the device's own back buffer; the window's size after a
    // whole-window present is the window's framebuffer again.
    D3DPRESENT_PARAMETERS pp = Windowed(m_display.Window(), 200, 100);
    ASSERT_EQ(m_pDevice->Reset(&pp), D3D_OK);
    EXPECT_FALSE(m_pDevice->DrawsIntoWindow());
    ASSERT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    pp = Windowed(m_display.Window());
    ASSERT_EQ(m_pDevice->Reset(&pp), D3D_OK);
    EXPECT_TRUE(m_pDevice->DrawsIntoWindow());
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kGreen, 1.0f, 0), D3D_OK);
    ASSERT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    pixels = Pixels();
    ASSERT_EQ(pixels.size(), 160u * 120u);
    EXPECT_EQ(At(pixels, 80, 60), kGreen);
}

TEST_F(Scene, ResetRestoresDefaultsAndTheDeviceKeepsWorking) {
    ASSERT_NE(MakeDevice(), nullptr);
    m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
    m_pDevice->SetRenderState(D3DRS_FOGEND, FloatToDword(17500.0f));
    m_pDevice->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    D3DMATRIX scale{};
    scale.m[0][0] = scale.m[1][1] = scale.m[2][2] = 2.0f;
    scale.m[3][3] = 1.0f;
    m_pDevice->SetTransform(D3DTS_VIEW, &scale);
    const D3DVIEWPORT8 small{10, 10, 20, 20, 0.0f, 1.0f};
    m_pDevice->SetViewport(&small);
    ASSERT_EQ(m_pDevice->BeginScene(), D3D_OK);  // a reset also ends a scene left open

    D3DPRESENT_PARAMETERS pp = Windowed(m_display.Window(), 200, 100);
    ASSERT_EQ(m_pDevice->Reset(&pp), D3D_OK);
    EXPECT_EQ(RenderState(D3DRS_LIGHTING), static_cast<DWORD>(TRUE));
    EXPECT_EQ(RenderState(D3DRS_FOGEND), FloatToDword(1.0f));
    EXPECT_EQ(StageState(1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_DISABLE));
    D3DMATRIX view{};
    m_pDevice->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view.m[0][0], 1.0f);
    EXPECT_EQ(m_pDevice->BackBufferWidth(), 200u);
    EXPECT_EQ(m_pDevice->BackBufferHeight(), 100u);
    D3DVIEWPORT8 vp{};
    m_pDevice->GetViewport(&vp);
    EXPECT_EQ(vp.X, 0u);
    EXPECT_EQ(vp.Width, 200u);
    EXPECT_EQ(vp.Height, 100u);

    EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
    ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kGreen, 1.0f, 0), D3D_OK);
    const std::vector<std::uint32_t> pixels = Pixels();
    ASSERT_EQ(pixels.size(), 200u * 100u);
    EXPECT_EQ(At(pixels, 0, 0), kGreen);
    EXPECT_EQ(At(pixels, 199, 99), kGreen);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    // A windowed 0 x 0 reset takes the client size again.
    pp = Windowed(m_display.Window());
    ASSERT_EQ(m_pDevice->Reset(&pp), D3D_OK);
    EXPECT_EQ(m_pDevice->BackBufferWidth(), 160u);
    EXPECT_EQ(m_pDevice->BackBufferHeight(), 120u);
    EXPECT_EQ(m_pDevice->Reset(nullptr), D3DERR_INVALIDCALL);
}

TEST_F(Scene, LostDeviceCanBeResetOnlyWhenItSaysSo) {
    ASSERT_NE(MakeDevice(), nullptr);
    D3DPRESENT_PARAMETERS pp = Windowed(m_display.Window());

    m_pDevice->SimulateDeviceLoss(false);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(m_pDevice->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(m_pDevice->Reset(&pp), D3DERR_DEVICELOST);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(m_pDevice->PresentCount(), 0u);
    // Drawing calls still succeed while lost.
    EXPECT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
    EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);

    m_pDevice->SimulateDeviceLoss(true);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(m_pDevice->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(m_pDevice->Reset(&pp), D3D_OK);
    EXPECT_EQ(m_pDevice->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(m_pDevice->PresentCount(), 1u);
}

TEST_F(Scene, FailedResetLeavesTheDeviceLost) {
    ASSERT_NE(MakeDevice(), nullptr);
    D3DPRESENT_PARAMETERS bad = Windowed(m_display.Window(), 640, 480);
    bad.Windowed = FALSE;
    bad.BackBufferWidth = 0;  // no size in full screen
    bad.BackBufferHeight = 0;
    EXPECT_NE(m_pDevice->Reset(&bad), D3D_OK);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(m_pDevice->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS good = Windowed(m_display.Window());
    EXPECT_EQ(m_pDevice->Reset(&good), D3D_OK);
    EXPECT_EQ(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

// ---------------------------------------------------------------------------
// State bounds

using States = DeviceFixture;

TEST_F(States, OutOfRangeStatesAreRefusedNotStored) {
    ASSERT_NE(MakeDevice(), nullptr);
    DWORD v = 0;
    EXPECT_EQ(m_pDevice->SetRenderState(static_cast<D3DRENDERSTATETYPE>(kRenderStateCount), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->GetRenderState(static_cast<D3DRENDERSTATETYPE>(kRenderStateCount), &v), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetTextureStageState(kMaxTextureStages, D3DTSS_COLOROP, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(kTextureStageStateCount), 1),
              D3DERR_INVALIDCALL);
    D3DMATRIX m{};
    EXPECT_EQ(m_pDevice->SetTransform(D3DTS_WORLDMATRIX(255), &m), D3D_OK);
    EXPECT_EQ(m_pDevice->SetTransform(D3DTS_WORLDMATRIX(256), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(1), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->GetTransform(D3DTS_WORLDMATRIX(256), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->SetTransform(D3DTS_VIEW, nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
