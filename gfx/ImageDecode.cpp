#include "gfx/ImageDecode.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

// After ImageDecode.h: jpeglib.h defines TRUE and FALSE as macros when the
// Win32 names have not been declared first.
#include <jpeglib.h>

namespace {

using Bytes = std::span<const unsigned char>;

// ---------------------------------------------------------------------------
// Little-endian reads; callers check the range first.

std::uint16_t Read16(Bytes b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Read32(Bytes b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

bool StartsWith(Bytes b, std::initializer_list<unsigned char> magic) {
    return b.size() >= magic.size() && std::equal(magic.begin(), magic.end(), b.begin());
}

bool SaneDimensions(std::uint64_t width, std::uint64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxImageDimension && height <= kMaxImageDimension;
}

// Sizes the output for a packed image of the format.
void Prepare(DecodedImage& out, D3DFORMAT format, UINT width, UINT height) {
    out.format = format;
    out.width = width;
    out.height = height;
    out.pitch = width * DecodedFormatBytesPerPixel(format);
    out.fileLevels = 1;
    out.pixels.assign(static_cast<std::size_t>(out.pitch) * height, 0);
}

// ---------------------------------------------------------------------------
// Windows BMP

constexpr std::size_t kBmpFileHeaderSize = 14;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

HRESULT DecodeBmp(Bytes b, DecodedImage& out) {
    if (b.size() < kBmpFileHeaderSize + 40) {
        return D3DXERR_INVALIDDATA;
    }
    const std::uint32_t offBits = Read32(b, 10);
    const std::uint32_t infoSize = Read32(b, 14);
    // BITMAPINFOHEADER and its V2 .. V5 successors; the core and OS/2 2.x
    // headers lay their fields out differently.
    if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124) {
        return D3DXERR_INVALIDDATA;
    }
    const std::size_t infoEnd = kBmpFileHeaderSize + infoSize;
    if (b.size() < infoEnd) {
        return D3DXERR_INVALIDDATA;
    }
    const auto width = static_cast<std::int32_t>(Read32(b, 18));
    const auto rawHeight = static_cast<std::int32_t>(Read32(b, 22));
    const std::uint16_t planes = Read16(b, 26);
    const std::uint16_t bitCount = Read16(b, 28);
    const std::uint32_t compression = Read32(b, 30);
    const std::uint32_t colorsUsed = Read32(b, 46);

    const bool topDown = rawHeight < 0;
    const std::int64_t height = topDown ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
    if (planes != 1 || width <= 0 || !SaneDimensions(static_cast<std::uint64_t>(width),
                                                     static_cast<std::uint64_t>(height))) {
        return D3DXERR_INVALIDDATA;
    }

    // Where the header part ends that may precede the pixels: the masks that
    // follow a 40-byte header with BI_BITFIELDS, or the palette.
    std::size_t tablesEnd = infoEnd;
    bool alpha = false;
    std::uint32_t palette[256] = {};
    if (bitCount == 32 && compression == kBiBitfields) {
        constexpr std::size_t masksAt = 54; // in a V2+ header, or right after a 40-byte one
        if (infoSize == 40) {
            tablesEnd = infoEnd + 12;
            if (b.size() < tablesEnd) {
                return D3DXERR_INVALIDDATA;
            }
        }
        if (Read32(b, masksAt) != 0x00FF0000u || Read32(b, masksAt + 4) != 0x0000FF00u ||
            Read32(b, masksAt + 8) != 0x000000FFu) {
            return D3DXERR_INVALIDDATA;
        }
        const std::uint32_t alphaMask = infoSize >= 56 ? Read32(b, 66) : 0;
        if (alphaMask != 0 && alphaMask != 0xFF000000u) {
            return D3DXERR_INVALIDDATA;
        }
        alpha = alphaMask != 0;
    } else if (bitCount == 8 && compression == kBiRgb) {
        const std::uint32_t count = colorsUsed == 0 ? 256 : colorsUsed;
        if (count > 256) {
            return D3DXERR_INVALIDDATA;
        }
        tablesEnd = infoEnd + std::size_t{count} * 4;
        if (b.size() < tablesEnd) {
            return D3DXERR_INVALIDDATA;
        }
        // Entries past the table (indices the file should not use) stay black.
        for (std::uint32_t i = 0; i < count; ++i) {
            palette[i] = Read32(b, infoEnd + i * 4) | 0xFF000000u;
        }
    } else if (!((bitCount == 24 || bitCount == 32) && compression == kBiRgb)) {
        return D3DXERR_INVALIDDATA;
    }

    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
    if (offBits < tablesEnd || offBits > b.size() ||
        stride * static_cast<std::uint64_t>(height) > b.size() - offBits) {
        return D3DXERR_INVALIDDATA;
    }

    const auto w = static_cast<UINT>(width);
    const auto h = static_cast<UINT>(height);
    Prepare(out, alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, w, h);
    for (UINT y = 0; y < h; ++y) {
        const UINT fileRow = topDown ? y : h - 1 - y;
        const unsigned char* src = b.data() + offBits + fileRow * stride;
        BYTE* dst = out.pixels.data() + static_cast<std::size_t>(y) * out.pitch;
        for (UINT x = 0; x < w; ++x, dst += 4) {
            switch (bitCount) {
            case 8: {
                const std::uint32_t c = palette[src[x]];
                dst[0] = static_cast<BYTE>(c);
                dst[1] = static_cast<BYTE>(c >> 8);
                dst[2] = static_cast<BYTE>(c >> 16);
                dst[3] = 0xFF;
                break;
            }
            case 24:
                dst[0] = src[x * 3];
                dst[1] = src[x * 3 + 1];
                dst[2] = src[x * 3 + 2];
                dst[3] = 0xFF;
                break;
            default: // 32
                dst[0] = src[x * 4];
                dst[1] = src[x * 4 + 1];
                dst[2] = src[x * 4 + 2];
                dst[3] = alpha ? src[x * 4 + 3] : 0xFF;
                break;
            }
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// JPEG through libjpeg. libjpeg reports errors by calling error_exit, whose
// default ends the process; ours jumps back to DecodeJpeg instead. Warnings
// (corrupt data, data ending early) jump back too.

constexpr int kMaxJpegScans = 1000; // a progressive file needs a few dozen at most

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void JpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) {
        JpegErrorExit(cinfo);
    }
}

void JpegOutputMessage(j_common_ptr) {}

// Bounds the work that a file of endless tiny scans can cause.
void JpegProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
        JpegErrorExit(cinfo);
    }
}

// Reads the scanlines into `out`, growing it a row at a time so that a small
// file claiming a large picture fails before much memory is taken.
bool ReadJpegScanlines(j_decompress_ptr cinfo, DecodedImage& out) {
    const JDIMENSION rowBytes = cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components);
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                 rowBytes, 1);
    const bool grey = cinfo->output_components == 1;
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION y = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, row, 1) != 1) {
            return false;
        }
        out.pixels.resize(static_cast<std::size_t>(y + 1) * out.pitch);
        const JSAMPLE* src = row[0];
        BYTE* dst = out.pixels.data() + static_cast<std::size_t>(y) * out.pitch;
        for (JDIMENSION x = 0; x < cinfo->output_width; ++x, dst += 4) {
            if (grey) {
                dst[0] = dst[1] = dst[2] = src[x];
            } else {
                dst[0] = src[x * 3 + 2];
                dst[1] = src[x * 3 + 1];
                dst[2] = src[x * 3];
            }
            dst[3] = 0xFF;
        }
    }
    return true;
}

