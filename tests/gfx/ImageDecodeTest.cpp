#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "gfx/ImageDecode.h"

// After the Win32 names: jpeglib.h defines TRUE and FALSE as macros when
// they are not defined yet.
#include <jpeglib.h>

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void Patch32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

// A distinct colour for every pixel.
struct Rgb {
    unsigned char r, g, b;
};
Rgb TestColour(int x, int y) {
    return {static_cast<unsigned char>(10 + 40 * x), static_cast<unsigned char>(200 - 30 * y),
            static_cast<unsigned char>(7 * x + 11 * y)};
}

struct BmpInput {
    int width = 5;
    int height = 3; // negative: top-down
    int bits = 24;
    std::uint32_t infoSize = 40;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks; // written into a V2+ header or after a 40-byte one
    std::vector<std::uint32_t> palette;
    std::vector<unsigned char> alphas; // per pixel for 32-bit, row-major top first
    std::vector<unsigned char> indices; // per pixel for 8-bit
};

Bytes MakeBmp(const BmpInput& s) {
    const int h = std::abs(s.height);
    const std::size_t stride = (static_cast<std::size_t>(s.width) * s.bits + 31) / 32 * 4;
    const std::size_t extra = s.infoSize == 40 ? s.masks.size() * 4 : 0;
    const auto offBits = static_cast<std::uint32_t>(14 + s.infoSize + extra + s.palette.size() * 4);
    Bytes b = {'B', 'M'};
    Put32(b, static_cast<std::uint32_t>(offBits + stride * h));
    Put32(b, 0);
    Put32(b, offBits);
    Put32(b, s.infoSize);
    Put32(b, static_cast<std::uint32_t>(s.width));
    Put32(b, static_cast<std::uint32_t>(s.height));
    Put16(b, 1);
    Put16(b, static_cast<unsigned>(s.bits));
    Put32(b, s.compression);
    Put32(b, static_cast<std::uint32_t>(stride * h));
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, static_cast<std::uint32_t>(s.palette.size()));
    Put32(b, 0);
    const std::size_t headerEnd = 14 + s.infoSize;
    std::size_t maskAt = b.size();
    b.resize(std::max(b.size(), headerEnd), 0);
    if (s.infoSize == 40) {
        maskAt = b.size();
        b.resize(b.size() + extra, 0);
    }
    for (std::size_t i = 0; i < s.masks.size(); ++i) {
        Patch32(b, maskAt + i * 4, s.masks[i]);
    }
    for (std::uint32_t c : s.palette) {
        Put32(b, c);
    }
    for (int row = 0; row < h; ++row) {
        const int y = s.height > 0 ? h - 1 - row : row; // image row stored here
        std::size_t written = 0;
        for (int x = 0; x < s.width; ++x) {
            const Rgb c = TestColour(x, y);
            if (s.bits == 8) {
                b.push_back(s.indices[y * s.width + x]);
                written += 1;
                continue;
            }
            b.insert(b.end(), {c.b, c.g, c.r});
            written += 3;
            if (s.bits == 32) {
                b.push_back(s.alphas.empty() ? 0 : s.alphas[y * s.width + x]);
                written += 1;
            }
        }
        b.insert(b.end(), stride - written, 0xEE); // padding that must be skipped
    }
    return b;
}

// Encodes with libjpeg's compression side (tests only).
Bytes EncodeJpeg(int width, int height, int components, const std::vector<unsigned char>& samples,
                 bool progressive = false, int quality = 95) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&samples[cinfo.next_scanline * width * components]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// A smooth colour picture, easy on JPEG.
std::vector<unsigned char> SmoothRgb(int width, int height) {
    std::vector<unsigned char> s;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            s.push_back(static_cast<unsigned char>(40 + 8 * x));
            s.push_back(static_cast<unsigned char>(60 + 10 * y));
            s.push_back(static_cast<unsigned char>(180 - 4 * x - 4 * y));
        }
    }
    return s;
}

