// The power daemons' checks: each daemon runs on the board for the run's seconds (a device coming
// and going on a simulated board meanwhile, when asked), and what it printed and did is judged.
#include <time.h>

#include "bringupcheck/runprogram.h"
#include "bringupcheck/text.h"
#include "bringupcheck/usb.h"
#include "judge/usbpolicy.h"
#include "usbpower/messages.h"

namespace {

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

double wall_now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// True (with the check recorded as skipped) when the daemon is not to run: power switching was
// not asked for, or another power daemon already runs on a board.
bool skipped(Context& ctx, Check& c, const Daemon& d) {
    if (!ctx.do_switch) {
        verdict(c, Verdict::Skip, std::string(d.name) + " switches port power: run with --switch to check it");
        record(ctx, c);
        return true;
    }
    // On a board, a power daemon already running (a service, say) would fight the one checked
    // over the same ports.
    if (ctx.sim.empty())
        for (const Daemon& other : kDaemons) {
            std::vector<long> running = processes_named(other.name);
            if (running.empty()) continue;
            verdict(c, Verdict::Skip, std::string(other.name) + " is already running (pid " + std::to_string(running[0]) +
                                          ") and switches the same ports: stop it (systemctl stop " + other.name +
                                          ") to check " + d.name);
            record(ctx, c);
            return true;
        }
    return false;
}

// The device that comes and goes on the simulated board's ports during a daemon's run: attached a
// third of the way through, detached at two thirds.
struct VisitingDevice {
    bool moving = false;
    bool attached_now = false, detached_done = false;
    std::vector<double> attach_times;
    Json attached = Json::array();  // [port, attached at, detached at] for each port
};

std::vector<std::string> device_command(const Context& ctx, bool on, int port) {
    return {ctx.boardsim, on ? "attach" : "detach", ctx.sim, std::to_string(port)};
}

void set_device(const Context& ctx, VisitingDevice& dev, bool on) {
    // A run stopped while the device is attached detaches it again on its way out.
    std::vector<std::vector<std::string>> detach;
    for (int port : ctx.attach_ports) detach.push_back(device_command(ctx, false, port));
    if (on) restore_on_termination(detach);
    for (size_t i = 0; i < ctx.attach_ports.size(); ++i) {
        ChildPlan s;
        s.argv = device_command(ctx, on, ctx.attach_ports[i]);
        s.limit_s = 10;
        run_child(s);
        double t = wall_now();
        if (on) dev.attach_times[i] = t;
        else dev.attached.push_back(Json::array({double(ctx.attach_ports[i]), double(dev.attach_times[i]), double(t)}));
    }
    if (!on) restore_on_termination({});
}

void move_device(const Context& ctx, VisitingDevice& dev, double t) {
    if (!dev.moving) return;
    if (!dev.attached_now && t >= ctx.seconds / 3) {
        dev.attached_now = true;
        set_device(ctx, dev, true);
    }
    if (dev.attached_now && !dev.detached_done && t >= 2 * ctx.seconds / 3) {
        dev.detached_done = true;
        set_device(ctx, dev, false);
    }
}

// A daemon run on a controller it does not support must refuse to start, with exit status 255.
void judge_refusal(Check& c, const Daemon& d, const std::string& version, const ProgramRun& ran,
                   const std::vector<std::string>& lines) {
    bool refused = ran.res.exit_code == usbmsg::kUnsupportedStatus && lines.size() == 1 && lines[0] == usbmsg::kUnsupported;
    if (refused)
        verdict(c, Verdict::Skip, "controller version \"" + version.substr(0, 5) + "\" is not one " + d.name +
                                      " runs on: it refused to start, as it should");
    else
        verdict(c, Verdict::Fail, "controller version \"" + version.substr(0, 5) + "\" is not one " + d.name +
                                      " runs on, yet it did not refuse with exit status " + std::to_string(usbmsg::kUnsupportedStatus) + " (" +
                                      describe_end(ran.res, ran.plan) + ")");
}

// What the daemon printed that it should not have; `busy` counts its refused power-offs.
std::vector<std::string> output_problems(const Daemon& d, const ProgramRun& ran, const std::vector<std::string>& lines,
                                         size_t* busy) {
    std::vector<std::string> problems;
    if (!ran.res.stopped || ran.res.killed)
        problems.push_back(std::string(d.name) + " ended by itself: " + describe_end(ran.res, ran.plan));
    for (const std::string& l : lines) {
        const DaemonMessage* m = nullptr;
        for (const DaemonMessage& k : kDaemonMessages)
            if (l == k.text) m = &k;
        if (!m) problems.push_back("unexpected message \"" + l + "\"");
        else if (m->trouble) problems.push_back("it printed \"" + l + "\"");
        else (*busy)++;
    }
    if (!ran.err_text.empty()) problems.push_back("it wrote to standard error: " + first_line(ran.err_text));
    return problems;
}

// The daemon's power changes in its trace, judged against the power policy; its figures.
void judge_trace(const Daemon& d, const PortState ports[2], const ProgramRun& ran, Json& f,
                 std::vector<std::string>* problems) {
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
        problems->push_back(line);
    }
    f["violations"] = v;
    if (p.changes.empty() && p.looks.empty()) problems->push_back("the trace shows no port looked at or switched");
}

}  // namespace

