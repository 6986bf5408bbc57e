#include "app/Frame.h"

#include <cstdio>

#include "app/Camera.h"
#include "app/FrameCapture.h"
#include "app/FrameTimer.h"
#include "app/RunStats.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "flock/Boids.h"
#include "flock/Goal.h"
#include "flock/GoalUser.h"
#include "platform/Clock.h"
#include "platform/Input.h"
#include "platform/Window.h"
#include "render/ZSortRender.h"
#include "scenery/BackGrounds.h"
#include "scenery/Ferguson.h"
#include "scenery/ParticleTrailPC.h"

namespace {

// Frame-rate state: frames since the last update, its time and the rate.
DWORD g_dwFrames = 0;
float g_fLastRateTime = 0.0f;
float g_fFrameRate = 0.0f;
bool g_bRateStarted = false;  // the first frame with the text shown has begun the first interval
char g_szFrameRate[32] = " 0.00 ";

DWORD KeyDown(int virtualKey) { return GetAsyncKeyState(virtualKey) < 0 ? 1u : 0u; }

}  // namespace

void Tick(HWND hwnd) {
    if (!g_bInitialized) return;
    platform::ClockFrameStep();

    g_fElapsedTime = FrameTimer(TIMER_GETELAPSEDTIME);
    if (g_fElapsedTime > kMaxElapsedTime) g_fElapsedTime = kMaxElapsedTime;

    ReadKeys();
    FrameMove();
    Render();

    PrepareFrameCapture();
    const bool fitted = g_rcPicture.right > g_rcPicture.left && g_rcPicture.bottom > g_rcPicture.top;
    if (g_pd3dDevice->Present(nullptr, fitted ? &g_rcPicture : nullptr, nullptr, nullptr) == D3DERR_DEVICELOST) {
        if (g_pd3dDevice->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) {
            g_pd3dDevice->Reset(&g_d3dpp);
            InitiateRenderer(hwnd);
        }
    }

    CaptureFrame(hwnd);
    ReportRunStats();
    if (g_Keys.bEscape == 1) PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

void ReadKeys() {
    g_Keys.bW = KeyDown('W');
    g_Keys.bS = KeyDown('S');
    g_Keys.bD = KeyDown('D');
    g_Keys.bA = KeyDown('A');
    g_Keys.bE = KeyDown('E');
    g_Keys.bQ = KeyDown('Q');
    g_Keys.bUp = KeyDown(VK_UP);
    g_Keys.bDown = KeyDown(VK_DOWN);
    g_Keys.bLeft = KeyDown(VK_LEFT);
    g_Keys.bRight = KeyDown(VK_RIGHT);
    g_Keys.bPageUp = KeyDown(VK_PRIOR);
    g_Keys.bPageDown = KeyDown(VK_NEXT);
    g_Keys.bEscape = KeyDown(VK_ESCAPE);
}

void FrameMove() {
    UpdateLight();

    // The goal of the mode, then the flock after it. Any other mode value
    // leaves the flock, the goals and the camera standing.
    const int mode = g_Settings.intMode;
    if (mode == 0) {
        g_Goal.UpdateTarget();
        g_Goal.FrameMove();
        g_Boids.FrameMove(g_Goal.GetPosition(), g_ParticleTrailPC);
    } else if (mode == 1) {
        g_GoalUser.Control(g_Keys);
        g_GoalUser.FrameMove();
        g_Boids.FrameMove(g_GoalUser.GetPosition(), g_ParticleTrailPC);
    }

    g_Ferguson.FrameMove(g_Boids.GetCenter());
    g_PathFlyer.FrameMove(g_Ferguson);
    g_ParticleTrailPC.FrameMove();
    g_BackGrounds.FrameMove();

    if (mode == 0) {
        MoveAutomaticCamera(g_pd3dDevice, g_Boids.GetCenter(), g_PathFlyer.GetPosition(), g_fElapsedTime);
    } else if (mode == 1) {
        MoveUserCamera(g_pd3dDevice, g_Keys, g_GoalUser.GetPosition(), g_fElapsedTime);
    }
}

namespace {

// One pass of the depth-sorted renderer: sort along the camera's sort vector,
// draw, empty the queue.
void DrawSortedPass(Direct3DDevice8* d) {
    const D3DXVECTOR3 sort = g_Camera.GetSortVector();
    g_ZSortRender.Sort(sort.x, sort.y, sort.z);
    g_ZSortRender.Render(d, g_Camera.GetView(), g_Camera.GetProjection(), g_vLightDir, g_Fog.GetEnd());
    g_ZSortRender.Clear();
}

}  // namespace

void Render() {
    Direct3DDevice8* d = g_pd3dDevice;
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, g_dwClearColor, 1.0f, 0);
    if (FAILED(d->BeginScene())) return;

    g_Camera.UpdateFrustum();
    const CameraView camera = g_Camera.GetCameraView();

    // Pass 1, opaque, untextured colour: the flock.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    g_Boids.Render(d, camera, g_ZSortRender, g_vLightDir, g_Fog.GetEnd());
    DrawSortedPass(d);

    // Textured colour again, the stages as start-up left them.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);

    g_BackGrounds.Render(d, g_Camera.GetWorld(), g_Camera.GetFrustum(), g_ZSortRender);

    // Pass 2, blended: the background objects.
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    DrawSortedPass(d);

    // The whale, still blended. What it queues (the static whale) is drawn
    // by the next frame's first pass.
    if (g_Settings.intMode == 1) g_GoalUser.Render(d, camera, g_ZSortRender, g_vLightDir, g_Fog.GetEnd());
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);

    g_ParticleTrailPC.Render(d, g_Camera.GetBillboardMatrix());

    DrawFPS();
    d->EndScene();
}

void DrawFPS() {
    g_pd3dDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    if (g_Settings.intChkFPS == 1) {
        const float t = FrameTimer(TIMER_GETABSOLUTETIME);
        if (!g_bRateStarted) {
            // The first interval runs from the first frame: the time start-up
            // took before it is not frame time.
            g_bRateStarted = true;
            g_fLastRateTime = t;
        } else {
            ++g_dwFrames;
        }
        if (t - g_fLastRateTime > 1.0f) {
            g_fFrameRate = static_cast<float>(g_dwFrames) / (t - g_fLastRateTime);
            g_fLastRateTime = t;
            g_dwFrames = 0;
        }
        std::snprintf(g_szFrameRate, sizeof g_szFrameRate, " %.02f ", static_cast<double>(g_fFrameRate));
        RECT rect{0, 0, static_cast<LONG>(g_dwScreenWidth), static_cast<LONG>(g_dwScreenHeight)};
        g_pFont->DrawTextA(g_szFrameRate, -1, &rect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP, 0x88BBBBFF);
    }
    g_pd3dDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
}

const char* FrameRateText() { return g_szFrameRate; }

void ResetFrameRateForTesting() {
    g_dwFrames = 0;
    g_fLastRateTime = 0.0f;
    g_fFrameRate = 0.0f;
    g_bRateStarted = false;
    std::snprintf(g_szFrameRate, sizeof g_szFrameRate, " %.02f ", 0.0);
}
