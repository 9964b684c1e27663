// Creating a file of the output folder afresh, by bringup-check and by what runs on its behalf (the
// frame counter inside a demo). Whatever has the name is removed first (a file of an earlier run,
// or a link planted to make a root run write elsewhere), and the new file is opened without
// following a link and only if this call made it, so nothing is ever written through a link.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

// A descriptor open for writing on a new, empty file at `path`, or -1 with errno.
inline int create_afresh(const char* path) {
    if (unlink(path) != 0 && errno != ENOENT) return -1;
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}
