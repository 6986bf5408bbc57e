#include "platform/Icon.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "platform/Resources.h"

namespace {

constexpr std::size_t kDirHeaderSize = 6;
constexpr std::size_t kDirEntrySize = 16;
constexpr std::size_t kInfoHeaderSize = 40; // BITMAPINFOHEADER
constexpr std::uint32_t kBiRgb = 0;
constexpr int kMaxIconSize = 256;

std::uint16_t Read16(std::span<const unsigned char> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Read32(std::span<const unsigned char> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// One ICONDIRENTRY, with its bounds already checked against the file.
struct DirEntry {
    int width;
    int height;
    int bitCount;
    std::size_t offset;
    std::size_t size;
};

bool Fail(std::string* error, std::string message) {
    if (error != nullptr) {
        *error = std::move(message);
    }
    return false;
}

bool ReadDirectory(std::span<const unsigned char> ico, std::vector<DirEntry>& entries,
                   std::string* error) {
    if (ico.size() < kDirHeaderSize) {
        return Fail(error, "icon: file shorter than its header");
    }
    if (Read16(ico, 0) != 0 || Read16(ico, 2) != 1) {
        return Fail(error, "icon: not an icon file");
    }
    std::size_t count = Read16(ico, 4);
    if (count == 0) {
        return Fail(error, "icon: no images");
    }
    if (ico.size() < kDirHeaderSize + count * kDirEntrySize) {
        return Fail(error, "icon: directory runs past the end of the file");
    }
    entries.clear();
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t at = kDirHeaderSize + i * kDirEntrySize;
        DirEntry e;
        e.width = ico[at] == 0 ? 256 : ico[at];
        e.height = ico[at + 1] == 0 ? 256 : ico[at + 1];
        e.bitCount = Read16(ico, at + 6);
        e.size = Read32(ico, at + 8);
        e.offset = Read32(ico, at + 12);
        if (e.offset > ico.size() || e.size > ico.size() - e.offset) {
            return Fail(error, "icon: image " + std::to_string(i) +
                                   " lies past the end of the file");
        }
        entries.push_back(e);
    }
    return true;
}

std::size_t ChooseEntry(const std::vector<DirEntry>& entries, int preferredSize) {
    std::size_t best = 0;
    auto better = [&](const DirEntry& a, const DirEntry& b) {
        bool aExact = a.width == preferredSize && a.height == preferredSize;
        bool bExact = b.width == preferredSize && b.height == preferredSize;
        if (aExact != bExact) {
            return aExact;
        }
        long aArea = static_cast<long>(a.width) * a.height;
        long bArea = static_cast<long>(b.width) * b.height;
        if (aArea != bArea) {
            return aArea > bArea;
        }
        return a.bitCount > b.bitCount;
    };
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (better(entries[i], entries[best])) {
            best = i;
        }
    }
    return best;
}

bool DecodeEntry(std::span<const unsigned char> ico, const DirEntry& entry, IconImage& out,
                 std::string* error) {
    auto data = ico.subspan(entry.offset, entry.size);
    static constexpr unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (data.size() >= 8 && std::equal(kPng, kPng + 8, data.begin())) {
        return Fail(error, "icon: PNG-compressed images are not supported");
    }
    if (data.size() < kInfoHeaderSize) {
        return Fail(error, "icon: image shorter than its bitmap header");
    }
    std::uint32_t headerSize = Read32(data, 0);
    auto width = static_cast<std::int32_t>(Read32(data, 4));
    auto doubledHeight = static_cast<std::int32_t>(Read32(data, 8));
    std::uint16_t bitCount = Read16(data, 14);
    std::uint32_t compression = Read32(data, 16);
    std::uint32_t colorsUsed = Read32(data, 32);
    if (headerSize < kInfoHeaderSize || headerSize > data.size()) {
        return Fail(error, "icon: bad bitmap header size");
    }
    if (width <= 0 || width > kMaxIconSize || doubledHeight <= 0 || doubledHeight % 2 != 0 ||
        doubledHeight / 2 > kMaxIconSize) {
        return Fail(error, "icon: bad image size");
    }
    int height = doubledHeight / 2;
    if (width != entry.width || height != entry.height) {
        return Fail(error, "icon: image size differs from the directory");
    }
    if (bitCount != 32 || compression != kBiRgb) {
        return Fail(error, "icon: only uncompressed 32-bit images are supported (found " +
                               std::to_string(bitCount) + " bits per pixel)");
    }
    if (colorsUsed > 256) {
        return Fail(error, "icon: bad colour table size");
    }
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    const std::size_t pixelsAt = headerSize + std::size_t{colorsUsed} * 4;
    const std::size_t colorStride = w * 4;
    const std::size_t maskStride = (w + 31) / 32 * 4;
    const std::size_t maskAt = pixelsAt + colorStride * h;
    if (maskAt + maskStride * h > data.size()) {
        return Fail(error, "icon: image data is truncated");
    }

    // Images whose alpha is all zero are old-style: the AND mask alone says
    // what is transparent.
    bool hasAlpha = false;
    for (std::size_t i = 0; i < w * h && !hasAlpha; ++i) {
        hasAlpha = data[pixelsAt + i * 4 + 3] != 0;
    }

    out.width = width;
    out.height = height;
    out.rgba.assign(w * h, 0);
    for (std::size_t y = 0; y < h; ++y) {
        std::size_t srcRow = h - 1 - y; // DIB rows run bottom to top
        for (std::size_t x = 0; x < w; ++x) {
            std::size_t p = pixelsAt + srcRow * colorStride + x * 4;
            std::uint32_t b = data[p];
            std::uint32_t g = data[p + 1];
            std::uint32_t r = data[p + 2];
            std::uint32_t a = data[p + 3];
            if (!hasAlpha) {
                bool transparent =
                    (data[maskAt + srcRow * maskStride + x / 8] >> (7 - x % 8)) & 1;
                a = transparent ? 0 : 255;
                if (transparent) {
                    r = g = b = 0;
                }
            }
            out.rgba[y * w + x] = r | (g << 8) | (b << 16) | (a << 24);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Loaded icons, kept for the process.

struct LoadedIcon {
    const void* data;
    std::size_t size;
    std::vector<IconImage> images; // in directory order
};

struct IconStore {
    std::mutex mutex;
    std::vector<std::unique_ptr<LoadedIcon>> icons;
};

IconStore& Store() {
    static IconStore store;
    return store;
}

const LoadedIcon* FindLoaded(HICON icon) {
    for (const auto& loaded : Store().icons) {
        if (reinterpret_cast<HICON>(loaded.get()) == icon) {
            return loaded.get();
        }
    }
    return nullptr;
}

} // namespace

bool DecodeIcon(std::span<const unsigned char> ico, int preferredSize, IconImage& out,
                std::string* error) {
    std::vector<DirEntry> entries;
    if (!ReadDirectory(ico, entries, error)) {
        return false;
    }
    return DecodeEntry(ico, entries[ChooseEntry(entries, preferredSize)], out, error);
}

HICON LoadIconA(HINSTANCE instance, const char* name) {
    // A null instance asks for one of the system's predefined icons, which we
    // do not have.
    if (instance == nullptr) {
        return nullptr;
    }
    HRSRC found = FindResourceA(instance, name, RT_ICON);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return nullptr;
    }
    std::size_t size = SizeofResource(instance, found);

    IconStore& store = Store();
    std::lock_guard lock(store.mutex);
    for (const auto& icon : store.icons) {
        if (icon->data == bytes && icon->size == size) {
            return reinterpret_cast<HICON>(icon.get());
        }
    }
    std::span<const unsigned char> ico(static_cast<const unsigned char*>(bytes), size);
    std::vector<DirEntry> entries;
    if (!ReadDirectory(ico, entries, nullptr)) {
        return nullptr;
    }
    auto icon = std::make_unique<LoadedIcon>();
    icon->data = bytes;
    icon->size = size;
    for (const DirEntry& entry : entries) {
        IconImage image;
        if (DecodeEntry(ico, entry, image, nullptr)) {
            icon->images.push_back(std::move(image));
        }
    }
    if (icon->images.empty()) {
        return nullptr;
    }
    store.icons.push_back(std::move(icon));
    return reinterpret_cast<HICON>(store.icons.back().get());
}

const IconImage* IconImageFromHandle(HICON icon) {
    return IconImageFromHandle(icon, 0);
}

const IconImage* IconImageFromHandle(HICON icon, int size) {
    std::lock_guard lock(Store().mutex);
    const LoadedIcon* loaded = FindLoaded(icon);
    if (loaded == nullptr) {
        return nullptr;
    }
    const IconImage* best = nullptr;
    for (const IconImage& image : loaded->images) {
        if (image.width == size && image.height == size) {
            return &image;
        }
        if (best == nullptr || image.width * image.height > best->width * best->height) {
            best = &image;
        }
    }
    return best;
}
