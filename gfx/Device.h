// A Direct3D 8-shaped device over OpenGL 3.3 core.
//
// The Direct3D object (Direct3D8) answers the adapter questions and creates the
// device; the device (Direct3DDevice8) owns the OpenGL context of the window,
// keeps every Direct3D state as plain data and turns it into OpenGL work when
// something is cleared or drawn.
//
// The back buffer is an OpenGL framebuffer object of the size the presentation
// parameters ask for, with a 16-bit depth buffer; Present stretches it over the
// whole window and swaps. A windowed device with a 0 x 0 back buffer takes the
// window's client size, as Direct3D does.
//
// Objects are reference counted as in COM: Release deletes the object when the
// last reference goes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "gfx/D3D8Types.h"
#include "platform/Win32Types.h"

struct SDL_Window;

// Intrusive reference count for the device's objects.
template <class T>
class RefCounted {
public:
    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release() {
        const DWORD refs = --m_dwRefs;
        if (refs == 0) delete static_cast<T*>(this);
        return refs;
    }

protected:
    RefCounted() = default;
    ~RefCounted() = default;

private:
    DWORD m_dwRefs = 1;
};

class Direct3DDevice8;

class Direct3D8 : public RefCounted<Direct3D8> {
public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode);
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed);
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps);
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* params, Direct3DDevice8** device);

private:
    friend Direct3D8* Direct3DCreate8(UINT sdkVersion);
    friend class RefCounted<Direct3D8>;
    Direct3D8() = default;
    ~Direct3D8() = default;
};

// Null when the SDK version is not 220 or there is no display to draw on.
Direct3D8* Direct3DCreate8(UINT sdkVersion);

// The capabilities this device offers: vertex programs 1.1 run on the GPU
// unless the environment variable GLIMMERWING_SOFTWARE_VERTEX is set to 1, in
// which case the device reports none and the program takes the software path.
D3DCAPS8 DeviceCapabilities();

class Direct3DDevice8 : public RefCounted<Direct3DDevice8> {
public:
    // Frame
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil);
    HRESULT BeginScene();
    HRESULT EndScene();
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride, const void* dirtyRegion);
    HRESULT TestCooperativeLevel();
    HRESULT Reset(D3DPRESENT_PARAMETERS* params);
    HRESULT GetDeviceCaps(D3DCAPS8* caps);

    // State
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value);
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value);
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix);
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix);
    HRESULT SetViewport(const D3DVIEWPORT8* viewport);
    HRESULT GetViewport(D3DVIEWPORT8* viewport);
    HRESULT SetMaterial(const D3DMATERIAL8* material);
    HRESULT GetMaterial(D3DMATERIAL8* material);

    // --- Beyond Direct3D: what the program's own layers and its tests need ---

    UINT BackBufferWidth() const { return m_nBackWidth; }
    UINT BackBufferHeight() const { return m_nBackHeight; }
    BOOL IsSoftwareVertexProcessing() const { return m_bSoftwareVertexProcessing; }

    // Makes the back buffer the target of OpenGL drawing (for the text font).
    void BindBackBuffer();

    // The back buffer's pixels as 0xAARRGGBB, top row first.
    bool ReadBackBuffer(std::vector<std::uint32_t>& pixels);

    // Makes the device behave as lost until Reset, as when a full-screen device
    // loses the display; `resettable` says whether TestCooperativeLevel then
    // reports that a reset can succeed.
    void SimulateDeviceLoss(bool resettable);

    // Number of Present calls since creation.
    std::uint64_t PresentCount() const { return m_nPresents; }

private:
    friend class Direct3D8;
    friend class RefCounted<Direct3DDevice8>;
    Direct3DDevice8() = default;
    ~Direct3DDevice8();

    HRESULT Create(HWND window, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params);
    HRESULT CreateBackBuffer();
    void DestroyBackBuffer();
    void SetDefaultStates();

    HWND m_hWindow = nullptr;
    SDL_Window* m_pWindow = nullptr;
    void* m_pContext = nullptr;  // SDL_GLContext
    D3DPRESENT_PARAMETERS m_Params{};
    D3DCAPS8 m_Caps{};
    BOOL m_bSoftwareVertexProcessing = FALSE;
    UINT m_nBackWidth = 0;
    UINT m_nBackHeight = 0;
    unsigned m_glFramebuffer = 0;
    unsigned m_glColorBuffer = 0;
    unsigned m_glDepthBuffer = 0;

    bool m_bInScene = false;
    bool m_bLost = false;
    bool m_bLostResettable = false;
    std::uint64_t m_nPresents = 0;

    std::array<DWORD, kRenderStateCount> m_RenderStates{};
    std::array<std::array<DWORD, kTextureStageStateCount>, kMaxTextureStages> m_StageStates{};
    std::array<D3DMATRIX, 512> m_Transforms{};
    D3DVIEWPORT8 m_Viewport{};
    D3DMATERIAL8 m_Material{};
};
