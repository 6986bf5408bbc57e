// The GDI font match and the text font drawn into the back buffer: extents,
// placement, colour and alpha, underline, clipping and strings that do not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/D3DXFont.h"
#include "gfx/Device.h"
#include "platform/Gdi.h"
#include "tests/support/TestDevice.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 64;
constexpr D3DCOLOR kBlack = 0xFF000000;
constexpr D3DCOLOR kBlue = 0xFF0000FF;
constexpr DWORD kFpsFormat = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP;

HFONT MakeFont(const char* face, BOOL underline = TRUE) {
    return CreateFontA(0, 0, 0, 0, FW_SEMIBOLD, FALSE, underline, FALSE, ANSI_CHARSET, OUT_TT_ONLY_PRECIS,
                       CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

unsigned Red(std::uint32_t p) { return (p >> 16) & 0xFF; }
unsigned Green(std::uint32_t p) { return (p >> 8) & 0xFF; }
unsigned Blue(std::uint32_t p) { return p & 0xFF; }

// The area covered by pixels whose colour differs from the background.
struct Ink {
    int count = 0;
    int left = kWidth, top = kHeight, right = -1, bottom = -1;  // inclusive bounds
};

class FontFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const HRESULT hr = m_device.Create(D3DCREATE_HARDWARE_VERTEXPROCESSING, kWidth, kHeight);
        if (testing_support::TestDevice::NothingToDrawOn(hr)) return testing_support::MissingDisplay("no display");
        ASSERT_EQ(hr, D3D_OK);
        m_pDevice = m_device.Device();
        m_hFont = MakeFont("Lucida Console");
        ASSERT_NE(m_hFont, nullptr);
        ASSERT_EQ(D3DXCreateFont(m_pDevice, m_hFont, &m_pFont), D3D_OK);
        ASSERT_NE(m_pFont, nullptr);
    }

    void TearDown() override {
        if (m_pFont) m_pFont->Release();
        if (m_hFont) DeleteObject(m_hFont);
        m_device.Release();
    }

    void Fill(D3DCOLOR colour) {
        ASSERT_EQ(m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0), D3D_OK);
    }
    std::vector<std::uint32_t> Pixels() const {
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(m_pDevice->ReadBackBuffer(pixels));
        return pixels;
    }
    static std::uint32_t At(const std::vector<std::uint32_t>& pixels, int x, int y) {
        return pixels[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)];
    }
    static Ink InkOn(const std::vector<std::uint32_t>& pixels, D3DCOLOR background) {
        Ink ink;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                if (((At(pixels, x, y) ^ background) & 0xFFFFFF) == 0) continue;
                ++ink.count;
                ink.left = std::min(ink.left, x);
                ink.top = std::min(ink.top, y);
                ink.right = std::max(ink.right, x);
                ink.bottom = std::max(ink.bottom, y);
            }
        }
        return ink;
    }
    RECT Measure(const char* text, int count = -1, DWORD format = kFpsFormat) {
        RECT rc{0, 0, 0, 0};
        m_pFont->DrawTextA(text, count, &rc, format | DT_CALCRECT, 0xFFFFFFFF);
        return rc;
    }
    RECT Screen() const { return RECT{0, 0, kWidth, kHeight}; }

    testing_support::TestDevice m_device;
    Direct3DDevice8* m_pDevice = nullptr;
    HFONT m_hFont = nullptr;
    D3DXFont* m_pFont = nullptr;
};

// ---------------------------------------------------------------------------
// The GDI font

using GdiFont = FontFixture;

TEST_F(GdiFont, MissingFaceFallsBackToTheMonospaceFace) {
    const FontDescription* lucida = DescribeFont(m_hFont);
    ASSERT_NE(lucida, nullptr);
    EXPECT_EQ(lucida->requestedFace, "Lucida Console");
    EXPECT_FALSE(lucida->file.empty());
    EXPECT_EQ(lucida->weight, FW_SEMIBOLD);
    EXPECT_TRUE(lucida->underline);
    EXPECT_EQ(lucida->height, 0);

    HFONT mono = MakeFont("monospace");
    HFONT unknown = MakeFont("No Such Face Anywhere");
    HFONT unnamed = MakeFont(nullptr);
    ASSERT_NE(mono, nullptr);
    ASSERT_NE(unknown, nullptr);
    ASSERT_NE(unnamed, nullptr);
    const FontDescription* monoFace = DescribeFont(mono);
    EXPECT_EQ(DescribeFont(unknown)->file, monoFace->file);
    EXPECT_EQ(DescribeFont(unnamed)->file, monoFace->file);
    if (lucida->matchedFamily != "Lucida Console") {
        EXPECT_EQ(lucida->file, monoFace->file);
    }

    // A face the system has is taken as it is.
    HFONT sans = MakeFont("DejaVu Sans");
    ASSERT_NE(sans, nullptr);
    EXPECT_EQ(DescribeFont(sans)->matchedFamily, "DejaVu Sans");

    for (HFONT f : {mono, unknown, unnamed, sans}) EXPECT_TRUE(DeleteObject(f));
    EXPECT_EQ(DescribeFont(mono), nullptr);
    EXPECT_FALSE(DeleteObject(mono));
}

