// Reading a file that lies in a folder handed to us (a board folder, a run's output folder): opened
// without leaving the folder and without blocking, read only when it is a regular file, and never
// past a bound. Shared by bringup-check's report page and the simulated board's folder reader.
// Plain system calls only: this is linked into libboardsim.so, whose wrapped entry points it must
// never meet.
#pragma once

#include <sys/types.h>

#include <string>

// How links inside the folder are taken: followed while they stay inside it, or refused.
enum FolderLinks { kLinksWithin, kNoLinks };

// Opens `rel`, a path relative to the folder `dir`, without leaving the folder: a link (or "..")
// that leads out of it fails with EXDEV, and with kNoLinks any link fails (ELOOP). With an empty
// `dir`, `rel` is opened as it is. -1 with errno on failure.
int open_beneath(const std::string& dir, const std::string& rel, int flags, mode_t mode, FolderLinks links);

// What became of a bounded read.
struct BoundedRead {
    bool regular = false;  // the descriptor is a regular file (nothing is read from anything else)
    int error = 0;         // errno when seeking or reading failed, or opening (read_in_folder)
    bool cut = false;      // the file went on past the bound: only the bound was read
    long long size = 0;    // the file's size when it was opened
};

// Reads the regular file open as `fd` from byte `from` on, at most `max` bytes, and closes it.
// True when it was read, up to the bound when it goes on past it (then r->cut is set).
bool read_bounded(int fd, size_t max, long long from, std::string* text, BoundedRead* r);

// open_beneath (non-blocking, read only) and read_bounded from the start.
bool read_in_folder(const std::string& dir, const std::string& rel, size_t max, FolderLinks links, std::string* text,
                    BoundedRead* r);
