// A device on a hidden 640 x 480 window for the drawing tests, with helpers
// that fill buffers, draw inside a scene and read the back buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/Device.h"
#include "gfx/DeviceResources.h"
#include "gfx/VertexFormat.h"
#include "tests/support/TestDevice.h"

namespace device_draw {

constexpr UINT kWidth = 640;
constexpr UINT kHeight = 480;
constexpr DWORD kParticleFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x142

// A vertex of format 0x142: position, colour, one texture pair.
struct ColourVertex {
    float x, y, z;
    D3DCOLOR colour;
    float u, v;
};
static_assert(sizeof(ColourVertex) == 24);

inline int Red(std::uint32_t p) { return static_cast<int>((p >> 16) & 0xFF); }
inline int Green(std::uint32_t p) { return static_cast<int>((p >> 8) & 0xFF); }
inline int Blue(std::uint32_t p) { return static_cast<int>(p & 0xFF); }
inline int Alpha(std::uint32_t p) { return static_cast<int>(p >> 24); }

// Each colour channel within `tolerance` of the expected one.
inline ::testing::AssertionResult NearColour(std::uint32_t actual, std::uint32_t expected, int tolerance = 2) {
    const int d = std::max({std::abs(Red(actual) - Red(expected)), std::abs(Green(actual) - Green(expected)),
                            std::abs(Blue(actual) - Blue(expected))});
    if (d <= tolerance) return ::testing::AssertionSuccess();
    char text[96];
    std::snprintf(text, sizeof text, "pixel %08X, expected %08X (+-%d)", actual, expected, tolerance);
    return ::testing::AssertionFailure() << text;
}

inline D3DCOLOR Rgb(int r, int g, int b, int a = 255) {
    return (static_cast<D3DCOLOR>(a) << 24) | (static_cast<D3DCOLOR>(r) << 16) | (static_cast<D3DCOLOR>(g) << 8) |
           static_cast<D3DCOLOR>(b);
}

class DrawFixture : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("GLIMMERWING_SOFTWARE_VERTEX")) m_savedSoftware = v;
        ::unsetenv("GLIMMERWING_SOFTWARE_VERTEX");
        if (FAILED(m_display.Open())) return testing_support::MissingDisplay("no display");
        m_pD3D = m_display.D3D();
        m_hwnd = m_display.MakeWindow(kWidth, kHeight);
        ASSERT_NE(m_hwnd, nullptr);
        D3DPRESENT_PARAMETERS pp = Params();
        const HRESULT hr =
            m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, m_hwnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &m_pDevice);
        if (testing_support::TestDevice::NothingToDrawOn(hr))
            return testing_support::MissingDisplay("no OpenGL 3.3 device");
        ASSERT_EQ(hr, D3D_OK);
        m_pDevice->KeepPresentedFrames(true);  // the cases read frames after Present
        ASSERT_EQ(m_pDevice->BackBufferWidth(), kWidth);
        ASSERT_EQ(m_pDevice->BackBufferHeight(), kHeight);
    }

    void TearDown() override {
        for (auto* b : m_buffers) b->Release();
        for (auto* t : m_textures) t->Release();
        if (m_pDevice) m_pDevice->Release();
        m_pDevice = nullptr;
        m_display.Release();
        if (m_savedSoftware) ::setenv("GLIMMERWING_SOFTWARE_VERTEX", m_savedSoftware->c_str(), 1);
        else ::unsetenv("GLIMMERWING_SOFTWARE_VERTEX");
    }

    // A back buffer with alpha: the cases read the alpha that reaches the target.
    D3DPRESENT_PARAMETERS Params() const {
        D3DPRESENT_PARAMETERS pp = testing_support::TestDevice::WindowedParams(m_hwnd, kWidth, kHeight);
        pp.BackBufferFormat = D3DFMT_A8R8G8B8;
        return pp;
    }

    // A managed vertex buffer holding `bytes`; released with the fixture.
    Direct3DVertexBuffer8* Buffer(const void* bytes, UINT size, DWORD fvf) {
        Direct3DVertexBuffer8* vb = nullptr;
        EXPECT_EQ(m_pDevice->CreateVertexBuffer(size, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED, &vb), D3D_OK);
        if (!vb) return nullptr;
        m_buffers.push_back(vb);
        BYTE* data = nullptr;
        EXPECT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
        if (data) std::memcpy(data, bytes, size);
        EXPECT_EQ(vb->Unlock(), D3D_OK);
        return vb;
    }

    template <class V>
    Direct3DVertexBuffer8* Buffer(const std::vector<V>& vertices, DWORD fvf = 0) {
        return Buffer(vertices.data(), static_cast<UINT>(vertices.size() * sizeof(V)), fvf);
    }

    // A texture of one level filled from 0xAARRGGBB texels (rows top first),
    // converted to `format`.
    Direct3DTexture8* Texture(UINT width, UINT height, D3DFORMAT format, const std::vector<std::uint32_t>& argb) {
        Direct3DTexture8* tex = nullptr;
        EXPECT_EQ(m_pDevice->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &tex), D3D_OK);
        if (!tex) return nullptr;
        m_textures.push_back(tex);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(tex->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < height; ++y) {
            BYTE* row = static_cast<BYTE*>(locked.pBits) + static_cast<std::size_t>(y) * static_cast<UINT>(locked.Pitch);
            for (UINT x = 0; x < width; ++x) {
                const std::uint32_t c = argb[y * width + x];
                if (format == D3DFMT_A4R4G4B4) {
                    const auto word = static_cast<std::uint16_t>(((c >> 28) & 0xF) << 12 | ((c >> 20) & 0xF) << 8 |
                                                                 ((c >> 12) & 0xF) << 4 | ((c >> 4) & 0xF));
                    std::memcpy(row + x * 2, &word, 2);
                } else {
                    std::memcpy(row + x * 4, &c, 4);  // B, G, R, A in memory
                }
            }
        }
        EXPECT_EQ(tex->UnlockRect(0), D3D_OK);
        return tex;
    }

    // Fixed-function drawing of untextured, unlit vertex colours.
    void PlainColourStates() {
        m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        m_pDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    }

    HRESULT ClearTo(D3DCOLOR colour) {
        return m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0);
    }

    // Draws a triangle list of 0x142 vertices in its own scene.
    HRESULT DrawTriangles(const std::vector<ColourVertex>& vertices) {
        Direct3DVertexBuffer8* vb = Buffer(vertices, kParticleFvf);
        EXPECT_EQ(m_pDevice->SetStreamSource(0, vb, sizeof(ColourVertex)), D3D_OK);
        EXPECT_EQ(m_pDevice->SetVertexShader(kParticleFvf), D3D_OK);
        EXPECT_EQ(m_pDevice->BeginScene(), D3D_OK);
        const HRESULT hr = m_pDevice->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(vertices.size() / 3));
        EXPECT_EQ(m_pDevice->EndScene(), D3D_OK);
        return hr;
    }

    std::vector<std::uint32_t> Pixels() const {
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(m_pDevice->ReadBackBuffer(pixels));
        pixels.resize(static_cast<std::size_t>(kWidth) * kHeight);
        return pixels;
    }

    static std::uint32_t At(const std::vector<std::uint32_t>& pixels, int x, int y) {
        return pixels[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)];
    }

    // The pixel whose centre clip-space (x, y) falls in, as Direct3D maps the
    // full-target viewport: x to the right, y up.
    static int PixelX(float x) { return static_cast<int>(std::floor((x + 1.0f) * 0.5f * kWidth)); }
    static int PixelY(float y) { return static_cast<int>(std::floor((1.0f - y) * 0.5f * kHeight)); }

    // The Direct3D object and the window; the device is the fixture's own,
    // so that a case can make another in its place.
    testing_support::TestDevice m_display;
    Direct3D8* m_pD3D = nullptr;
    Direct3DDevice8* m_pDevice = nullptr;
    HWND m_hwnd = nullptr;
    std::vector<Direct3DVertexBuffer8*> m_buffers;
    std::vector<Direct3DTexture8*> m_textures;
    std::optional<std::string> m_savedSoftware;
};

}  // namespace device_draw
