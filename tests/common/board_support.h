// Running the installed programs on a simulated board and reading what they did from its trace.
#pragma once

#include <string>
#include <vector>

#include "bringupcheck/proc.h"
#include "runprog.h"

namespace board {

// The `boardsim` command of this build, and a run of it with the given arguments.
std::string command_path();
testutil::RunResult command(const std::vector<std::string>& args);

// Makes a board folder with `boardsim create`: args are "--profile NAME" and key=value settings.
std::string make(const std::string& tag, const std::vector<std::string>& args);

// Runs an installed program on the board until it ends (or SIGTERM after term_after_s).
testutil::RunResult run(const std::string& dir, const std::vector<std::string>& argv,
                        double term_after_s = -1);

// `boardsim attach|detach <dir> <port>`.
void attach(const std::string& dir, int port);
void detach(const std::string& dir, int port);

using TraceLine = testutil::TraceLine;
std::vector<TraceLine> trace(const std::string& dir);

// One value taking effect: a file opened for writing was closed. text is "<path>=<bytes>" with the
// bytes as written (no quotes); a file closed unwritten gives "<path>=".
struct Change {
    double t = 0;
    std::string text;
};
std::vector<Change> changes(const std::vector<TraceLine>& lines);
std::vector<std::string> change_texts(const std::vector<TraceLine>& lines);
// Every line of the trace with the given op and path.
int count(const std::vector<TraceLine>& lines, const std::string& op, const std::string& path);

// A daemon started in the background on a board, its standard output going to a file and its
// standard error to the test's.
struct Daemon {
    Child child;
    std::string out_path;
};
Daemon start(const std::string& dir, const std::vector<std::string>& argv);
// SIGTERM, wait; returns what it printed.
std::string stop(Daemon& d);
// Polls the board's trace until pred is true (true) or timeout_s (times testutil::time_scale())
// passes (false).
template <typename Pred>
bool wait_for(const std::string& dir, Pred pred, double timeout_s = 30);
bool wait_until(const std::string& dir, bool (*pred)(const std::vector<TraceLine>&, const void*),
                const void* ctx, double timeout_s);

template <typename Pred>
bool wait_for(const std::string& dir, Pred pred, double timeout_s) {
    return wait_until(
        dir,
        [](const std::vector<TraceLine>& lines, const void* ctx) {
            return (*static_cast<const Pred*>(ctx))(lines);
        },
        &pred, timeout_s);
}

}  // namespace board
