// Textures made from the program's resources: the toon ramp, a JPEG and a
// DDS sprite with their mip chains, drawn the right way up; resources that
// are missing or are not images.
#include "tests/gfx/DeviceDrawFixture.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "gfx/D3DXTexture.h"
#include "gfx/ImageDecode.h"
#include "platform/Resources.h"

// After the Win32 names: jpeglib.h defines TRUE and FALSE when they are not.
#include <jpeglib.h>

namespace device_draw {
namespace {

using Bytes = std::vector<unsigned char>;

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A DDS file of one A4R4G4B4 level, `words` in rows top first.
Bytes DdsA4R4G4B4(std::uint32_t width, std::uint32_t height, const std::vector<std::uint16_t>& words) {
    Bytes b = {'D', 'D', 'S', ' '};
    Put32(b, 124);
    Put32(b, 0x1007 | 0x8);  // caps, height, width, pixel format, pitch
    Put32(b, height);
    Put32(b, width);
    Put32(b, width * 2);
    Put32(b, 0);  // depth
    Put32(b, 0);  // mip count
    for (int i = 0; i < 11; ++i) Put32(b, 0);
    Put32(b, 32);    // pixel format size
    Put32(b, 0x41);  // RGB | alpha pixels
    Put32(b, 0);
    Put32(b, 16);
    Put32(b, 0x0F00);
    Put32(b, 0x00F0);
    Put32(b, 0x000F);
    Put32(b, 0xF000);
    Put32(b, 0x1000);  // caps: texture
    for (int i = 0; i < 4; ++i) Put32(b, 0);
    for (std::uint16_t w : words) {
        b.push_back(static_cast<unsigned char>(w));
        b.push_back(static_cast<unsigned char>(w >> 8));
    }
    return b;
}

// Baseline JPEG of RGB samples (libjpeg's compression side, tests only).
Bytes EncodeJpeg(int width, int height, const std::vector<unsigned char>& rgb) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<std::size_t>(cinfo.next_scanline) * width * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

class DeviceDrawTextureFixture : public DrawFixture {
protected:
    void TearDown() override {
        SetResourceTableForTesting({});
        DrawFixture::TearDown();
    }

    // Looks resources up in `entries` (kept alive by the fixture).
    void Use(std::vector<std::pair<std::string, Bytes>> files, const char* type = "RCDATA") {
        m_files = std::move(files);
        m_entries.clear();
        for (const auto& [name, bytes] : m_files) m_entries.push_back({type, name.c_str(), bytes.data(), bytes.size()});
        SetResourceTableForTesting(m_entries);
    }

    Direct3DTexture8* FromResource(const char* name) {
        Direct3DTexture8* tex = nullptr;
        const HRESULT hr = D3DXCreateTextureFromResourceA(m_pDevice, nullptr, name, &tex);
        EXPECT_EQ(hr, D3D_OK) << name;
        if (tex) m_textures.push_back(tex);
        return tex;
    }