struct DdsInput {
    std::uint32_t width = 4, height = 2;
    std::uint32_t bits = 16;
    std::uint32_t r = 0x0F00, g = 0x00F0, b = 0x000F, a = 0xF000;
    std::uint32_t pfFlags = 0x41; // RGB | ALPHAPIXELS
    std::uint32_t mipCount = 0;   // 0: no mipmap flag
    std::uint32_t caps2 = 0;
};

Bytes MakeDds(const DdsInput& s, std::size_t dataBytes) {
    Bytes b = {'D', 'D', 'S', ' '};
    Put32(b, 124);
    Put32(b, 0x1007 | 0x8 | (s.mipCount ? 0x20000u : 0u)); // caps, height, width, pixelformat, pitch
    Put32(b, s.height);
    Put32(b, s.width);
    Put32(b, s.width * s.bits / 8);
    Put32(b, 0);
    Put32(b, s.mipCount);
    for (int i = 0; i < 11; ++i) {
        Put32(b, 0);
    }
    Put32(b, 32);
    Put32(b, s.pfFlags);
    Put32(b, 0);
    Put32(b, s.bits);
    Put32(b, s.r);
    Put32(b, s.g);
    Put32(b, s.b);
    Put32(b, s.a);
    Put32(b, 0x1000 | (s.mipCount ? 0x400008u : 0u));
    Put32(b, s.caps2);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    EXPECT_EQ(b.size(), 128u);
    for (std::size_t i = 0; i < dataBytes; ++i) {
        b.push_back(static_cast<unsigned char>(i * 37 + 5));
    }
    return b;
}

Bytes ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const BYTE* Pixel(const DecodedImage& image, UINT x, UINT y) {
    return image.pixels.data() + y * image.pitch + x * DecodedFormatBytesPerPixel(image.format);
}

DecodedImage Uniform(D3DFORMAT format, UINT width, UINT height, std::vector<BYTE> pixel) {
    DecodedImage image;
    image.format = format;
    image.width = width;
    image.height = height;
    image.pitch = width * static_cast<UINT>(pixel.size());
    image.fileLevels = 1;
    for (UINT i = 0; i < width * height; ++i) {
        image.pixels.insert(image.pixels.end(), pixel.begin(), pixel.end());
    }
    return image;
}

void ExpectFails(const Bytes& bytes, const char* what) {
    DecodedImage image;
    const HRESULT hr = DecodeImage(bytes, image);
    EXPECT_TRUE(FAILED(hr)) << what << " (" << bytes.size() << " bytes)";
    EXPECT_TRUE(image.pixels.empty()) << what;
}

// ---------------------------------------------------------------------------

TEST(ImageDecodeBmpTest, TwentyFourBitRowsComeOutTopFirstWithoutPadding) {
    for (int height : {3, -3}) {
        SCOPED_TRACE(height > 0 ? "bottom-up" : "top-down");
        BmpInput input;
        input.height = height; // 5 wide: 15 bytes a row, one byte of padding
        DecodedImage image;
        ASSERT_EQ(DecodeImage(MakeBmp(input), image), S_OK);
        EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
        ASSERT_EQ(image.width, 5u);
        ASSERT_EQ(image.height, 3u);
        EXPECT_EQ(image.pitch, 20u);
        EXPECT_EQ(image.fileLevels, 1u);
        ASSERT_EQ(image.pixels.size(), 60u);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                const Rgb c = TestColour(x, y);
                const BYTE* p = Pixel(image, x, y);
                EXPECT_EQ(p[0], c.b);
                EXPECT_EQ(p[1], c.g);
                EXPECT_EQ(p[2], c.r);
                EXPECT_EQ(p[3], 0xFF);
            }
        }
    }
}

