// Runs a program the way a user would and captures everything it does.
#pragma once

#include <string>
#include <vector>

#include "bringup/trace_line.h"

namespace testutil {

struct RunOptions {
    std::vector<std::string> argv;     // argv[0] is the program path
    std::vector<std::string> env;      // NAME=VALUE added to (or replacing in) the test's environment
    std::string cwd;                   // working directory; empty: the test's own
    double timeout_s = 120;            // SIGKILL after this long times time_scale() (the result then
                                       // says timed_out)
    double term_after_s = -1;          // SIGTERM after this long (for daemons that run until killed)
};

struct RunResult {
    int exit_code = -1;                // exit status, or -1 when ended by a signal; 127 when it
                                       // could not be run (err says why)
    int signal = 0;                    // terminating signal, or 0
    bool timed_out = false;
    std::string out;                   // standard output
    std::string err;                   // standard error
    double seconds = 0;                // wall time
};

RunResult run(const RunOptions& options);

// How many times longer than natively a program may take on this host: BRINGUP_TIME_SCALE from the
// environment (more than 1 when the programs run under an emulator), 1 when unset or not a number
// of at least 1. Time limits are multiplied by it; how long a test lets a program run is not.
double time_scale();

// Paths of this build.
std::string stage_dir();               // the installed layout (bin/, lib/, share/)
std::string build_dir();
std::string source_dir();
std::string stage_bin(const std::string& program);   // stage_dir() + "/bin/" + program

// A fresh empty directory under the build tree, removed at process exit unless KEEP_TEST_DIRS is set.
std::string make_temp_dir(const std::string& tag);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);

// Splits text into lines without their line ends; a last line without an end is kept.
std::vector<std::string> split_lines(const std::string& text);

// An ioctl request number as the board's trace writes it ("0x6d01").
std::string request_text(unsigned long request);

// One line of a simulated board's trace.log (time, pid, op, path, detail, result).
using TraceLine = bringup::TraceRecord;
// The board's trace in order; empty when there is none yet. A line still being written by
// another process is left out.
std::vector<TraceLine> read_trace(const std::string& board);

}  // namespace testutil
