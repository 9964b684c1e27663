// The checks of the five subsystems. Each runs the suite's own programs as children, keeps what
// they printed (and, on a simulated board or with a trace-only run, what they did to the devices),
// and judges it.
#include "checks.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "capture.h"
#include "eglreport.h"
#include "newfile.h"
#include "png.h"
#include "proc.h"
#include "usbpolicy.h"
#include "x11.h"
#include "bringup/otg.h"
#include "bringup/qvaudio.h"
#include "pcmcapture/messages.h"
#include "usbpower/messages.h"
#include "wlanpower/messages.h"

namespace {

// ---- The board's USB controller as the daemons see it.

const char kVersionPath[] = OTG_VERSION_PATH;
const char kPortDir[] = OTG_PORT_DIR_PREFIX;  // then the port digit
const char kGotgctlPrefix[] = OTG_GOTGCTL_PREFIX;
const char kBusPrefix[] = OTG_BUSCONNECTED_PREFIX;

// The daemons, the controller versions each one runs on (by its build profile) and its policy.
struct Daemon {
    const char* name;
    const char* versions;       // the recognised and supported version texts, blank-separated
    bool port0_busvalid_rule;
    bool save_policy;           // port 0 only, kept powered while either port is in use
};
const Daemon kDaemons[] = {
    {"otgpower", OTG_VERSION_PHY_CONTROL " " OTG_VERSION_PER_PORT " " OTG_VERSION_PER_PORT_2, true, false},
    {"otgpoweriddq", OTG_VERSION_PHY_CONTROL " " OTG_VERSION_PER_PORT, false, false},
    {"otgpowersave", OTG_VERSION_PHY_CONTROL " " OTG_VERSION_PER_PORT " " OTG_VERSION_PER_PORT_2, true, true},
};

// What the daemons may print, and whether it tells of trouble.
struct DaemonMessage {
    const char* text;
    bool trouble;
};
const DaemonMessage kDaemonMessages[] = {
    {usbmsg::kHasDevices, false},  // a device came between look and switch
    {usbmsg::kGotgctlReadFailed, true},
    {usbmsg::kGotgctlBad, true},
    {usbmsg::kBusconnectedReadFailed, true},
    {usbmsg::kBusconnectedBad, true},
};

// What wlanpower prints only when something went wrong.
const char* const kWifiMessages[] = {wifimsg::kUsage, wifimsg::kOpenFailed, wifimsg::kPowerUpFailed,
                                     wifimsg::kPowerDownFailed};

const char* const kDemos[] = {"lanterna", "veilglass", "tilemosaic"};
const char kSamplesDir[] = "/share/board-bringup/samples/";
const char kSwapCountLib[] = "libbringup-swapcount.so";

// pcmcapture runs for ten seconds once the device is open; more than this means it hangs.
const double kCaptureLimitS = 45;
// A demo's window must be up within this long, and the demo gone this long after the close request.
const double kWindowWaitS = 20;
const double kCloseWaitS = 15;
// A program's part of a board trace is read up to this much: a long run leaves several MB.
const size_t kTraceMax = size_t(64) << 20;

std::string fmt(const char* format, double v) {
    char buf[64];
    snprintf(buf, sizeof buf, format, v);
    return buf;
}

double wall_now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

Check new_check(const std::string& name, const std::string& subsystem, const std::string& program) {
    Check c;
    c.name = name;
    c.subsystem = subsystem;
    c.program = program;
    return c;
}

// Keeps a finished check and shows its line at once.
void record(Context& ctx, const Check& c) {
    ctx.results.checks.push_back(c);
    if (ctx.show) ctx.show(c);
}

void verdict(Check& c, const char* v, const std::string& reason) {
    c.verdict = v;
    c.reason = reason;
}

// A first problem and how many more there were, as one line.
std::string first_of(const std::vector<std::string>& problems) {
    if (problems.empty()) return "";
    std::string s = problems[0];
    if (problems.size() > 1) s += " (and " + std::to_string(problems.size() - 1) + " more)";
    return s;
}

// ---- Running a program of the suite.

struct Ran {
    ChildPlan plan;
    ChildResult res;
    std::string out_text, err_text;
    judge::Trace trace;
    bool traced = false;
    std::string trace_problem;  // why the board's trace was not read
    bool trace_cut = false;     // only its first kTraceMax bytes were read
};

void show_progress(const Context& ctx, const std::string& check, const std::string& waiting, double left) {
    if (!ctx.progress) return;
    static std::string last;
    char line[512];
    snprintf(line, sizeof line, "\r\033[K  %s: %s, %.0f s left", terminal_text(check).c_str(),
             terminal_text(waiting).c_str(), left > 0 ? left : 0);
    if (line == last) return;
    last = line;
    fputs(line, stdout);
    fflush(stdout);
}

void clear_progress(const Context& ctx) {
    if (!ctx.progress) return;
    printf("\r\033[K");
    fflush(stdout);
}

long long file_size(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : 0;
}

// Where the suite's `program` is: beside bringup-check's own, else on PATH; empty when neither.
std::string program_path(const Context& ctx, const std::string& program) {
    std::string path = ctx.prefix.empty() ? "" : ctx.prefix + "/bin/" + program;
    if (path.empty() || access(path.c_str(), X_OK) != 0) path = find_program(program);
    return path;
}

// The demos and configlist come in a package of their own, which a board may lack: their checks
// are then left out, not failed. True (with the check recorded as skipped) when that is so.
bool skipped_as_not_installed(Context& ctx, Check& c, const std::string& program) {
    if (!program_path(ctx, program).empty()) return false;
    verdict(c, "skip", program + " is not installed (it comes with " BRINGUP_DEMOS_PACKAGE ")");
    record(ctx, c);
    return true;
}

// Runs `program` of the suite with its output in <out>/<sub>/<base>.out and .err, and its trace in
// <base>.trace when one can be kept. The evidence paths are added to the check.
Ran run_program(Context& ctx, Check& check, const std::string& sub, const std::string& base, const std::string& program,
                const std::vector<std::string>& args, const std::string& cwd, double stop_after, double limit,
                const std::string& waiting, std::function<void(double)> tick = nullptr,
                const std::vector<std::string>& env = {}, bool on_board = true) {
    Ran ran;
    std::string dir = ctx.out + "/" + sub;
    std::string unfit = make_folder(dir);
    std::string path = program_path(ctx, program);
    ran.plan.out_path = dir + "/" + base + ".out";
    ran.plan.err_path = dir + "/" + base + ".err";
    ran.plan.cwd = cwd;
    ran.plan.stop_after_s = stop_after;
    ran.plan.limit_s = limit;
    ran.plan.env = env;
    if (path.empty()) {
        ran.res.error = program + " is not installed (not next to bringup-check nor on PATH)";
        return ran;
    }
    if (!unfit.empty()) {
        ran.res.error = dir + ": " + unfit;
        return ran;
    }
    ran.plan.argv.push_back(path);
    for (const std::string& a : args) ran.plan.argv.push_back(a);
    std::string trace_dir, trace_src;  // the trace is trace_src, in the folder trace_dir when there is one
    long long trace_from = 0;
    bool own_trace = false;
    if (!on_board) {
        // The GPU programs touch no device of the board: they run as they are.
    } else if (!ctx.sim.empty()) {
        const char* old = getenv("LD_PRELOAD");
        ran.plan.env.push_back("LD_PRELOAD=" + (old && *old ? std::string(old) + ":" : "") + ctx.preload);
        ran.plan.env.push_back("BOARDSIM_DIR=" + ctx.sim);
        trace_dir = ctx.sim;
        trace_src = "/trace.log";
        trace_from = file_size(trace_dir + trace_src);
    } else if (ctx.trace_only) {
        // The real devices, with every operation traced into a file of the program's own.
        trace_src = dir + "/" + base + ".devices.trace";
        unlink(trace_src.c_str());
        own_trace = true;
        std::vector<std::string> argv = {ctx.boardsim, "run", "--trace-only", "--trace", trace_src, "--"};
        for (const std::string& a : ran.plan.argv) argv.push_back(a);
        ran.plan.argv = argv;
    }
    double deadline = stop_after >= 0 ? stop_after : limit;
    ran.plan.tick = [&](double t) {
        show_progress(ctx, check.name, waiting, deadline - t);
        if (tick) tick(t);
    };
    ran.res = run_child(ran.plan);
    clear_progress(ctx);
    check.seconds += ran.res.seconds;
    read_file(ran.plan.out_path, &ran.out_text);
    read_file(ran.plan.err_path, &ran.err_text);
    check.evidence.push_back(sub + "/" + base + ".out");
    check.evidence.push_back(sub + "/" + base + ".err");
    if (!trace_src.empty() && ran.res.started) {
        std::string all;
        boardsim::FileRead read = boardsim::read_board_file(trace_dir, trace_src, kTraceMax, &all, trace_from, true);
        ran.trace_problem = read.problem;
        ran.trace_cut = read.cut;
        if (read.ok) {
            // Only this program's lines: other processes may use the same board.
            judge::Trace t = judge::parse_trace(all);
            std::string mine;
            for (const judge::TraceRecord& r : t.records)
                if (r.pid == ran.res.pid || own_trace) {
                    ran.trace.records.push_back(r);
                    long long sec = (long long)r.time;
                    mine += bringup::format_trace_line(sec, long((r.time - double(sec)) * 1e6 + 0.5), r.pid,
                                                        r.op.c_str(), r.path.c_str(), r.detail, r.result);
                }
            write_file(dir + "/" + base + ".trace", mine);
            check.evidence.push_back(sub + "/" + base + ".trace");
            ran.traced = true;
        }
    }
    return ran;
}

// A check whose program's trace was refused is not judged: it fails, saying why. A trace cut at
// its bound is judged on what was read, and the reason says so.
void judge_trace_read(Check& c, const Ran& ran) {
    if (!ran.trace_problem.empty() && c.verdict != "fail")
        verdict(c, "fail", "the board's trace was not read: " + ran.trace_problem);
    else if (ran.trace_cut)
        c.reason += "; only the first " + std::to_string(kTraceMax >> 20) + " MiB of the board's trace were read";
}

// ---- Audio.

judge::Content board_content(const Context& ctx) {
    if (ctx.sim.empty()) return judge::Content::Unknown;
    return boardsim::setting_text(ctx.settings, "audio.content", "tone") == "counter" ? judge::Content::Counter
                                                                                       : judge::Content::Tone;
}

}  // namespace

