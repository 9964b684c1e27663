// campaign: draws seeded random schedules for the simulated board, runs the installed programs on
// them and checks invariants on every run. A failing run prints its seed and the one command that
// replays it.
//
//   campaign [--seed N | --random-seed] [--runs N] [--minutes M] [--only pcm,usb,wlan]
//            [--jobs J] [--long] [--keep]
//   campaign --replay KIND:SEED [--keep]
#include "campaign.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "boardfiles/board_folder.h"

namespace campaign {

namespace {

const Kind kKinds[] = {
    {"pcm", run_pcmcapture},
    {"usb", run_usb},
    {"wlan", run_wlanpower},
};

std::string boardsim_path() { return testutil::build_dir() + "/boardsim/boardsim"; }

uint64_t splitmix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

struct Options {
    uint64_t seed = 1;
    long runs = -1;
    double minutes = -1;
    std::vector<const Kind*> kinds;
    int jobs = 2;
    bool keep = false;
    double scale = 1;
    std::string replay;
    std::string self;
};

struct Totals {
    std::mutex lock;
    long runs = 0;
    long runs_by_kind[3] = {0, 0, 0};
    long faults = 0;
    long failed_runs = 0;
    long failures = 0;
};

const Kind* kind_named(const std::string& name) {
    for (const Kind& k : kKinds)
        if (name == k.name) return &k;
    return nullptr;
}

std::string hex(uint64_t v) {
    char text[32];
    snprintf(text, sizeof text, "0x%016" PRIx64, v);
    return text;
}

// Runs one schedule; returns true when every invariant held.
bool run_one(const Kind& kind, uint64_t seed, const Options& options, Totals* totals) {
    const std::string base = testutil::build_dir() + "/campaign/" + kind.name + "-" + hex(seed);
    boardfiles::remove_tree(base);
    mkdir((testutil::build_dir() + "/campaign").c_str(), 0755);
    mkdir(base.c_str(), 0755);
    RunDirs dirs{base + "/board", base + "/work"};
    mkdir(dirs.work.c_str(), 0755);
    Rng rng(seed);
    Outcome outcome = kind.run(rng, dirs, options.scale);
    const bool ok = outcome.failures.empty();
    {
        std::lock_guard<std::mutex> guard(totals->lock);
        totals->runs++;
        totals->runs_by_kind[&kind - kKinds]++;
        totals->faults += outcome.faults;
        if (!ok) {
            totals->failed_runs++;
            totals->failures += long(outcome.failures.size());
            std::string report = "FAILED run " + std::string(kind.name) + ":" + hex(seed) + "\n";
            report += "  schedule: " + outcome.schedule + "\n";
            for (const std::string& f : outcome.failures) report += "  invariant: " + f + "\n";
            report += "  replay: " + options.self + " --replay " + kind.name + ":" + hex(seed) +
                      (options.scale != 1 ? " --long" : "") + " --keep\n";
            report += "  kept: " + base + "\n";
            fputs(report.c_str(), stdout);
            fflush(stdout);
        }
    }
    if (ok && !options.keep) boardfiles::remove_tree(base);
    return ok;
}

void usage() {
    fputs("usage: campaign [--seed N | --random-seed] [--runs N] [--minutes M] [--only pcm,usb,wlan]\n"
          "                [--jobs J] [--long] [--keep]\n"
          "       campaign --replay KIND:SEED [--long] [--keep]\n",
          stderr);
}

bool parse_options(int argc, char** argv, Options* o) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    o->self = n > 0 ? std::string(self, size_t(n)) : argv[0];
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--seed" && has_value) {
            o->seed = strtoull(argv[++i], nullptr, 0);
        } else if (a == "--random-seed") {
            struct timespec ts;
            clock_gettime(CLOCK_REALTIME, &ts);
            o->seed = splitmix(uint64_t(ts.tv_nsec) ^ (uint64_t(ts.tv_sec) << 20) ^ uint64_t(getpid()));
        } else if (a == "--runs" && has_value) {
            o->runs = strtol(argv[++i], nullptr, 10);
        } else if (a == "--minutes" && has_value) {
            o->minutes = strtod(argv[++i], nullptr);
        } else if (a == "--jobs" && has_value) {
            o->jobs = int(strtol(argv[++i], nullptr, 10));
        } else if (a == "--only" && has_value) {
            std::string list = argv[++i];
            size_t pos = 0;
            while (pos <= list.size()) {
                size_t comma = list.find(',', pos);
                if (comma == std::string::npos) comma = list.size();
                const Kind* k = kind_named(list.substr(pos, comma - pos));
                if (k == nullptr) return false;
                o->kinds.push_back(k);
                pos = comma + 1;
            }
        } else if (a == "--replay" && has_value) {
            o->replay = argv[++i];
        } else if (a == "--long") {
            o->scale = 3;
        } else if (a == "--keep") {
            o->keep = true;
        } else {
            return false;
        }
    }
    if (o->kinds.empty())
        for (const Kind& k : kKinds) o->kinds.push_back(&k);
    if (o->jobs < 1) o->jobs = 1;
    if (o->runs < 0 && o->minutes < 0) o->runs = 12;
    return true;
}

}  // namespace

// ---- Helpers for the kinds -------------------------------------------------------------------

