// Cost of the skinned flock: the two bird models posed once a frame and drawn
// for fifty instances. Run on a display (./setup.sh bench uses a virtual one).
//
// BM_SkinnedFlockOurs: FrameMove on both models, then Render for fifty birds
// outside a scene. The device refuses each draw at its first check, before
// any OpenGL call, so this is the CPU work of our own code per frame: the
// clock and key tracks, composing the frames, the light, the palette
// matrices, and the device's state calls.
// BM_SkinnedFlockFrame: the same inside a scene, with the draws reaching
// OpenGL (Mesa's llvmpipe on a virtual display: its vertex processing runs on
// the calling thread and is counted too).
#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "app/Camera.h"
#include "app/Frame.h"
#include "app/Startup.h"
#include "model/SkinnedMesh.h"
#include "tests/support/TestScene.h"

namespace {

constexpr int kBirds = 50;

struct Flock {
    std::array<std::unique_ptr<SkinnedMesh>, 2> models;
    std::array<D3DXMATRIX, kBirds> worlds;

    bool Load() {
        const char* names[2] = {"BIRDSKINNED03.X", "BIRDSKINNED04.X"};
        for (int i = 0; i < 2; ++i) {
            models[i] = std::make_unique<SkinnedMesh>();
            if (FAILED(models[i]->InitDeviceObjects(g_pd3dDevice, g_d3dCaps, names[i])) || !models[i]->CurrentModel())
                return false;
            models[i]->RestoreDeviceObjects();
        }
        for (int b = 0; b < kBirds; ++b) {
            D3DXMATRIX scale, place;
            D3DXMatrixScaling(&scale, 3.0f, 3.0f, 3.0f);
            D3DXMatrixTranslation(&place, static_cast<float>(b % 10) * 12.0f - 54.0f,
                                  static_cast<float>(b / 10) * 8.0f - 16.0f, 60.0f);
            D3DXMatrixMultiply(&worlds[b], &scale, &place);
        }
        return true;
    }

    void Release() {
        for (auto& m : models) {
            if (!m) continue;
            m->InvalidateDeviceObjects();
            m->DeleteDeviceObjects();
        }
    }

    void Frame() {
        g_fElapsedTime = 0.016f;
        for (auto& m : models) m->FrameMove(1, 1, 0);
        for (int b = 0; b < kBirds; ++b) {
            const SkinRenderParams params{worlds[b], g_Camera.GetView(), g_Camera.GetProjection(), g_vLightDir,
                                          g_Fog.GetEnd()};
            models[b % 2]->Render(params);
        }
    }
};

void Run(benchmark::State& state, bool inScene) {
    testing_support::SaverScene scene;
    if (!scene.Start()) {
        state.SkipWithError(scene.Error().c_str());
        return;
    }
    g_Camera.SetPosition(0.0f, 0.0f, -40.0f);
    g_Camera.LookAt(g_pd3dDevice, D3DXVECTOR3(0, 0, 60), D3DXVECTOR3(0, 1, 0));
    Flock flock;
    if (!flock.Load()) {
        state.SkipWithError("bird models");
        flock.Release();
        return;
    }
    for (auto _ : state) {
        if (inScene) {
            g_pd3dDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            g_pd3dDevice->BeginScene();
        }
        flock.Frame();
        if (inScene) {
            g_pd3dDevice->EndScene();
            std::vector<std::uint32_t> pixels;
            g_pd3dDevice->ReadBackBuffer(pixels);  // waits for the frame
        }
    }
    state.SetLabel("2 models, 50 birds");
    flock.Release();
}

void BM_SkinnedFlockOurs(benchmark::State& state) { Run(state, false); }
BENCHMARK(BM_SkinnedFlockOurs)->Unit(benchmark::kMicrosecond);

void BM_SkinnedFlockFrame(benchmark::State& state) { Run(state, true); }
BENCHMARK(BM_SkinnedFlockFrame)->Unit(benchmark::kMillisecond);

}  // namespace
