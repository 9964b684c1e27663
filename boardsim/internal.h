// Pieces of the board core shared by the preload wrappers and the `boardsim` command; not part of
// the interface the emulated drivers use (that is boardsim.h).
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "boardsim.h"

namespace boardsim {
namespace core {

// Plain system calls: the core's own file work must never go through the wrapped entry points.
int raw_open(const char* path, int flags, mode_t mode = 0);
ssize_t raw_read(int fd, void* buf, size_t count);
ssize_t raw_write(int fd, const void* buf, size_t count);
int raw_close(int fd);

// Opens a file of the board (or the trace) only when it is a regular file: never through a link,
// never out of the board folder, never waiting (a FIFO); -1 with errno otherwise.
int open_regular(const std::string& path, int flags, mode_t mode = 0);

// Whole-file helpers on top of open_regular; read_text returns false when the file cannot be read.
bool read_text(const std::string& path, std::string* text);
bool write_text(const std::string& path, const std::string& text);

// The emulated device of a board in use whose node path is exactly `path`, or null (always null
// with no board).
const Device* find_device(const char* path);
// The registered device whose node path is `path`, board or not: the nodes a trace-only run
// traces on the real system.
const Device* device_node(const char* path);
std::vector<const SysfsHook*> sysfs_hooks();
std::vector<const Profile*> profiles();
std::vector<void (*)()> builders();

// True when `path` starts with "/sys/" (or is "/sys").
bool under_sys(const char* path);
// True when `path` starts with "/sys/" (or is "/sys") and a board is in use.
bool is_sys_path(const char* path);
// The path of the trace being written, or empty when nothing is traced.
const std::string& trace_file();
// True when no board is in use but a trace is kept (BOARDSIM_TRACE): the program runs on the real
// devices and attributes, and its operations on them are only recorded.
bool trace_only();
// True when the settings list `path` under fault.deny.
bool denied(const char* path);

// Bytes as a C string literal with its quotes: "on", "1\n", "\001".
std::string c_literal(const char* bytes, size_t count);

// A list of call numbers such as "3", "2,5", "4-6" or "7-" (7 and every later one).
bool in_call_list(const std::string& list, long long call);

}  // namespace core
}  // namespace boardsim
