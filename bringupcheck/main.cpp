// bringup-check: runs the suite's programs on this board (or on a simulated one), judges what they
// did, and writes the verdicts with their evidence and a report page.
#include <dirent.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <set>
#include <string>

#include "boardfiles/folderfile.h"
#include "boardfiles/board_names.h"
#include "bringupcheck/checks.h"
#include "bringupcheck/compare.h"
#include "bringupcheck/outfiles.h"
#include "bringupcheck/outputs.h"
#include "bringupcheck/proc.h"

namespace {

const char kUsage[] =
    "usage: bringup-check [--sim BOARD] [--switch] [--only LIST] [--seconds N] [--out DIR]\n"
    "                     [--boardsim PATH] [--preload LIB] [--attach PORT] [--audio-rate BYTES_PER_S]\n"
    "                     [--retries N] [--baseline DIR [--strict] [--tolerance NAME=VALUE]...]\n"
    "       bringup-check --list [--switch] [--only LIST]\n"
    "       bringup-check --render DIR\n"
    "       bringup-check --compare OLD NEW [--strict] [--tolerance NAME=VALUE]...\n"
    "       bringup-check --version\n"
    "\n"
    "  --sim BOARD      run on a simulated board folder, each program through `boardsim run`\n"
    "  --switch         also run the checks that switch power (USB daemons, Wi-Fi radio)\n"
    "  --only LIST      subsystems to check, comma-separated: %s\n"
    "  --seconds N      how long each daemon and demo runs (default 10)\n"
    "  --out DIR        where results go (default: <host name>-<date>-<time>)\n"
    "  --boardsim PATH  the boardsim command (default: beside bringup-check, else on PATH)\n"
    "  --preload LIB    the libboardsim.so boardsim preloads (default: the one beside it)\n"
    "  --attach PORT    simulated board: a device comes and goes on PORT during each USB daemon run\n"
    "  --audio-rate N   bytes per second the audio driver plays (default %lld)\n"
    "  --retries N      run a failed check again, up to N times (0 to 10); a pass then is flaky\n"
    "  --baseline DIR   compare this run with the earlier run in DIR\n"
    "  --compare OLD NEW  compare the run in NEW with the one in OLD (afterwards)\n"
    "  --strict         a figure drifted beyond its tolerance fails the comparison too\n"
    "  --tolerance NAME=VALUE  the tolerance of figure NAME\n"
    "  --render DIR     write DIR/report.html again from DIR/results.json and the evidence\n"
    "  --list           print the checks a run with the other options given would make, one a line:\n"
    "                   its name, then its main figure's units or -; nothing is run\n"
    "  --version        print bringup-check's version\n"
    "Exit status: 0 every check that ran passed, 1 a check failed (or regressed),\n"
    "2 usage error, 3 the results could not all be written (the output folder refused,\n"
    "or a file of it).\n";

using boardfiles::kPreloadLibrary;

// What the command line asks for beyond the context of the checks.
struct Options {
    std::string out, render_dir, boardsim, preload;
    std::string baseline, compare_old, compare_new;
    bool strict = false;
    Tolerances tolerances;
    int how_to_compare = 0;  // --strict and --tolerance options given
    std::set<std::string> only;
    bool only_given = false;
    bool list = false;  // --list
    int given = 0;  // options given
};

// The usage text, with the subsystems and the board's default audio rate.
void print_usage(FILE* out) { fprintf(out, kUsage, subsystem_names(",").c_str(), bringup::board_default::audio_rate); }

int usage_error(const std::string& message) {
    fprintf(stderr, "bringup-check: %s\n", terminal_text(message).c_str());
    print_usage(stderr);
    return 2;
}

std::string resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string r = real;
    free(real);
    return r;
}

// A whole number in decimal digits only: no sign, fraction, exponent or base prefix.
bool parse_whole(const char* text, double lo, double hi, double* out) {
    if (!*text || strspn(text, "0123456789") != strlen(text) || strlen(text) > 9) return false;
    double v = double(atol(text));
    if (!(v >= lo && v <= hi)) return false;
    *out = v;
    return true;
}

bool parse_number(const char* text, double lo, double hi, double* out) {
    char* end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end || !(v >= lo && v <= hi)) return false;
    *out = v;
    return true;
}

