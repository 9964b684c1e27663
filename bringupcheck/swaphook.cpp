// The eglSwapBuffers in front of the EGL's own. See swaphook.h.
#include <dlfcn.h>
#include <time.h>

#include "bringupcheck/swaphook.h"

// Declared without the EGL headers: the preload needs no EGL to build against (EGLBoolean is an
// unsigned int, the display and surface are handles).
extern "C" unsigned int eglSwapBuffers(void* display, void* surface) {
    typedef unsigned int (*SwapFn)(void*, void*);
    static SwapFn next = reinterpret_cast<SwapFn>(dlsym(RTLD_NEXT, "eglSwapBuffers"));
    if (!next) return 0;
    unsigned int r = next(display, surface);
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    on_swap(double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9);
    return r;
}