// ---- Helpers shared with main.

bool read_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return true;
}

bool write_file(const std::string& path, const std::string& text) {
    // Written beside its place and renamed into it: a reader never sees half a file, and a link in
    // the way is replaced, never written through.
    std::string tmp = path + ".new";
    int fd = create_afresh(tmp.c_str());
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    int error = done == text.size() ? 0 : errno ? errno : EIO;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(tmp.c_str(), path.c_str()) != 0) error = errno;
    if (!error) return true;
    unlink(tmp.c_str());
    errno = error;
    return false;
}

bool make_dirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/') {
            std::string p = path.substr(0, i);
            if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    return true;
}

std::string unfit_folder(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return strerror(errno);
    if (S_ISLNK(st.st_mode)) return "it is a link";
    if (!S_ISDIR(st.st_mode)) return "it is not a folder";
    if (st.st_uid != geteuid()) return "it belongs to another user";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "other users can write to it";
    return "";
}

std::string make_folder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return strerror(errno);
    return unfit_folder(path);
}

void check_audio(Context& ctx) {
    Check c = new_check("audio.capture", "audio", "pcmcapture");
    std::string dir = ctx.out + "/audio";
    // pcmcapture writes output.pcm where it runs: an earlier run's file is not judged as this
    // one's, and a link in its place is not written through.
    if (make_folder(dir).empty()) unlink((dir + "/output.pcm").c_str());
    Ran ran = run_program(ctx, c, "audio", "pcmcapture", "pcmcapture", {}, dir, -1, kCaptureLimitS,
                          "capturing ten seconds of the audio driver's output");
    judge::CaptureOptions o;
    o.content = board_content(ctx);
    // The board's settings read as the simulated board reads them.
    o.rate = ctx.sim.empty() ? ctx.audio_rate : boardsim::setting_number(ctx.settings, "audio.rate");
    o.tone_hz = boardsim::setting_tone_hz(ctx.settings);
    long long overruns = 0;
    if (ran.traced) {
        o.resyncs = judge::count_resyncs(ran.trace);
        overruns = judge::count_overruns(ran.trace);
    }
    std::string pcm;
    bool have_pcm = read_file(dir + "/output.pcm", &pcm);
    if (have_pcm) c.evidence.push_back("audio/output.pcm");
    judge::CaptureReport r = judge::analyse_capture(ran.out_text, pcm, o);

    Json& f = c.figures;
    f["exit"] = describe_end(ran.res, ran.plan);
    f["rate"] = double(o.rate);
    f["content"] = o.content == judge::Content::Counter ? "counter"
                                  : o.content == judge::Content::Tone  ? "tone"
                                                                       : "unknown";
    if (o.content == judge::Content::Tone) f["tone_hz"] = double(o.tone_hz);
    f["ring_size"] = double(r.log.ring_size);
    f["bytes"] = double(r.bytes);
    f["blocks"] = double(r.log.block_lengths.size());
    f["blocks_9600"] = double(r.halves);
    f["blocks_19200"] = double(r.wholes);
    f["audio_seconds"] = double(llround(r.audio_seconds * 1000)) / 1000;
    f["data_rate"] = double(llround(r.data_rate));
    double silent = 0;
    for (const judge::Stretch& s : r.silence) silent += double(s.bytes) / double(o.rate);
    f["silent_stretches"] = double(r.silence.size());
    f["silent_seconds"] = double(llround(silent * 1000)) / 1000;
    f["stuck_stretches"] = double(r.stuck.size());
    if (r.content_checked) {
        f["blocks_intact"] = double(r.intact);
        f["gaps"] = double(r.gaps);
    }
    if (o.resyncs >= 0) f["resyncs"] = double(o.resyncs);
    if (ran.traced) f["overruns"] = double(overruns);
    Json problems = Json::array();
    for (const std::string& p : r.problems) problems.push_back(p);
    f["problems"] = problems;

    if (!ran.res.started) {
        verdict(c, "fail", ran.res.error);
    } else if (ran.res.killed) {
        // pcmcapture waits for its device to appear; on a real board, say whether it ever did.
        std::string why = ctx.sim.empty() && access(QVAUDIO_NODE, F_OK) != 0 ? ": there is no " QVAUDIO_NODE
                                                                                : " (the audio device never opened?)";
        verdict(c, "fail", "pcmcapture did not end within " + fmt("%.0f", kCaptureLimitS) + " s" + why +
                               (r.log.count(judge::LogKind::OpenFailed)
                                    ? std::string(": \"") + pcmlog::kMsgOpenFailed + "\" in its log"
                                    : ""));
    } else if (ran.res.exit_code != 0) {
        verdict(c, "fail", "pcmcapture ended with " + describe_end(ran.res, ran.plan) + ", not exit status 0");
    } else if (!ran.err_text.empty()) {
        verdict(c, "fail", "pcmcapture wrote to standard error: " + split_lines(ran.err_text)[0]);
    } else if (!r.ok()) {
        // Re-syncs beyond the first tell of a reader that kept failing (a silent position query);
        // overruns, of a reader that was held up.
        std::string why = first_of(r.problems);
        if (o.resyncs > 1) why += "; the reader re-synced " + std::to_string(o.resyncs - 1) + " times";
        if (r.log.ring_size > 0 && r.log.ring_size < judge::kFrameBytes)
            why += "; the driver's ring of " + std::to_string(r.log.ring_size) + " bytes is smaller than one frame (" +
                   std::to_string(judge::kFrameBytes) + " bytes)";
        else if (overruns > 0)
            why += "; the driver's ring overran " + std::to_string(overruns) +
                   " times (the capture thread was held up for longer than the ring lasts)";
        verdict(c, "fail", why);
    } else {
        std::string s = fmt("%.2f s of audio", r.audio_seconds) + " at " + std::to_string(o.rate) + " bytes/s in " +
                        std::to_string(r.log.block_lengths.size()) + " blocks";
        if (r.content_checked)
            s += ", every one an intact slice of the " + std::string(o.content == judge::Content::Counter ? "counter" : "tone") +
                 " stream; " + std::to_string(r.gaps) + " gaps";
        if (!r.silence.empty()) s += fmt("; %.2f s of silence", silent);
        verdict(c, "pass", s);
    }
    judge_trace_read(c, ran);
    record(ctx, c);
}

