// Whole frames of the saver. Run on a display (./setup.sh bench uses a
// virtual one, so the figures are Mesa llvmpipe's: compare them with each
// other, not with a graphics card).
//
// Each benchmark starts the saver on a window of the given size with the
// given settings, lets 13.5 s of the scene run on a fixed 30 ms clock (the
// particle pool fills up to its steady size), then times ticks: update,
// render, present. Reported per frame: the wall time (and from it the
// frames per second), the CPU time of the calling thread, and the heap
// allocations, which must be 0 once the scene is warm.
//
// BM_DefaultScene: the defaults (20 animated birds, loops, trails, the moons
// and the earth) at 640 x 480 and at 1024 x 768.
// BM_HeaviestScene: 50 birds, long particle life, particle size 100, at
// 1024 x 768.
// BM_StillScene: mode 2 (nothing moves) with no background: what a frame of
// the flock costs when nothing is updated, at 640 x 480.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Entry.h"
#include "app/Frame.h"
#include "app/FrameTimer.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "bench/AllocationCounter.h"
#include "platform/Clock.h"
#include "platform/Window.h"

namespace {

LRESULT BenchWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

constexpr std::int64_t kFrameStepNs = 30'000'000;

// A private settings and state folder holding `values` (registry lines such as
// "\"intBrdNumCur\"=dword:00000032"), so the benchmark never touches the user's.
void UsePrivateFolders(const std::string& values) {
    const auto root = std::filesystem::temp_directory_path() / ("glimmerwing-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "config" / "glimmerwing");
    std::ofstream(root / "config" / "glimmerwing" / "user.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"
        << values;
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void RunScene(benchmark::State& state, int width, int height, const std::string& values) {
    UsePrivateFolders(values);
    platform::UseFakeClock(platform::kEnvironmentFakeClockStartNs);
    g_Settings = Settings();
    g_bWindowed = 1;
    WNDCLASSA wc{};
    wc.lpfnWndProc = BenchWndProc;
    wc.lpszClassName = "GlimmerwingBench";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "GlimmerwingBench", "bench", WS_CAPTION | WS_VISIBLE, 0, 0, width, height,
                                nullptr, nullptr, nullptr, nullptr);
    if (!hwnd || !Initiate(hwnd)) {
        state.SkipWithError("no display or no OpenGL 3.3 device");
        Terminate();
        if (hwnd) DestroyWindow(hwnd);
        return;
    }
    FrameTimer(TIMER_START);
    for (int i = 0; i < 450; ++i) {  // 13.5 s: programs, buffers, a full particle pool
        platform::AdvanceFakeClock(kFrameStepNs);
        Tick(hwnd);
        PumpMessages();
    }

    long allocations = 0;
    for (auto _ : state) {
        platform::AdvanceFakeClock(kFrameStepNs);
        bench_support::StartCountingAllocations();
        Tick(hwnd);
        allocations += bench_support::StopCountingAllocations();
        PumpMessages();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
    FrameTimer(TIMER_STOP);
    Terminate();
    DestroyWindow(hwnd);
    UnregisterClassA("GlimmerwingBench", nullptr);
    PumpMessages();
}

void BM_DefaultScene(benchmark::State& state) {
    RunScene(state, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), "");
}
BENCHMARK(BM_DefaultScene)->Args({640, 480})->Args({1024, 768})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HeaviestScene(benchmark::State& state) {
    RunScene(state, 1024, 768,
             "\"intBrdNumCur\"=dword:00000032\n\"intPtlLngLif\"=dword:00000001\n\"intPtlSizCur\"=dword:00000064\n");
}
BENCHMARK(BM_HeaviestScene)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StillScene(benchmark::State& state) {
    RunScene(state, 640, 480, "\"intMode\"=dword:00000002\n\"intBakGnd\"=dword:00000000\n");
}
BENCHMARK(BM_StillScene)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
