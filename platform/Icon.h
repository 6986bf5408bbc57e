// Icons from the program's resources: the .ico file of an ICON resource,
// decoded into straight (not premultiplied) RGBA pixels for the window.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

// One decoded icon image. Rows run top to bottom; each pixel is
// R | G << 8 | B << 16 | A << 24 (in memory on a little-endian machine:
// R, G, B, A, which is SDL_PIXELFORMAT_RGBA32).
struct IconImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgba;
};

// Decodes the image of `ico` whose size is `preferredSize` (width), else the
// largest image. Entries must be uncompressed 32-bit DIBs (with the doubled
// height and the AND mask); PNG-compressed and other depths are refused.
// Returns false, with the reason in `error` when given, for anything
// malformed or truncated; nothing is read outside `ico`.
bool DecodeIcon(std::span<const unsigned char> ico, int preferredSize, IconImage& out,
                std::string* error = nullptr);

// Loads icon resource `name` (type ICON) of `instance`; null when missing or
// not decodable. Icons live for the process; loading the same resource twice
// gives the same handle.
HICON LoadIconA(HINSTANCE instance, const char* name);

// The largest image of a loaded icon, or null for a handle LoadIconA did not give.
const IconImage* IconImageFromHandle(HICON icon);

// The image of `size` if the icon has it, else its largest; null for an
// unknown handle.
const IconImage* IconImageFromHandle(HICON icon, int size);
