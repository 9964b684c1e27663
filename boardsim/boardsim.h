// The simulated board: the interface between the preload core (path redirection, descriptor
// table, trace, settings, faults) and the emulated drivers (audio ring, USB kernel model, Wi-Fi
// power). Nothing here is linked into a shipped program.
//
// Board folder (named by the environment variable BOARDSIM_DIR):
//   board.conf     settings, one "key = value" per line, '#' starts a comment
//   sys/...        the sysfs tree: "/sys/X" is redirected to "<board>/sys/X"
//   trace.log      one line per device or attribute operation, appended in order
//   state/         run-time state of the emulated drivers (attached devices, power, counters)
//
// Trace line: its format is defined once, in trace_line.h. Each line is appended with one write()
// on an O_APPEND descriptor so that lines of several processes and threads never interleave.
#pragma once

#include <sys/types.h>

#include <string>

#include "bringup/board_profiles.h"

namespace boardsim {

// Board folder, or empty when BOARDSIM_DIR is not set (the library then passes everything through).
const std::string& board_dir();

// Settings from <board>/board.conf, read once per process on first use (board_folder.h reads them).
std::string setting(const std::string& key, const std::string& fallback);
// A setting of the table include/bringup/board_settings.h: its text, or the table's default when
// it is missing or empty.
std::string setting(const std::string& key);
// A numeric setting as the board takes it: the key's default when it is missing, malformed or out
// of its range.
long long setting_number(const std::string& key);
// audio.tone_hz, to the milli-hertz.
double setting_tone_hz();

// Appends one trace line.
void trace(const char* op, const char* path, const std::string& detail, long long result);

// Counts one event of the named kind for this board (the count is kept in state/ so that it
// spans processes) and returns the new count, starting at 1.
long long count_event(const std::string& name);

// Maps a "/sys/..." path to the board folder; other paths are returned unchanged.
std::string redirect(const char* path);

// An emulated character device. The core creates a real descriptor (memfd) for every open so
// that dup, close and poll behave; it calls these hooks with that descriptor.
struct Device {
    const char* path;                                    // "/dev/qvaudio_out"
    bool (*present)();                                   // the node exists now
    int (*on_open)(int fd, int flags);                   // 0, or -errno to refuse the open
    long (*on_ioctl)(int fd, unsigned long request, unsigned long arg);  // ioctl's result; set errno on -1
    ssize_t (*on_read)(int fd, void* buf, size_t count); // read's result; set errno on -1
    void (*on_close)(int fd);
    // Whether a request carries an argument worth tracing; null: no request does.
    bool (*ioctl_has_arg)(unsigned long request);
};
void register_device(const Device* device);

// Hooks on the redirected sysfs tree, for the kernel model behind the attributes.
struct SysfsHook {
    // Before a "/sys/..." file is opened for reading: may rewrite the file in the board folder.
    void (*before_read)(const std::string& sys_path, const std::string& real_path);
    // After a "/sys/..." file opened for writing was closed, with every byte written to it.
    void (*after_write)(const std::string& sys_path, const std::string& real_path,
                        const std::string& bytes);
};
void register_sysfs_hook(const SysfsHook* hook);

// A named set of settings for `boardsim create <dir> --profile NAME`, in board.conf form. The
// profiles are include/bringup/board_profiles.h, shared with the kernel board; board.conf gets the
// parts of "default" first, then those of the chosen profile, then the key=value pairs of the
// command line (a later key overrides).
using Profile = board_profile;

// Called by `boardsim create` once board.conf is written (board_dir() and setting() then answer for
// the new board): makes the module's part of sys/ and state/.
void register_builder(void (*build)());

}  // namespace boardsim
