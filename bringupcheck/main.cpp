// bringup-check: runs the suite's programs on this board (or on a simulated one), judges what they
// did, and writes the verdicts with their evidence and a report page.
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "checks.h"
#include "proc.h"
#include "report.h"
#include "results.h"

namespace {

const char kUsage[] =
    "usage: bringup-check [--sim BOARD] [--switch] [--only LIST] [--seconds N] [--out DIR]\n"
    "                     [--boardsim PATH] [--preload LIB] [--attach PORT] [--audio-rate BYTES_PER_S]\n"
    "       bringup-check --render DIR\n"
    "\n"
    "  --sim BOARD      run on a simulated board folder through libboardsim.so\n"
    "  --switch         also run the checks that switch power (USB daemons, Wi-Fi radio)\n"
    "  --only LIST      subsystems to check, comma-separated: audio,usb,wifi,egl,gpu\n"
    "  --seconds N      how long each daemon and demo runs (default 10)\n"
    "  --out DIR        where results go (default: <host name>-<date>-<time>)\n"
    "  --boardsim PATH  the boardsim command; libboardsim.so is taken from beside it\n"
    "  --preload LIB    libboardsim.so itself\n"
    "  --attach PORT    simulated board: a device comes and goes on PORT during each USB daemon run\n"
    "  --audio-rate N   bytes per second the audio driver plays (default 192000)\n"
    "  --render DIR     write DIR/report.html again from DIR/results.json and the evidence\n"
    "Exit status: 0 every check that ran passed, 1 a check failed, 2 usage error,\n"
    "3 the results could not all be written (the output folder refused, or a file of it).\n";

// The run did not complete: its output folder was refused, or a file of its results could not be
// written. A board farm then knows that the folder does not hold this run's verdicts.
const int kNotCompleted = 3;
const char kMsgCannotWrite[] = "bringup-check: cannot write %s: %s\n";
const char kResultsFile[] = "results.json";
const char kReportFile[] = "report.html";
// What a run writes of its results, in this order; each is made from the results in memory.
const char* const kOutputFiles[] = {kResultsFile, "results.xml", "verdicts.txt", kReportFile};

const char* const kSubsystems[] = {"audio", "usb", "wifi", "egl", "gpu"};
const char kBoardsimLib[] = "libboardsim.so";

int usage_error(const std::string& message) {
    fprintf(stderr, "bringup-check: %s\n%s", terminal_text(message).c_str(), kUsage);
    return 2;
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

std::string resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string r = real;
    free(real);
    return r;
}

std::string dirname_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
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

// Whether this boardsim can keep a trace on a real board without redirecting anything: its usage
// names `run --trace-only`.
bool has_trace_only(const std::string& boardsim) {
    std::string dir = "/tmp";
    ChildPlan s;
    s.argv = {boardsim};
    char tmpl[] = "/tmp/bringup-check-usage-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return false;
    close(fd);
    s.err_path = tmpl;
    s.limit_s = 10;
    run_child(s);
    std::string text;
    read_file(tmpl, &text);
    unlink(tmpl);
    return text.find("--trace-only") != std::string::npos;
}

// Writes each file of the results; the paths that could not be written, each with its errno.
// The XML, the verdicts and the page are drawn from the results as results.json reads back (so
// that --render makes the same page), whether or not results.json itself could be written.
std::vector<std::pair<std::string, int>> write_outputs(const std::string& dir, const Results& r) {
    std::string json = results_json(r), error;
    Results back;
    const Results& shown = parse_results(json, &back, &error) ? back : r;
    const std::string texts[] = {json, results_junit(shown), verdict_lines(shown), render_report(dir, shown)};
    std::vector<std::pair<std::string, int>> failed;
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i) {
        std::string path = dir + "/" + kOutputFiles[i];
        if (!write_file(path, texts[i])) failed.push_back({path, errno});
    }
    return failed;
}

// Makes the default output folder afresh: when the name is taken (by a run started in the same
// second), "-2", "-3", ... is added until a new folder is made. "" or why none could be made.
std::string make_new_folder(const std::string& name, std::string* made) {
    for (int n = 1; n <= 1000; ++n) {
        *made = n == 1 ? name : name + "-" + std::to_string(n);
        if (mkdir(made->c_str(), 0755) == 0) return "";
        if (errno != EEXIST) return strerror(errno);
    }
    return "the name is taken up to -1000";
}

