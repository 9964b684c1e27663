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
    // Standard output and error come back in the result instead of going to out_path and err_path.
    bool capture = false;
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
    std::string out, err;       // with capture
};

ChildResult run_child(const ChildPlan& plan);

// A child left running alongside us (a daemon while we act on the board). Its plan's time limits
// and capture do not apply; it is ours to signal and to wait for.
struct Child {
    int pid = -1;
    int pidfd = -1;             // readable once it ended; -1 where the system has none
    int slot = -1;              // its process group among the ones signalled on our termination
    int out = -1, err = -1;     // our ends of the pipes of a capture
    double start = 0;
};
// Starts the plan's program; false, with *error saying why, when it cannot be run at all.
bool start_child(const ChildPlan& plan, Child* child, std::string* error);
// Waits up to timeout_s (-1: for as long as it takes) for the child's end: true, with its wait
// status, once it ended (its pid is then free for another process), false while it runs.
bool await_child(Child* child, double timeout_s, int* status);

// When we are interrupted or terminated, the running child's process group gets SIGTERM first, so
// that no daemon is left switching the board's power on its own. Every child also gets SIGTERM when
// we end in any other way (SIGKILL included).
void forward_termination();
// Commands (argv[0] a path) that put the board back as it was, run one after the other when we are
// interrupted or terminated; empty: none. Replaces the ones given before.
void restore_on_termination(const std::vector<std::vector<std::string>>& commands);

// The runner's record of the children's process groups that termination signals (-1: no room).
int watch_group(int pid);
void unwatch_group(int slot);

// "exit status 0", "ended by signal 15 (ours, after 6 s)", "killed at the time limit of 60 s".
std::string describe_end(const ChildResult& r, const ChildPlan& plan);

// A program's path: next to our own executable, else on PATH; empty when not found.
std::string find_program(const std::string& name);
// The ids of the running processes whose command name is `name`, in increasing order.
std::vector<long> processes_named(const std::string& name);
// The folder holding our own executable.
std::string self_dir();
double now_s();
