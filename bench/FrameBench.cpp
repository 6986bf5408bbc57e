// Frame costs. Run on a display (./setup.sh bench uses a virtual one).
//
// BM_EmptyFrame: one tick of the saver with nothing in the scene: clear,
// frame-rate text, present. Reported per frame: the CPU time of the calling
// thread (the GL driver's own worker threads are not counted) and the number
// of heap allocations, which must be 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "app/Entry.h"
#include "app/Frame.h"
#include "app/FrameTimer.h"
#include "app/Startup.h"
#include "platform/Window.h"

namespace {

std::atomic<long> g_nAllocations{0};
bool g_bCounting = false;

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
        g_nAllocations = 0;
        g_bCounting = true;
        Tick(hwnd);
        g_bCounting = false;
        allocations += g_nAllocations;
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

void* operator new(std::size_t size) {
    if (g_bCounting) ++g_nAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

BENCHMARK_MAIN();
