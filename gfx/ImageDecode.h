// Image files to texture pixels, as the extension library's texture-from-file
// and texture-from-resource calls read them with all defaults.
//
// DecodeImage recognises the file by its content, never by its name:
//   - Windows BMP ("BM"): BITMAPINFOHEADER or a larger info header (V2..V5);
//     24-bit and 32-bit uncompressed (BI_RGB, or BI_BITFIELDS with the
//     standard masks 0xFF0000 / 0xFF00 / 0xFF and an alpha mask of 0 or
//     0xFF000000), 8-bit palettised BI_RGB; bottom-up or top-down rows.
//   - JPEG (FF D8 FF): baseline or progressive, grey or three components,
//     read with libjpeg's decompression interface. Warnings (corrupt or
//     truncated data) count as failure, so a damaged file never becomes a
//     half-grey texture.
//   - DDS ("DDS " + a 124-byte header): uncompressed A4R4G4B4, X4R4G4B4,
//     A8R8G8B8, X8R8G8B8, R5G6B5, A1R5G5B5, X1R5G5B5; every level the header
//     declares must be present; the top level is taken and the count noted.
//
// The format the texture gets:
//   BMP 24-bit, BMP 8-bit, BMP 32-bit without an alpha mask, JPEG (grey too)
//       -> D3DFMT_X8R8G8B8 (the unused byte is 0xFF);
//   BMP 32-bit with an alpha mask (BI_BITFIELDS)  -> D3DFMT_A8R8G8B8;
//   DDS -> its own format.
// Pixels are in that format's Direct3D memory layout (32-bit: bytes B, G, R,
// A/X; 16-bit: little-endian words), rows packed (pitch = width x bytes per
// pixel) and top row first, so texture coordinate v = 0 is the image's top.
//
// Every size, offset and count is checked against the data and against
// kMaxImageDimension; anything malformed, truncated or unsupported gives
// D3DXERR_INVALIDDATA (E_OUTOFMEMORY when memory runs out), never a crash.
#pragma once

#include <span>
#include <vector>

#include "gfx/D3D8Types.h"
#include "platform/Win32Types.h"

// The extension library's "the file is not an image it can read".
constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);

// Largest width or height accepted from a file.
constexpr UINT kMaxImageDimension = 16384;

// One level of pixels, rows top first, pitch = width x bytes per pixel.
struct MipLevel {
    UINT width = 0;
    UINT height = 0;
    UINT pitch = 0;
    std::vector<BYTE> pixels;
};

struct DecodedImage {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0;
    UINT height = 0;
    UINT pitch = 0;
    UINT fileLevels = 0;       // mip levels the file holds (1 for BMP and JPEG)
    std::vector<BYTE> pixels;  // the top level
};

// Bytes per pixel of the formats DecodeImage produces; 0 for any other.
UINT DecodedFormatBytesPerPixel(D3DFORMAT format);

// Whether the bytes begin with the signature of a BMP, a JPEG or a DDS file.
bool IsImageData(std::span<const unsigned char> bytes);

// Decodes `bytes` into `out` (left empty on failure).
HRESULT DecodeImage(std::span<const unsigned char> bytes, DecodedImage& out);

// The mip chain that the texture gets by default, from the top level:
//   1. Each dimension is rounded up to the next power of two; when that
//      changes the size, the image is stretched to it with a triangle filter
//      (linear interpolation between pixel centres, edges clamped).
//   2. Then levels are halved (each dimension to max(1, n / 2)) down to 1 x 1,
//      every level a 2 x 2 box average of the one above (2 x 1 or 1 x 2 once
//      one side is 1), per channel, rounded to nearest.
// Filtering works on 8-bit channels: 16-bit formats are expanded (a channel
// of n bits scaled to 0..255 and rounded; a missing alpha reads 255), and
// every level is reduced to the format again from the 8-bit chain, rounded to
// nearest (no dithering), so errors do not add up from level to level. Level 0 keeps the file's pixels
// exactly when no stretch was needed. A 256 x 256 image gets 9 levels; a
// 100 x 60 one is stretched to 128 x 64 and gets 8.
HRESULT BuildMipChain(const DecodedImage& top, std::vector<MipLevel>& levels);

// DecodeImage followed by BuildMipChain: the texture's format and levels.
HRESULT DecodeTextureImage(std::span<const unsigned char> bytes, D3DFORMAT& format,
                           std::vector<MipLevel>& levels);
