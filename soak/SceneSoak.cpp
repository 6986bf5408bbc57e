// The day-long soak of the scene: the saver started through its real
// start-up on a small hidden window, then driven frame after frame at the
// fixed step of 0.03 s (2.88 million frames are 24 hours), in automatic mode
// or in user mode with a scripted pilot on the keys. After every frame it
// checks what must hold however long the saver runs:
//   - every position, velocity, heading and matrix of the flock, the goals,
//     the path flyer and the camera is finite;
//   - every bird stays within reach of the flock (a straggler is put back at
//     5000 from the centre, the flock at the origin beyond 80000);
//   - at most 3000 particles live;
//   - the resident memory does not grow after the first simulated minute
//     (in a build without AddressSanitizer, whose quarantine grows on purpose).
// Every draw-every-th frame is drawn and presented as well.
//
//   glimmerwing-scene-soak [--mode auto|user] [--frames N] [--draw-every K]
// Prints one line per simulated hour and a summary; exits 0 when every
// check held, 1 at the first that failed, 2 when the saver cannot start.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Camera.h"
#include "app/Entry.h"
#include "app/Frame.h"
#include "app/RunStats.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "flock/Boids.h"
#include "flock/Goal.h"
#include "flock/GoalUser.h"
#include "platform/Window.h"
#include "scenery/Ferguson.h"
#include "scenery/ParticleTrailPC.h"

namespace {

constexpr float kStep = 0.03f;
constexpr unsigned long kFramesPerMinute = 2000;
constexpr unsigned long kFramesPerHour = 120000;
constexpr float kStragglerReach = 5000.0f + 2.0f * 1.8f * 100.0f * kStep + 1.0f;
constexpr float kWorldReach = 80000.0f + 2.0f * 1.8f * 100.0f * kStep + 1.0f;
constexpr DWORD kMaxParticles = 3000;
constexpr long kMaxGrowthKb = 4096;

// AddressSanitizer holds freed blocks in a quarantine of up to 256 MB before
// reusing them, so a sanitised build's resident memory climbs for minutes
// without a leak; there the leak check at exit judges the memory instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kJudgeResidentMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kJudgeResidentMemory = false;
#else
constexpr bool kJudgeResidentMemory = true;
#endif
#else
constexpr bool kJudgeResidentMemory = true;
#endif

bool Finite(const D3DXVECTOR3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool Finite(const D3DXMATRIX& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(m.m[r][c])) return false;
    return true;
}

float Distance(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    const D3DXVECTOR3 d(a.x - b.x, a.y - b.y, a.z - b.z);
    return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}

// The pilot of user mode: a fixed round of key combinations, each held for
// a few seconds, that climbs, dives, turns both ways, speeds up and slows
// down and moves the camera about.
KeyState PilotKeys(unsigned long frame) {
    KeyState k{};
    switch ((frame / 150) % 12) {
        case 0: k.bW = 1; break;
        case 1: k.bW = 1; k.bA = 1; break;
        case 2: k.bE = 1; k.bUp = 1; break;
        case 3: k.bS = 1; k.bD = 1; break;
        case 4: k.bQ = 1; k.bLeft = 1; break;
        case 5: k.bW = 1; k.bE = 1; k.bPageUp = 1; break;
        case 6: break;
        case 7: k.bA = 1; k.bD = 1; k.bDown = 1; break;
        case 8: k.bW = 1; k.bQ = 1; k.bRight = 1; break;
        case 9: k.bS = 1; k.bPageDown = 1; break;
        case 10: k.bW = 1; k.bS = 1; k.bE = 1; k.bQ = 1; break;
        default: k.bD = 1; break;
    }
    return k;
}

int Fail(unsigned long frame, const char* what) {
    std::fprintf(stderr, "scene soak: frame %lu (%.2f h simulated): %s\n", frame,
                 static_cast<double>(frame) / kFramesPerHour, what);
    return 1;
}

LRESULT SoakWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Checks the scene after one frame; null when everything holds.
const char* CheckScene(int mode, float& farthest) {
    const D3DXVECTOR3 centre = g_Boids.GetCenter();
    if (!Finite(centre)) return "the flock's centre is not finite";
    for (int i = 0; i < g_Boids.BirdCount(); ++i) {
        const Bird& bird = g_Boids.GetBird(i);
        if (!Finite(bird.vPos) || !Finite(bird.vVel) || !Finite(bird.vDir)) return "a bird's motion is not finite";
        if (!Finite(bird.World())) return "a bird's world matrix is not finite";
        const float d = Distance(bird.vPos, centre);
        if (d > farthest) farthest = d;
        if (d > kStragglerReach) return "a bird is out of the flock's reach";
        if (Distance(bird.vPos, D3DXVECTOR3(0, 0, 0)) > kWorldReach) return "a bird is out of the world";
    }
    if (mode == 0 && !Finite(g_Goal.GetPosition())) return "the goal is not finite";
    if (mode == 1 && !Finite(g_GoalUser.GetPosition())) return "the user goal is not finite";
    if (!Finite(g_PathFlyer.GetPosition()) || !Finite(g_PathFlyer.World())) return "the path flyer is not finite";
    if (!Finite(g_Camera.GetView()) || !Finite(g_Camera.GetProjection()) || !Finite(g_Camera.GetWorld()))
        return "a camera matrix is not finite";
    if (g_ParticleTrailPC.ActiveCount() > kMaxParticles) return "more than 3000 particles live";
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    int mode = 0;
    unsigned long frames = 2880000;
    unsigned long drawEvery = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mode")) mode = std::strcmp(argv[i + 1], "user") == 0 ? 1 : 0;
        else if (!std::strcmp(argv[i], "--frames")) frames = std::strtoul(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--draw-every")) drawEvery = std::strtoul(argv[i + 1], nullptr, 10);
    }

    // Private settings, state and lock folders; the defaults with the
    // largest flock, loops and the background on.
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("glimmerwing-scene-soak-" + std::to_string(getpid()));
    fs::create_directories(folder / "config" / "glimmerwing");
    fs::create_directories(folder / "run");
    std::ofstream(folder / "config" / "glimmerwing" / "user.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"
           "\"intBrdNumCur\"=dword:00000032\n\"intChkLoop\"=dword:00000001\n\"intMode\"=dword:0000000"
        << mode << "\n";
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder / "run").c_str(), 1);