    static std::uint32_t Texel32(Direct3DTexture8* tex, UINT level, UINT x, UINT y) {
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(tex->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        std::uint32_t v = 0;
        std::memcpy(&v, static_cast<const BYTE*>(locked.pBits) + y * static_cast<UINT>(locked.Pitch) + x * 4, 4);
        EXPECT_EQ(tex->UnlockRect(level), D3D_OK);
        return v;
    }

    // Draws the texture over the whole target, stage 0 showing it alone.
    std::vector<std::uint32_t> Show(Direct3DTexture8* tex) {
        m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        m_pDevice->SetTexture(0, tex);
        m_pDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        m_pDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        EXPECT_EQ(ClearTo(0xFF000000), D3D_OK);
        const ColourVertex tl{-1, 1, 0.5f, 0xFFFFFFFF, 0, 0}, tr{1, 1, 0.5f, 0xFFFFFFFF, 1, 0};
        const ColourVertex bl{-1, -1, 0.5f, 0xFFFFFFFF, 0, 1}, br{1, -1, 0.5f, 0xFFFFFFFF, 1, 1};
        EXPECT_EQ(DrawTriangles({tl, tr, bl, bl, tr, br}), D3D_OK);
        m_pDevice->SetTexture(0, nullptr);
        return Pixels();
    }

    std::vector<std::pair<std::string, Bytes>> m_files;
    std::vector<ResourceEntry> m_entries;
};

using DeviceDrawTexture = DeviceDrawTextureFixture;

TEST_F(DeviceDrawTexture, ToonRampHasItsBandsAndAFullChain) {
    SetResourceTableForTesting({});
    Direct3DTexture8* tex = FromResource("TOONTOON.BMP");
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->Format(), D3DFMT_X8R8G8B8);
    ASSERT_EQ(tex->GetLevelCount(), 8u);  // 128 down to 1
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(tex->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 128u);
    EXPECT_EQ(desc.Height, 128u);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    ASSERT_EQ(tex->GetLevelDesc(7, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 1u);

    struct Band {
        int first, last, grey;
    };
    const Band bands[] = {{0, 17, 0},    {18, 18, 22},   {19, 19, 40},   {20, 20, 38},   {21, 44, 35},
                          {45, 45, 31},  {46, 46, 26},   {47, 47, 53},   {48, 48, 98},   {49, 50, 131},
                          {51, 51, 132}, {52, 65, 131},  {66, 85, 202},  {86, 109, 229}, {110, 127, 253}};
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(locked.Pitch, 128 * 4);
    for (UINT y : {0u, 64u, 127u}) {
        for (const Band& b : bands) {
            for (int x = b.first; x <= b.last; ++x) {
                const BYTE* p = static_cast<const BYTE*>(locked.pBits) + y * 512 + static_cast<UINT>(x) * 4;
                ASSERT_EQ(p[0], b.grey) << "column " << x << " row " << y;
                ASSERT_EQ(p[1], b.grey);
                ASSERT_EQ(p[2], b.grey);
                ASSERT_EQ(p[3], 0xFF);
            }
        }
    }
    ASSERT_EQ(tex->UnlockRect(0), D3D_OK);

    // Names are found without regard to case.
    EXPECT_NE(FromResource("ToonToon.bmp"), nullptr);
}

TEST_F(DeviceDrawTexture, JpegBecomesAnOpaqueTextureTheRightWayUp) {
    // 16 x 8: a warm top half over a cool bottom half, smooth enough for JPEG.
    std::vector<unsigned char> rgb;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool top = y < 4;
            rgb.insert(rgb.end(), {static_cast<unsigned char>(top ? 220 : 30), 100,
                                   static_cast<unsigned char>(top ? 40 : 210)});
        }
    Use({{"SKY.JPG", EncodeJpeg(16, 8, rgb)}});
    Direct3DTexture8* tex = FromResource("sky.jpg");
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->Format(), D3DFMT_X8R8G8B8);
    EXPECT_EQ(tex->GetLevelCount(), 5u);  // 16x8, 8x4, 4x2, 2x1, 1x1
    const std::uint32_t top = Texel32(tex, 0, 8, 1), bottom = Texel32(tex, 0, 8, 6);
    EXPECT_TRUE(NearColour(top, Rgb(220, 100, 40), 12));
    EXPECT_TRUE(NearColour(bottom, Rgb(30, 100, 210), 12));
    EXPECT_EQ(top >> 24, 0xFFu);

    const auto pixels = Show(tex);
    EXPECT_TRUE(NearColour(At(pixels, 320, 40), Rgb(220, 100, 40), 12));
    EXPECT_TRUE(NearColour(At(pixels, 320, 440), Rgb(30, 100, 210), 12));
}

TEST_F(DeviceDrawTexture, DdsSpriteKeepsItsSixteenBitTexels) {
    // 4 x 4: the top row opaque red, the second half-transparent green, the
    // rest blue and white.
    std::vector<std::uint16_t> words;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            words.push_back(y == 0 ? 0xFF00 : y == 1 ? 0x80F0 : x < 2 ? 0xF00F : 0xFFFF);
    Use({{"PARTICLETRAILPC9.DDS", DdsA4R4G4B4(4, 4, words)}});
    Direct3DTexture8* tex = FromResource("ParticleTrailPC9.dds");
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->Format(), D3DFMT_A4R4G4B4);
    EXPECT_EQ(tex->GetLevelCount(), 3u);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    ASSERT_EQ(locked.Pitch, 8);
    EXPECT_EQ(std::memcmp(locked.pBits, words.data(), 32), 0);  // word for word
    ASSERT_EQ(tex->UnlockRect(0), D3D_OK);

    m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    m_pDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    const auto pixels = Show(tex);
    EXPECT_EQ(At(pixels, 320, 60), 0xFFFF0000u);   // row 0 of the image at the top
    EXPECT_EQ(At(pixels, 320, 180), 0x8800FF00u);  // its alpha comes along
    EXPECT_EQ(At(pixels, 160, 420), 0xFF0000FFu);
    EXPECT_EQ(At(pixels, 480, 420), 0xFFFFFFFFu);
}

