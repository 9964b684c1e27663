// Running a program of the suite for a check: its output and, on a simulated board or with a
// trace-only run, its part of the board's trace are kept as the check's evidence.
#pragma once

#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

#include "bringupcheck/checks.h"
#include "bringupcheck/proc.h"
#include "judge/trace.h"

// A program's part of a board trace is read up to this much: a long run leaves several MB.
const size_t kTraceMax = size_t(64) << 20;

// What to run for a check, and how.
struct ProgramToRun {
    std::string program;               // the suite's program, by name
    std::vector<std::string> args;
    std::string sub;                   // the output subfolder its evidence goes to
    std::string base;                  // <base>.out, .err and .trace; the program's name when empty
    std::string cwd;                   // where it runs; empty: where bringup-check runs
    double stop_after = -1;            // SIGTERM after this many seconds (-1: never)
    double limit = 60;                 // SIGKILL after this many seconds
    std::string waiting;               // shown on the progress line meanwhile
    std::function<void(double)> tick;  // called as the child runs, with the seconds since it started
    std::vector<std::string> env;      // added to the child's environment
    bool on_board = true;              // false for programs that touch no device of the board
};

// A program's run: how it was started, how it ended, what it printed and did to the board.
struct ProgramRun {
    ChildPlan plan;
    ChildResult res;
    std::string out_text, err_text;
    judge::Trace trace;
    bool traced = false;
    std::string trace_problem;  // why the board's trace was not read
    bool trace_cut = false;     // only its first kTraceMax bytes were read
};

// Where the suite's `program` is: beside bringup-check's own, else on PATH; empty when neither.
std::string program_path(const Context& ctx, const std::string& program);

// The demos and configlist come in a package of their own, which a board may lack: their checks
// are then left out, not failed. True (with the check recorded as skipped) when that is so.
bool skipped_as_not_installed(Context& ctx, Check& c, const std::string& program);

// Runs the program with its output in <out>/<sub>/<base>.out and .err, and its trace in
// <base>.trace when one can be kept; on a simulated board through `boardsim run`, which becomes the
// program. The evidence paths are added to the check.
ProgramRun run_program(Context& ctx, Check& check, const ProgramToRun& what);

// "LD_PRELOAD=..." for a child: `lib` after what we have preloaded ourselves (a sanitizer runtime
// must stay first).
std::string preload_setting(const std::string& lib);

// A check whose program's trace was refused is not judged: it fails, saying why. A trace cut at
// its bound is judged on what was read, and the reason says so.
void judge_trace_read(Check& c, const ProgramRun& ran);
