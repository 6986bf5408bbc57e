// Cost of the depth-sorted renderer. Run on a display (./setup.sh bench uses a
// virtual one).
//
// BM_ZSortRenderPerEntry/entries:N/slices:S: N spheres of S slices and S / 2
// stacks (16: 256 triangles, 4: 16 triangles) sharing one vertex and index
// buffer are queued, then sorted, drawn with the toon program and the queue
// emptied, as one pass of the frame does. The time reported is the CPU time of the calling
// thread for Sort + Render + Clear (the GL driver's own worker threads are not
// counted); cpu_ns_per_entry divides it by N. allocs_per_frame counts heap
// allocations from the first Add to the Clear, and must be 0. The frame is
// presented outside the measured span.
//
// On Mesa's llvmpipe the vertex program runs, and triangles are set up and
// binned, on the calling thread inside the draw call, so that work is in the
// measured time; the difference between the two sphere sizes shows how much
// of an entry's time it is.
#include <benchmark/benchmark.h>

#include <time.h>

#include <vector>

#include "app/Camera.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "bench/AllocationCounter.h"
#include "platform/Window.h"
#include "render/ZSortRender.h"
#include "tests/support/TestScene.h"

namespace {

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void DrainMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void BM_ZSortRenderPerEntry(benchmark::State& state) {
    const auto entries = static_cast<int>(state.range(0));
    const auto slices = static_cast<int>(state.range(1));
    testing_support::SaverScene scene;
    if (!scene.Start()) {
        state.SkipWithError(("no saver: " + scene.Error()).c_str());
        return;
    }
    g_Settings.intChkFPS = 0;
    Direct3DDevice8* d = g_pd3dDevice;

    testing_support::ToonMesh sphere;
    if (!testing_support::MakeSphere(d, 1.0f, slices, slices / 2, 0xFFFFFFFF, sphere)) {
        state.SkipWithError("sphere buffers could not be created");
        return;
    }
    const D3DXATTRIBUTERANGE range{0, 0, sphere.faces, 0, sphere.vertices};
    D3DMATERIAL8 material{};
    material.Diffuse = {1, 1, 1, 1};
    Direct3DTexture8* noTexture = nullptr;

    // A grid of 40 x 25 places facing the camera, filled in a scattered order
    // so that the sort has work to do.
    g_Camera.Reset();
    g_Fog.Apply(d, g_Camera, g_fAspect, TRUE);
    g_Camera.SetPosition(0, 0, -90);
    g_Camera.LookAt(d, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0));
    g_vLightDir = D3DXVECTOR4(0.5f, 0.9f, -0.5f, 0.0f);
    std::vector<D3DXMATRIX> worlds(static_cast<std::size_t>(entries));
    std::vector<D3DXVECTOR3> centres(worlds.size());
    for (int i = 0; i < entries; ++i) {
        const int place = (i * 617) % 1000;
        const D3DXVECTOR3 c(static_cast<float>(place % 40) * 2.5f - 48.75f,
                            static_cast<float>(place / 40) * 2.5f - 30.0f, static_cast<float>((i * 37) % 11));
        D3DXMatrixTranslation(&worlds[static_cast<std::size_t>(i)], c.x, c.y, c.z);
        centres[static_cast<std::size_t>(i)] = c;
    }

    const D3DXVECTOR3 sort = g_Camera.GetSortVector();
    const D3DXMATRIX view = g_Camera.GetView(), projection = g_Camera.GetProjection();
    auto frame = [&](double* cpu, long* allocations) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, g_dwClearColor, 1.0f, 0);
        d->BeginScene();
        bench_support::StartCountingAllocations();
        for (int i = 0; i < entries; ++i)
            g_ZSortRender.Add(sphere.vb, sphere.ib, &range, worlds[static_cast<std::size_t>(i)],
                              centres[static_cast<std::size_t>(i)], &material, &noTexture, 1);
        const double start = ThreadCpuSeconds();
        g_ZSortRender.Sort(sort.x, sort.y, sort.z);
        g_ZSortRender.Render(d, view, projection, g_vLightDir, g_Fog.GetEnd());
        g_ZSortRender.Clear();
        *cpu = ThreadCpuSeconds() - start;
        *allocations = bench_support::StopCountingAllocations();
        d->EndScene();
        d->Present(nullptr, nullptr, nullptr, nullptr);
        DrainMessages();
    };

    double cpu = 0.0;
    long allocations = 0;
    for (int i = 0; i < 10; ++i) frame(&cpu, &allocations);  // warm up: programs, buffers

    double totalCpu = 0.0;
    long totalAllocations = 0;
    for (auto _ : state) {
        frame(&cpu, &allocations);
        state.SetIterationTime(cpu);
        totalCpu += cpu;
        totalAllocations += allocations;
    }
    state.counters["cpu_ns_per_entry"] =
        benchmark::Counter(totalCpu * 1e9 / entries, benchmark::Counter::kAvgIterations);
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(totalAllocations), benchmark::Counter::kAvgIterations);

    sphere.Release();
    scene.Stop();
}
BENCHMARK(BM_ZSortRenderPerEntry)
    ->ArgsProduct({{1, 100, 1000}, {16, 4}})
    ->ArgNames({"entries", "slices"})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