TEST_F(DeviceDrawTexture, HandedOverPixelsBecomeTheLevelsWithoutACopyOrAreRefusedWhole) {
    std::vector<std::vector<BYTE>> pixels{std::vector<BYTE>(4 * 2 * 4, 0x40), std::vector<BYTE>(2 * 1 * 4, 0x80),
                                          std::vector<BYTE>(1 * 1 * 4, 0xC0)};
    const BYTE* top = pixels[0].data();
    Direct3DTexture8* tex = nullptr;
    ASSERT_EQ(m_pDevice->CreateTextureFromPixels(4, 2, D3DFMT_X8R8G8B8, pixels, &tex), D3D_OK);
    m_textures.push_back(tex);
    ASSERT_EQ(tex->GetLevelCount(), 3u);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(locked.pBits, top);
    EXPECT_EQ(locked.Pitch, 16);
    ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
    EXPECT_EQ(Texel32(tex, 2, 0, 0), 0xC0C0C0C0u);
    EXPECT_EQ(Show(tex)[0], 0xFF404040u);

    // A level of the wrong size, more levels than the chain has, a size or
    // format the device does not take: no texture.
    const std::vector<std::vector<BYTE>> refused[] = {
        {std::vector<BYTE>(4 * 2 * 4), std::vector<BYTE>(3)},
        {std::vector<BYTE>(4 * 2 * 4), std::vector<BYTE>(8), std::vector<BYTE>(4), std::vector<BYTE>(4)},
        {},
    };
    for (std::vector<std::vector<BYTE>> levels : refused) {
        tex = reinterpret_cast<Direct3DTexture8*>(0x1);
        EXPECT_EQ(m_pDevice->CreateTextureFromPixels(4, 2, D3DFMT_X8R8G8B8, levels, &tex), D3DERR_INVALIDCALL);
        EXPECT_EQ(tex, nullptr);
    }
    std::vector<std::vector<BYTE>> one{std::vector<BYTE>(4)};
    EXPECT_EQ(m_pDevice->CreateTextureFromPixels(1, 1, D3DFMT_UNKNOWN, one, &tex), D3DERR_INVALIDCALL);
    EXPECT_EQ(m_pDevice->CreateTextureFromPixels(0, 1, D3DFMT_X8R8G8B8, one, &tex), D3DERR_INVALIDCALL);
    EXPECT_EQ(one[0].size(), 4u);  // a refused level stays the caller's
}

TEST_F(DeviceDrawTexture, MissingOrUnreadableResourcesFail) {
    Bytes garbage(300);
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<unsigned char>(i * 7 + 1);
    Bytes truncated = DdsA4R4G4B4(4, 4, std::vector<std::uint16_t>(16, 0xFFFF));
    truncated.resize(truncated.size() - 6);
    Bytes cutJpeg;
    {
        std::vector<unsigned char> rgb(16 * 16 * 3, 128);
        cutJpeg = EncodeJpeg(16, 16, rgb);
        cutJpeg.resize(cutJpeg.size() / 2);
    }
    Use({{"GARBAGE.BMP", garbage}, {"CUT.DDS", truncated}, {"CUT.JPG", cutJpeg}, {"EMPTY.BMP", {}}});

    for (const char* name : {"NOPE.DDS", "GARBAGE.BMP", "CUT.DDS", "CUT.JPG", "EMPTY.BMP", ""}) {
        Direct3DTexture8* tex = reinterpret_cast<Direct3DTexture8*>(0x1);
        EXPECT_LT(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, name, &tex), 0) << name;
        EXPECT_EQ(tex, nullptr) << name;
    }

    // An image under another resource type is not found.
    Use({{"SPRITE.DDS", DdsA4R4G4B4(2, 2, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF})}}, "MISC");
    Direct3DTexture8* tex = nullptr;
    EXPECT_LT(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, "SPRITE.DDS", &tex), 0);
    EXPECT_EQ(tex, nullptr);

    // Null arguments.
    EXPECT_EQ(D3DXCreateTextureFromResourceA(nullptr, nullptr, "SPRITE.DDS", &tex), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, nullptr, &tex), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromResourceA(m_pDevice, nullptr, "SPRITE.DDS", nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace device_draw
