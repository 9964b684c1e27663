// The names a simulated board is found by: the environment that tells the preloaded library which
// board folder (or trace file) to work on, what a board folder holds, and the library itself.
// Written here once, for the simulated board, bringup-check and the tests alike.
#pragma once

namespace boardfiles {

// The board folder a preloaded program works on.
constexpr char kBoardEnv[] = "BOARDSIM_DIR";
// A trace-only run's trace file (no board folder: the real devices, traced).
constexpr char kTraceEnv[] = "BOARDSIM_TRACE";

// A board folder's settings, "key = value" lines.
constexpr char kSettingsFile[] = "board.conf";
// A board folder's trace, one line per device or attribute operation; also a trace-only run's
// default trace file.
constexpr char kTraceFile[] = "trace.log";
// A board folder's run-time state of the emulated drivers (attached devices, power, counters).
constexpr char kStateDir[] = "state";
// A board folder's sysfs tree: "/sys/X" is redirected to "<board>/sys/X".
constexpr char kSysDir[] = "sys";

// The preload library that makes a program's board the simulated one, installed beside the
// boardsim command.
constexpr char kPreloadLibrary[] = "libboardsim.so";

}  // namespace boardfiles
