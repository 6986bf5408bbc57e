// Cost of the flock's step. Needs no display.
//
// BM_BoidsFrameMove/birds:N: one Boids.FrameMove of a flock of N birds at
// 0.03 s a frame, chasing a goal that circles the flock's start: the full pair
// scan (N (N - 1) / 2 pairs, most of them neighbours in a tight flock), the
// steering and the move of every bird, and every sixth frame the trail
// particles of one half of the flock. The trail object's own FrameMove runs
// outside the measured span, so its pool stays in the state of a running
// saver. allocs_per_frame counts heap allocations inside the flock's step.
#include <benchmark/benchmark.h>

#include <cmath>

#include "app/Frame.h"
#include "app/Settings.h"
#include "bench/AllocationCounter.h"
#include "flock/Boids.h"
#include "scenery/ParticleTrailPC.h"

namespace {

void BM_BoidsFrameMove(benchmark::State& state) {
    Boids flock;
    Settings settings;
    settings.intBrdNumCur = static_cast<int>(state.range(0));
    settings.intChkLoop = 1;
    flock.SetParameters(settings);
    if (FAILED(flock.CreateBirdsForTesting())) {
        state.SkipWithError("no birds");
        return;
    }
    ParticleTrailPC trails;
    g_fElapsedTime = 0.03f;
    // Let the flock form up and the trail pool fill to its running level.
    float t = 0.0f;
    auto goal = [&t] { return D3DXVECTOR3(200.0f + 600.0f * std::cos(t), 50.0f, 200.0f + 600.0f * std::sin(t)); };
    for (int f = 0; f < 600; ++f, t += 0.003f) {
        flock.FrameMove(goal(), trails);
        trails.FrameMove();
    }

    long allocations = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        bench_support::StartCountingAllocations();
        flock.FrameMove(goal(), trails);
        allocations += bench_support::StopCountingAllocations();
        state.PauseTiming();
        trails.FrameMove();
        t += 0.003f;
        ++frames;
        state.ResumeTiming();
    }
    state.counters["allocs_per_frame"] = frames ? static_cast<double>(allocations) / static_cast<double>(frames) : 0.0;
    g_fElapsedTime = 0.0f;
}
BENCHMARK(BM_BoidsFrameMove)->ArgName("birds")->Arg(5)->Arg(40)->Arg(50)->Unit(benchmark::kMicrosecond);

}  // namespace