std::string local_time(const char* format) {
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char buf[64];
    strftime(buf, sizeof buf, format, &tm);
    return buf;
}

// Whether this boardsim has `feature`: "trace-only" (keeping a trace on a real board without
// redirecting anything), "preload" (run --preload LIB).
bool boardsim_supports(const std::string& boardsim, const char* feature) {
    ChildPlan s;
    s.argv = {boardsim, "supports", feature};
    s.limit_s = 10;
    ChildResult r = run_child(s);
    return r.started && r.exit_code == 0;
}

// Reads the options into the context and `o`. -1, or the exit status when there is nothing to run
// (--help, a usage error).
int read_options(int argc, char** argv, Context* ctx, Options* o) {
    // Each option as "--name VALUE" or "--name=VALUE"; the codes are the options' indexes.
    enum { kSim, kSwitch, kOnly, kSeconds, kOut, kBoardsim, kPreload, kAttach, kAudioRate, kRender, kHelp,
           kRetries, kBaseline, kCompare, kStrict, kTolerance, kList, kVersion };
    const struct option options[] = {
        {"sim", required_argument, nullptr, kSim},           {"switch", no_argument, nullptr, kSwitch},
        {"only", required_argument, nullptr, kOnly},         {"seconds", required_argument, nullptr, kSeconds},
        {"out", required_argument, nullptr, kOut},           {"boardsim", required_argument, nullptr, kBoardsim},
        {"preload", required_argument, nullptr, kPreload},   {"attach", required_argument, nullptr, kAttach},
        {"audio-rate", required_argument, nullptr, kAudioRate}, {"render", required_argument, nullptr, kRender},
        {"help", no_argument, nullptr, kHelp},               {"retries", required_argument, nullptr, kRetries},
        {"baseline", required_argument, nullptr, kBaseline}, {"compare", required_argument, nullptr, kCompare},
        {"strict", no_argument, nullptr, kStrict},           {"tolerance", required_argument, nullptr, kTolerance},
        {"list", no_argument, nullptr, kList},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    for (int code; (code = getopt_long(argc, argv, "+:h", options, nullptr)) != -1; ++o->given) {
        const char* v = optarg;
        std::string a = argv[optind - 1];  // the option as given, or its value
        if (code == ':') return usage_error(a + " needs a value");
        if (code == '?') return usage_error("unknown argument \"" + a + "\"");
        if (v && !*v) return usage_error(std::string("--") + options[code].name + " needs a value");
        if (code == kHelp || code == 'h') {
            print_usage(stdout);
            return 0;
        } else if (code == kVersion) {
            printf("bringup-check %s\n", BRINGUP_VERSION);
            return 0;
        } else if (code == kSwitch) {
            ctx->do_switch = true;
        } else if (code == kList) {
            o->list = true;
        } else if (code == kSim) {
            ctx->sim = v;
        } else if (code == kOut) {
            o->out = v;
        } else if (code == kRender) {
            o->render_dir = v;
        } else if (code == kBaseline) {
            o->baseline = v;
        } else if (code == kCompare) {
            // OLD is the option's value, NEW the next argument.
            if (optind >= argc || !*argv[optind]) return usage_error("--compare takes two folders, OLD and NEW");
            o->compare_old = v;
            o->compare_new = argv[optind++];
        } else if (code == kStrict) {
            o->strict = true;
            ++o->how_to_compare;
        } else if (code == kTolerance) {
            ++o->how_to_compare;
            std::string error;
            if (!parse_tolerance(v, &o->tolerances, &error)) return usage_error(error);
        } else if (code == kRetries) {
            double n;
            if (!parse_whole(v, 0, 10, &n)) return usage_error("--retries takes a whole number from 0 to 10");
            ctx->retries = int(n);
        } else if (code == kBoardsim) {
            o->boardsim = v;
        } else if (code == kPreload) {
            o->preload = v;
        } else if (code == kSeconds) {
            if (!parse_whole(v, 1, 3600, &ctx->seconds)) return usage_error("--seconds takes a whole number of seconds from 1 to 3600");
        } else if (code == kAudioRate) {
            double rate;
            if (!parse_number(v, 4, 1e9, &rate)) return usage_error("--audio-rate takes a number of bytes per second");
            ctx->audio_rate = (long long)rate;
        } else if (code == kAttach) {
            double port;
            if (!parse_number(v, 0, 1, &port) || port != double(int(port))) return usage_error("--attach takes a port, 0 or 1");
            ctx->attach_ports.push_back(int(port));
        } else {
            o->only_given = true;
            std::string list = v;
            size_t pos = 0;
            while (pos <= list.size()) {
                size_t comma = list.find(',', pos);
                std::string name = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
                if (!is_subsystem(name)) return usage_error("no subsystem \"" + name + "\" (" + subsystem_names(", ") + ")");
                o->only.insert(name);
                if (comma == std::string::npos) break;
                pos = comma + 1;
            }
        }
    }
    if (optind < argc) return usage_error("unknown argument \"" + std::string(argv[optind]) + "\"");
    return -1;
}

// Whether the run checks the subsystem (--only).
bool wanted(const Options& o, const char* subsystem) { return !o.only_given || o.only.count(subsystem); }

// --list: the checks a run with these options would make (those that need --switch only with it),
// one a line, with their main figure's units.
int list_checks(const Context& ctx, const Options& o) {
    for (const CheckRow& c : kChecks)
        if (wanted(o, c.subsystem) && (ctx.do_switch || !c.needs_switch)) printf("%s %s\n", c.name, *c.units ? c.units : "-");
    return 0;
}

// Finds the board: simulated through `boardsim run`, or this one (traced when boardsim can).
// -1, or the exit status of a usage error.
int find_board(Context* ctx, const Options& o) {
    std::string boardsim = o.boardsim, preload = o.preload;
    if (!boardsim.empty() && access(boardsim.c_str(), X_OK) != 0) return usage_error("no boardsim command at " + boardsim);
    if (boardsim.empty()) boardsim = find_program("boardsim");
    // boardsim takes libboardsim.so from beside its own executable once links are resolved (the
    // packages' /usr/bin/boardsim is a link into their private folder): so does this lookup.
    if (!boardsim.empty()) boardsim = resolved(absolute(boardsim));
    if (!ctx->sim.empty()) {
        ctx->sim = absolute(ctx->sim);
        if (access((ctx->sim + "/" + boardfiles::kSettingsFile).c_str(), R_OK) != 0)
            return usage_error("no simulated board in " + ctx->sim + " (no " + boardfiles::kSettingsFile + ")");
        std::string problem;
        if (!boardfiles::read_settings(ctx->sim, &ctx->settings, &problem))
            return usage_error("no simulated board in " + ctx->sim + " (" + problem + ")");
        if (!preload.empty() && access(preload.c_str(), R_OK) != 0) return usage_error("no " + preload + " to preload");
        if (boardsim.empty())
            return usage_error("cannot find the boardsim command (name it with --boardsim; it comes with "
                               BRINGUP_SIM_PACKAGE ")");
        if (preload.empty() && access((dirname_of(boardsim) + "/" + kPreloadLibrary).c_str(), R_OK) != 0)
            return usage_error("cannot find " + std::string(kPreloadLibrary) +
                               " (name it with --preload, or --boardsim; it comes with " BRINGUP_SIM_PACKAGE ")");
        if (!preload.empty() && !boardsim_supports(boardsim, "preload"))
            return usage_error("cannot preload " + preload + " with " + boardsim + " (it has no run --preload)");
        if (!preload.empty()) ctx->preload = absolute(preload);
    } else if (!boardsim.empty() && access((dirname_of(boardsim) + "/" + kPreloadLibrary).c_str(), R_OK) == 0) {
        ctx->trace_only = boardsim_supports(boardsim, "trace-only");
    }
    ctx->boardsim = boardsim;
    return -1;
}

// What the checks ran on: a board simulated through the preload library, the kernel board (the
// simulated board's module loaded into this kernel), or a real board.
const char kKernelBoardParams[] = "/sys/module/bringup_sim/parameters";
const char* board_kind(const Context& ctx) {
    if (!ctx.sim.empty()) return "preloaded";
    return access(kKernelBoardParams, F_OK) == 0 ? "kernel" : "real";
}

// The simulated board's settings: board.conf, or the kernel board's module parameters (each read
// as an attribute is, at most a page).
Json board_settings(const Context& ctx) {
    Json out = Json::object();
    for (const auto& s : ctx.settings) out[s.first] = s.second;
    DIR* d = ctx.sim.empty() ? opendir(kKernelBoardParams) : nullptr;
    for (struct dirent* e; d && (e = readdir(d));) {
        std::string text;
        BoundedRead r;
        if (e->d_name[0] != '.' && read_in_folder(kKernelBoardParams, e->d_name, 4096, kNoLinks, &text, &r))
            out[e->d_name] = text.substr(0, text.find('\n'));
    }
    if (d) closedir(d);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    Context ctx;
    Options o;
    int status = read_options(argc, argv, &ctx, &o);
    if (status >= 0) return status;
    if (o.list) {
        if (!o.render_dir.empty() || !o.compare_old.empty()) return usage_error("--list takes the options of a run");
        return list_checks(ctx, o);
    }
    if (!o.render_dir.empty()) {
        if (o.given != 1) return usage_error("--render takes a folder and nothing else");
        return render(o.render_dir);
    }
    // Comparing two runs afterwards takes only how to compare.
    if (!o.compare_old.empty()) {
        if (o.given != 1 + o.how_to_compare) return usage_error("--compare takes two folders, --strict and --tolerance only");
        return compare_runs(o.compare_old, o.compare_new, o.tolerances, o.strict);
    }
    if (o.baseline.empty() && o.how_to_compare) return usage_error("--strict and --tolerance need --baseline or --compare");
    if (!ctx.attach_ports.empty() && ctx.sim.empty()) return usage_error("--attach needs a simulated board (--sim)");
    if ((status = find_board(&ctx, o)) >= 0) return status;
    forward_termination();
    ctx.prefix = dirname_of(self_dir());
    ctx.progress = isatty(1);

    char host[256] = "board";
    gethostname(host, sizeof host - 1);
    struct utsname u;
    std::string kernel = uname(&u) == 0 ? std::string(u.sysname) + " " + u.release + " " + u.machine : "";
    // The baseline is read before the output folder is cleared: it may be the same folder.
    Results baseline;
    std::string baseline_error;
    if (!o.baseline.empty() && !read_results_folder(absolute(o.baseline), &baseline, &baseline_error))
        fprintf(stderr, "bringup-check: cannot compare with %s: %s\n", terminal_text(o.baseline).c_str(),
                terminal_text(baseline_error).c_str());
    if (make_output_folder(ctx, o.out, std::string(host) + "-" + local_time("%Y%m%d-%H%M%S")) != 0) return kNotCompleted;
    ctx.results.started = local_time("%Y-%m-%dT%H:%M:%S%z");
    ctx.results.board["host"] = host;
    ctx.results.board["kernel"] = kernel;
    ctx.results.board["controller"] = "";
    ctx.results.board["egl_vendor"] = "";
    ctx.results.board["suite"] = BRINGUP_VERSION;
    ctx.results.board["board_kind"] = board_kind(ctx);
    ctx.results.board["settings"] = board_settings(ctx);
    if (!ctx.sim.empty()) ctx.results.board["simulated"] = ctx.sim;

    // Each finished check is shown, and the files are written again with it: a run that is
    // stopped part way still leaves the results of the checks it finished.
    ctx.show = [&ctx](const Check& c) {
        const char* const shown[] = {"PASS", "FAIL", "SKIP"};  // by Verdict
        // A failure that is to be tried again says so; a later attempt says which it is.
        bool again = c.verdict == Verdict::Fail && int(c.attempts.size()) < ctx.retries;
        std::string attempt = c.attempts.empty() ? "" : " (attempt " + std::to_string(c.attempts.size() + 1) + ")";
        printf("%s  %-18s %s%s\n", again ? "RETRY" : shown[int(c.verdict)], terminal_text(c.name).c_str(),
               terminal_text(c.reason).c_str(), attempt.c_str());
        fflush(stdout);
        write_outputs(ctx.out, ctx.results);  // what fails is named at the end
    };
    for (const SubsystemChecks& sub : kSubsystemChecks)
        if (wanted(o, sub.subsystem)) run_with_retries(ctx, sub.checks);
    // Compared once every check has had its retries: a regression is called on the last attempt.
    if (!o.baseline.empty())
        ctx.results.comparison = baseline_error.empty()
                                     ? compare_results(baseline, ctx.results, absolute(o.baseline), o.tolerances, o.strict)
                                     : comparison_error(absolute(o.baseline), baseline_error);
    return finish_outputs(ctx);
}
