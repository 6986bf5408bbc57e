#include "app/Startup.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "app/Camera.h"
#include "app/Entry.h"
#include "app/ErrLog.h"
#include "app/Options.h"
#include "app/Settings.h"
#include "flock/Boids.h"
#include "flock/Goal.h"
#include "flock/GoalUser.h"
#include "gfx/D3DXTexture.h"
#include "model/SkinnedMesh.h"
#include "platform/Clock.h"
#include "platform/Gdi.h"
#include "platform/Random.h"
#include "platform/Window.h"
#include "render/ZSortRender.h"
#include "scenery/BackGrounds.h"
#include "scenery/Ferguson.h"
#include "scenery/ParticleTrailPC.h"

Direct3D8* g_pD3D = nullptr;
Direct3DDevice8* g_pd3dDevice = nullptr;
D3DPRESENT_PARAMETERS g_d3dpp{};
D3DCAPS8 g_d3dCaps{};
BOOL g_bInitialized = 0;
DWORD g_dwScreenWidth = 640;
DWORD g_dwScreenHeight = 480;
D3DCOLOR g_dwClearColor = 0xFF000000;
float g_fAspect = 4.0f / 3.0f;
HFONT g_hFont = nullptr;
D3DXFont* g_pFont = nullptr;
RECT g_rcPicture{};

namespace {

int g_nFontHeight = 0;

// The stored values that this run's options replaced: put back before the
// record is written, so that an option never reaches the store.
SettingOverrides g_ReplacedByOptions;

HFONT MakeFont() {
    return CreateFontA(g_nFontHeight, 0, 0, 0, FW_SEMIBOLD, FALSE, TRUE, FALSE, ANSI_CHARSET, OUT_TT_ONLY_PRECIS,
                       CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Lucida Console");
}

HRESULT InitiateFont() {
    g_hFont = MakeFont();
    return g_hFont ? S_OK : E_FAIL;
}

HRESULT Initiate3DFont() { return D3DXCreateFont(g_pd3dDevice, g_hFont, &g_pFont); }

}  // namespace

void SetFrameRateFontHeight(int height) {
    if (height == g_nFontHeight) return;
    const int previous = g_nFontHeight;
    g_nFontHeight = height;
    if (!g_pFont || !g_pd3dDevice) return;
    HFONT font = MakeFont();
    D3DXFont* textFont = nullptr;
    if (!font || FAILED(D3DXCreateFont(g_pd3dDevice, font, &textFont))) {
        if (font) DeleteObject(font);
        g_nFontHeight = previous;
        return;
    }
    g_pFont->Release();
    DeleteObject(g_hFont);
    g_hFont = font;
    g_pFont = textFont;
}

int Initiate(HWND hwnd) {
    SRand(timeGetTime());
    if (IsHackRun()) g_Settings.intChkFPS = 0;  // a hack shows the rate only when asked to
    else g_Settings.Load();
    g_Options.settings.ApplyTo(g_Settings, &g_ReplacedByOptions);

    switch (g_Settings.intDisMod) {
        case 2: g_dwScreenWidth = 800; g_dwScreenHeight = 600; break;
        case 3: g_dwScreenWidth = 1024; g_dwScreenHeight = 768; break;
        default: g_dwScreenWidth = 640; g_dwScreenHeight = 480; break;
    }
    g_dwClearColor = g_Settings.intChkCol != 0 ? 0xFF000032 : 0xFF000000;

    struct Stage {
        const char* line;
        HRESULT (*run)(HWND);
    };
    const Stage stages[] = {
        {"InitiateD3D...\n", InitiateD3D},
        {"InitiateRenderer...\n", InitiateRenderer},
        {"InitiateObjects...\n", InitiateObjects},
        {"InitiateFont...\n", [](HWND) { return InitiateFont(); }},
        {"Initiate3DFont...\n", [](HWND) { return Initiate3DFont(); }},
    };
    for (const Stage& stage : stages) {
        g_ErrLog.Add(stage.line);
        if (FAILED(stage.run(hwnd))) {
            g_ErrLog.Add("Failed\n");
            g_ErrLog.Write();
            if (g_pd3dDevice) g_pd3dDevice->SetProgramLog({});
            DropPrefetchedTextureImages();
            return 0;
        }
    }
    // Programs that fail from here on are reported on stderr only.
    g_pd3dDevice->SetProgramLog({});
    // Images decoded ahead that no texture took (a setting left their object out).
    DropPrefetchedTextureImages();
    return 1;
}

HRESULT InitiateD3D(HWND hwnd) {
    g_ErrLog.Add("\tDirect3DCreate8...\n");
    g_pD3D = Direct3DCreate8(D3D_SDK_VERSION);
    if (!g_pD3D) {
        g_ErrLog.Add("\tFailed\n");
        return E_FAIL;
    }

    g_ErrLog.Add("\tGetAdapterDisplayMode...\n");
    D3DDISPLAYMODE mode{};
    if (FAILED(g_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        g_ErrLog.Add("\tFailed\n");
        return E_FAIL;
    }

    D3DFORMAT fullScreenFormat = D3DFMT_UNKNOWN;
    if (!g_bWindowed) {
        for (D3DFORMAT f : {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8}) {
            if (SUCCEEDED(g_pD3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, f, f, FALSE))) {
                fullScreenFormat = f;
                break;
            }
        }
    }

    // A hack's back buffer has its window's size and follows it, unless the
    // command line asked for one of the fixed sizes.
    const bool fixedSize = !g_bWindowed || (IsHackRun() && g_Options.settings.intDisMod.has_value());
    g_d3dpp = D3DPRESENT_PARAMETERS{};
    g_d3dpp.BackBufferWidth = fixedSize ? g_dwScreenWidth : 0;
    g_d3dpp.BackBufferHeight = fixedSize ? g_dwScreenHeight : 0;
    g_d3dpp.BackBufferFormat = g_bWindowed ? mode.Format : fullScreenFormat;
    g_d3dpp.BackBufferCount = 1;
    g_d3dpp.MultiSampleType = D3DMULTISAMPLE_NONE;
    g_d3dpp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    g_d3dpp.hDeviceWindow = hwnd;
    g_d3dpp.Windowed = g_bWindowed;
    g_d3dpp.EnableAutoDepthStencil = TRUE;
    g_d3dpp.AutoDepthStencilFormat = D3DFMT_D16;
    g_d3dpp.Flags = 0;
    g_d3dpp.FullScreen_RefreshRateInHz = D3DPRESENT_RATE_DEFAULT;
    // A hack draws no faster than the display shows, where the driver can tell.
    g_d3dpp.FullScreen_PresentationInterval = IsHackRun() ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_DEFAULT;

    g_ErrLog.Add("\tChecking VertexShaderVersion...\n");
    D3DCAPS8 caps{};
    g_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    const DWORD behavior = caps.VertexShaderVersion >= D3DVS_VERSION(1, 1) ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                                           : D3DCREATE_SOFTWARE_VERTEXPROCESSING;

    // The hardware device is an OpenGL 3.3 core context on the window; its back
    // buffer is stretched over the window at presentation (in full screen over
    // g_rcPicture, set by InitiateRenderer).
    g_ErrLog.Add("\tCreateDevice...\n");
    const HRESULT hr =
        g_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, behavior, &g_d3dpp, &g_pd3dDevice);
    if (FAILED(hr)) {
        char line[64];
        std::snprintf(line, sizeof line, "\tFailed hr=%x\n", static_cast<unsigned>(hr));
        g_ErrLog.Add(line);
        return E_FAIL;
    }

