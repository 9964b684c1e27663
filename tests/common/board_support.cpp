#include "board_support.h"
#include "boardfiles/board_names.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <thread>

namespace board {

namespace {

std::string preload_library() { return testutil::build_dir() + "/boardsim/" + boardfiles::kPreloadLibrary; }

void boardsim(const std::vector<std::string>& args) {
    testutil::RunResult r = command(args);
    if (r.exit_code != 0) throw std::runtime_error("boardsim failed: " + r.err);
}

std::vector<std::string> board_env(const std::string& dir) {
    return {std::string(boardfiles::kBoardEnv) + "=" + dir, "LD_PRELOAD=" + preload_library()};
}

std::string program_path(const std::string& program) {
    return program.find('/') == std::string::npos ? testutil::stage_bin(program) : program;
}

// Undoes the C string literal of a trace detail: "\"on\"" gives on.
std::string unquote(const std::string& literal) {
    std::string s = literal;
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char e = s[++i];
        if (e == 'n') out += '\n';
        else if (e == 't') out += '\t';
        else if (e == 'r') out += '\r';
        else if (e >= '0' && e <= '7') {
            int v = e - '0';
            for (int k = 0; k < 2 && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7'; k++)
                v = v * 8 + (s[++i] - '0');
            out += char(v);
        } else out += e;
    }
    return out;
}

}  // namespace

std::string command_path() { return testutil::build_dir() + "/boardsim/boardsim"; }

testutil::RunResult command(const std::vector<std::string>& args) {
    testutil::RunOptions o;
    o.argv = {command_path()};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    return testutil::run(o);
}

std::string make(const std::string& tag, const std::vector<std::string>& args) {
    std::string dir = testutil::make_temp_dir(tag) + "/board";
    std::vector<std::string> a = {"create", dir};
    a.insert(a.end(), args.begin(), args.end());
    boardsim(a);
    return dir;
}

testutil::RunResult run(const std::string& dir, const std::vector<std::string>& argv,
                        double term_after_s) {
    testutil::RunOptions o;
    o.argv = argv;
    o.argv[0] = program_path(argv[0]);
    o.env = board_env(dir);
    o.term_after_s = term_after_s;
    o.timeout_s = term_after_s > 0 ? term_after_s + 30 : 60;
    return testutil::run(o);
}

void attach(const std::string& dir, int port) { boardsim({"attach", dir, std::to_string(port)}); }
void detach(const std::string& dir, int port) { boardsim({"detach", dir, std::to_string(port)}); }

std::vector<TraceLine> trace(const std::string& dir) { return testutil::read_trace(dir); }

std::vector<Change> changes(const std::vector<TraceLine>& lines) {
    std::map<std::string, std::string> open_for_write;  // path -> bytes so far
    std::vector<Change> out;
    for (const TraceLine& l : lines) {
        if (l.op == "open" && l.result >= 0 && (l.detail == "w" || l.detail == "a")) {
            open_for_write[l.path] = "";
        } else if (l.op == "write" && open_for_write.count(l.path)) {
            open_for_write[l.path] += unquote(l.detail);
        } else if (l.op == "close" && open_for_write.count(l.path)) {
            out.push_back({l.time, l.path + "=" + open_for_write[l.path]});
            open_for_write.erase(l.path);
        }
    }
    return out;
}

std::vector<std::string> change_texts(const std::vector<TraceLine>& lines) {
    std::vector<std::string> out;
    for (const Change& c : changes(lines)) out.push_back(c.text);
    return out;
}

int count(const std::vector<TraceLine>& lines, const std::string& op, const std::string& path) {
    int n = 0;
    for (const TraceLine& l : lines)
        if (l.op == op && l.path == path) n++;
    return n;
}

Daemon start(const std::string& dir, const std::vector<std::string>& argv) {
    Daemon d;
    d.out_path = dir + "/daemon.out." + std::to_string(std::rand());
    ChildPlan plan;
    plan.argv = argv;
    plan.argv[0] = program_path(argv[0]);
    plan.env = board_env(dir);
    plan.out_path = d.out_path;
    plan.err_path = d.out_path + ".err";
    std::string error;
    if (!start_child(plan, &d.child, &error)) throw std::runtime_error(error);
    return d;
}

std::string stop(Daemon& d) {
    if (d.child.pid > 0) {
        kill(d.child.pid, SIGTERM);
        int status = 0;
        await_child(&d.child, -1, &status);
        d.child.pid = -1;
    }
    // What it said on standard error belongs in the test's log (a sanitizer's report among it).
    std::cerr << testutil::read_file(d.out_path + ".err");
    return testutil::read_file(d.out_path);
}

bool wait_until(const std::string& dir, bool (*pred)(const std::vector<TraceLine>&, const void*),
                const void* ctx, double timeout_s) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s * testutil::time_scale());
    while (true) {
        if (pred(trace(dir), ctx)) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace board