bool make_board(const std::string& dir, const std::vector<std::string>& settings, std::string* error) {
    ChildPlan plan;
    plan.argv = {boardsim_path(), "create", dir};
    plan.argv.insert(plan.argv.end(), settings.begin(), settings.end());
    plan.capture = true;
    ChildResult r = run_child(plan);
    if (r.started && !r.killed && r.exit_code == 0) return true;
    *error = "boardsim create failed: " + (r.started ? r.out + r.err : r.error);
    return false;
}

Process start_on_board(const RunDirs& dirs, const std::string& program,
                       const std::vector<std::string>& args) {
    Process p;
    p.out_path = dirs.work + "/stdout.txt";
    p.err_path = dirs.work + "/stderr.txt";
    ChildPlan plan;
    plan.argv = {boardsim_path(), "run", dirs.board, "--", testutil::stage_bin(program)};
    plan.argv.insert(plan.argv.end(), args.begin(), args.end());
    plan.cwd = dirs.work;
    plan.out_path = p.out_path;
    plan.err_path = p.err_path;
    std::string error;
    if (!start_child(plan, &p.child, &error)) p.child.pid = -1;
    return p;
}

bool boardsim_command(const std::string& verb, const std::string& board, const std::string& arg) {
    ChildPlan plan;
    plan.argv = {boardsim_path(), verb, board, arg};
    plan.limit_s = 30;
    ChildResult r = run_child(plan);
    return r.started && !r.killed && r.exit_code == 0;
}

bool wait_for(Process& p, double timeout_s, int* status) {
    return p.child.pid > 0 && await_child(&p.child, timeout_s, status);
}

double now_realtime() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void sleep_for(double seconds) {
    struct timespec ts;
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long((seconds - double(ts.tv_sec)) * 1e9);
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::vector<testutil::TraceLine> trace_of(const std::string& board) {
    return testutil::read_trace(board);
}

void check_clean_end(const std::string& err, int status, Outcome* outcome, bool expect_exit,
                     int expected_code) {
    for (const char* mark : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer",
                             "WARNING: ThreadSanitizer", "ERROR: ThreadSanitizer"}) {
        if (err.find(mark) != std::string::npos) {
            outcome->fail(std::string("sanitizer report: ") + err.substr(0, 2000));
            return;
        }
    }
    if (WIFSIGNALED(status)) {
        outcome->fail("ended by signal " + std::to_string(WTERMSIG(status)));
    } else if (expect_exit && WIFEXITED(status) && WEXITSTATUS(status) != expected_code) {
        outcome->fail("exit status " + std::to_string(WEXITSTATUS(status)) + ", expected " +
                      std::to_string(expected_code));
    }
}

}  // namespace campaign

int main(int argc, char** argv) {
    using namespace campaign;
    Options options;
    if (!parse_options(argc, argv, &options)) {
        usage();
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    Totals totals;
    if (!options.replay.empty()) {
        const size_t colon = options.replay.find(':');
        const Kind* kind = colon == std::string::npos ? nullptr : kind_named(options.replay.substr(0, colon));
        if (kind == nullptr) {
            usage();
            return 2;
        }
        const uint64_t seed = strtoull(options.replay.c_str() + colon + 1, nullptr, 0);
        const bool ok = run_one(*kind, seed, options, &totals);
        printf("replay %s: %s\n", options.replay.c_str(), ok ? "every invariant held" : "FAILED");
        return ok ? 0 : 1;
    }

    printf("campaign seed %s (replay the whole campaign: %s --seed %s%s%s)\n", hex(options.seed).c_str(),
           options.self.c_str(), hex(options.seed).c_str(),
           options.runs >= 0 ? (" --runs " + std::to_string(options.runs)).c_str() : "",
           options.scale != 1 ? " --long" : "");
    fflush(stdout);
    const double start = now_realtime();
    const double deadline = options.minutes >= 0 ? start + options.minutes * 60 : 0;
    std::atomic<long> next{0};
    auto worker = [&] {
        for (;;) {
            const long i = next++;
            if (options.runs >= 0 && i >= options.runs) return;
            if (deadline > 0 && now_realtime() >= deadline) return;
            const uint64_t seed = splitmix(options.seed ^ splitmix(uint64_t(i)));
            const Kind& kind = *options.kinds[seed % options.kinds.size()];
            run_one(kind, splitmix(seed), options, &totals);
        }
    };
    std::vector<std::thread> workers;
    for (int j = 0; j < options.jobs; ++j) workers.emplace_back(worker);
    // A long campaign says how it goes every five minutes.
    std::atomic<bool> done{false};
    std::thread progress([&] {
        double next_report = start + 300;
        while (!done) {
            sleep_for(0.5);
            if (now_realtime() < next_report) continue;
            next_report += 300;
            std::lock_guard<std::mutex> guard(totals.lock);
            printf("... %.0f min: %ld runs, %ld faults injected, %ld invariant failures\n",
                   (now_realtime() - start) / 60, totals.runs, totals.faults, totals.failures);
            fflush(stdout);
        }
    });
    for (std::thread& t : workers) t.join();
    done = true;
    progress.join();

    printf("campaign %s: %ld runs (pcmcapture %ld, usb daemons %ld, wlanpower %ld), %ld schedules, "
           "%ld faults injected, %ld invariant failures in %ld runs, %.1f min\n",
           hex(options.seed).c_str(), totals.runs, totals.runs_by_kind[0], totals.runs_by_kind[1],
           totals.runs_by_kind[2], totals.runs, totals.faults, totals.failures, totals.failed_runs,
           (now_realtime() - start) / 60);
    return totals.failed_runs == 0 ? 0 : 1;
}