TEST(ImageDecodeBmpTest, ThirtyTwoBitKeepsAlphaOnlyWithAnAlphaMask) {
    BmpInput input;
    input.width = 2;
    input.height = 2;
    input.bits = 32;
    input.alphas = {0, 64, 128, 255};

    DecodedImage image;
    ASSERT_EQ(DecodeImage(MakeBmp(input), image), S_OK); // BI_RGB: the fourth byte is unused
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(Pixel(image, 0, 0)[3], 0xFF);
    EXPECT_EQ(Pixel(image, 1, 1)[2], TestColour(1, 1).r);

    input.compression = 3; // BI_BITFIELDS after a 40-byte header, no alpha
    input.masks = {0xFF0000, 0xFF00, 0xFF};
    ASSERT_EQ(DecodeImage(MakeBmp(input), image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);

    input.infoSize = 124; // V5 header with an alpha mask
    input.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    ASSERT_EQ(DecodeImage(MakeBmp(input), image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(Pixel(image, 0, 0)[3], 0);
    EXPECT_EQ(Pixel(image, 1, 0)[3], 64);
    EXPECT_EQ(Pixel(image, 0, 1)[3], 128);
    EXPECT_EQ(Pixel(image, 1, 1)[3], 255);
    EXPECT_EQ(Pixel(image, 1, 1)[0], TestColour(1, 1).b);

    input.masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000}; // another channel order: not read
    ExpectFails(MakeBmp(input), "swapped masks");
}

TEST(ImageDecodeBmpTest, EightBitLooksUpThePalette) {
    BmpInput input;
    input.width = 3;
    input.height = 2;
    input.bits = 8;
    input.palette = {0x00102030, 0x00A0B0C0};
    input.indices = {0, 1, 1, 1, 0, 7}; // 7 lies past the table
    DecodedImage image;
    ASSERT_EQ(DecodeImage(MakeBmp(input), image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    const BYTE* p = Pixel(image, 0, 0);
    EXPECT_EQ((std::vector<BYTE>{p[0], p[1], p[2], p[3]}), (std::vector<BYTE>{0x30, 0x20, 0x10, 0xFF}));
    p = Pixel(image, 1, 0);
    EXPECT_EQ((std::vector<BYTE>{p[0], p[1], p[2], p[3]}), (std::vector<BYTE>{0xC0, 0xB0, 0xA0, 0xFF}));
    p = Pixel(image, 2, 1);
    EXPECT_EQ((std::vector<BYTE>{p[0], p[1], p[2], p[3]}), (std::vector<BYTE>{0, 0, 0, 0xFF}));
}

TEST(ImageDecodeBmpTest, ToonRampHoldsTheBandsInEveryRow) {
    const Bytes file = ReadFile(GLIMMERWING_SOURCE_DIR "/resources/TOONTOON.BMP");
    ASSERT_EQ(file.size(), 54u + 128 * 384);
    struct Band {
        int first, last, grey;
    };
    const Band bands[] = {{0, 17, 0},    {18, 18, 22},  {19, 19, 40},   {20, 20, 38},   {21, 44, 35},
                          {45, 45, 31},  {46, 46, 26},  {47, 47, 53},   {48, 48, 98},   {49, 50, 131},
                          {51, 51, 132}, {52, 65, 131}, {66, 85, 202},  {86, 109, 229}, {110, 127, 253}};
    int expected[128] = {};
    for (const Band& band : bands) {
        for (int x = band.first; x <= band.last; ++x) {
            expected[x] = band.grey;
        }
    }
    DecodedImage image;
    ASSERT_EQ(DecodeImage(file, image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    ASSERT_EQ(image.width, 128u);
    ASSERT_EQ(image.height, 128u);
    for (UINT y = 0; y < 128; ++y) {
        for (UINT x = 0; x < 128; ++x) {
            const BYTE* p = Pixel(image, x, y);
            ASSERT_TRUE(p[0] == expected[x] && p[1] == expected[x] && p[2] == expected[x] && p[3] == 0xFF)
                << "x " << x << " y " << y;
        }
    }
    // Already a power of two: the chain keeps the file's pixels on top, and
    // the bands survive in the next level as pair averages.
    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::vector<MipLevel> levels;
    ASSERT_EQ(DecodeTextureImage(file, format, levels), S_OK);
    EXPECT_EQ(format, D3DFMT_X8R8G8B8);
    ASSERT_EQ(levels.size(), 8u);
    EXPECT_EQ(levels[0].pixels, image.pixels);
    EXPECT_EQ(levels[1].pixels[9 * 4], (expected[18] + expected[19] + 1) / 2);
    EXPECT_EQ(levels[1].pixels[60 * 4], 253);
}

TEST(ImageDecodeJpegTest, ColourAndGreyDecodeWithinJpegTolerance) {
    const int w = 19, h = 11; // not a whole number of blocks
    const std::vector<unsigned char> rgb = SmoothRgb(w, h);
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        DecodedImage image;
        ASSERT_EQ(DecodeImage(EncodeJpeg(w, h, 3, rgb, progressive), image), S_OK);
        EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
        ASSERT_EQ(image.width, UINT(w));
        ASSERT_EQ(image.height, UINT(h));
        int worst = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const BYTE* p = Pixel(image, x, y);
                const unsigned char* s = &rgb[(y * w + x) * 3];
                worst = std::max({worst, std::abs(p[2] - s[0]), std::abs(p[1] - s[1]), std::abs(p[0] - s[2])});
                EXPECT_EQ(p[3], 0xFF);
            }
        }
        EXPECT_LE(worst, 12);
    }

    std::vector<unsigned char> grey;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 10; ++x) {
            grey.push_back(static_cast<unsigned char>(x < 5 ? 30 : 220));
        }
    }
    DecodedImage image;
    ASSERT_EQ(DecodeImage(EncodeJpeg(10, 8, 1, grey), image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    for (UINT y = 0; y < 8; ++y) {
        for (UINT x = 0; x < 10; ++x) {
            const BYTE* p = Pixel(image, x, y);
            EXPECT_EQ(p[0], p[1]);
            EXPECT_EQ(p[1], p[2]);
            EXPECT_NEAR(p[0], grey[y * 10 + x], 16);
        }
    }

    // Four-component (CMYK) files are not read.
    ExpectFails(EncodeJpeg(8, 8, 4, std::vector<unsigned char>(8 * 8 * 4, 100)), "CMYK");
}

TEST(ImageDecodeDdsTest, A4R4G4B4IsTakenWordForWord) {
    DdsInput input; // 4 x 2, 16 bits
    const Bytes file = MakeDds(input, 16);
    DecodedImage image;
    ASSERT_EQ(DecodeImage(file, image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_A4R4G4B4);
    EXPECT_EQ(image.width, 4u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.pitch, 8u);
    EXPECT_EQ(image.fileLevels, 1u);
    EXPECT_EQ(image.pixels, Bytes(file.begin() + 128, file.end()));

    // Without the alpha flag the mask is not read: X4R4G4B4.
    input.pfFlags = 0x40;
    ASSERT_EQ(DecodeImage(MakeDds(input, 16), image), S_OK);
    EXPECT_EQ(image.format, D3DFMT_X4R4G4B4);

    // Three stored levels: the top one is taken and the count noted.
    input = DdsInput{};
    input.width = 4;
    input.height = 4;
    input.mipCount = 3;
    const Bytes chain = MakeDds(input, 2 * (16 + 4 + 1));
    ASSERT_EQ(DecodeImage(chain, image), S_OK);
    EXPECT_EQ(image.fileLevels, 3u);
    EXPECT_EQ(image.pixels, Bytes(chain.begin() + 128, chain.begin() + 128 + 32));

    struct Other {
        std::uint32_t bits, r, g, b, a, flags;
        D3DFORMAT format;
    };
    for (const Other& o : {Other{32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x41, D3DFMT_A8R8G8B8},
                           Other{32, 0xFF0000, 0xFF00, 0xFF, 0, 0x40, D3DFMT_X8R8G8B8},
                           Other{16, 0xF800, 0x7E0, 0x1F, 0, 0x40, D3DFMT_R5G6B5},
                           Other{16, 0x7C00, 0x3E0, 0x1F, 0x8000, 0x41, D3DFMT_A1R5G5B5}}) {
        DdsInput s;
        s.bits = o.bits;
        s.r = o.r;
        s.g = o.g;
        s.b = o.b;
        s.a = o.a;
        s.pfFlags = o.flags;
        ASSERT_EQ(DecodeImage(MakeDds(s, 8 * o.bits / 8), image), S_OK) << o.format;
        EXPECT_EQ(image.format, o.format);
        EXPECT_EQ(image.pitch, 4 * o.bits / 8);
    }
}

TEST(ImageDecodeMipTest, ChainsRoundUpToPowersOfTwoAndHalveToOne) {
    std::vector<MipLevel> levels;
    ASSERT_EQ(BuildMipChain(Uniform(D3DFMT_X8R8G8B8, 256, 256, {1, 2, 3, 0xFF}), levels), S_OK);
    ASSERT_EQ(levels.size(), 9u);
    for (UINT i = 0; i < 9; ++i) {
        EXPECT_EQ(levels[i].width, 256u >> i);
        EXPECT_EQ(levels[i].height, 256u >> i);
    }

    // A stretch and box filtering keep a uniform image uniform, in 16-bit too.
    ASSERT_EQ(BuildMipChain(Uniform(D3DFMT_A4R4G4B4, 100, 60, {0x5A, 0xC3}), levels), S_OK);
    const UINT sizes[][2] = {{128, 64}, {64, 32}, {32, 16}, {16, 8}, {8, 4}, {4, 2}, {2, 1}, {1, 1}};
    ASSERT_EQ(levels.size(), 8u);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        EXPECT_EQ(levels[i].width, sizes[i][0]);
        EXPECT_EQ(levels[i].height, sizes[i][1]);
        EXPECT_EQ(levels[i].pitch, sizes[i][0] * 2);
        ASSERT_EQ(levels[i].pixels.size(), sizes[i][0] * sizes[i][1] * 2);
        for (std::size_t p = 0; p < levels[i].pixels.size(); p += 2) {
            ASSERT_EQ(levels[i].pixels[p], 0x5A) << "level " << i;
            ASSERT_EQ(levels[i].pixels[p + 1], 0xC3) << "level " << i;
        }
    }

    DecodedImage broken = Uniform(D3DFMT_X8R8G8B8, 4, 4, {0, 0, 0, 0});
    broken.pixels.pop_back();
    EXPECT_EQ(BuildMipChain(broken, levels), E_INVALIDARG);
    EXPECT_TRUE(levels.empty());
    broken = Uniform(D3DFMT_R8G8B8, 4, 4, {0, 0, 0});
    EXPECT_EQ(BuildMipChain(broken, levels), E_INVALIDARG);
}

TEST(ImageDecodeMipTest, BoxFilterAveragesEachChannelAndRounds) {
    // 2 x 2, 32-bit: B, G, R, A per pixel.
    DecodedImage image = Uniform(D3DFMT_A8R8G8B8, 2, 2, {0, 0, 0, 0});
    image.pixels = {0, 10, 255, 255, 1, 20, 255, 0, 2, 30, 0, 255, 4, 41, 0, 0};
    std::vector<MipLevel> levels;
    ASSERT_EQ(BuildMipChain(image, levels), S_OK);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_EQ(levels[1].pixels, (Bytes{2, 25, 128, 128})); // 7/4, 101/4, 510/4, 510/4 rounded

    // A 4 x 1 row averages pairs; then 2 x 1 to 1 x 1.
    image = Uniform(D3DFMT_X8R8G8B8, 4, 1, {0, 0, 0, 0xFF});
    image.pixels = {0, 0, 0, 0xFF, 100, 0, 0, 0xFF, 200, 0, 0, 0xFF, 201, 0, 0, 0xFF};
    ASSERT_EQ(BuildMipChain(image, levels), S_OK);
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_EQ(levels[1].pixels, (Bytes{50, 0, 0, 0xFF, 201, 0, 0, 0xFF})); // 200.5 rounds up
    EXPECT_EQ(levels[2].pixels, (Bytes{126, 0, 0, 0xFF}));

    // A4R4G4B4: nibbles expand to 8 bits, average, and round back.
    // Words 0xF000 (opaque black) and 0x0FFF (clear white), side by side.
    image = Uniform(D3DFMT_A4R4G4B4, 2, 1, {0, 0});
    image.pixels = {0x00, 0xF0, 0xFF, 0x0F};
    ASSERT_EQ(BuildMipChain(image, levels), S_OK);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_EQ(levels[1].pixels, (Bytes{0x88, 0x88})); // 127.5 -> 128 -> 8 in every channel

    // R5G6B5: 0xFFFF and 0x0000 average to mid grey; alpha is absent.
    image = Uniform(D3DFMT_R5G6B5, 1, 2, {0, 0});
    image.pixels = {0xFF, 0xFF, 0x00, 0x00};
    ASSERT_EQ(BuildMipChain(image, levels), S_OK);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_EQ(levels[1].pixels, (Bytes{0x10, 0x84})); // r 16, g 32, b 16
}

TEST(ImageDecodeMipTest, StretchInterpolatesBetweenPixelCentres) {
    // 3 x 1 to 4 x 1: centres at source 0.25, 1.0, 1.75 ... clamped ends.
    DecodedImage image = Uniform(D3DFMT_X8R8G8B8, 3, 1, {0, 0, 0, 0xFF});
    image.pixels = {0, 0, 0, 0xFF, 120, 0, 0, 0xFF, 240, 0, 0, 0xFF};
    std::vector<MipLevel> levels;
    ASSERT_EQ(BuildMipChain(image, levels), S_OK);
    ASSERT_EQ(levels.size(), 3u);
    ASSERT_EQ(levels[0].width, 4u);
    // Source positions: -0.125 -> 0, 0.625, 1.375, 2.125 -> 2.
    EXPECT_EQ(levels[0].pixels[0], 0);
    EXPECT_EQ(levels[0].pixels[4], 75);
    EXPECT_EQ(levels[0].pixels[8], 165);
    EXPECT_EQ(levels[0].pixels[12], 240);
    EXPECT_EQ(levels[0].pixels[3], 0xFF);
}

TEST(ImageDecodeMalformedTest, EveryTruncationFailsCleanly) {
    ExpectFails({}, "empty");
    ExpectFails({'B'}, "one byte");
    ExpectFails({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, "another format");

    BmpInput bmp;
    const Bytes jpeg = EncodeJpeg(19, 11, 3, SmoothRgb(19, 11), true);
    const std::vector<std::pair<const char*, Bytes>> files = {
        {"bmp", MakeBmp(bmp)},
        {"progressive jpeg", jpeg},
        {"baseline jpeg", EncodeJpeg(19, 11, 3, SmoothRgb(19, 11))},
        {"dds", MakeDds(DdsInput{}, 16)}};
    for (const auto& [name, file] : files) {
        DecodedImage image;
        ASSERT_EQ(DecodeImage(file, image), S_OK) << name;
        for (std::size_t length = 0; length < file.size(); ++length) {
            ExpectFails(Bytes(file.begin(), file.begin() + length), name);
        }
    }

    // Damaged bytes anywhere: any result but a crash, and a success is whole.
    std::uint32_t seed = 2024;
    auto next = [&seed] {
        seed = seed * 214013 + 2531011;
        return (seed >> 16) & 0x7FFF;
    };
    for (const auto& [name, file] : files) {
        for (int round = 0; round < 400; ++round) {
            Bytes damaged = file;
            for (int k = 0; k < 1 + round % 3; ++k) {
                damaged[next() % damaged.size()] = static_cast<unsigned char>(next());
            }
            DecodedImage image;
            if (SUCCEEDED(DecodeImage(damaged, image))) {
                ASSERT_EQ(image.pixels.size(), std::size_t{image.pitch} * image.height) << name;
                ASSERT_EQ(image.pitch, image.width * DecodedFormatBytesPerPixel(image.format)) << name;
            }
        }
    }

    // Garbage after a valid start-of-image marker, and a damaged header.
    Bytes garbage = {0xFF, 0xD8, 0xFF};
    std::uint32_t state = 12345;
    for (int i = 0; i < 4000; ++i) {
        state = state * 214013 + 2531011;
        garbage.push_back(static_cast<unsigned char>(state >> 16));
    }
    ExpectFails(garbage, "jpeg garbage");
    Bytes damaged = jpeg;
    for (std::size_t i = 4; i < 40 && i < damaged.size(); ++i) {
        damaged[i] = 0xFF;
    }
    ExpectFails(damaged, "jpeg damaged header");
}

TEST(ImageDecodeMalformedTest, AbsurdSizesAndFieldsFail) {
    auto bmpWith = [](auto change) {
        BmpInput input;
        Bytes b = MakeBmp(input);
        change(b);
        return b;
    };
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 18, 100000); }), "bmp width too big");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 18, 0); }), "bmp width 0");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 18, 0xFFFFFFFBu); }), "bmp width negative");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 22, 0); }), "bmp height 0");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 22, 0x80000000u); }), "bmp height INT_MIN");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 18, 16384); Patch32(b, 22, 16384); }), "bmp data missing");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 10, 0xFFFFFFF0u); }), "bmp offset past the end");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 10, 20); }), "bmp offset inside the header");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 14, 0xFFFFFFFFu); }), "bmp header size");
    ExpectFails(bmpWith([](Bytes& b) { Patch32(b, 14, 12); }), "bmp core header");
    ExpectFails(bmpWith([](Bytes& b) { b[28] = 16; }), "bmp 16-bit");
    ExpectFails(bmpWith([](Bytes& b) { b[30] = 1; }), "bmp RLE");
    ExpectFails(bmpWith([](Bytes& b) { b[26] = 2; }), "bmp planes");
    {
        BmpInput input;
        input.bits = 8;
        input.palette = {0};
        input.indices.assign(15, 0);
        ExpectFails(bmpWith([&](Bytes& b) { b = MakeBmp(input); Patch32(b, 46, 257); }), "palette too long");
        ExpectFails(bmpWith([&](Bytes& b) { b = MakeBmp(input); Patch32(b, 46, 0x40000000); }), "palette huge");
    }

    // A JPEG whose frame header claims a huge picture is refused before any
    // pixel memory is taken.
    Bytes jpeg = EncodeJpeg(16, 16, 3, SmoothRgb(16, 16));
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0xFF; // height 0xFF10
            jpeg[i + 6] = 0x10;
            break;
        }
    }
    ExpectFails(jpeg, "jpeg 65296 rows");
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0x3E; // 16000 rows: allowed, but the data ends after 16
            jpeg[i + 6] = 0x80;
            break;
        }
    }
    ExpectFails(jpeg, "jpeg rows missing");

    auto ddsWith = [](DdsInput input, std::size_t data, auto change) {
        Bytes b = MakeDds(input, data);
        change(b);
        return b;
    };
    const auto none = [](Bytes&) {};
    ExpectFails(ddsWith(DdsInput{}, 16, [](Bytes& b) { Patch32(b, 4, 100); }), "dds header size");
    ExpectFails(ddsWith(DdsInput{}, 16, [](Bytes& b) { Patch32(b, 76, 24); }), "dds pixel format size");
    ExpectFails(ddsWith(DdsInput{}, 16, [](Bytes& b) { Patch32(b, 16, 0x7FFFFFFF); }), "dds width");
    ExpectFails(ddsWith(DdsInput{}, 16, [](Bytes& b) { Patch32(b, 12, 0); }), "dds height 0");
    ExpectFails(ddsWith(DdsInput{}, 16, [](Bytes& b) { Patch32(b, 12, 3); }), "dds data short of the height");
    DdsInput dxt;
    dxt.pfFlags = 0x4; // FourCC: compressed
    ExpectFails(ddsWith(dxt, 16, none), "dds fourcc");
    DdsInput cube;
    cube.caps2 = 0x200;
    ExpectFails(ddsWith(cube, 16, none), "dds cube map");
    DdsInput odd;
    odd.bits = 24;
    ExpectFails(ddsWith(odd, 24, none), "dds 24-bit");
    DdsInput mips;
    mips.width = 4;
    mips.height = 4;
    mips.mipCount = 3;
    ExpectFails(ddsWith(mips, 2 * (16 + 4), none), "dds last level missing");
    mips.mipCount = 4; // one more than 4 x 4 can have
    ExpectFails(ddsWith(mips, 2 * (16 + 4 + 1 + 1), none), "dds too many levels");
    mips.mipCount = 0xFFFFFFFF;
    ExpectFails(ddsWith(mips, 64, none), "dds absurd level count");
}

} // namespace
