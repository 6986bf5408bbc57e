// Whole frames of the saver. Run on a display (./setup.sh bench uses a
// virtual one, so the figures are Mesa llvmpipe's: compare them with each
// other, not with a graphics card).
//
// BM_Frame/scene/width/height starts the saver in a window of that size
// (the back buffer takes the window's size) with the defaults (scene 0: 20
// animated birds, loops, trails, the moons and the earth) or the heaviest
// settings (scene 1: 50 birds, particle size 100, long life), lets 13.5 s of
// the scene run on a fixed 30 ms clock (the particle pool fills up), then
// times frames. Reported per frame: the wall time and the frames per second;
// the scene (update and drawing, until OpenGL has drawn it) and the present
// apart (scene_ms, present_ms); the calling thread's processor time
// (cpu_ms; llvmpipe's rasterizer threads are not in it); the heap
// allocations, which must be 0 once the scene is warm; and what the device
// sent to OpenGL: draws, state changes, uniform uploads and buffer or
// texture uploads with their bytes. A frame that draws the same things as
// the one before sends no state, uniform or buffer it already sent.
//
// BM_FrameOutsideDriver: 50 animated birds and 3000 particles with the
// device's OpenGL switched off: the processor time of a frame outside the
// driver (the update, the scene's drawing code and the device's own work),
// what a frame costs where the driver's share is small.
//
// BM_StillScene: mode 2 (nothing moves) with no background, 640 x 480.
//
// BM_StartUp/cold:0 and /cold:1: from starting the executable (/s) to its
// first presented frame, taken from the frame capture (which adds the
// read-back of one frame); warm: the driver's shader cache holds the saver's
// programs; cold: the cache is empty.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Entry.h"
#include "app/Frame.h"
#include "app/FrameTimer.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "bench/AllocationCounter.h"
#include "platform/Clock.h"
#include "platform/Window.h"

extern char** environ;