// Only plain C data lives in this frame, so the jump back from libjpeg skips
// no destructor; the pixels go into `out`, owned by the caller, and are only
// touched between libjpeg calls.
HRESULT DecodeJpeg(Bytes b, DecodedImage& out) {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.emit_message = JpegEmitMessage;
    err.pub.output_message = JpegOutputMessage;
    progress.progress_monitor = JpegProgress;

    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return D3DXERR_INVALIDDATA;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, b.data(), static_cast<unsigned long>(b.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK ||
        !SaneDimensions(cinfo.image_width, cinfo.image_height) ||
        (cinfo.num_components != 1 && cinfo.num_components != 3)) {
        jpeg_destroy_decompress(&cinfo);
        return D3DXERR_INVALIDDATA;
    }
    cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (!SaneDimensions(cinfo.output_width, cinfo.output_height) ||
        (cinfo.output_components != 1 && cinfo.output_components != 3)) {
        jpeg_destroy_decompress(&cinfo);
        return D3DXERR_INVALIDDATA;
    }

    out.format = D3DFMT_X8R8G8B8;
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    out.pitch = out.width * 4;
    out.fileLevels = 1;
    bool read = false;
    try {
        read = ReadJpegScanlines(&cinfo, out);
    } catch (const std::bad_alloc&) {
        jpeg_destroy_decompress(&cinfo);
        return E_OUTOFMEMORY;
    }
    if (!read) {
        jpeg_destroy_decompress(&cinfo);
        return D3DXERR_INVALIDDATA;
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return S_OK;
}

// ---------------------------------------------------------------------------
// DDS

constexpr std::size_t kDdsHeaderEnd = 4 + 124;
constexpr std::uint32_t kDdsdMipMapCount = 0x20000;
constexpr std::uint32_t kDdsdDepth = 0x800000;
constexpr std::uint32_t kDdpfAlphaPixels = 0x1;
constexpr std::uint32_t kDdpfFourCC = 0x4;
constexpr std::uint32_t kDdpfRgb = 0x40;
constexpr std::uint32_t kDdsCaps2CubeMap = 0x200;
constexpr std::uint32_t kDdsCaps2Volume = 0x200000;

struct DdsFormat {
    D3DFORMAT format;
    std::uint32_t bits, r, g, b, a;
};

constexpr DdsFormat kDdsFormats[] = {
    {D3DFMT_A4R4G4B4, 16, 0x0F00, 0x00F0, 0x000F, 0xF000},
    {D3DFMT_X4R4G4B4, 16, 0x0F00, 0x00F0, 0x000F, 0},
    {D3DFMT_A8R8G8B8, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
    {D3DFMT_X8R8G8B8, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0},
    {D3DFMT_R5G6B5, 16, 0xF800, 0x07E0, 0x001F, 0},
    {D3DFMT_A1R5G5B5, 16, 0x7C00, 0x03E0, 0x001F, 0x8000},
    {D3DFMT_X1R5G5B5, 16, 0x7C00, 0x03E0, 0x001F, 0},
};

UINT FullChainLength(UINT width, UINT height) {
    UINT levels = 1;
    for (UINT size = std::max(width, height); size > 1; size /= 2) {
        ++levels;
    }
    return levels;
}

HRESULT DecodeDds(Bytes b, DecodedImage& out) {
    if (b.size() < kDdsHeaderEnd || Read32(b, 4) != 124 || Read32(b, 76) != 32) {
        return D3DXERR_INVALIDDATA;
    }
    const std::uint32_t flags = Read32(b, 8);
    const std::uint32_t height = Read32(b, 12);
    const std::uint32_t width = Read32(b, 16);
    const std::uint32_t depth = Read32(b, 24);
    const std::uint32_t mipCount = Read32(b, 28);
    const std::uint32_t pfFlags = Read32(b, 80);
    const std::uint32_t caps2 = Read32(b, 112);
    if (!SaneDimensions(width, height) || (caps2 & (kDdsCaps2CubeMap | kDdsCaps2Volume)) != 0 ||
        ((flags & kDdsdDepth) != 0 && depth > 1)) {
        return D3DXERR_INVALIDDATA;
    }
    if ((pfFlags & kDdpfFourCC) != 0 || (pfFlags & kDdpfRgb) == 0) {
        return D3DXERR_INVALIDDATA; // compressed and non-RGB formats are not read
    }
    const std::uint32_t bits = Read32(b, 88);
    const std::uint32_t alphaMask = (pfFlags & kDdpfAlphaPixels) != 0 ? Read32(b, 104) : 0;
    const DdsFormat* match = nullptr;
    for (const DdsFormat& f : kDdsFormats) {
        if (f.bits == bits && f.r == Read32(b, 92) && f.g == Read32(b, 96) && f.b == Read32(b, 100) &&
            f.a == alphaMask) {
            match = &f;
            break;
        }
    }
    if (match == nullptr) {
        return D3DXERR_INVALIDDATA;
    }

    UINT levels = 1;
    if ((flags & kDdsdMipMapCount) != 0 && mipCount > 1) {
        if (mipCount > FullChainLength(width, height)) {
            return D3DXERR_INVALIDDATA;
        }
        levels = mipCount;
    }
    // Every declared level must be there; the pixels are packed rows.
    const std::uint64_t bytesPerPixel = bits / 8;
    std::uint64_t total = 0;
    for (UINT level = 0, w = width, h = height; level < levels; ++level) {
        total += bytesPerPixel * w * h;
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    if (total > b.size() - kDdsHeaderEnd) {
        return D3DXERR_INVALIDDATA;
    }

    Prepare(out, match->format, width, height);
    std::copy_n(b.data() + kDdsHeaderEnd, out.pixels.size(), out.pixels.begin());
    out.fileLevels = levels;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Pixel formats as channel bit fields, for filtering in 8-bit ARGB.

struct Channel {
    unsigned shift, bits; // bits 0: the format lacks it (reads as 255)
};

struct PixelLayout {
    UINT bytes;
    Channel a, r, g, b;
};

bool LayoutOf(D3DFORMAT format, PixelLayout& layout) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: // the unused byte is carried like alpha
        layout = {4, {24, 8}, {16, 8}, {8, 8}, {0, 8}};
        return true;
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
        layout = {2, {12, 4}, {8, 4}, {4, 4}, {0, 4}};
        return true;
    case D3DFMT_R5G6B5:
        layout = {2, {0, 0}, {11, 5}, {5, 6}, {0, 5}};
        return true;
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5:
        layout = {2, {15, 1}, {10, 5}, {5, 5}, {0, 5}};
        return true;
    default:
        return false;
    }
}

BYTE Expand(std::uint32_t word, Channel c) {
    if (c.bits == 0) {
        return 0xFF;
    }
    const std::uint32_t max = (1u << c.bits) - 1;
    const std::uint32_t v = (word >> c.shift) & max;
    return static_cast<BYTE>((v * 255 + max / 2) / max);
}

std::uint32_t Reduce(BYTE v, Channel c) {
    if (c.bits == 0) {
        return 0;
    }
    const std::uint32_t max = (1u << c.bits) - 1;
    return ((v * max + 127) / 255) << c.shift;
}

// An image as 8-bit channels B, G, R, A per pixel (A8R8G8B8's memory order).
struct Argb {
    UINT width = 0;
    UINT height = 0;
    std::vector<BYTE> bgra;
};

Argb ToArgb(const DecodedImage& image, const PixelLayout& layout) {
    Argb out{image.width, image.height, {}};
    out.bgra.resize(static_cast<std::size_t>(image.width) * image.height * 4);
    for (UINT y = 0; y < image.height; ++y) {
        const BYTE* src = image.pixels.data() + static_cast<std::size_t>(y) * image.pitch;
        BYTE* dst = out.bgra.data() + static_cast<std::size_t>(y) * image.width * 4;
        for (UINT x = 0; x < image.width; ++x, src += layout.bytes, dst += 4) {
            std::uint32_t word = 0;
            for (UINT i = 0; i < layout.bytes; ++i) {
                word |= static_cast<std::uint32_t>(src[i]) << (8 * i);
            }
            dst[0] = Expand(word, layout.b);
            dst[1] = Expand(word, layout.g);
            dst[2] = Expand(word, layout.r);
            dst[3] = Expand(word, layout.a);
        }
    }
    return out;
}

MipLevel FromArgb(const Argb& image, const PixelLayout& layout) {
    MipLevel level;
    level.width = image.width;
    level.height = image.height;
    level.pitch = image.width * layout.bytes;
    level.pixels.resize(static_cast<std::size_t>(level.pitch) * image.height);
    BYTE* dst = level.pixels.data();
    for (std::size_t i = 0; i < image.bgra.size(); i += 4, dst += layout.bytes) {
        const std::uint32_t word = Reduce(image.bgra[i], layout.b) | Reduce(image.bgra[i + 1], layout.g) |
                                   Reduce(image.bgra[i + 2], layout.r) | Reduce(image.bgra[i + 3], layout.a);
        for (UINT k = 0; k < layout.bytes; ++k) {
            dst[k] = static_cast<BYTE>(word >> (8 * k));
        }
    }
    return level;
}

// Linear interpolation between pixel centres along one axis, edges clamped:
// the triangle filter for a scale of 1 or more.
struct Tap {
    UINT i0, i1;
    double f; // weight of i1
};

std::vector<Tap> StretchTaps(UINT from, UINT to) {
    std::vector<Tap> taps(to);
    for (UINT d = 0; d < to; ++d) {
        double s = (d + 0.5) * from / to - 0.5;
        s = std::clamp(s, 0.0, static_cast<double>(from - 1));
        const auto i0 = static_cast<UINT>(s);
        taps[d] = {i0, std::min(i0 + 1, from - 1), s - i0};
    }
    return taps;
}

Argb Stretch(const Argb& src, UINT width, UINT height) {
    const std::vector<Tap> tx = StretchTaps(src.width, width);
    const std::vector<Tap> ty = StretchTaps(src.height, height);
    // Horizontal pass into doubles, then vertical pass with rounding.
    std::vector<double> rows(static_cast<std::size_t>(width) * src.height * 4);
    for (UINT y = 0; y < src.height; ++y) {
        const BYTE* in = src.bgra.data() + static_cast<std::size_t>(y) * src.width * 4;
        double* out = rows.data() + static_cast<std::size_t>(y) * width * 4;
        for (UINT x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                out[x * 4 + c] = in[tx[x].i0 * 4 + c] * (1.0 - tx[x].f) + in[tx[x].i1 * 4 + c] * tx[x].f;
            }
        }
    }
    Argb dst{width, height, std::vector<BYTE>(static_cast<std::size_t>(width) * height * 4)};
    for (UINT y = 0; y < height; ++y) {
        const double* r0 = rows.data() + static_cast<std::size_t>(ty[y].i0) * width * 4;
        const double* r1 = rows.data() + static_cast<std::size_t>(ty[y].i1) * width * 4;
        BYTE* out = dst.bgra.data() + static_cast<std::size_t>(y) * width * 4;
        for (std::size_t i = 0; i < static_cast<std::size_t>(width) * 4; ++i) {
            const double v = r0[i] * (1.0 - ty[y].f) + r1[i] * ty[y].f;
            out[i] = static_cast<BYTE>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
        }
    }
    return dst;
}

// The next level: 2 x 2 boxes, or pairs once one side is 1.
Argb HalveBox(const Argb& src) {
    const UINT width = std::max(1u, src.width / 2);
    const UINT height = std::max(1u, src.height / 2);
    const UINT stepX = src.width > 1 ? 1 : 0;
    const UINT stepY = src.height > 1 ? 1 : 0;
    const unsigned count = (stepX + 1) * (stepY + 1);
    Argb dst{width, height, std::vector<BYTE>(static_cast<std::size_t>(width) * height * 4)};
    for (UINT y = 0; y < height; ++y) {
        for (UINT x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                unsigned sum = 0;
                for (UINT dy = 0; dy <= stepY; ++dy) {
                    for (UINT dx = 0; dx <= stepX; ++dx) {
                        const std::size_t from =
                            (static_cast<std::size_t>(y * (stepY + 1) + dy) * src.width + x * (stepX + 1) + dx) * 4;
                        sum += src.bgra[from + c];
                    }
                }
                dst.bgra[(static_cast<std::size_t>(y) * width + x) * 4 + c] =
                    static_cast<BYTE>((sum + count / 2) / count);
            }
        }
    }
    return dst;
}