namespace {

// ---- USB.

struct PortState {
    bool present = false;
    bool read_ok = false;
    std::string problem;
    unsigned gotgctl = 0, bus = 0;
    std::string gotgctl_text, bus_text;
};

std::string sys_path(const Context& ctx, const std::string& path) { return ctx.sim.empty() ? path : ctx.sim + path; }

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// An attribute of the board (of a simulated one: in its folder), read as a sysfs attribute is:
// a regular file of at most a page, never waited for, never behind a link out of the board folder.
boardsim::FileRead read_attribute(const Context& ctx, const std::string& path, std::string* text) {
    return boardsim::read_board_file(ctx.sim, path, boardsim::kAttributeMax, text);
}

PortState read_port(const Context& ctx, int port) {
    PortState s;
    std::string dir = kPortDir + std::to_string(port);
    s.present = access(sys_path(ctx, dir).c_str(), R_OK) == 0;
    if (!s.present) return s;
    std::string g, b;
    boardsim::FileRead rg = read_attribute(ctx, dir + "/" OTG_ATTR_GOTGCTL, &g), rb;
    if (!rg.ok) {
        s.problem = rg.missing ? "no gotgctl attribute" : rg.problem;
    } else if (!(rb = read_attribute(ctx, dir + "/" OTG_ATTR_BUSCONNECTED, &b)).ok) {
        s.problem = rb.missing ? "no busconnected attribute" : rb.problem;
    } else {
        s.gotgctl_text = first_line(g);
        s.bus_text = first_line(b);
        if (s.gotgctl_text.compare(0, strlen(kGotgctlPrefix), kGotgctlPrefix) != 0 ||
            sscanf(s.gotgctl_text.c_str() + strlen(kGotgctlPrefix), "%x", &s.gotgctl) != 1)
            s.problem = "gotgctl reads \"" + s.gotgctl_text + "\"";
        else if (s.bus_text.compare(0, strlen(kBusPrefix), kBusPrefix) != 0 ||
                 sscanf(s.bus_text.c_str() + strlen(kBusPrefix), "%x", &s.bus) != 1)
            s.problem = "busconnected reads \"" + s.bus_text + "\"";
        else
            s.read_ok = true;
    }
    return s;
}

bool peripheral(const PortState& s) { return s.gotgctl & (1u << 16); }
bool in_use(const PortState& s, int port) {
    bool valid = (s.gotgctl & (3u << 18)) == (3u << 18);
    if (peripheral(s)) return valid;
    if (port == 0 && !valid) return true;
    return s.bus == 1;
}

bool supports(const Daemon& d, const std::string& version) {
    if (version.size() < 5) return false;
    std::string v = version.substr(0, 5);
    std::istringstream words(d.versions);
    std::string w;
    while (words >> w)
        if (w == v) return true;
    return false;
}

void check_daemon(Context& ctx, const Daemon& d, const std::string& version, const PortState ports[2]) {
    Check c = new_check("usb." + std::string(d.name), "usb", d.name);
    if (!ctx.do_switch) {
        verdict(c, "skip", std::string(d.name) + " switches port power: run with --switch to check it");
        record(ctx, c);
        return;
    }
    // On a board, a power daemon already running (a service, say) would fight the one checked
    // over the same ports.
    if (ctx.sim.empty())
        for (const Daemon& other : kDaemons) {
            std::vector<long> running = processes_named(other.name);
            if (running.empty()) continue;
            verdict(c, "skip", std::string(other.name) + " is already running (pid " + std::to_string(running[0]) +
                                   ") and switches the same ports: stop it (systemctl stop " + other.name +
                                   ") to check " + d.name);
            record(ctx, c);
            return;
        }
    bool supported = supports(d, version);
    double attach_at = ctx.seconds / 3, detach_at = 2 * ctx.seconds / 3;
    Json attached = Json::array();
    std::vector<double> attach_times(ctx.attach_ports.size(), 0);
    bool attached_now = false, detached_done = false;
    auto device_command = [&](bool on, int port) -> std::vector<std::string> {
        return {ctx.boardsim, on ? "attach" : "detach", ctx.sim, std::to_string(port)};
    };
    auto set_device = [&](bool on) {
        // A run stopped while the device is attached detaches it again on its way out.
        std::vector<std::vector<std::string>> detach;
        for (int port : ctx.attach_ports) detach.push_back(device_command(false, port));
        if (on) restore_on_termination(detach);
        for (size_t i = 0; i < ctx.attach_ports.size(); ++i) {
            ChildPlan s;
            s.argv = device_command(on, ctx.attach_ports[i]);
            s.limit_s = 10;
            run_child(s);
            double t = wall_now();
            if (on) attach_times[i] = t;
            else attached.push_back(Json::array({double(ctx.attach_ports[i]), double(attach_times[i]), double(t)}));
        }
        if (!on) restore_on_termination({});
    };
    bool moving = supported && !ctx.sim.empty() && !ctx.attach_ports.empty() && !ctx.boardsim.empty();
    auto tick = [&](double t) {
        if (!moving) return;
        if (!attached_now && t >= attach_at) {
            attached_now = true;
            set_device(true);
        }
        if (attached_now && !detached_done && t >= detach_at) {
            detached_done = true;
            set_device(false);
        }
    };
    Ran ran = run_program(ctx, c, "usb", d.name, d.name, {}, "", ctx.seconds, ctx.seconds + 10,
                          "running " + std::string(d.name), tick);
    if (attached_now && !detached_done) set_device(false);
    std::vector<std::string> lines = split_lines(ran.out_text);
    Json& f = c.figures;
    f["exit"] = describe_end(ran.res, ran.plan);
    f["messages"] = double(lines.size());
    f["save_policy"] = d.save_policy;
    f["port0_busvalid_rule"] = d.port0_busvalid_rule;
    if (moving) f["devices"] = attached;

    if (!ran.res.started) {
        verdict(c, "fail", ran.res.error);
        record(ctx, c);
        return;
    }
    if (!supported) {
        bool refused = ran.res.exit_code == 255 && lines.size() == 1 && lines[0] == usbmsg::kUnsupported;
        if (refused)
            verdict(c, "skip", "controller version \"" + version.substr(0, 5) + "\" is not one " + d.name +
                                   " runs on: it refused to start, as it should");
        else
            verdict(c, "fail", "controller version \"" + version.substr(0, 5) + "\" is not one " + d.name +
                                   " runs on, yet it did not refuse with exit status 255 (" +
                                   describe_end(ran.res, ran.plan) + ")");
        record(ctx, c);
        return;
    }
    std::vector<std::string> problems;
    if (!ran.res.stopped || ran.res.killed)
        problems.push_back(std::string(d.name) + " ended by itself: " + describe_end(ran.res, ran.plan));
    size_t busy = 0;
    for (const std::string& l : lines) {
        const DaemonMessage* m = nullptr;
        for (const DaemonMessage& k : kDaemonMessages)
            if (l == k.text) m = &k;
        if (!m) problems.push_back("unexpected message \"" + l + "\"");
        else if (m->trouble) problems.push_back("it printed \"" + l + "\"");
        else busy++;
    }
    if (!ran.err_text.empty()) problems.push_back("it wrote to standard error: " + first_line(ran.err_text));
    if (ran.traced) {
        judge::PolicyOptions o;
        o.save_policy = d.save_policy;
        o.port0_busvalid_rule = d.port0_busvalid_rule;
        o.managed[0] = ports[0].present;
        o.managed[1] = ports[1].present && !d.save_policy;
        judge::PolicyReport p = judge::judge_power_policy(ran.trace, o);
        f["power_ons"] = Json::array({double(p.power_ons[0]), double(p.power_ons[1])});
        f["power_offs"] = Json::array({double(p.power_offs[0]), double(p.power_offs[1])});
        f["looks"] = double(p.looks.size());
        Json v = Json::array();
        for (const judge::Violation& x : p.violations) {
            std::string line = "port " + std::to_string(x.port) + ": " + x.what;
            v.push_back(line);
            problems.push_back(line);
        }
        f["violations"] = v;
        if (p.changes.empty() && p.looks.empty()) problems.push_back("the trace shows no port looked at or switched");
    }
    if (problems.empty()) {
        std::string s = std::string("ran ") + fmt("%.0f s", ran.res.seconds) + " until stopped";
        if (ran.traced) s += "; every power change in its trace follows the power policy";
        else s += "; no trace kept, the power policy was not judged";
        if (moving) s += "; a device came and went on port " + std::to_string(ctx.attach_ports[0]);
        if (busy) s += "; " + std::to_string(busy) + " refused power-offs";
        verdict(c, "pass", s);
    } else {
        verdict(c, "fail", first_of(problems));
    }
    judge_trace_read(c, ran);
    record(ctx, c);
}

}  // namespace

