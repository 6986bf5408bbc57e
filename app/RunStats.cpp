#include "app/RunStats.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "gfx/GlObjectCount.h"
#include "platform/Clock.h"

long ResidentKilobytes() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void ReportRunStats() {
    static const double every = [] {
        const char* text = std::getenv("GLIMMERWING_STATS_EVERY");
        const double seconds = text ? std::atof(text) : 0.0;
        return seconds > 0.0 ? seconds : 0.0;
    }();
    if (every <= 0.0) return;
    static unsigned long frames = 0;
    static double start = -1.0;
    static double next = 0.0;
    ++frames;
    LONGLONG now = 0, frequency = 1;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const double t = static_cast<double>(now) / static_cast<double>(frequency > 0 ? frequency : 1);
    if (start < 0.0) {
        start = t;
        next = 0.0;
    }
    if (t - start < next) return;
    next += every;
    const GlObjectCounts gl = CountLiveGlObjects();
    std::fprintf(stderr,
                 "stats t=%.0f frames=%lu rss_kb=%ld gl_buffers=%d gl_textures=%d gl_programs=%d gl_shaders=%d "
                 "gl_vertex_arrays=%d\n",
                 t - start, frames, ResidentKilobytes(), gl.buffers, gl.textures, gl.programs, gl.shaders,
                 gl.vertexArrays);
    std::fflush(stderr);
}
