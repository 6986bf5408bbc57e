#include "app/FrameCapture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "platform/Window.h"

namespace {

struct CaptureSettings {
    std::filesystem::path folder;
    unsigned long every = 1;
    unsigned long count = 0;  // 0: no limit
    bool active = false;
};

unsigned long NumberFrom(const char* text, unsigned long fallback) {
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 10);
    return (*end == '\0' && v > 0 && v < 100'000'000) ? v : fallback;
}

const CaptureSettings& Config() {
    static const CaptureSettings settings = [] {
        CaptureSettings s;
        const char* folder = std::getenv("GLIMMERWING_CAPTURE_DIR");
        if (!folder || !*folder) return s;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        s.folder = folder;
        s.every = NumberFrom(std::getenv("GLIMMERWING_CAPTURE_EVERY"), 1);
        s.count = NumberFrom(std::getenv("GLIMMERWING_CAPTURE_COUNT"), 0);
        s.active = true;
        return s;
    }();
    return settings;
}

bool WritePpm(const std::filesystem::path& file, const std::vector<std::uint32_t>& pixels, UINT width, UINT height) {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    std::string row;
    row.reserve(static_cast<std::size_t>(width) * 3);
    for (UINT y = 0; y < height; ++y) {
        row.clear();
        for (UINT x = 0; x < width; ++x) {
            const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
            row.push_back(static_cast<char>((p >> 16) & 0xFF));
            row.push_back(static_cast<char>((p >> 8) & 0xFF));
            row.push_back(static_cast<char>(p & 0xFF));
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return static_cast<bool>(out);
}

}  // namespace

namespace {

unsigned long g_nFrames = 0;   // frames presented while capturing
unsigned long g_nWritten = 0;  // frames written

bool NextFrameIsWritten(const CaptureSettings& s) {
    return s.active && (s.count == 0 || g_nWritten < s.count) && (g_nFrames + 1) % s.every == 0;
}

}  // namespace

void PrepareFrameCapture() {
    // A back buffer drawn straight into the window is read before the swap,
    // and only for the frames that are written.
    if (g_pd3dDevice && Config().active) g_pd3dDevice->KeepPresentedFrames(NextFrameIsWritten(Config()));
}

void CaptureFrame(HWND hwnd) {
    const CaptureSettings& s = Config();
    if (!s.active || !g_pd3dDevice) return;
    if (s.count != 0 && g_nWritten >= s.count) return;
    if (++g_nFrames % s.every != 0) return;

    std::vector<std::uint32_t> pixels;
    if (g_pd3dDevice->ReadBackBuffer(pixels)) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%05lu.ppm", g_nWritten + 1);
        WritePpm(s.folder / name, pixels, g_pd3dDevice->BackBufferWidth(), g_pd3dDevice->BackBufferHeight());
    }
    if (++g_nWritten == s.count) PostMessageA(hwnd, WM_CLOSE, 0, 0);
}