int render(const std::string& dir) {
    std::string text, error;
    Results r;
    if (!read_file(dir + "/" + kResultsFile, &text)) {
        fprintf(stderr, "bringup-check: cannot read %s/results.json\n", terminal_text(dir).c_str());
        return 1;
    }
    if (!parse_results(text, &r, &error)) {
        fprintf(stderr, "bringup-check: %s/results.json: %s\n", terminal_text(dir).c_str(), terminal_text(error).c_str());
        return 1;
    }
    std::string page = dir + "/" + kReportFile;
    if (!write_file(page, render_report(dir, r))) {
        int e = errno;
        fprintf(stderr, kMsgCannotWrite, terminal_text(page).c_str(), strerror(e));
        return kNotCompleted;
    }
    printf("report: %s/%s\n", terminal_text(absolute(dir)).c_str(), kReportFile);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Context ctx;
    std::string out, render_dir, boardsim, preload;
    std::set<std::string> only;
    bool only_given = false;
    // Each option as "--name VALUE" or "--name=VALUE"; the codes are the options' indexes.
    enum { kSim, kSwitch, kOnly, kSeconds, kOut, kBoardsim, kPreload, kAttach, kAudioRate, kRender, kHelp };
    const struct option options[] = {
        {"sim", required_argument, nullptr, kSim},           {"switch", no_argument, nullptr, kSwitch},
        {"only", required_argument, nullptr, kOnly},         {"seconds", required_argument, nullptr, kSeconds},
        {"out", required_argument, nullptr, kOut},           {"boardsim", required_argument, nullptr, kBoardsim},
        {"preload", required_argument, nullptr, kPreload},   {"attach", required_argument, nullptr, kAttach},
        {"audio-rate", required_argument, nullptr, kAudioRate}, {"render", required_argument, nullptr, kRender},
        {"help", no_argument, nullptr, kHelp},               {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int given = 0;
    for (int code; (code = getopt_long(argc, argv, "+:h", options, nullptr)) != -1; ++given) {
        const char* v = optarg;
        std::string a = argv[optind - 1];  // the option as given, or its value
        if (code == ':') return usage_error(a + " needs a value");
        if (code == '?') return usage_error("unknown argument \"" + a + "\"");
        if (v && !*v) return usage_error(std::string("--") + options[code].name + " needs a value");
        if (code == kHelp || code == 'h') {
            fputs(kUsage, stdout);
            return 0;
        } else if (code == kSwitch) {
            ctx.do_switch = true;
        } else if (code == kSim) {
            ctx.sim = v;
        } else if (code == kOut) {
            out = v;
        } else if (code == kRender) {
            render_dir = v;
        } else if (code == kBoardsim) {
            boardsim = v;
        } else if (code == kPreload) {
            preload = v;
        } else if (code == kSeconds) {
            if (!parse_whole(v, 1, 3600, &ctx.seconds)) return usage_error("--seconds takes a whole number of seconds from 1 to 3600");
        } else if (code == kAudioRate) {
            double rate;
            if (!parse_number(v, 4, 1e9, &rate)) return usage_error("--audio-rate takes a number of bytes per second");
            ctx.audio_rate = (long long)rate;
        } else if (code == kAttach) {
            double port;
            if (!parse_number(v, 0, 1, &port) || port != double(int(port))) return usage_error("--attach takes a port, 0 or 1");
            ctx.attach_ports.push_back(int(port));
        } else {
            only_given = true;
            std::string list = v;
            size_t pos = 0;
            while (pos <= list.size()) {
                size_t comma = list.find(',', pos);
                std::string name = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
                bool known = false;
                for (const char* s : kSubsystems) known = known || name == s;
                if (!known) return usage_error("no subsystem \"" + name + "\" (audio, usb, wifi, egl, gpu)");
                only.insert(name);
                if (comma == std::string::npos) break;
                pos = comma + 1;
            }
        }
    }
    if (optind < argc) return usage_error("unknown argument \"" + std::string(argv[optind]) + "\"");
    if (!render_dir.empty()) {
        if (given != 1) return usage_error("--render takes a folder and nothing else");
        return render(render_dir);
    }
    if (!ctx.attach_ports.empty() && ctx.sim.empty()) return usage_error("--attach needs a simulated board (--sim)");

    // The board: simulated through the preload library, or this one.
    if (!boardsim.empty() && access(boardsim.c_str(), X_OK) != 0) return usage_error("no boardsim command at " + boardsim);
    if (boardsim.empty()) boardsim = find_program("boardsim");
    // boardsim takes libboardsim.so from beside its own executable once links are resolved (the
    // packages' /usr/bin/boardsim is a link into their private folder): so does this lookup.
    if (!boardsim.empty()) boardsim = resolved(absolute(boardsim));
    if (!ctx.sim.empty()) {
        ctx.sim = absolute(ctx.sim);
        if (access((ctx.sim + "/board.conf").c_str(), R_OK) != 0)
            return usage_error("no simulated board in " + ctx.sim + " (no board.conf)");
        std::string problem;
        if (!boardsim::read_settings(ctx.sim, &ctx.settings, &problem))
            return usage_error("no simulated board in " + ctx.sim + " (" + problem + ")");
        if (!preload.empty() && access(preload.c_str(), R_OK) != 0) return usage_error("no " + preload + " to preload");
        if (preload.empty() && !boardsim.empty()) preload = dirname_of(boardsim) + "/" + kBoardsimLib;
        if (preload.empty() || access(preload.c_str(), R_OK) != 0)
            return usage_error("cannot find " + std::string(kBoardsimLib) +
                               " (name it with --preload, or --boardsim; it comes with " BRINGUP_SIM_PACKAGE ")");
        ctx.preload = absolute(preload);
        if (!ctx.attach_ports.empty() && boardsim.empty())
            return usage_error("--attach needs the boardsim command (--boardsim)");
    } else if (!boardsim.empty() && access((dirname_of(boardsim) + "/" + kBoardsimLib).c_str(), R_OK) == 0) {
        ctx.trace_only = has_trace_only(boardsim);
    }
    ctx.boardsim = boardsim;
    forward_termination();
    ctx.prefix = dirname_of(self_dir());
    ctx.progress = isatty(1);

    char host[256] = "board";
    gethostname(host, sizeof host - 1);
    struct utsname u;
    std::string kernel = uname(&u) == 0 ? std::string(u.sysname) + " " + u.release + " " + u.machine : "";
    // The output folder and its subfolders (one per subsystem, named after it) must be folders of
    // our own that no other user can write to, or nothing runs: a root run must never be led to
    // write through a link planted there. Links above the folder are followed.
    std::string unfit, refused;
    if (out.empty()) {
        unfit = make_new_folder(std::string(host) + "-" + local_time("%Y%m%d-%H%M%S"), &out);
        ctx.out = absolute(out);
    } else {
        ctx.out = absolute(out);
        while (ctx.out.size() > 1 && ctx.out.back() == '/') ctx.out.pop_back();
        unfit = make_dirs(dirname_of(ctx.out)) ? "" : strerror(errno);
    }
    if (unfit.empty()) unfit = make_folder(ctx.out);
    refused = ctx.out;
    for (const char* sub : kSubsystems) {
        std::string path = ctx.out + "/" + sub;
        struct stat st;
        if (!unfit.empty() || lstat(path.c_str(), &st) != 0) continue;
        unfit = unfit_folder(path);
        if (!unfit.empty()) refused = path;
    }
    if (!unfit.empty()) {
        fprintf(stderr, "bringup-check: cannot write into %s: %s\n", terminal_text(refused).c_str(), unfit.c_str());
        return kNotCompleted;
    }
    // Nothing an earlier run left here is taken for this run's results.
    for (const char* name : kOutputFiles) unlink((ctx.out + "/" + name).c_str());
    ctx.results.started = local_time("%Y-%m-%dT%H:%M:%S%z");
    ctx.results.board["host"] = host;
    ctx.results.board["kernel"] = kernel;
    ctx.results.board["controller"] = "";
    ctx.results.board["egl_vendor"] = "";
    if (!ctx.sim.empty()) ctx.results.board["simulated"] = ctx.sim;

    auto wanted = [&](const char* s) { return !only_given || only.count(s); };
    // Each finished check is shown, and the files are written again with it: a run that is
    // stopped part way still leaves the results of the checks it finished.
    ctx.show = [&ctx](const Check& c) {
        const char* v = c.verdict == "pass" ? "PASS" : c.verdict == "fail" ? "FAIL" : "SKIP";
        printf("%s  %-18s %s\n", v, terminal_text(c.name).c_str(), terminal_text(c.reason).c_str());
        fflush(stdout);
        write_outputs(ctx.out, ctx.results);  // what fails is named at the end
    };
    if (wanted("audio")) check_audio(ctx);
    if (wanted("usb")) check_usb(ctx);
    if (wanted("wifi")) check_wifi(ctx);
    if (wanted("egl")) check_egl(ctx);
    if (wanted("gpu")) check_gpu(ctx);

    std::vector<std::pair<std::string, int>> failed = write_outputs(ctx.out, ctx.results);
    bool page = true;
    for (const auto& f : failed) {
        fprintf(stderr, kMsgCannotWrite, terminal_text(f.first).c_str(), strerror(f.second));
        page = page && f.first != ctx.out + "/" + kReportFile;
    }
    if (page) printf("report: %s/%s\n", terminal_text(ctx.out).c_str(), kReportFile);
    if (!failed.empty()) return kNotCompleted;
    for (const Check& c : ctx.results.checks)
        if (c.verdict == "fail") return 1;
    return 0;
}