namespace {

LRESULT BenchWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

constexpr std::int64_t kFrameStepNs = 30'000'000;

const char* const kHeaviest =
    "\"intBrdNumCur\"=dword:00000032\n\"intPtlLngLif\"=dword:00000001\n\"intPtlSizCur\"=dword:00000064\n";

std::filesystem::path BenchFolder() {
    return std::filesystem::temp_directory_path() / ("glimmerwing-bench-" + std::to_string(getpid()));
}

// A settings file holding `values` (registry lines such as
// "\"intBrdNumCur\"=dword:00000032") in a private folder, so the benchmark
// never touches the user's.
void WriteSettings(const std::filesystem::path& config, const std::string& values) {
    std::filesystem::create_directories(config / "glimmerwing");
    std::ofstream(config / "glimmerwing" / "user.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"
        << values;
}

void UsePrivateFolders(const std::string& values) {
    const auto root = BenchFolder();
    WriteSettings(root / "config", values);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The saver on a window of its own, started and warmed up; stopped when it goes.
class Saver {
public:
    Saver(int width, int height, const std::string& values) {
        UsePrivateFolders(values);
        platform::UseFakeClock(platform::kEnvironmentFakeClockStartNs);
        g_Settings = Settings();
        g_bWindowed = 1;
        WNDCLASSA wc{};
        wc.lpfnWndProc = BenchWndProc;
        wc.lpszClassName = "GlimmerwingBench";
        RegisterClassA(&wc);
        m_hwnd = CreateWindowExA(0, "GlimmerwingBench", "bench", WS_CAPTION | WS_VISIBLE, 0, 0, width, height, nullptr,
                                 nullptr, nullptr, nullptr);
        m_bStarted = m_hwnd && Initiate(m_hwnd);
        if (!m_bStarted) return;
        FrameTimer(TIMER_START);
        for (int i = 0; i < 450; ++i) {  // 13.5 s: programs, buffers, a full particle pool
            platform::AdvanceFakeClock(kFrameStepNs);
            Tick(m_hwnd);
            PumpMessages();
        }
    }
    ~Saver() {
        if (m_bStarted) FrameTimer(TIMER_STOP);
        Terminate();
        if (m_hwnd) DestroyWindow(m_hwnd);
        UnregisterClassA("GlimmerwingBench", nullptr);
        PumpMessages();
    }
    bool Started() const { return m_bStarted; }
    HWND Window() const { return m_hwnd; }

private:
    HWND m_hwnd = nullptr;
    bool m_bStarted = false;
};

// One frame as Tick runs it, with OpenGL made to finish the scene before the
// present, so that the two can be timed apart.
void SplitFrame(double& scene, double& present) {
    platform::AdvanceFakeClock(kFrameStepNs);
    const auto t0 = std::chrono::steady_clock::now();
    platform::ClockFrameStep();
    g_fElapsedTime = FrameTimer(TIMER_GETELAPSEDTIME);
    if (g_fElapsedTime > kMaxElapsedTime) g_fElapsedTime = kMaxElapsedTime;
    ReadKeys();
    FrameMove();
    Render();
    g_pd3dDevice->FinishDrawing();
    const auto t1 = std::chrono::steady_clock::now();
    g_pd3dDevice->Present(nullptr, nullptr, nullptr, nullptr);
    g_pd3dDevice->FinishDrawing();
    const auto t2 = std::chrono::steady_clock::now();
    scene += Seconds(t0, t1);
    present += Seconds(t1, t2);
}

void BM_Frame(benchmark::State& state) {
    const int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
    Saver saver(width, height, state.range(0) ? kHeaviest : "");
    if (!saver.Started()) {
        state.SkipWithError("no display or no OpenGL 3.3 device");
        return;
    }
    long allocations = 0;
    double scene = 0.0, present = 0.0, cpu = 0.0;
    const Direct3DDevice8::Statistics before = g_pd3dDevice->GetStatistics();
    for (auto _ : state) {
        const double c0 = ThreadCpuSeconds();
        bench_support::StartCountingAllocations();
        SplitFrame(scene, present);
        allocations += bench_support::StopCountingAllocations();
        cpu += ThreadCpuSeconds() - c0;
        PumpMessages();
    }
    const Direct3DDevice8::Statistics after = g_pd3dDevice->GetStatistics();
    const auto frames = static_cast<double>(state.iterations());
    auto perFrame = [&](double v) { return benchmark::Counter(v / frames); };
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["scene_ms"] = perFrame(scene * 1e3);
    state.counters["present_ms"] = perFrame(present * 1e3);
    state.counters["cpu_ms"] = perFrame(cpu * 1e3);
    state.counters["allocs_per_frame"] = perFrame(static_cast<double>(allocations));
    state.counters["draws"] = perFrame(static_cast<double>(after.draws - before.draws));
    state.counters["state_calls"] = perFrame(static_cast<double>(after.stateCalls - before.stateCalls));
    state.counters["uniform_uploads"] = perFrame(static_cast<double>(after.uniformUploads - before.uniformUploads));
    state.counters["uniform_kb"] = perFrame(static_cast<double>(after.uniformBytes - before.uniformBytes) / 1024.0);
    state.counters["uploads"] = perFrame(static_cast<double>(after.dataUploads - before.dataUploads));
    state.counters["upload_kb"] = perFrame(static_cast<double>(after.dataBytes - before.dataBytes) / 1024.0);
    state.SetLabel(std::string(state.range(0) ? "heaviest " : "default ") + std::to_string(width) + "x" +
                   std::to_string(height));
}
BENCHMARK(BM_Frame)
    ->ArgsProduct({{0, 1}, {640}, {480}})
    ->ArgsProduct({{0, 1}, {1024}, {768}})
    ->ArgsProduct({{0, 1}, {1920}, {1080}})
    ->ArgNames({"scene", "w", "h"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FrameOutsideDriver(benchmark::State& state) {
    Saver saver(640, 480, kHeaviest);
    if (!saver.Started()) {
        state.SkipWithError("no display or no OpenGL 3.3 device");
        return;
    }
    g_pd3dDevice->SetOpenGlDrawing(false);
    double cpu = 0.0;
    for (auto _ : state) {
        platform::AdvanceFakeClock(kFrameStepNs);
        const double c0 = ThreadCpuSeconds();
        Tick(saver.Window());
        cpu += ThreadCpuSeconds() - c0;
        PumpMessages();
    }
    g_pd3dDevice->SetOpenGlDrawing(true);
    state.counters["cpu_us"] = benchmark::Counter(cpu * 1e6 / static_cast<double>(state.iterations()));
    state.SetLabel("50 birds, 3000 particles");
}
BENCHMARK(BM_FrameOutsideDriver)->Unit(benchmark::kMicrosecond);

void BM_StillScene(benchmark::State& state) {
    Saver saver(640, 480, "\"intMode\"=dword:00000002\n\"intBakGnd\"=dword:00000000\n");
    if (!saver.Started()) {
        state.SkipWithError("no display or no OpenGL 3.3 device");
        return;
    }
    for (auto _ : state) {
        platform::AdvanceFakeClock(kFrameStepNs);
        Tick(saver.Window());
        PumpMessages();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StillScene)->Unit(benchmark::kMillisecond)->UseRealTime();

// Starts the saver executable full screen with private folders and a capture
// of its first frame; returns the seconds until that frame's file is there.
double StartUpSeconds(const std::filesystem::path& root) {
    const std::filesystem::path capture = root / "capture";
    std::filesystem::remove_all(capture);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const char* name : {"XDG_CONFIG_HOME=", "XDG_STATE_HOME=", "XDG_RUNTIME_DIR=", "MESA_SHADER_CACHE_DIR="})
        std::erase_if(env, [&](const std::string& v) { return v.rfind(name, 0) == 0; });
    env.push_back("XDG_CONFIG_HOME=" + (root / "config").string());
    env.push_back("XDG_STATE_HOME=" + (root / "state").string());
    env.push_back("XDG_RUNTIME_DIR=" + root.string());
    env.push_back("MESA_SHADER_CACHE_DIR=" + (root / "shader-cache").string());
    env.push_back("GLIMMERWING_CAPTURE_DIR=" + capture.string());
    env.push_back("GLIMMERWING_CAPTURE_EVERY=1");
    env.push_back("GLIMMERWING_CAPTURE_COUNT=1");
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string program = GLIMMERWING_SAVER, mode = "/s";
    char* argv[] = {program.data(), mode.data(), nullptr};

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1.0;
    const std::filesystem::path frame = capture / "frame_00001.ppm";
    double seconds = -1.0;
    while (seconds < 0.0) {
        std::error_code ec;
        if (std::filesystem::exists(frame, ec)) seconds = Seconds(start, std::chrono::steady_clock::now());
        int status = 0;
        if (seconds < 0.0 && waitpid(pid, &status, WNOHANG) == pid) return -1.0;  // ended without a frame
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return seconds;
}

void BM_StartUp(benchmark::State& state) {
    const bool cold = state.range(0) != 0;
    const auto root = BenchFolder() / (cold ? "start-up-cold" : "start-up");
    WriteSettings(root / "config", "");
    if (!cold && StartUpSeconds(root) < 0.0) {  // the first start fills the shader cache
        state.SkipWithError("the saver did not present a frame");
        return;
    }
    for (auto _ : state) {
        if (cold) std::filesystem::remove_all(root / "shader-cache");
        const double seconds = StartUpSeconds(root);
        if (seconds < 0.0) {
            state.SkipWithError("the saver did not present a frame");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.SetLabel(cold ? "exec to the first presented frame, empty shader cache"
                        : "exec to the first presented frame, warm");
}
// Single starts, seven of them: the median is the figure.
BENCHMARK(BM_StartUp)
    ->ArgName("cold")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
