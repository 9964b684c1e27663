// Running one of the suite's programs as a child process with a time limit, keeping its standard
// output, standard error and exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ChildPlan {
    std::vector<std::string> argv;     // argv[0]: path of the program
    std::vector<std::string> env;      // NAME=VALUE set on top of our own environment
    std::string cwd;                   // empty: ours
    std::string out_path, err_path;    // where standard output and error go (made afresh)
    double stop_after_s = -1;          // SIGTERM after this long (daemons), -1: never
    double limit_s = 60;               // SIGKILL after this long
    // Called about every 100 ms while the child runs, with the seconds since it started.
    std::function<void(double)> tick;
};

struct ChildResult {
    bool started = false;       // false: it could not be run at all (error says why)
    std::string error;
    int exit_code = -1;         // -1 when ended by a signal
    int signal = 0;
    bool stopped = false;       // we sent the SIGTERM of stop_after_s
    bool killed = false;        // we hit the limit
    int pid = 0;
    double seconds = 0;
};

ChildResult run_child(const ChildPlan& plan);

// When we are interrupted or terminated, the running child's process group gets SIGTERM first, so
// that no daemon is left switching the board's power on its own. Every child also gets SIGTERM when
// we end in any other way (SIGKILL included).
void forward_termination();
// Commands (argv[0] a path) that put the board back as it was, run one after the other when we are
// interrupted or terminated; empty: none. Replaces the ones given before.
void restore_on_termination(const std::vector<std::vector<std::string>>& commands);

// "exit status 0", "ended by signal 15 (ours, after 6 s)", "killed at the time limit of 60 s".
std::string describe_end(const ChildResult& r, const ChildPlan& plan);

// A program's path: next to our own executable, else on PATH; empty when not found.
std::string find_program(const std::string& name);
// The ids of the running processes whose command name is `name`, in increasing order.
std::vector<long> processes_named(const std::string& name);
// The folder holding our own executable.
std::string self_dir();
double now_s();
