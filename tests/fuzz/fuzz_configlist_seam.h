// Forced into the fuzz build of configlist: its entry point, its output and its error stream go to
// the fuzz target, which keeps what the lister writes instead of flooding the fuzzer's own output.
#pragma once

#include <cstdio>

extern FILE* fuzz_output_stream;
extern FILE* fuzz_error_stream;
#define printf(...) fprintf(fuzz_output_stream, __VA_ARGS__)
#undef stderr
#define stderr fuzz_error_stream
#define main configlist_main
