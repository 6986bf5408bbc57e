// The extension library's text font: draws a string into a rectangle of the
// back buffer with a font made from a GDI font handle.
//
// The printable ASCII glyphs are rasterised once by FreeType into an atlas
// texture; drawing builds the glyph quads into a fixed vertex array (no
// allocation per call) and blends them over the back buffer in the text
// colour, alpha included. Pixel (0, 0) is the back buffer's top-left.
#pragma once

#include <array>
#include <cstdint>

#include "gfx/D3D8Types.h"
#include "platform/Win32Types.h"

class Direct3DDevice8;

// DrawText formats.
constexpr DWORD DT_TOP = 0x000;
constexpr DWORD DT_LEFT = 0x000;
constexpr DWORD DT_CENTER = 0x001;
constexpr DWORD DT_RIGHT = 0x002;
constexpr DWORD DT_VCENTER = 0x004;
constexpr DWORD DT_BOTTOM = 0x008;
constexpr DWORD DT_SINGLELINE = 0x020;
constexpr DWORD DT_NOCLIP = 0x100;
constexpr DWORD DT_CALCRECT = 0x400;

class D3DXFont {
public:
    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release();

    // Draws `count` characters of `text` (all of it when count is -1) into
    // `rect` and returns the height of the text drawn; 0 on failure. With
    // DT_CALCRECT nothing is drawn and the rectangle is set to the text's extent.
    int DrawTextA(const char* text, int count, RECT* rect, DWORD format, D3DCOLOR color);

    // Height of a line in pixels.
    int LineHeight() const { return m_nLineHeight; }

private:
    friend HRESULT D3DXCreateFont(Direct3DDevice8* device, HFONT font, D3DXFont** result);
    D3DXFont() = default;
    ~D3DXFont();

    struct Glyph {
        float u0, v0, u1, v1;  // atlas coordinates
        int width, height;     // bitmap size in pixels
        int left, top;         // bearing from the pen position (top is above the baseline)
        int advance;           // pen advance in pixels
    };
    struct Vertex {
        float x, y, u, v;
    };
    static constexpr int kFirstChar = 32;
    static constexpr int kLastChar = 126;
    static constexpr int kMaxQuads = 512;

    HRESULT Create(Direct3DDevice8* device, HFONT font);
    int MeasureLine(const char* text, int count) const;
    void AddQuad(int& quads, float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1);

    DWORD m_dwRefs = 1;
    Direct3DDevice8* m_pDevice = nullptr;
    std::array<Glyph, kLastChar - kFirstChar + 1> m_Glyphs{};
    float m_fWhiteU = 0.0f, m_fWhiteV = 0.0f;  // a fully covered texel, for the underline
    int m_nAscent = 0;
    int m_nLineHeight = 0;
    int m_nUnderlineOffset = 0;  // below the baseline
    int m_nUnderlineThickness = 0;
    bool m_bUnderline = false;
    unsigned m_glTexture = 0;
    unsigned m_glProgram = 0;
    unsigned m_glVertexArray = 0;
    unsigned m_glBuffer = 0;
    int m_locViewport = -1;
    int m_locColor = -1;
    std::array<Vertex, kMaxQuads * 6> m_Vertices{};
};

HRESULT D3DXCreateFont(Direct3DDevice8* device, HFONT font, D3DXFont** result);