    g_pd3dDevice->GetDeviceCaps(&g_d3dCaps);
    // While start-up runs, a program OpenGL refuses also goes into the log,
    // under the step that needed it.
    g_pd3dDevice->SetProgramLog([](const std::string& line) {
        g_ErrLog.Add(("\t\t\t" + line.substr(0, 400) + "\n").c_str());
    });
    g_bInitialized = 1;
    return S_OK;
}

RECT PictureRect(LONG width, LONG height, float aspect) {
    RECT r{0, 0, width, height};
    if (width <= 0 || height <= 0 || !(aspect > 0.0f)) return r;
    const double shape = static_cast<double>(width) / height / aspect;
    if (std::fabs(shape - 1.0) <= 0.01) return r;
    if (shape > 1.0) {  // wider than the picture: bars left and right
        const auto w = static_cast<LONG>(std::lround(height * static_cast<double>(aspect)));
        r.left = (width - w) / 2;
        r.right = r.left + w;
    } else {
        const auto h = static_cast<LONG>(std::lround(width / static_cast<double>(aspect)));
        r.top = (height - h) / 2;
        r.bottom = r.top + h;
    }
    return r;
}

HRESULT InitiateRenderer(HWND hwnd) {
    if (!g_bInitialized) return E_FAIL;
    Direct3DDevice8* d = g_pd3dDevice;

    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    d->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);

    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    d->SetTextureStageState(1, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    d->SetTextureStageState(1, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);

    d->SetRenderState(D3DRS_DITHERENABLE, FALSE);
    d->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, FALSE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    d->SetRenderState(D3DRS_AMBIENT, 0xFF000000);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);

    g_fAspect = g_Settings.intAspMod == 0 ? 4.0f / 3.0f : 16.0f / 9.0f;

    // Full screen keeps the projection's proportions on a desktop of another
    // shape; the bars take the clear colour.
    RECT client{};
    g_rcPicture = !g_bWindowed && GetClientRect(hwnd, &client) ? PictureRect(client.right, client.bottom, g_fAspect)
                                                               : RECT{};
    d->SetBorderColor(g_dwClearColor);

    g_Camera.Reset();
    g_Camera.SetPosition(2500.0f, 750.0f, -1500.0f);

    g_Fog.SetColor(g_dwClearColor);
    g_Fog.Apply(d, g_Camera, g_fAspect, TRUE);
    return S_OK;
}