TEST_F(GdiFont, TextFontNeedsALiveFontAndDevice) {
    D3DXFont* font = reinterpret_cast<D3DXFont*>(0x1);
    EXPECT_EQ(D3DXCreateFont(nullptr, m_hFont, &font), D3DERR_INVALIDCALL);
    EXPECT_EQ(font, nullptr);
    EXPECT_EQ(D3DXCreateFont(m_pDevice, nullptr, &font), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateFont(m_pDevice, m_hFont, nullptr), D3DERR_INVALIDCALL);
    HFONT gone = MakeFont("monospace");
    DeleteObject(gone);
    EXPECT_EQ(D3DXCreateFont(m_pDevice, gone, &font), D3DERR_INVALIDCALL);
    EXPECT_EQ(font, nullptr);
}

// ---------------------------------------------------------------------------
// Measuring

using TextExtent = FontFixture;

TEST_F(TextExtent, CalcRectGivesAPlausibleBoxAndDrawsNothing) {
    Fill(kBlack);
    RECT rc{5, 7, 5, 7};
    const int height = m_pFont->DrawTextA(" 12.34 ", -1, &rc, kFpsFormat | DT_CALCRECT, 0xFFFFFFFF);
    EXPECT_EQ(rc.left, 5);
    EXPECT_EQ(rc.top, 7);
    EXPECT_EQ(rc.bottom - rc.top, height);
    EXPECT_EQ(height, m_pFont->LineHeight());
    EXPECT_GE(height, 12);  // a 16-pixel cell by default
    EXPECT_LE(height, 24);
    EXPECT_GE(rc.right - rc.left, 7 * 5);
    EXPECT_LE(rc.right - rc.left, 7 * 14);
    EXPECT_EQ(InkOn(Pixels(), kBlack).count, 0);
}

TEST_F(TextExtent, MonospaceWidthsAndLines) {
    const RECT narrow = Measure("iiiiiii");
    const RECT wide = Measure("WWWWWWW");
    EXPECT_EQ(narrow.right, wide.right);  // every character takes the same room
    EXPECT_EQ(Measure("12345", 2).right * 5, Measure("12345").right * 2);
    EXPECT_EQ(Measure("").right, 0);
    EXPECT_EQ(Measure("\xE9\x01").right, Measure("  ").right);  // no glyph: a blank's room

    const int line = m_pFont->LineHeight();
    EXPECT_EQ(Measure("ab\ncd", -1, DT_LEFT).bottom, 2 * line);
    EXPECT_EQ(Measure("ab\r\ncdef", -1, DT_LEFT).right, Measure("cdef").right);
    EXPECT_EQ(Measure("ab\ncd", -1, DT_LEFT | DT_SINGLELINE).bottom, line);
}

// ---------------------------------------------------------------------------
// Drawing

using TextDrawing = FontFixture;

TEST_F(TextDrawing, RateTextLandsInTheTopLeftBox) {
    const RECT box = Measure(" 12.34 ");
    Fill(kBlack);
    RECT rc = Screen();
    EXPECT_EQ(m_pFont->DrawTextA(" 12.34 ", -1, &rc, kFpsFormat, 0xFFFFFF00), m_pFont->LineHeight());
    const std::vector<std::uint32_t> pixels = Pixels();
    const Ink ink = InkOn(pixels, kBlack);
    EXPECT_GT(ink.count, 30);
    EXPECT_GE(ink.left, 0);
    EXPECT_LT(ink.right, box.right + 1);
    EXPECT_LT(ink.bottom, box.bottom + 2);
    // Yellow ink only.
    for (int y = ink.top; y <= ink.bottom; ++y)
        for (int x = ink.left; x <= ink.right; ++x) {
            const std::uint32_t p = At(pixels, x, y);
            ASSERT_EQ(Blue(p), 0u) << x << "," << y;
            ASSERT_NEAR(static_cast<int>(Red(p)), static_cast<int>(Green(p)), 1) << x << "," << y;
        }

    // Moved with its rectangle.
    Fill(kBlack);
    rc = RECT{40, 30, kWidth, kHeight};
    m_pFont->DrawTextA(" 12.34 ", -1, &rc, kFpsFormat, 0xFFFFFF00);
    const Ink moved = InkOn(Pixels(), kBlack);
    EXPECT_EQ(moved.left, ink.left + 40);
    EXPECT_EQ(moved.top, ink.top + 30);
}

