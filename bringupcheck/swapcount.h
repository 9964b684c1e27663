// The frame counter's file (libbringup-swapcount.so): written by the preload, read by the GPU
// checks. Its path comes in the environment; it holds one line, the count of eglSwapBuffers calls
// and the monotonic seconds of the first and the last.
#pragma once

// The variable naming the file.
#define SWAPCOUNT_FILE_ENV "BRINGUP_SWAPCOUNT_FILE"
// The line as it is written, and as it is read back (its first field alone is the count so far).
inline constexpr char kSwapCountLine[] = "swaps %lld first %.6f last %.6f\n";
inline constexpr char kSwapCountScan[] = "swaps %lld first %lf last %lf";