HRESULT InitiateObjects(HWND) {
    if (!g_bInitialized) return E_FAIL;
    Direct3DDevice8* device = g_pd3dDevice;
    auto failed = [] {
        g_ErrLog.Add("\tFailed\n");
        return E_FAIL;
    };

    g_ErrLog.Add("\tZSortRender.InitDeviceObjects...\n");
    if (FAILED(g_ZSortRender.InitDeviceObjects(device))) return failed();
    g_ErrLog.Add("\tZSortRender.RestoreDeviceObjects...\n");
    if (FAILED(g_ZSortRender.RestoreDeviceObjects(device))) return failed();

    // A skinned mesh that is loaded but never drawn: it brings the skinning
    // programs up once at start.
    g_ErrLog.Add("\tDammySkm.InitDeviceObjects...\n");
    if (FAILED(g_DammySkm.InitDeviceObjects(device, g_d3dCaps, "Dammy.x"))) return failed();
    g_DammySkm.RestoreDeviceObjects();

    g_ErrLog.Add("\tFerguson.InitDeviceObjects...\n");
    if (FAILED(g_Ferguson.InitDeviceObjects("CLOCK.FPP"))) return failed();

    g_ParticleTrailPC.SetParameters(g_Settings);
    g_ErrLog.Add("\tParticleTrailPC.InitDeviceObjects...\n");
    if (FAILED(g_ParticleTrailPC.InitDeviceObjects(device))) return failed();
    g_ParticleTrailPC.RestoreDeviceObjects();

    g_BackGrounds.SetParameters(g_Settings);
    g_ErrLog.Add("\tBackGrounds.InitDeviceObjects...\n");
    if (FAILED(g_BackGrounds.InitDeviceObjects(device))) return failed();

    g_Boids.SetParameters(g_Settings);
    g_ErrLog.Add("\tBoids.InitDeviceObjects...\n");
    if (FAILED(g_Boids.InitDeviceObjects(device, g_d3dCaps))) return failed();
    g_Boids.RestoreDeviceObjects();

    g_Goal.SetParameters(g_Settings);
    g_ErrLog.Add("\tGoal.InitDeviceObjects...\n");
    if (FAILED(g_Goal.InitDeviceObjects(device, g_d3dCaps))) return failed();
    g_Goal.RestoreDeviceObjects();

    g_GoalUser.SetParameters(g_Settings);
    g_ErrLog.Add("\tGoalUser.InitDeviceObjects...\n");
    if (FAILED(g_GoalUser.InitDeviceObjects(device, g_d3dCaps))) return failed();
    g_GoalUser.RestoreDeviceObjects();
    return S_OK;
}

void Terminate() {
    g_bInitialized = 0;

    // A run that never read the stored settings (no window, or a hack) must
    // not replace them with the defaults, nor store its options.
    g_ReplacedByOptions.ApplyTo(g_Settings);
    g_ReplacedByOptions = SettingOverrides{};
    if (g_Settings.m_bLoaded) g_Settings.Save();

    g_ZSortRender.InvalidateDeviceObjects(g_pd3dDevice);
    g_ZSortRender.DeleteDeviceObjects();
    g_DammySkm.InvalidateDeviceObjects();
    g_DammySkm.DeleteDeviceObjects();
    g_Ferguson.DeleteDeviceObjects();
    g_ParticleTrailPC.InvalidateDeviceObjects();
    g_ParticleTrailPC.DeleteDeviceObjects();
    g_BackGrounds.DeleteDeviceObjects();
    g_Boids.InvalidateDeviceObjects();
    g_Boids.DeleteDeviceObjects();
    g_Goal.InvalidateDeviceObjects();
    g_Goal.DeleteDeviceObjects();
    g_GoalUser.InvalidateDeviceObjects();
    g_GoalUser.DeleteDeviceObjects();

    if (g_hFont) {
        DeleteObject(g_hFont);
        g_hFont = nullptr;
    }
    if (g_pFont) {
        g_pFont->Release();
        g_pFont = nullptr;
    }
    if (g_pd3dDevice) {
        g_pd3dDevice->Release();
        g_pd3dDevice = nullptr;
    }
    if (g_pD3D) {
        g_pD3D->Release();
        g_pD3D = nullptr;
    }
}