TEST_F(TextDrawing, UnderlineRunsUnderTheWholeLine) {
    const RECT box = Measure(" 12.34 ");
    Fill(kBlack);
    RECT rc = Screen();
    m_pFont->DrawTextA(" 12.34 ", -1, &rc, kFpsFormat, 0xFFFFFFFF);
    std::vector<std::uint32_t> pixels = Pixels();
    // The leading and trailing blanks carry no glyph: only the underline marks them.
    int underlineRows = 0;
    for (int y = 0; y < box.bottom + 2; ++y)
        if ((At(pixels, 1, y) & 0xFFFFFF) != 0 && (At(pixels, box.right - 2, y) & 0xFFFFFF) != 0) ++underlineRows;
    EXPECT_GE(underlineRows, 1);
    EXPECT_LE(underlineRows, 3);

    HFONT plainFont = MakeFont("Lucida Console", FALSE);
    D3DXFont* plain = nullptr;
    ASSERT_EQ(D3DXCreateFont(m_pDevice, plainFont, &plain), D3D_OK);
    Fill(kBlack);
    rc = Screen();
    plain->DrawTextA(" 12.34 ", -1, &rc, kFpsFormat, 0xFFFFFFFF);
    pixels = Pixels();
    for (int y = 0; y < kHeight; ++y) EXPECT_EQ(At(pixels, 1, y) & 0xFFFFFF, 0u) << y;
    EXPECT_GT(InkOn(pixels, kBlack).count, 30);
    plain->Release();
    DeleteObject(plainFont);
}

TEST_F(TextDrawing, AlphaBlendsOverTheBackground) {
    Fill(kBlue);
    RECT rc = Screen();
    m_pFont->DrawTextA(" 12.34 ", -1, &rc, kFpsFormat, 0x88FF0000);
    const std::vector<std::uint32_t> pixels = Pixels();
    // The underline is fully covered: exactly the colour at alpha 0x88.
    int checked = 0;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint32_t p = At(pixels, 1, y);
        if (((p ^ kBlue) & 0xFFFFFF) == 0) continue;
        EXPECT_NEAR(static_cast<int>(Red(p)), 0x88, 2) << y;
        EXPECT_NEAR(static_cast<int>(Blue(p)), 0xFF - 0x88, 2) << y;
        EXPECT_EQ(Green(p), 0u);
        ++checked;
    }
    EXPECT_GE(checked, 1);
    // Nowhere is the text opaque.
    for (std::uint32_t p : pixels) ASSERT_GT(Blue(p), 0x70u);
}

TEST_F(TextDrawing, ClippedToTheRectangleUnlessNoClip) {
    Fill(kBlack);
    RECT rc{0, 0, 12, kHeight};
    m_pFont->DrawTextA("WWWWWW", -1, &rc, DT_LEFT | DT_TOP | DT_SINGLELINE, 0xFFFFFFFF);
    Ink ink = InkOn(Pixels(), kBlack);
    EXPECT_GT(ink.count, 0);
    EXPECT_LT(ink.right, 12);

    Fill(kBlack);
    rc = RECT{0, 0, 12, kHeight};
    m_pFont->DrawTextA("WWWWWW", -1, &rc, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP, 0xFFFFFFFF);
    ink = InkOn(Pixels(), kBlack);
    EXPECT_GT(ink.right, 30);
}

TEST_F(TextDrawing, EmptyAndOversizedTextAreSafe) {
    Fill(kBlack);
    RECT rc = Screen();
    m_pFont->DrawTextA("", -1, &rc, kFpsFormat, 0xFFFFFFFF);
    m_pFont->DrawTextA("12345", 0, &rc, kFpsFormat, 0xFFFFFFFF);
    EXPECT_EQ(InkOn(Pixels(), kBlack).count, 0);
    EXPECT_EQ(m_pFont->DrawTextA(nullptr, -1, &rc, kFpsFormat, 0xFFFFFFFF), 0);
    EXPECT_EQ(m_pFont->DrawTextA("x", -1, nullptr, kFpsFormat, 0xFFFFFFFF), 0);

    // Far more glyphs than the vertex array holds, on one line and on many.
    const std::string longLine(3000, 'W');
    rc = Screen();
    EXPECT_EQ(m_pFont->DrawTextA(longLine.c_str(), -1, &rc, kFpsFormat, 0xFFFFFFFF), m_pFont->LineHeight());
    EXPECT_GT(InkOn(Pixels(), kBlack).count, 0);
    std::string manyLines;
    for (int i = 0; i < 300; ++i) manyLines += "line\n";
    rc = Screen();
    EXPECT_GT(m_pFont->DrawTextA(manyLines.c_str(), -1, &rc, DT_LEFT | DT_NOCLIP, 0xFFFFFFFF), 0);
    std::string bytes;
    for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
    rc = Screen();
    m_pFont->DrawTextA(bytes.c_str(), -1, &rc, DT_LEFT | DT_NOCLIP, 0xFFFFFFFF);

    // The device is still sound.
    Fill(kBlue);
    EXPECT_EQ(At(Pixels(), kWidth - 1, kHeight - 1), kBlue);
}

}  // namespace