void check_usb(Context& ctx) {
    // The controller and its ports, read as the daemons read them.
    Check cc = new_check("usb.controller", "usb", "");
    std::string version_text;
    std::string version;
    boardsim::FileRead read = read_attribute(ctx, kVersionPath, &version_text);
    bool have = read.ok;
    version = first_line(version_text);
    ctx.results.board["controller"] = have ? version : "";
    Json by = Json::array();
    for (const Daemon& d : kDaemons)
        if (supports(d, version)) by.push_back(d.name);
    cc.figures["version"] = version;
    cc.figures["supported_by"] = by;
    std::string evidence = "version: " + (have           ? "\"" + version + "\""
                                          : read.missing ? std::string("(no version file)")
                                                         : "(" + read.problem + ")") +
                           "\n";
    if (!have && read.missing)
        verdict(cc, "fail", std::string("no controller version at ") + kVersionPath);
    else if (!have)
        verdict(cc, "fail", "the controller version was not read: " + read.problem);
    else if (json_items(by).empty())
        verdict(cc, "fail", "controller version \"" + version + "\" is not supported by any of the power daemons");
    else {
        std::string names;
        for (const Json& n : json_items(by)) names += (names.empty() ? "" : ", ") + json_string_or(n, "");
        verdict(cc, "pass", "controller version \"" + version.substr(0, 5) + "\", supported by " + names);
    }

    Check cp = new_check("usb.ports", "usb", "");
    PortState ports[2];
    Json list = Json::array();
    std::vector<std::string> said, problems;
    for (int port = 0; port < 2; ++port) {
        ports[port] = read_port(ctx, port);
        const PortState& s = ports[port];
        Json p = Json::object();
        p["port"] = double(port);
        p["present"] = s.present;
        std::string name = "lm" + std::to_string(port);
        evidence += name + ": " + (s.present ? "present" : "absent") + "\n";
        if (s.present) {
            evidence += "  gotgctl: \"" + s.gotgctl_text + "\"\n  busconnected: \"" + s.bus_text + "\"\n";
            if (!s.read_ok) evidence += "  problem: " + s.problem + "\n";
            if (s.read_ok) {
                bool use = in_use(s, port);
                p["role"] = peripheral(s) ? "peripheral" : "host";
                p["gotgctl"] = s.gotgctl_text.substr(strlen(kGotgctlPrefix) - 2);
                p["busconnected"] = double(s.bus);
                p["in_use"] = use;
                said.push_back(name + ": " + (peripheral(s) ? "peripheral" : "host") + ", " + (use ? "in use" : "free"));
            } else {
                p["problem"] = s.problem;
                problems.push_back(name + ": " + s.problem);
            }
        }
        list.push_back(p);
    }
    cp.figures["ports"] = list;
    if (!ports[0].present && !ports[1].present) problems.insert(problems.begin(), "no USB port (no lm0, no lm1)");
    if (problems.empty()) {
        std::string s;
        for (const std::string& x : said) s += (s.empty() ? "" : "; ") + x;
        verdict(cp, "pass", s);
    } else {
        verdict(cp, "fail", first_of(problems));
    }
    if (make_folder(ctx.out + "/usb").empty() && write_file(ctx.out + "/usb/controller.txt", evidence)) {
        cc.evidence.push_back("usb/controller.txt");
        cp.evidence.push_back("usb/controller.txt");
    }
    record(ctx, cc);
    record(ctx, cp);

    for (const Daemon& d : kDaemons) check_daemon(ctx, d, version, ports);
}