    g_bWindowed = 1;
    WNDCLASSA wc{};
    wc.lpfnWndProc = SoakWndProc;
    wc.lpszClassName = "GlimmerwingSceneSoak";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "scene soak", WS_CAPTION, 0, 0, 160, 120, nullptr, nullptr,
                                nullptr, nullptr);
    if (!hwnd || !Initiate(hwnd)) {
        std::fputs("scene soak: the saver could not start (no display or no OpenGL 3.3?)\n", stderr);
        Terminate();
        fs::remove_all(folder);
        return 2;
    }

    int result = 0;
    long baseKb = 0, maxKb = 0;
    float farthest = 0.0f;
    DWORD maxParticles = 0;
    for (unsigned long frame = 1; frame <= frames && result == 0; ++frame) {
        g_fElapsedTime = kStep;
        g_Keys = mode == 1 ? PilotKeys(frame) : KeyState{};
        FrameMove();
        if (drawEvery > 0 && frame % drawEvery == 0) {
            Render();
            g_pd3dDevice->Present(nullptr, nullptr, nullptr, nullptr);
        }
        if (const char* fault = CheckScene(mode, farthest)) result = Fail(frame, fault);
        if (g_ParticleTrailPC.ActiveCount() > maxParticles) maxParticles = g_ParticleTrailPC.ActiveCount();

        if (frame == kFramesPerMinute) baseKb = maxKb = ResidentKilobytes();
        if (frame > kFramesPerMinute && frame % 10000 == 0) {
            const long kb = ResidentKilobytes();
            if (kb > maxKb) maxKb = kb;
            if (kJudgeResidentMemory && maxKb - baseKb > kMaxGrowthKb) result = Fail(frame, "resident memory grew after the first minute");
        }
        if (frame % kFramesPerHour == 0)
            std::printf("hour %lu: rss %ld kB (first minute %ld kB), farthest bird %.0f from the centre, "
                        "particles at most %u\n",
                        frame / kFramesPerHour, ResidentKilobytes(), baseKb, farthest,
                        static_cast<unsigned>(maxParticles));
    }
    std::printf("scene soak (%s mode): %lu frames of %.2f s, drawn every %lu; resident memory %ld kB after the "
                "first minute, at most %ld kB after it; farthest bird %.0f from the centre; at most %u particles: "
                "%s\n",
                mode == 1 ? "user" : "automatic", frames, kStep, drawEvery, baseKb, maxKb, farthest,
                static_cast<unsigned>(maxParticles), result == 0 ? "passed" : "FAILED");
    Terminate();
    fs::remove_all(folder);
    return result;
}
