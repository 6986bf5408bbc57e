// A Direct3D device on a hidden 160 x 120 window for tests that load or draw
// without the saver around them; released with the object.
#pragma once

#include "gfx/D3D8Types.h"
#include "gfx/Device.h"
#include "platform/Window.h"

namespace testing_support {

class TestDevice {
public:
    // What Create returns when there is no display to open a window on.
    static constexpr HRESULT kNoDisplay = static_cast<HRESULT>(0x80004005u);

    TestDevice() = default;
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;
    ~TestDevice() { Release(); }

    // S_OK, kNoDisplay, or the failure of CreateDevice.
    HRESULT Create(DWORD behavior) {
        m_pD3D = Direct3DCreate8(D3D_SDK_VERSION);
        if (!m_pD3D) return kNoDisplay;
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "GlimmerwingTestDevice";
        RegisterClassA(&wc);
        m_hWnd = CreateWindowExA(0, wc.lpszClassName, "test device", WS_CAPTION, 0, 0, 160, 120, nullptr, nullptr,
                                 nullptr, nullptr);
        if (!m_hWnd) return kNoDisplay;
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = m_hWnd;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        return m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, m_hWnd, behavior, &pp, &m_pDevice);
    }

    void Release() {
        if (m_pDevice) m_pDevice->Release();
        if (m_pD3D) m_pD3D->Release();
        if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
        if (m_pD3D || m_hWnd) platform::ResetWindowingForTesting();
        m_pDevice = nullptr;
        m_pD3D = nullptr;
        m_hWnd = nullptr;
    }

    Direct3DDevice8* Device() const { return m_pDevice; }

private:
    Direct3D8* m_pD3D = nullptr;
    HWND m_hWnd = nullptr;
    Direct3DDevice8* m_pDevice = nullptr;
};

}  // namespace testing_support
