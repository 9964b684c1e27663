// The fault campaign: seeded random schedules for the simulated board, the installed programs run
// on them, and invariants checked on every run.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bringupcheck/proc.h"
#include "runprog.h"

namespace campaign {

// The random source of one run; the run's seed alone decides everything it draws.
struct Rng {
    explicit Rng(uint64_t seed) : engine(seed) {}
    // A whole number in [lo, hi].
    long long between(long long lo, long long hi) {
        return std::uniform_int_distribution<long long>(lo, hi)(engine);
    }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(engine) < p; }
    template <typename T>
    const T& pick(const std::vector<T>& items) {
        return items[size_t(between(0, (long long)items.size() - 1))];
    }
    std::mt19937_64 engine;
};

// What a run did and what was wrong with it.
struct Outcome {
    std::string schedule;             // the drawn settings and events, for the failure report
    int faults = 0;                   // faults injected (fault settings, malformed texts, events)
    std::vector<std::string> failures;
    void fail(const std::string& what) { failures.push_back(what); }
};

// Where a run works: a board folder and the program's working directory.
struct RunDirs {
    std::string board;
    std::string work;
};

// A started program (child.pid is the program itself: `boardsim run` execs it; -1 when it could
// not be started) and where its standard output and error go.
struct Process {
    Child child;
    std::string out_path, err_path;
};

// Creates a board folder with `boardsim create` and the given settings; false when it failed.
bool make_board(const std::string& dir, const std::vector<std::string>& settings, std::string* error);
// Starts an installed program on a board, in the given working directory.
Process start_on_board(const RunDirs& dirs, const std::string& program,
                       const std::vector<std::string>& args);
// Runs `boardsim <verb> <board> <arg>` to its end; true on status 0.
bool boardsim_command(const std::string& verb, const std::string& board, const std::string& arg);
// Waits for the process for up to timeout seconds: true and its status when it ended.
bool wait_for(Process& p, double timeout_s, int* status);
double now_realtime();
void sleep_for(double seconds);

// The board's trace lines, in order.
std::vector<testutil::TraceLine> trace_of(const std::string& board);
// Checks a program's standard error for sanitizer reports and crashes.
void check_clean_end(const std::string& err, int status, Outcome* outcome, bool expect_exit,
                     int expected_code);

// One kind of run: draws its schedule from the run's random source, runs it and judges it.
struct Kind {
    const char* name;
    Outcome (*run)(Rng& rng, const RunDirs& dirs, double scale);
};
Outcome run_pcmcapture(Rng& rng, const RunDirs& dirs, double scale);
Outcome run_usb(Rng& rng, const RunDirs& dirs, double scale);
Outcome run_wlanpower(Rng& rng, const RunDirs& dirs, double scale);

}  // namespace campaign
