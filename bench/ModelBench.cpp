// Cost of the rigid models. Run on a display (./setup.sh bench uses a virtual
// one).
//
// BM_LoadRigidModels: the four rigid models (bird, whale, moon, earth) loaded
// from their resources with their textures, then released: the whole load of
// start-up's rigid content, textures decoded and mipmapped each time.
// BM_UpdateBoundsAndVisibility: one display mesh's bounds placed by a new
// world matrix and tested against the camera's frustum.
#include <benchmark/benchmark.h>

#include "app/Camera.h"
#include "app/Startup.h"
#include "model/MeshModel.h"
#include "tests/support/TestScene.h"

namespace {

void BM_LoadRigidModels(benchmark::State& state) {
    testing_support::SaverScene scene;
    if (!scene.Start()) {
        state.SkipWithError(scene.Error().c_str());
        return;
    }
    const char* names[] = {"BIRDDAMMY02.X", "WHALEDAMMY.X", "MOON.X", "EARTH.X"};
    for (auto _ : state) {
        for (const char* name : names) {
            MeshModel model;
            if (FAILED(model.LoadXFile(g_pd3dDevice, name))) state.SkipWithError(name);
            model.Release();
        }
    }
    state.SetLabel("4 models with textures");
}
BENCHMARK(BM_LoadRigidModels)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UpdateBoundsAndVisibility(benchmark::State& state) {
    testing_support::SaverScene scene;
    if (!scene.Start()) {
        state.SkipWithError(scene.Error().c_str());
        return;
    }
    MeshModel model;
    if (FAILED(model.LoadXFile(g_pd3dDevice, "BIRDDAMMY02.X"))) {
        state.SkipWithError("BIRDDAMMY02.X");
        return;
    }
    g_Camera.UpdateFrustum();
    const ViewFrustum& frustum = g_Camera.GetFrustum();
    DisplayMesh* mesh = model.Display(0);
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    float x = 0.0f;
    int visible = 0;
    for (auto _ : state) {
        world.m[3][0] = x;
        world.m[3][2] = 1000.0f + x;
        x = x > 3000.0f ? -3000.0f : x + 7.0f;
        visible += mesh->IsVisible(frustum, world);
    }
    benchmark::DoNotOptimize(visible);
    model.Release();
}
BENCHMARK(BM_UpdateBoundsAndVisibility)->Unit(benchmark::kNanosecond);

}  // namespace