void check_daemon(Context& ctx, const Daemon& d, const std::string& version, const PortState ports[2]) {
    Check c = new_check("usb." + std::string(d.name), "usb", d.name);
    if (retrying_another(ctx, c.name) || skipped(ctx, c, d)) return;
    bool supported = supports(d, version);
    VisitingDevice dev;
    dev.attach_times.assign(ctx.attach_ports.size(), 0);
    dev.moving = supported && !ctx.sim.empty() && !ctx.attach_ports.empty() && !ctx.boardsim.empty();
    ProgramToRun daemon;
    daemon.program = d.name;
    daemon.sub = "usb";
    daemon.stop_after = ctx.seconds;
    daemon.limit = ctx.seconds + 10;
    daemon.waiting = "running " + std::string(d.name);
    daemon.tick = [&](double t) { move_device(ctx, dev, t); };
    ProgramRun ran = run_program(ctx, c, daemon);
    if (dev.attached_now && !dev.detached_done) set_device(ctx, dev, false);
    std::vector<std::string> lines = split_lines(ran.out_text);
    Json& f = c.figures;
    f["exit"] = describe_end(ran.res, ran.plan);
    f["messages"] = double(lines.size());
    f["save_policy"] = d.save_policy;
    f["port0_busvalid_rule"] = d.port0_busvalid_rule;
    if (dev.moving) f["devices"] = dev.attached;

    if (!ran.res.started) {
        verdict(c, Verdict::Fail, ran.res.error);
        record(ctx, c);
        return;
    }
    if (!supported) {
        judge_refusal(c, d, version, ran, lines);
        record(ctx, c);
        return;
    }
    size_t busy = 0;
    std::vector<std::string> problems = output_problems(d, ran, lines, &busy);
    if (ran.traced) judge_trace(d, ports, ran, f, &problems);
    if (problems.empty()) {
        std::string s = std::string("ran ") + fmt("%.0f s", ran.res.seconds) + " until stopped";
        if (ran.traced) s += "; every power change in its trace follows the power policy";
        else s += "; no trace kept, the power policy was not judged";
        if (dev.moving) s += "; a device came and went on port " + std::to_string(ctx.attach_ports[0]);
        if (busy) s += "; " + std::to_string(busy) + " refused power-offs";
        verdict(c, Verdict::Pass, s);
    } else {
        verdict(c, Verdict::Fail, first_of(problems));
    }
    judge_trace_read(c, ran);
    record(ctx, c);
}