void check_wifi(Context& ctx) {
    struct Step {
        const char* name;
        const char* arg;
        const char* what;
    };
    const Step steps[] = {{"wifi.on", "1", "switching the Wi-Fi module on"},
                          {"wifi.off", "0", "switching the Wi-Fi module off"}};
    for (const Step& step : steps) {
        Check c = new_check(step.name, "wifi", "wlanpower");
        if (!ctx.do_switch) {
            verdict(c, "skip", "wlanpower switches the radio: run with --switch to check it");
            record(ctx, c);
            continue;
        }
        Ran ran = run_program(ctx, c, "wifi", std::string("wlanpower-") + step.arg, "wlanpower", {step.arg}, "", -1, 20,
                              step.what);
        std::vector<std::string> lines = split_lines(ran.out_text);
        c.figures["exit"] = describe_end(ran.res, ran.plan);
        Json printed = Json::array();
        for (const std::string& l : lines) printed.push_back(l);
        c.figures["printed"] = printed;
        if (ran.traced) {
            Json req = Json::array();
            for (const judge::TraceRecord& r : ran.trace.records)
                if (r.op == "ioctl")
                    req.push_back(r.detail + (r.result == 0 ? " accepted" : " refused"));
            c.figures["requests"] = req;
        }
        if (!ran.res.started) verdict(c, "fail", ran.res.error);
        else if (ran.res.exit_code != 0) verdict(c, "fail", "wlanpower ended with " + describe_end(ran.res, ran.plan));
        else if (!lines.empty()) {
            bool known = false;
            for (const char* m : kWifiMessages) known = known || lines[0] == m;
            verdict(c, "fail", std::string(known ? "wlanpower printed \"" : "unexpected message \"") + lines[0] + "\"");
        } else if (!ran.err_text.empty())
            verdict(c, "fail", "wlanpower wrote to standard error: " + first_line(ran.err_text));
        else
            verdict(c, "pass", std::string("wlanpower ") + step.arg + ": the driver took the request, exit status 0");
        judge_trace_read(c, ran);
        record(ctx, c);
    }
}

