// Forced into the fuzz build of the USB power core: its sysfs opens, presence test and messages go
// to the fuzz target's stand-ins, which serve the attribute texts from the fuzz input.
#pragma once

#include <stdio.h>
#include <unistd.h>

extern "C" {
FILE* fuzz_fopen(const char* path, const char* mode);
int fuzz_euidaccess(const char* path, int mode);
int fuzz_puts(const char* text);
}

#define fopen fuzz_fopen
#define euidaccess fuzz_euidaccess
#define puts fuzz_puts
