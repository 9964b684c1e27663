// Forced into the fuzz build of configlist: its entry point and its error stream go to the fuzz
// target, which keeps what the lister writes instead of flooding the fuzzer's own output.
#pragma once

#include <cstdio>

extern FILE* fuzz_error_stream;
#undef stderr
#define stderr fuzz_error_stream
#define main configlist_main
