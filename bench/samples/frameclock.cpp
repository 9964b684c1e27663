// Preloaded into a GL program to time its frames: after FRAMECLOCK_WARMUP buffer swaps it notes
// the wall clock and the process's CPU time (all threads, the software rasteriser's included),
// after FRAMECLOCK_FRAMES more swaps it writes "<frames> <wall seconds> <cpu seconds>" to
// FRAMECLOCK_OUT and ends the process. The same clock is used on the demos and on the reference,
// on the same swap hook as bringup-check's frame counter.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "bringupcheck/swaphook.h"

namespace {

long swaps = 0;
double wallStart = 0, cpuStart = 0;

long setting(const char* name, long fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::atol(value) : fallback;
}

double cpuSeconds()
{
    rusage r;
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

void on_swap(double t)
{
    static const long warmup = setting("FRAMECLOCK_WARMUP", 20);
    static const long frames = setting("FRAMECLOCK_FRAMES", 200);
    ++swaps;
    if (swaps == warmup) {
        wallStart = t;
        cpuStart = cpuSeconds();
    } else if (swaps == warmup + frames) {
        double wall = t - wallStart, cpu = cpuSeconds() - cpuStart;
        const char* out = std::getenv("FRAMECLOCK_OUT");
        FILE* f = out != nullptr ? std::fopen(out, "w") : stderr;
        if (f != nullptr) {
            std::fprintf(f, "%ld %.6f %.6f\n", frames, wall, cpu);
            if (f != stderr) std::fclose(f);
        }
        std::fflush(nullptr);
        _exit(0);
    }
}
