// A Direct3D device on a hidden window for tests that load or draw without
// the saver around them; windows and device are released with the object.
#pragma once

#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/Device.h"
#include "platform/Window.h"
#include "tests/support/Display.h"

namespace testing_support {

class TestDevice {
public:
    // What Open and Create return when there is no display to open a window
    // on, and when the driver has no OpenGL 3.3 device for it.
    static constexpr HRESULT kNoDisplay = static_cast<HRESULT>(0x80004005u);
    static constexpr HRESULT kNoDevice = D3DERR_NOTAVAILABLE;

    TestDevice() = default;
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;
    ~TestDevice() { Release(); }

    // The Direct3D object and the test window class: S_OK or kNoDisplay.
    HRESULT Open() {
        if (!m_pD3D) m_pD3D = Direct3DCreate8(D3D_SDK_VERSION);
        if (!m_pD3D) return kNoDisplay;
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);
        return S_OK;
    }

    // A hidden window of that client size (after Open), destroyed with the
    // object; null when it cannot be made.
    HWND MakeWindow(int width, int height) {
        HWND hwnd = CreateWindowExA(0, kWindowClass, "test device", WS_CAPTION, 0, 0, width, height, nullptr, nullptr,
                                    nullptr, nullptr);
        if (hwnd) m_windows.push_back(hwnd);
        return hwnd;
    }

    // Windowed presentation on `window`: 32-bit colour, a 16-bit depth
    // buffer, and a back buffer of the window's size unless one is given.
    static D3DPRESENT_PARAMETERS WindowedParams(HWND window, UINT width = 0, UINT height = 0) {
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = width;
        pp.BackBufferHeight = height;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        return pp;
    }

    // A device drawing into a back buffer of width x height on a window of
    // that size: S_OK, kNoDisplay, kNoDevice or another failure of CreateDevice.
    HRESULT Create(DWORD behavior, int width = 160, int height = 120) {
        if (FAILED(Open())) return kNoDisplay;
        HWND hwnd = MakeWindow(width, height);
        if (!hwnd) return kNoDisplay;
        D3DPRESENT_PARAMETERS pp = WindowedParams(hwnd, static_cast<UINT>(width), static_cast<UINT>(height));
        return m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, behavior, &pp, &m_pDevice);
    }

    // Whether Open's or Create's result means there is nothing to draw on, so
    // that the test ends through MissingDisplay (Display.h).
    static bool NothingToDrawOn(HRESULT created) { return created == kNoDisplay || created == kNoDevice; }

    void Release() {
        if (m_pDevice) m_pDevice->Release();
        if (m_pD3D) m_pD3D->Release();
        for (HWND hwnd : m_windows)
            if (IsWindow(hwnd)) DestroyWindow(hwnd);
        if (m_pD3D || !m_windows.empty()) platform::ResetWindowingForTesting();
        m_pDevice = nullptr;
        m_pD3D = nullptr;
        m_windows.clear();
    }

    Direct3D8* D3D() const { return m_pD3D; }
    Direct3DDevice8* Device() const { return m_pDevice; }
    HWND Window() const { return m_windows.empty() ? nullptr : m_windows.back(); }

private:
    static constexpr const char* kWindowClass = "GlimmerwingTestDevice";
    Direct3D8* m_pD3D = nullptr;
    Direct3DDevice8* m_pDevice = nullptr;
    std::vector<HWND> m_windows;
};

}  // namespace testing_support
