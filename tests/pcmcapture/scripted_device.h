// Forced into the test build of the capture source: its device, allocation and sleep calls go to
// the scripted device of reader_test.cpp.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
int fake_open(const char* path, int flags, ...);
int fake_close(int fd);
int fake_ioctl(int fd, unsigned long request, ...);
ssize_t fake_read(int fd, void* buf, size_t count);
void* fake_malloc(size_t size);
unsigned int fake_sleep(unsigned int seconds);
}

#define open fake_open
#define close fake_close
#define ioctl fake_ioctl
#define read fake_read
#define malloc fake_malloc
#define sleep fake_sleep