UINT NextPowerOfTwo(UINT v) {
    UINT p = 1;
    while (p < v) {
        p *= 2;
    }
    return p;
}

} // namespace

UINT DecodedFormatBytesPerPixel(D3DFORMAT format) {
    PixelLayout layout;
    return LayoutOf(format, layout) ? layout.bytes : 0;
}

bool IsImageData(std::span<const unsigned char> bytes) {
    return StartsWith(bytes, {'B', 'M'}) || StartsWith(bytes, {0xFF, 0xD8, 0xFF}) ||
           StartsWith(bytes, {'D', 'D', 'S', ' '});
}

HRESULT DecodeImage(std::span<const unsigned char> bytes, DecodedImage& out) {
    out = DecodedImage{};
    HRESULT hr = D3DXERR_INVALIDDATA;
    try {
        if (StartsWith(bytes, {'B', 'M'})) {
            hr = DecodeBmp(bytes, out);
        } else if (StartsWith(bytes, {0xFF, 0xD8, 0xFF})) {
            hr = DecodeJpeg(bytes, out);
        } else if (StartsWith(bytes, {'D', 'D', 'S', ' '})) {
            hr = DecodeDds(bytes, out);
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        out = DecodedImage{};
    }
    return hr;
}

HRESULT BuildMipChain(const DecodedImage& top, std::vector<MipLevel>& levels) {
    levels.clear();
    PixelLayout layout;
    if (!LayoutOf(top.format, layout) || !SaneDimensions(top.width, top.height) ||
        top.pitch != top.width * layout.bytes ||
        top.pixels.size() != static_cast<std::size_t>(top.pitch) * top.height) {
        return E_INVALIDARG;
    }
    try {
        const UINT width = NextPowerOfTwo(top.width);
        const UINT height = NextPowerOfTwo(top.height);
        Argb current = ToArgb(top, layout);
        if (width != top.width || height != top.height) {
            current = Stretch(current, width, height);
            levels.push_back(FromArgb(current, layout));
        } else {
            levels.push_back({top.width, top.height, top.pitch, top.pixels});
        }
        while (current.width > 1 || current.height > 1) {
            current = HalveBox(current);
            levels.push_back(FromArgb(current, layout));
        }
    } catch (const std::bad_alloc&) {
        levels.clear();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT DecodeTextureImage(std::span<const unsigned char> bytes, D3DFORMAT& format,
                           std::vector<MipLevel>& levels) {
    levels.clear();
    DecodedImage image;
    HRESULT hr = DecodeImage(bytes, image);
    if (FAILED(hr)) {
        return hr;
    }
    hr = BuildMipChain(image, levels);
    if (SUCCEEDED(hr)) {
        format = image.format;
    }
    return hr;
}
