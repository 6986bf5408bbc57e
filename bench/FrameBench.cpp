// Frame costs. Run on a display (./setup.sh bench uses a virtual one).
//
// BM_EmptyFrame: one tick of the saver with nothing in the scene: clear,
// frame-rate text, present. Reported per frame: the CPU time of the calling
// thread (the GL driver's own worker threads are not counted) and the number
// of heap allocations, which must be 0.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Entry.h"
#include "app/Frame.h"
#include "app/FrameTimer.h"
#include "app/Startup.h"
#include "bench/AllocationCounter.h"
#include "platform/Window.h"

namespace {

LRESULT BenchWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A private settings and state folder, so the benchmark never touches the user's.
void UsePrivateFolders() {
    const auto root = std::filesystem::temp_directory_path() / ("glimmerwing-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
}

void BM_EmptyFrame(benchmark::State& state) {
    UsePrivateFolders();
    g_bWindowed = 1;
    WNDCLASSA wc{};
    wc.lpfnWndProc = BenchWndProc;
    wc.lpszClassName = "GlimmerwingBench";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "GlimmerwingBench", "bench", WS_CAPTION | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                nullptr, nullptr, nullptr);
    if (!hwnd || !Initiate(hwnd)) {
        state.SkipWithError("no display or no OpenGL 3.3 device");
        Terminate();
        return;
    }
    FrameTimer(TIMER_START);
    for (int i = 0; i < 10; ++i) Tick(hwnd);  // warm up: programs, buffers

    long allocations = 0;
    for (auto _ : state) {
        bench_support::StartCountingAllocations();
        Tick(hwnd);
        allocations += bench_support::StopCountingAllocations();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    FrameTimer(TIMER_STOP);
    Terminate();
    DestroyWindow(hwnd);
}
BENCHMARK(BM_EmptyFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