void check_egl(Context& ctx) {
    Check c = new_check("egl.configs", "egl", "configlist");
    if (skipped_as_not_installed(ctx, c, "configlist")) return;
    Ran ran = run_program(ctx, c, "egl", "configlist", "configlist", {}, "", -1, 60, "listing the EGL configurations",
                          nullptr, {}, false);
    EglReport r = parse_egl_report(ran.out_text);
    size_t complete = 0, es2 = 0;
    for (const EglConfig& e : r.configs) {
        complete += e.complete();
        es2 += e.complete() && e.es2_window();
    }
    if (!r.vendor.empty()) ctx.results.board["egl_vendor"] = r.vendor + ", EGL " + r.version;
    c.figures["exit"] = describe_end(ran.res, ran.plan);
    c.figures["vendor"] = r.vendor;
    c.figures["configs"] = double(r.configs.size());
    c.figures["complete"] = double(complete);
    c.figures["es2_window"] = double(es2);
    const char* display = getenv("DISPLAY");
    if (!ran.res.started) {
        verdict(c, "fail", ran.res.error);
    } else if (ran.res.exit_code != 0 && (!display || !*display)) {
        verdict(c, "skip", "no display in DISPLAY: configlist could not open the default display");
    } else if (ran.res.exit_code != 0) {
        verdict(c, "fail", "configlist ended with " + describe_end(ran.res, ran.plan) + ": " + first_line(ran.err_text + ran.out_text));
    } else if (r.vendor.empty()) {
        verdict(c, "fail", "configlist's report has no vendor line");
    } else if (r.configs.empty()) {
        verdict(c, "fail", "the EGL driver offers no configuration");
    } else if (complete != r.configs.size() || r.stray_lines) {
        verdict(c, "fail", std::to_string(r.configs.size() - complete) + " of " + std::to_string(r.configs.size()) +
                               " configuration blocks incomplete, " + std::to_string(r.stray_lines) + " stray lines");
    } else if (es2 == 0) {
        verdict(c, "fail", "no configuration renders OpenGL ES 2.0 into a window");
    } else {
        verdict(c, "pass", std::to_string(r.configs.size()) + " configurations from " + r.vendor + ", " +
                               std::to_string(es2) + " render OpenGL ES 2.0 into a window");
    }
    record(ctx, c);
}

