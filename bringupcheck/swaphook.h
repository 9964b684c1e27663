// Frames told from inside a program, without any change to it: a preloaded library's
// eglSwapBuffers (swaphook.cpp) passes each call on to the EGL's own and then calls the library's
// on_swap. bringup-check's frame counter (swapcount.cpp) and the benchmarks' frame clock are made
// of it.
#pragma once

// Called after each buffer swap the EGL made, with the monotonic time in seconds. Defined by the
// library that links swaphook.cpp.
__attribute__((visibility("hidden"))) void on_swap(double t);
