// Cost of the particle trails with a full pool. Run on a display
// (./setup.sh bench uses a virtual one).
//
// BM_ParticleTrail/visible:V: 3000 live particles of staggered ages (as a
// steady trail leaves them), each frame: FrameMove, the emissions that refill
// the pool (about 14 a frame), and Render, which fills the vertex buffer and
// draws it once. With visible:1 the camera looks at the cloud; with visible:0
// it looks away, so the draw costs little and the time is mostly the update
// and the buffer fill. Reported per frame: the calling thread's CPU time for
// all of it (the GL driver's worker threads are not counted), the part of it
// spent in FrameMove and the emissions (move_us), the part spent in Render
// (render_us), and the heap allocations (allocs_per_frame), which must be 0
// once the pool is warm. With visible:0 the same draw is issued once more
// after Render, outside the measured span (redraw_us): Render's time less
// that is about the buffer fill and its upload. On Mesa's llvmpipe the
// vertex stage of a draw runs on the calling thread, so the draw is most of
// Render. The frame is presented outside the measured span.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdlib>

#include "app/Camera.h"
#include "app/Frame.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "bench/AllocationCounter.h"
#include "platform/Window.h"
#include "scenery/ParticleTrailPC.h"
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

// Refills the pool from a ring of emitters around the origin, as the flock does.
void Refill(ParticleTrailPC& trail, int& next) {
    while (trail.ActiveCount() < ParticleTrailPC::kCapacity) {
        const float x = static_cast<float>(next % 50) * 4.0f - 100.0f;
        const float z = static_cast<float>((next / 50) % 50) * 4.0f - 100.0f;
        trail.Emit(x, 0.0f, z, 1.0f, 3.0f, -1.0f);
        ++next;
    }
}

void BM_ParticleTrail(benchmark::State& state) {
    const bool visible = state.range(0) != 0;
    testing_support::SaverScene scene;
    if (!scene.Start()) {
        state.SkipWithError(("no saver: " + scene.Error()).c_str());
        return;
    }
    Direct3DDevice8* d = g_pd3dDevice;
    g_Settings.intChkFPS = 0;
    Settings settings;
    settings.intPtlSizCur = 100;
    settings.intPtlLngLif = 0;
    settings.intPtlTexIdx = 0;
    settings.intPtlRndCol = 1;

    ParticleTrailPC trail;
    trail.SetParameters(settings);
    if (FAILED(trail.InitDeviceObjects(d))) {
        state.SkipWithError("particle device objects could not be created");
        return;
    }

    g_Camera.Reset();
    g_Fog.Apply(d, g_Camera, g_fAspect, TRUE);
    g_Camera.SetPosition(0, 50, -400);
    g_Camera.LookAt(d, visible ? D3DXVECTOR3(0, 0, 0) : D3DXVECTOR3(0, 50, -800), D3DXVECTOR3(0, 1, 0));
    g_fElapsedTime = 0.03f;

    // Staggered ages: about 14 births a frame over one 220-frame life.
    std::srand(1);
    int next = 0;
    for (int i = 0; i < 230; ++i) {
        trail.FrameMove();
        for (int k = 0; k < 14 && trail.ActiveCount() < ParticleTrailPC::kCapacity; ++k) {
            trail.Emit(static_cast<float>(k), 0.0f, 0.0f, 0.0f, 3.0f, 0.0f);
            ++next;
        }
    }
    Refill(trail, next);

    const D3DXMATRIX billboard = g_Camera.GetBillboardMatrix();
    double moveCpu = 0.0, renderCpu = 0.0, redrawCpu = 0.0;
    long allocations = 0;
    auto frame = [&](bool measure) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, g_dwClearColor, 1.0f, 0);
        d->BeginScene();
        bench_support::StartCountingAllocations();
        const double start = ThreadCpuSeconds();
        trail.FrameMove();
        Refill(trail, next);
        const double moved = ThreadCpuSeconds();
        trail.Render(d, billboard);
        const double end = ThreadCpuSeconds();
        const long counted = bench_support::StopCountingAllocations();
        double redraw = 0.0;
        if (!visible) {
            const double again = ThreadCpuSeconds();
            d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, trail.ActiveCount());
            redraw = ThreadCpuSeconds() - again;
        }
        d->EndScene();
        d->Present(nullptr, nullptr, nullptr, nullptr);
        DrainMessages();
        if (measure) {
            moveCpu += moved - start;
            renderCpu += end - moved;
            redrawCpu += redraw;
            allocations += counted;
        }
        return end - start;
    };

    for (int i = 0; i < 10; ++i) frame(false);  // warm up: programs, buffers
    for (auto _ : state) state.SetIterationTime(frame(true));

    state.counters["move_us"] = benchmark::Counter(moveCpu * 1e6, benchmark::Counter::kAvgIterations);
    state.counters["render_us"] = benchmark::Counter(renderCpu * 1e6, benchmark::Counter::kAvgIterations);
    if (!visible)
        state.counters["redraw_us"] = benchmark::Counter(redrawCpu * 1e6, benchmark::Counter::kAvgIterations);
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.counters["particles"] = static_cast<double>(trail.ActiveCount());
    trail.DeleteDeviceObjects();
    scene.Stop();
}
BENCHMARK(BM_ParticleTrail)->Arg(1)->Arg(0)->ArgNames({"visible"})->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
