// A saver started on a hidden 640 x 480 window with private settings, state
// and lock folders, for tests that draw through the real start-up path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/ViewFrustum.h"
#include "gfx/D3DXMath.h"
#include "gfx/Device.h"
#include "gfx/DeviceResources.h"
#include "platform/Win32Types.h"

namespace testing_support {

class SaverScene {
public:
    // Starts the saver's stages on a new window; false (with the reason in
    // Error()) when there is no display or no OpenGL 3.3 device
    // (DisplayMissing()), or when a stage failed.
    // A config folder may be given, to start from settings a test wrote;
    // without one the saver starts with its defaults, but so that the picture
    // holds only what the test draws: the background objects are off, and the
    // flock stands still (mode 2) far below every test camera.
    bool Start(const std::filesystem::path& configFolder = {});
    void Stop();
    ~SaverScene() { Stop(); }

    HWND Window() const { return m_hwnd; }
    const std::string& Error() const { return m_sError; }
    bool DisplayMissing() const { return m_bDisplayMissing; }

    // The back buffer after the last frame, 0xAARRGGBB, top row first.
    std::vector<std::uint32_t> Pixels() const;

    // Writes pixels as a binary PPM (for looking at a frame, and for references).
    static bool WritePpm(const std::filesystem::path& file, const std::vector<std::uint32_t>& pixels, int width,
                         int height);
    static bool ReadPpm(const std::filesystem::path& file, std::vector<std::uint32_t>& pixels, int& width,
                        int& height);

private:
    HWND m_hwnd = nullptr;
    std::filesystem::path m_folder;
    std::string m_sError;
    bool m_bStarted = false;
    bool m_bDisplayMissing = false;
};

// One opaque pass as the frame draws it: `draw` renders (drawing skinned
// models at once, queueing static ones), then the sorted renderer's queue is
// sorted along the camera, drawn and emptied. Returns the back buffer, also
// written to $GLIMMERWING_FRAME_DUMP/<dumpName> when that is set.
std::vector<std::uint32_t> DrawOpaquePass(const std::function<void()>& draw, const char* dumpName);
// Pixels that are not black.
int LitPixels(const std::vector<std::uint32_t>& pixels);

// The view volume of a camera at the origin looking along +z through the
// saver's projection (aspect 4:3, near 1, far 17500).
ViewFrustum OriginFrustum();

// A mesh in the toon program's vertex layout (position, normal, colour, two
// texture pairs: 44 bytes), as buffers on the device.
struct ToonMesh {
    Direct3DVertexBuffer8* vb = nullptr;
    Direct3DIndexBuffer8* ib = nullptr;
    DWORD vertices = 0;
    DWORD faces = 0;
    void Release();
};

bool MakeSphere(Direct3DDevice8* device, float radius, int slices, int stacks, D3DCOLOR colour, ToonMesh& mesh);
bool MakeBox(Direct3DDevice8* device, D3DXVECTOR3 half, D3DCOLOR colour, ToonMesh& mesh);

// Channel helpers for 0xAARRGGBB pixels.
inline int Red(std::uint32_t p) { return static_cast<int>((p >> 16) & 0xFF); }
inline int Green(std::uint32_t p) { return static_cast<int>((p >> 8) & 0xFF); }
inline int Blue(std::uint32_t p) { return static_cast<int>(p & 0xFF); }

}  // namespace testing_support
