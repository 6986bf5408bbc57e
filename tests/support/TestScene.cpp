#include "tests/support/TestScene.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/Camera.h"
#include "app/Entry.h"
#include "app/ErrLog.h"
#include "app/FrameTimer.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "flock/Boids.h"
#include "platform/Window.h"
#include "render/ZSortRender.h"

namespace testing_support {

namespace {

constexpr const char* kClass = "GlimmerwingTestScene";

LRESULT SceneWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

struct ToonVertex {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR colour;
    float u0, v0, u1, v1;
};
static_assert(sizeof(ToonVertex) == 44);

bool Upload(Direct3DDevice8* device, const std::vector<ToonVertex>& vertices, const std::vector<WORD>& indices,
            ToonMesh& mesh) {
    const auto vbSize = static_cast<UINT>(vertices.size() * sizeof(ToonVertex));
    const auto ibSize = static_cast<UINT>(indices.size() * sizeof(WORD));
    if (FAILED(device->CreateVertexBuffer(vbSize, D3DUSAGE_WRITEONLY, 0x252, D3DPOOL_MANAGED, &mesh.vb))) return false;
    if (FAILED(device->CreateIndexBuffer(ibSize, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &mesh.ib)))
        return false;
    BYTE* p = nullptr;
    mesh.vb->Lock(0, 0, &p, 0);
    std::copy_n(reinterpret_cast<const BYTE*>(vertices.data()), vbSize, p);
    mesh.vb->Unlock();
    mesh.ib->Lock(0, 0, &p, 0);
    std::copy_n(reinterpret_cast<const BYTE*>(indices.data()), ibSize, p);
    mesh.ib->Unlock();
    mesh.vertices = static_cast<DWORD>(vertices.size());
    mesh.faces = static_cast<DWORD>(indices.size() / 3);
    return true;
}

}  // namespace

bool SaverScene::Start(const std::filesystem::path& configFolder) {
    m_folder = std::filesystem::temp_directory_path() /
               ("glimmerwing-scene-" + std::to_string(getpid()) + "-" + std::to_string(std::rand()));
    std::filesystem::create_directories(m_folder / "run");
    if (configFolder.empty()) {
        std::filesystem::create_directories(m_folder / "config" / "glimmerwing");
        std::ofstream(m_folder / "config" / "glimmerwing" / "user.reg")
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"
               "\"intBakGnd\"=dword:00000000\n";
    }
    setenv("XDG_CONFIG_HOME", configFolder.empty() ? (m_folder / "config").c_str() : configFolder.c_str(), 1);
    setenv("XDG_STATE_HOME", (m_folder / "state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (m_folder / "run").c_str(), 1);
    g_ErrLog.SetDirectoryForTesting((m_folder / "state").c_str());
    g_ErrLog.ClearForTesting();
    g_Settings = Settings();
    g_bWindowed = 1;

    WNDCLASSA wc{};
    wc.lpfnWndProc = SceneWndProc;
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);
    m_hwnd = CreateWindowExA(0, kClass, "scene", WS_CAPTION | WS_VISIBLE, 0, 0, 640, 480, nullptr, nullptr, nullptr,
                             nullptr);
    m_bDisplayMissing = false;
    if (!m_hwnd) {
        m_sError = "no display";
        m_bDisplayMissing = true;
        return false;
    }
    m_bStarted = true;
    FrameTimer(TIMER_START);
    if (!Initiate(m_hwnd)) {
        m_sError = std::string("start-up failed:\n") + g_ErrLog.Text();
        // No Direct3D object (no display), or no OpenGL 3.3 device for it.
        char noDevice[32];
        std::snprintf(noDevice, sizeof noDevice, "\tFailed hr=%x\n", static_cast<unsigned>(D3DERR_NOTAVAILABLE));
        m_bDisplayMissing = !g_pD3D || std::strstr(g_ErrLog.Text(), noDevice) != nullptr;
        return false;
    }
    g_pd3dDevice->KeepPresentedFrames(true);  // frames are read after their tick
    if (configFolder.empty()) {
        // Out of every test camera's sight, and standing still there.
        g_Settings.intMode = 2;
        for (int i = 0; i < g_Boids.BirdCount(); ++i) {
            Bird& bird = g_Boids.BirdForTesting(i);
            bird.vPos = D3DXVECTOR3(0.0f, -1.0e6f, 0.0f);
            D3DXMATRIX world;
            D3DXMatrixTranslation(&world, bird.vPos.x, bird.vPos.y, bird.vPos.z);
            bird.SetMatrix(&world.m[0][0]);
        }
    }
    return true;
}

void SaverScene::Stop() {
    if (!m_bStarted) return;
    m_bStarted = false;
    FrameTimer(TIMER_STOP);
    Terminate();
    DestroyWindow(m_hwnd);
    UnregisterClassA(kClass, nullptr);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
}

std::vector<std::uint32_t> DrawOpaquePass(const std::function<void()>& draw, const char* dumpName) {
    Direct3DDevice8* d = g_pd3dDevice;
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    d->BeginScene();
    draw();
    const D3DXVECTOR3 sort = g_Camera.GetSortVector();
    g_ZSortRender.Sort(sort.x, sort.y, sort.z);
    g_ZSortRender.Render(d, g_Camera.GetView(), g_Camera.GetProjection(), g_vLightDir, g_Fog.GetEnd());
    g_ZSortRender.Clear();
    d->EndScene();
    std::vector<std::uint32_t> pixels;
    d->ReadBackBuffer(pixels);
    if (const char* dir = std::getenv("GLIMMERWING_FRAME_DUMP"))
        SaverScene::WritePpm(std::filesystem::path(dir) / dumpName, pixels, static_cast<int>(d->BackBufferWidth()),
                             static_cast<int>(d->BackBufferHeight()));
    return pixels;
}

ViewFrustum OriginFrustum() {
    Camera camera;
    camera.Reset();
    camera.SetPerspective(nullptr, 4.0f / 3.0f, 1.0f, 17500.0f);
    camera.UpdateFrustum();
    return camera.GetFrustum();
}

int LitPixels(const std::vector<std::uint32_t>& pixels) {
    int lit = 0;
    for (std::uint32_t p : pixels) lit += (p & 0xFFFFFFu) != 0;
    return lit;
}

std::vector<std::uint32_t> SaverScene::Pixels() const {
    std::vector<std::uint32_t> pixels;
    if (g_pd3dDevice) g_pd3dDevice->ReadBackBuffer(pixels);
    return pixels;
}

bool SaverScene::WritePpm(const std::filesystem::path& file, const std::vector<std::uint32_t>& pixels, int width,
                          int height) {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (std::uint32_t p : pixels) {
        const char rgb[3] = {static_cast<char>(Red(p)), static_cast<char>(Green(p)), static_cast<char>(Blue(p))};
        out.write(rgb, 3);
    }
    return static_cast<bool>(out);
}

bool SaverScene::ReadPpm(const std::filesystem::path& file, std::vector<std::uint32_t>& pixels, int& width,
                         int& height) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> width >> height >> maxValue;
    in.get();
    if (!in || magic != "P6" || maxValue != 255 || width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return false;
    pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (auto& p : pixels) {
        unsigned char rgb[3];
        if (!in.read(reinterpret_cast<char*>(rgb), 3)) return false;
        p = 0xFF000000u | (std::uint32_t{rgb[0]} << 16) | (std::uint32_t{rgb[1]} << 8) | rgb[2];
    }
    return true;
}

void ToonMesh::Release() {
    if (vb) vb->Release();
    if (ib) ib->Release();
    vb = nullptr;
    ib = nullptr;
}

bool MakeSphere(Direct3DDevice8* device, float radius, int slices, int stacks, D3DCOLOR colour, ToonMesh& mesh) {
    std::vector<ToonVertex> vertices;
    std::vector<WORD> indices;
    for (int i = 0; i <= stacks; ++i) {
        const float phi = D3DX_PI * static_cast<float>(i) / static_cast<float>(stacks);
        for (int j = 0; j <= slices; ++j) {
            const float theta = 2.0f * D3DX_PI * static_cast<float>(j) / static_cast<float>(slices);
            const float nx = std::sin(phi) * std::cos(theta), ny = std::cos(phi), nz = std::sin(phi) * std::sin(theta);
            const float u = static_cast<float>(j) / static_cast<float>(slices);
            const float v = static_cast<float>(i) / static_cast<float>(stacks);
            vertices.push_back({nx * radius, ny * radius, nz * radius, nx, ny, nz, colour, u, v, u, v});
        }
    }
    // Front faces wind clockwise as seen from outside, as Direct3D culls
    // counter-clockwise ones.
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const auto a = static_cast<WORD>(i * (slices + 1) + j), b = static_cast<WORD>(a + slices + 1);
            indices.insert(indices.end(), {a, static_cast<WORD>(a + 1), b, static_cast<WORD>(a + 1),
                                           static_cast<WORD>(b + 1), b});
        }
    return Upload(device, vertices, indices, mesh);
}

bool MakeBox(Direct3DDevice8* device, D3DXVECTOR3 h, D3DCOLOR colour, ToonMesh& mesh) {
    std::vector<ToonVertex> vertices;
    std::vector<WORD> indices;
    const D3DXVECTOR3 normals[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const D3DXVECTOR3& n : normals) {
        // Two axes across the face with b = n x a; walking the corners from
        // (-a, -b) toward +a first winds the quad clockwise seen from outside.
        D3DXVECTOR3 a = std::fabs(n.y) > 0.5f ? D3DXVECTOR3(1, 0, 0) : D3DXVECTOR3(0, 1, 0);
        D3DXVECTOR3 b;
        D3DXVec3Cross(&b, &n, &a);
        const auto base = static_cast<WORD>(vertices.size());
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            const D3DXVECTOR3 p = n + a * c[0] + b * c[1];
            vertices.push_back({p.x * h.x, p.y * h.y, p.z * h.z, n.x, n.y, n.z, colour, 0, 0, 0, 0});
        }
        indices.insert(indices.end(), {base, static_cast<WORD>(base + 1), static_cast<WORD>(base + 2), base,
                                       static_cast<WORD>(base + 2), static_cast<WORD>(base + 3)});
    }
    return Upload(device, vertices, indices, mesh);
}

}  // namespace testing_support