namespace {

// How much of a screenshot is a drawn scene: the share of pixels unlike the most common colour,
// and the number of distinct colours.
void look_at(const std::vector<uint32_t>& px, double* drawn, size_t* colours) {
    std::vector<uint32_t> sorted(px);
    std::sort(sorted.begin(), sorted.end());
    size_t best = 0, run = 0, distinct = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (i == 0 || sorted[i] != sorted[i - 1]) {
            run = 0;
            distinct++;
        }
        best = std::max(best, ++run);
    }
    *drawn = px.empty() ? 0 : 1.0 - double(best) / double(px.size());
    *colours = distinct;
}

std::string swapcount_lib(const Context& ctx) {
    // The install prefix's private library folder (the packages' board-bringup folder, the
    // relocatable tree's lib/), then the build tree's lib/ beside bin/, then beside the program.
    for (const std::string& p : {ctx.prefix + "/" BRINGUP_PRIVATE_LIB_DIR "/" + kSwapCountLib,
                                 self_dir() + "/../lib/" + kSwapCountLib, self_dir() + "/" + kSwapCountLib})
        if (access(p.c_str(), R_OK) == 0) return p;
    return "";
}

}  // namespace

void check_gpu(Context& ctx) {
    const char* display = getenv("DISPLAY");
    std::string lib = swapcount_lib(ctx);
    for (const char* demo : kDemos) {
        Check c = new_check(std::string("gpu.") + demo, "gpu", demo);
        if (skipped_as_not_installed(ctx, c, demo)) continue;
        if (!display || !*display) {
            verdict(c, "skip", "no display in DISPLAY: the demos need an X server");
            record(ctx, c);
            continue;
        }
        std::string folder = ctx.prefix + kSamplesDir + demo;
        std::string error;
        std::vector<unsigned long> before = windows_titled(demo, &error);
        if (!error.empty() && display_lost()) {
            // The X server went away earlier in this run: nothing more can be shown on it.
            verdict(c, "fail", "the connection to the display \"" + std::string(display) + "\" was lost earlier in the run");
            record(ctx, c);
            continue;
        }
        if (!error.empty()) {
            verdict(c, "skip", "cannot open the display \"" + std::string(display) + "\"");
            record(ctx, c);
            continue;
        }
        std::string swaps_path = ctx.out + "/gpu/" + demo + ".swaps";
        std::vector<std::string> env;
        if (!lib.empty()) {
            const char* old = getenv("LD_PRELOAD");
            env.push_back("LD_PRELOAD=" + (old && *old ? std::string(old) + ":" : "") + lib);
            env.push_back("BRINGUP_SWAPCOUNT_FILE=" + swaps_path);
        }
        unlink(swaps_path.c_str());
        unsigned long window = 0;
        bool shot = false;
        std::vector<uint32_t> pixels;
        int w = 0, h = 0;
        auto tick = [&](double t) {
            if (!window) {
                for (unsigned long id : windows_titled(demo, nullptr))
                    if (std::find(before.begin(), before.end(), id) == before.end()) window = id;
                return;
            }
            // A slow GPU (or an emulated one) can take seconds over its first frame: with the
            // frame counter, the picture waits for two frames, up to the window wait past the run.
            if (!shot && t >= ctx.seconds && !lib.empty() && t < ctx.seconds + kWindowWaitS) {
                std::string counted;
                long long n = 0;
                if (!read_file(swaps_path, &counted) || sscanf(counted.c_str(), "swaps %lld", &n) != 1 || n < 2)
                    return;
            }
            if (!shot && t >= ctx.seconds) {
                raise_window(window);
                usleep(300000);  // a frame or two after the raise
                shot = copy_window(window, &pixels, &w, &h);
                send_close(window);
            }
        };
        Ran ran = run_program(ctx, c, "gpu", demo, demo, {}, folder, -1, ctx.seconds + kWindowWaitS + kCloseWaitS,
                              std::string("drawing ") + demo + " on " + display, tick, env, false);
        double drawn = 0;
        size_t colours = 0;
        if (shot) {
            look_at(pixels, &drawn, &colours);
            std::string png = encode_png(pixels, w, h);
            if (!png.empty() && write_file(ctx.out + "/gpu/" + demo + ".png", png))
                c.evidence.push_back(std::string("gpu/") + demo + ".png");
        }
        long long swaps = 0;
        double first = 0, last = 0, fps = 0;
        std::string counted;
        if (read_file(swaps_path, &counted) &&
            sscanf(counted.c_str(), "swaps %lld first %lf last %lf", &swaps, &first, &last) == 3) {
            c.evidence.push_back(std::string("gpu/") + demo + ".swaps");
            if (swaps > 1 && last > first) fps = double(swaps - 1) / (last - first);
        }
        Json& f = c.figures;
        f["exit"] = describe_end(ran.res, ran.plan);
        f["window"] = window != 0;
        if (shot) {
            f["width"] = double(w);
            f["height"] = double(h);
            f["drawn_fraction"] = double(llround(drawn * 1000)) / 1000;
            f["colours"] = double(colours);
        }
        f["frames"] = double(swaps);
        f["fps"] = double(llround(fps * 10)) / 10;
        if (!ran.res.started) verdict(c, "fail", ran.res.error);
        else if (display_lost())
            verdict(c, "fail", "the connection to the display \"" + std::string(display) + "\" was lost while " + demo +
                                   " ran (" + describe_end(ran.res, ran.plan) + ")");
        else if (!window)
            verdict(c, "fail", std::string(demo) + " showed no window within " + fmt("%.0f", kWindowWaitS) + " s (" +
                                   describe_end(ran.res, ran.plan) + ")" +
                                   (ran.out_text.empty() ? "" : ": " + first_line(ran.out_text)));
        else if (!shot)
            verdict(c, "fail", std::string("the window of ") + demo + " could not be copied");
        else if (ran.res.exit_code != 0)
            verdict(c, "fail", std::string(demo) + " ended with " + describe_end(ran.res, ran.plan) +
                                   " after the close request, not exit status 0" +
                                   (ran.out_text.empty() ? "" : ": " + first_line(ran.out_text)));
        else if (drawn < 0.02 || colours < 8)
            verdict(c, "fail", std::string("the window of ") + demo + " shows no drawn scene (" + std::to_string(colours) +
                                   " colours, " + fmt("%.1f%%", drawn * 100) + " unlike the background)");
        else if (!lib.empty() && swaps == 0)
            verdict(c, "fail", std::string(demo) + " never swapped buffers");
        else
            verdict(c, "pass", std::string("a drawn scene (") + std::to_string(colours) + " colours)" +
                                   (lib.empty() ? ", frame rate not counted (no " + std::string(kSwapCountLib) + ")"
                                                : fmt(", %.1f frames per second", fps)) +
                                   ", closed by the window manager's request with exit status 0");
        record(ctx, c);
    }
}
