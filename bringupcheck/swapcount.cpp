// libbringup-swapcount.so: preloaded into a demo, counts its eglSwapBuffers calls so that its frame
// rate can be told without any change to the demo. The count goes to the file named in the
// environment, in the line of swapcount.h, made anew about once a second and when the program
// ends.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "bringupcheck/newfile.h"
#include "bringupcheck/swapcount.h"
#include "bringupcheck/swaphook.h"

namespace {

std::atomic<long long> g_swaps{0};
double g_first = 0, g_last = 0, g_written = 0;

void write_count() {
    const char* path = getenv(SWAPCOUNT_FILE_ENV);
    if (!path || !*path) return;
    char line[128];
    int n = snprintf(line, sizeof line, kSwapCountLine, g_swaps.load(), g_first, g_last);
    // Made afresh beside it and renamed into place: bringup-check, reading it meanwhile, never
    // sees half a line, and nothing is written through a link.
    char fresh[4096];
    if (snprintf(fresh, sizeof fresh, "%s.new", path) >= int(sizeof fresh)) return;
    int fd = create_afresh(fresh);
    if (fd < 0) return;
    bool whole = write(fd, line, size_t(n)) == ssize_t(n);
    if (close(fd) == 0 && whole && rename(fresh, path) == 0) return;
    unlink(fresh);
}

struct Flush {
    ~Flush() { write_count(); }
} g_flush;

}  // namespace

void on_swap(double t) {
    if (g_swaps++ == 0) g_first = t;
    g_last = t;
    if (t - g_written >= 1.0) {
        g_written = t;
        write_count();
    }
}
