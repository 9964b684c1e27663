// The checks, one function per subsystem (check_<subsystem>.cpp), and what every check shares:
// where the output goes, whether the board is simulated, and how a check is made and kept.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "boardfiles/board_folder.h"
#include "bringupcheck/registry.h"
#include "bringupcheck/results.h"

struct Context {
    std::string out;            // output folder, absolute
    std::string sim;            // simulated board folder, or empty on a real board
    boardfiles::Settings settings;  // the simulated board's board.conf
    std::string preload;        // simulated board: the libboardsim.so given for boardsim to preload, or empty
    std::string boardsim;       // the boardsim command, or empty
    bool trace_only = false;    // real board: `boardsim run --trace-only` keeps a trace of each program
    bool do_switch = false;
    double seconds = 10;
    std::vector<int> attach_ports;  // simulated board: a device comes and goes here during each USB daemon run
    long long audio_rate = bringup::board_default::audio_rate;  // bytes per second the audio driver plays (real board)
    std::string prefix;         // the suite's installed root (bin/, share/board-bringup/)
    bool progress = false;      // standard output is a terminal
    std::function<void(const Check&)> show;  // called as each check ends
    Results results;
    int retries = 0;            // a failed check is run again up to this many times
    std::string rerun;          // while a failed check runs again: its name (the others are not run)
    Check rerun_result;         // and what it came to
    bool rerun_done = false;
};

void check_audio(Context& ctx);
void check_usb(Context& ctx);
void check_wifi(Context& ctx);
void check_egl(Context& ctx);
void check_gpu(Context& ctx);

// Each subsystem and the function that makes its checks, in the order they are made (registry.h).
struct SubsystemChecks {
    const char* subsystem;
    void (*checks)(Context& ctx);
};
#define BRINGUP_RUN_ROW(name, title, report_place, checks, section) {#name, checks},
inline constexpr SubsystemChecks kSubsystemChecks[] = {BRINGUP_CHECKS(BRINGUP_RUN_ROW, BRINGUP_NO_ROW)};
#undef BRINGUP_RUN_ROW

// A check of the run, not yet judged.
Check new_check(const std::string& name, const std::string& subsystem, const std::string& program);
void verdict(Check& c, Verdict v, const std::string& reason);
// Keeps a finished check and shows its line at once; while another check runs again, drops it.
void record(Context& ctx, const Check& c);
// True while a failed check other than `name` runs again: `name` is then not run at all.
bool retrying_another(const Context& ctx, const std::string& name);
// Runs a subsystem's checks (`checks`), then each of them that failed again, up to ctx.retries
// times, until it passes. Each failed attempt's evidence is kept in <subsystem>/attempt-N/.
void run_with_retries(Context& ctx, void (*checks)(Context&));

// A first problem and how many more there were, as one line.
std::string first_of(const std::vector<std::string>& problems);
std::string first_line(const std::string& text);
// One number in a printf format, for a reason.
std::string fmt(const char* format, double v);
