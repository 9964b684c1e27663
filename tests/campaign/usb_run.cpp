// USB daemon runs: random controller versions, port sets, roles, PHY attributes, malformed,
// missing or unreadable attributes, and devices attached and detached at random times while a
// daemon runs. Judged by the power policy model (judge/), the in-use rule, flat descriptor count
// and resident memory, and the exact messages.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "boardfiles/board_names.h"
#include "bringup/otg.h"
#include "campaign.h"
#include "judge/trace.h"
#include "judge/usbpolicy.h"
#include "usbpower/messages.h"

namespace campaign {

namespace {

using usbmsg::kUnsupported;
const char* const kRefused = usbmsg::kHasDevices;
const char kVersionPath[] = OTG_VERSION_PATH;
const char kPortDir[] = OTG_PORT_DIR_PREFIX;

std::string attribute_path(int port, const std::string& attr) {
    return std::string(kPortDir) + char('0' + port) + "/" + attr;
}

int count_fds(pid_t pid) {
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (dir == nullptr) return -1;
    int n = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++n;
    closedir(dir);
    return n;
}

long resident_pages(pid_t pid) {
    FILE* f = fopen(("/proc/" + std::to_string(pid) + "/statm").c_str(), "r");
    if (f == nullptr) return -1;
    long size = 0, resident = -1;
    if (fscanf(f, "%ld %ld", &size, &resident) != 2) resident = -1;
    fclose(f);
    return resident;
}

// A malformed or fixed content for a status attribute, with the message the daemons print for it
// (empty: the text is good).
struct FixedText {
    const char* setting;
    const char* message;
};
const FixedText kGotgctlTexts[] = {
    {"\"\"", usbmsg::kGotgctlReadFailed},
    {OTG_GOTGCTL_PREFIX, usbmsg::kGotgctlBad},
    {OTG_GOTGCTL_PREFIX "\\n", usbmsg::kGotgctlBad},
    {"gotgctl = 0x000c0000", usbmsg::kGotgctlBad},
    {OTG_GOTGCTL_PREFIX "zz", usbmsg::kGotgctlBad},
    {OTG_GOTGCTL_PREFIX "000d0000\\n", ""},
    {OTG_GOTGCTL_PREFIX "000c0000\\n", ""},
    {OTG_GOTGCTL_PREFIX "00000000\\n", ""},
};
const FixedText kBusTexts[] = {
    {"\"\"", usbmsg::kBusconnectedReadFailed},
    {OTG_BUSCONNECTED_PREFIX, usbmsg::kBusconnectedBad},
    {"Bus Connected 0x1", usbmsg::kBusconnectedBad},
    {OTG_BUSCONNECTED_PREFIX "1\\n", ""},
    {OTG_BUSCONNECTED_PREFIX "0\\n", ""},
};

// Whether a switching step of the board's method and the daemon's profile writes this value to
// this attribute.
bool allowed_write(const std::string& path, const std::string& value, bool phy_control, bool iddq) {
    const std::string control = OTG_PHY_CONTROL_DIR "/";
    auto is = [&](const std::string& p, std::initializer_list<const char*> values) {
        if (path != p) return false;
        for (const char* v : values)
            if (value == v) return true;
        return false;
    };
    if (phy_control) {
        for (int port = 0; port < 2; ++port)
            if (is(attribute_path(port, OTG_ATTR_PULLUP), {OTG_POR_ON, OTG_POR_OFF})) return true;
        return is(control + OTG_PHY_ATTR_INDEX, {OTG_PORT0_LETTER, OTG_PORT1_LETTER}) ||
               is(control + OTG_PHY_ATTR_POR, {OTG_POR_ON, OTG_POR_OFF}) ||
               is(control + OTG_PHY_ATTR_OTG_DISABLE, {OTG_POR_ON, OTG_POR_OFF});
    }
    for (int port = 0; port < 2; ++port) {
        if (is(attribute_path(port, iddq ? OTG_ATTR_IDDQ : OTG_ATTR_SLEEPM), {OTG_PHY_POWERED, OTG_PHY_UNPOWERED})) return true;
        if (is(attribute_path(port, OTG_ATTR_OTG_DISABLE), {OTG_PHY_POWERED, OTG_PHY_UNPOWERED})) return true;
    }
    return !iddq && (is(OTG_MODULE_ON_PATH, {"usb0", "usb1"}) || is(OTG_MODULE_OFF_PATH, {"usb0", "usb1"}));
}

struct Event {
    double at;  // seconds after the start
    int port;
    bool attach;
};

}  // namespace

Outcome run_usb(Rng& rng, const RunDirs& dirs, double scale) {
    Outcome outcome;
    const std::string daemon = rng.pick(std::vector<std::string>{"otgpower", "otgpoweriddq", "otgpowersave"});
    const bool iddq = daemon == "otgpoweriddq";
    const bool save = daemon == "otgpowersave";
    std::vector<std::string> args;
    if (!save || rng.chance(0.1)) {
        const int form = int(rng.between(0, 8));
        const char* const forms[] = {"A", "B", "AB", "C", "a", "", "BA"};
        if (form < 7) args.push_back(forms[form]);
        if (form == 8) args = {"A", "B"};
    }

    std::vector<std::string> settings;
    const std::string version = rng.pick(std::vector<std::string>{
        OTG_VERSION_PER_PORT, OTG_VERSION_PER_PORT, OTG_VERSION_PER_PORT, OTG_VERSION_PHY_CONTROL,
        OTG_VERSION_PHY_CONTROL, OTG_VERSION_PER_PORT_2, OTG_VERSION_RECOGNISED, "none", "2.94", "3.10a-rc", "x"});
    settings.push_back("usb.version=" + version);
    const std::string ports = rng.pick(std::vector<std::string>{"0,1", "0,1", "0,1", "0,1", "0", "1", "none"});
    settings.push_back("usb.ports=" + ports);
    const bool present[2] = {ports == "0,1" || ports == "0", ports == "0,1" || ports == "1"};
    settings.push_back(std::string("usb.phy=") +
                       (rng.chance(0.8) ? (iddq ? "iddq" : "sleepm") : rng.pick(std::vector<std::string>{"both", "iddq", "sleepm"})));
    const bool mod_class = rng.chance(0.85);
    settings.push_back(std::string("usb.mod_class=") + (mod_class ? "1" : "0"));
    if (!mod_class) outcome.faults++;

    bool peripheral[2] = {false, false};
    bool plain_status[2] = {true, true};     // the kernel model answers both status attributes
    bool readable_status[2] = {true, true};  // both status attributes read and parse
    // The message a fixed status text calls for ("" for a good text or none), and whether the
    // attribute cannot be opened at all (then nothing is said of it).
    std::string gotgctl_message[2], bus_message[2];
    bool gotgctl_blocked[2] = {false, false}, bus_blocked[2] = {false, false};
    bool attached[2] = {false, false};
    std::set<std::string> allowed_messages = {kRefused};
    std::set<std::string> denied;
    for (int port = 0; port < 2; ++port) {
        const std::string key = "usb.port" + std::to_string(port) + ".";
        peripheral[port] = rng.chance(0.25);
        if (peripheral[port]) settings.push_back(key + "role=peripheral");
        if (rng.chance(0.1)) {
            settings.push_back(key + "busvalid=" + rng.pick(std::vector<std::string>{"none", "a", "b", "ab"}));
            plain_status[port] = false;
            outcome.faults++;
        }
        attached[port] = rng.chance(0.3);
        settings.push_back(key + "attached=" + (attached[port] ? "1" : "0"));
        if (rng.chance(0.08)) {
            const FixedText& t = kGotgctlTexts[rng.between(0, std::size(kGotgctlTexts) - 1)];
            settings.push_back(key + "gotgctl=" + t.setting);
            if (*t.message) allowed_messages.insert(t.message);
            gotgctl_message[port] = t.message;
            unsigned word = 0;
            if (sscanf(t.setting, OTG_GOTGCTL_PREFIX "%x", &word) == 1) peripheral[port] = (word & OTG_GOTGCTL_PERIPHERAL) != 0;
            if (*t.message) readable_status[port] = false;
            plain_status[port] = false;
            outcome.faults++;
        }
        if (rng.chance(0.08)) {
            const FixedText& t = kBusTexts[rng.between(0, std::size(kBusTexts) - 1)];
            settings.push_back(key + "busconnected=" + t.setting);
            if (*t.message) allowed_messages.insert(t.message);
            if (*t.message) readable_status[port] = false;
            bus_message[port] = t.message;
            plain_status[port] = false;
            outcome.faults++;
        }
        if (rng.chance(0.08)) {
            std::vector<std::string> attrs = {OTG_ATTR_GOTGCTL, OTG_ATTR_BUSCONNECTED, OTG_ATTR_PULLUP,
                                              OTG_ATTR_OTG_DISABLE, OTG_ATTR_SLEEPM, OTG_ATTR_IDDQ};
            std::string missing;
            for (const std::string& a : attrs)
                if (rng.chance(0.3)) missing += (missing.empty() ? "" : ",") + a;
            if (!missing.empty()) {
                settings.push_back(key + "missing=" + missing);
                if (missing.find(OTG_ATTR_GOTGCTL) != std::string::npos) gotgctl_blocked[port] = true;
                if (missing.find(OTG_ATTR_BUSCONNECTED) != std::string::npos) bus_blocked[port] = true;
                if (missing.find(OTG_ATTR_GOTGCTL) != std::string::npos ||
                    missing.find(OTG_ATTR_BUSCONNECTED) != std::string::npos)
                    plain_status[port] = readable_status[port] = false;
                outcome.faults++;
            }
        }
        if (rng.chance(0.06)) {
            const std::string attr = rng.pick(std::vector<std::string>{OTG_ATTR_GOTGCTL, OTG_ATTR_BUSCONNECTED, OTG_ATTR_SLEEPM,
                                                                        OTG_ATTR_IDDQ, OTG_ATTR_OTG_DISABLE, OTG_ATTR_PULLUP});
            denied.insert(attribute_path(port, attr));
            if (attr == OTG_ATTR_GOTGCTL) gotgctl_blocked[port] = true;
            if (attr == OTG_ATTR_BUSCONNECTED) bus_blocked[port] = true;
            if (attr == OTG_ATTR_GOTGCTL || attr == OTG_ATTR_BUSCONNECTED) plain_status[port] = readable_status[port] = false;
            outcome.faults++;
        }
    }
    if (rng.chance(0.05)) denied.insert(kVersionPath);
    if (rng.chance(0.05)) {
        const std::string what = rng.pick(std::vector<std::string>{"module", "por", "index"});
        if (what == "module") {
            denied.insert(OTG_MODULE_ON_PATH);
            denied.insert(OTG_MODULE_OFF_PATH);
        } else {
            denied.insert(OTG_PHY_CONTROL_DIR "/" + what);
        }
    }
    if (rng.chance(0.05)) {
        settings.push_back("usb.phy_control.missing=" + rng.pick(std::vector<std::string>{"por", "index", "otgdisable"}));
        outcome.faults++;
    }
    for (const std::string& d : denied) settings.push_back("fault.deny=" + d);
    outcome.faults += int(denied.size());

    // Devices attached and detached while the daemon runs.
    const double length = (rng.between(25, 70) / 10.0) * scale;
    std::vector<Event> events;
    bool state[2] = {attached[0], attached[1]};
    const int event_count = int(rng.between(0, 5 * scale));
    std::vector<double> times;
    for (int i = 0; i < event_count; ++i) times.push_back(rng.between(3, int(length * 10) - 3) / 10.0);
    std::sort(times.begin(), times.end());
    for (double t : times) {
        const int port = int(rng.between(0, 1));
        state[port] = !state[port];
        events.push_back({t, port, state[port]});
    }
    outcome.faults += int(events.size());

    outcome.schedule = daemon;
    for (const std::string& a : args) outcome.schedule += " '" + a + "'";
    outcome.schedule += " on";
    for (const std::string& s : settings) outcome.schedule += " " + s;
    for (const Event& e : events)
        outcome.schedule += " @" + std::to_string(e.at).substr(0, 4) + (e.attach ? " attach " : " detach ") +
                            std::to_string(e.port);

    std::string error;
    if (!make_board(dirs.board, settings, &error)) {
        outcome.fail(error);
        return outcome;
    }

    // What the rules say of the start.
    const std::vector<std::string> table = iddq ? std::vector<std::string>{OTG_VERSION_PHY_CONTROL, OTG_VERSION_PER_PORT}
                                                : std::vector<std::string>{OTG_VERSION_PHY_CONTROL, OTG_VERSION_PER_PORT,
                                                                           OTG_VERSION_PER_PORT_2};
    const bool supported = denied.count(kVersionPath) == 0 &&
                           std::find(table.begin(), table.end(), version.substr(0, 5)) != table.end();
    bool managed[2] = {false, false};
    bool runs = false;
    if (save) {
        managed[0] = present[0] || present[1];
        runs = managed[0];
    } else {
        const std::string sel = args.empty() ? "" : args[0];
        for (int port = 0; port < 2; ++port) {
            const bool selected = !(sel == "A" && port == 1) && !(sel == "B" && port == 0);
            managed[port] = selected && present[port];
        }
        runs = managed[0] || managed[1];
    }

    const double started = now_realtime();
    Process p = start_on_board(dirs, daemon, args);
    if (p.child.pid < 0) {
        outcome.fail("cannot start " + daemon);
        return outcome;
    }
    std::vector<std::pair<double, bool>> attach_log[2];  // realtime of each change, and the new state
    // Samples of the daemon's descriptor count and resident pages, twice a second.
    std::vector<std::pair<int, long>> samples;
    int status = 0;
    bool ended = false;
    size_t next_event = 0;
    double next_sample = started + 1.0;
    while (!ended && now_realtime() < started + length) {
        const double t = now_realtime() - started;
        if (next_event < events.size() && t >= events[next_event].at) {
            const Event& e = events[next_event++];
            const double before = now_realtime();
            boardsim_command(e.attach ? "attach" : "detach", dirs.board, std::to_string(e.port));
            // A change counts from the moment the command ended for "attached since", and from
            // the moment it began for "detached since".
            attach_log[e.port].push_back({e.attach ? now_realtime() : before, e.attach});
        }
        if (now_realtime() >= next_sample) {
            next_sample += 0.5;
            const int fds = count_fds(p.child.pid);
            const long rss = resident_pages(p.child.pid);
            if (fds >= 0 && rss >= 0) samples.push_back({fds, rss});
        }
        ended = wait_for(p, 0.02, &status);
    }
    const double stopped = now_realtime();
    if (!ended) {
        kill(p.child.pid, SIGTERM);
        if (!wait_for(p, 10, &status)) {
            kill(p.child.pid, SIGKILL);
            wait_for(p, 10, &status);
        }
    }
    const std::string out = testutil::read_file(p.out_path);
    const std::string err = testutil::read_file(p.err_path);
    for (const char* mark : {"ERROR: AddressSanitizer", "runtime error:", "ThreadSanitizer"})
        if (err.find(mark) != std::string::npos) outcome.fail("sanitizer report: " + err.substr(0, 2000));

    // The start: refused versions, nothing to manage, or running until killed.
    if (!supported) {
        if (!ended) outcome.fail("kept running on an unsupported version \"" + version + "\"");
        else check_clean_end(err, status, &outcome, true, 255);
        if (out != std::string(kUnsupported) + "\n") outcome.fail("start-up output \"" + out + "\"");
    } else if (!runs) {
        if (!ended) outcome.fail("kept running with no port to manage");
        else check_clean_end(err, status, &outcome, true, 0);
    } else if (ended) {
        outcome.fail("ended by itself while managing a port");
        check_clean_end(err, status, &outcome, true, 0);
    } else if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGTERM) {
        outcome.fail("did not end by the SIGTERM it was sent");
    }

    // Exact messages: only those the board's texts call for.
    if (supported) {
        for (const std::string& l : testutil::split_lines(out)) {
            if (allowed_messages.count(l) == 0) outcome.fail("message \"" + l + "\" not called for by the board");
        }
    }

    // A malformed status text on a port the daemon looks at is reported.
    if (supported && runs && !ended && stopped - started > 2.0) {
        for (int port = 0; port < 2; ++port) {
            const bool looked_at = save ? present[port] : managed[port];
            if (!looked_at || gotgctl_blocked[port]) continue;
            std::string due = gotgctl_message[port];
            if (gotgctl_message[port].empty() && !bus_blocked[port]) due = bus_message[port];
            if (!due.empty() && out.find(due + "\n") == std::string::npos)
                outcome.fail("port " + std::to_string(port) + ": no \"" + due + "\" for its malformed status text");
        }
    }

    // Descriptors and memory flat over the run: a sample may catch an attribute open mid-cycle,
    // so the least of the last third of the samples is held against the least of the first third.
    // (The address sanitizer's quarantine keeps freed memory resident: resident memory is judged
    // in the plain builds only.)
    if (samples.size() >= 6) {
        const size_t third = samples.size() / 3;
        int fds_early = 1 << 30, fds_late = 1 << 30;
        long rss_early = 1L << 40, rss_late = 1L << 40;
        for (size_t i = 0; i < third; ++i) {
            fds_early = std::min(fds_early, samples[i].first);
            rss_early = std::min(rss_early, samples[i].second);
            fds_late = std::min(fds_late, samples[samples.size() - 1 - i].first);
            rss_late = std::min(rss_late, samples[samples.size() - 1 - i].second);
        }
        if (fds_late > fds_early)
            outcome.fail("descriptors grew from " + std::to_string(fds_early) + " to " + std::to_string(fds_late));
#ifndef BRINGUP_SANITIZED
        if (rss_late - rss_early > 8)
            outcome.fail("resident memory grew from " + std::to_string(rss_early) + " to " + std::to_string(rss_late) + " pages");
#else
        (void)rss_early;
        (void)rss_late;
#endif
    }

    // Every value written is one of the switching tables' values, on an attribute of the method
    // of the running version and of the daemon's profile.
    judge::Trace trace;
    std::string trace_error;
    if (!judge::read_trace(dirs.board + "/" + boardfiles::kTraceFile, &trace, &trace_error)) outcome.fail(trace_error);
    const bool phy_control = version.substr(0, 5) == OTG_VERSION_PHY_CONTROL;
    for (const judge::TraceRecord& t : trace.records) {
        if (t.op != "write" || t.path.rfind("/sys/", 0) != 0) continue;
        std::string value;
        judge::record_bytes(t, &value);
        if (!supported) {
            outcome.fail("wrote " + t.path + " after refusing the version");
            continue;
        }
        if (!allowed_write(t.path, value, phy_control, iddq))
            outcome.fail("wrote \"" + value + "\" to " + t.path + ", which no switching step of this board writes");
    }

    // The power policy: every power-off looked at first and never while the port holds a
    // device, every managed port looked at again within a cycle or two, unmanaged ports never
    // powered up.
    judge::PolicyOptions policy;
    policy.save_policy = save;
    policy.port0_busvalid_rule = !iddq;
    policy.managed[0] = save ? true : managed[0];
    policy.managed[1] = save ? false : managed[1];
    policy.max_off_s = 4.0;
    policy.end_time = stopped;
    policy.pid = p.child.pid;
    const judge::PolicyReport report = judge::judge_power_policy(trace, policy);
    for (const judge::Violation& v : report.violations) {
        // A status that cannot be read counts as idle: such a port is powered off without a look.
        if (!readable_status[v.port] && v.what.find("without its status read") != std::string::npos) continue;
        outcome.fail("policy: port " + std::to_string(v.port) + " at " + std::to_string(v.time - started).substr(0, 5) +
                     " s: " + v.what);
    }
    if (supported && runs && !ended && report.looks.empty() &&
        ((readable_status[0] && present[0]) || (readable_status[1] && present[1])))
        outcome.fail("never looked at a port's status");

    // Against what the schedule did: an off step needs the port idle at its last status read.
    auto attached_over = [&](int port, double from, double to) {
        bool a = attached[port];
        for (const auto& change : attach_log[port]) {
            if (change.first <= from) a = change.second;
            else if (change.first <= to) return false;  // changed inside the window
        }
        return a;
    };
    for (const judge::PowerChange& off : report.changes) {
        if (off.on) continue;
        const std::vector<int> holders = save ? std::vector<int>{0, 1} : std::vector<int>{off.port};
        for (int port : holders) {
            if (!plain_status[port] || !present[port]) continue;
            double read_at = -1;
            for (const judge::TraceRecord& t : trace.records)
                if (t.op == "open" && t.path == attribute_path(port, OTG_ATTR_BUSCONNECTED) && t.time <= off.time)
                    read_at = t.time;
            if (read_at < 0) continue;
            bool powered = true;
            for (const judge::PowerChange& c : report.changes)
                if (c.port == port && c.time < read_at) powered = c.on;
            if (powered && attached_over(port, read_at - 0.2, off.time + 0.05))
                outcome.fail("port " + std::to_string(off.port) + " powered off at " + std::to_string(off.time - started).substr(0, 5) +
                             " s while port " + std::to_string(port) + " held its device");
        }
    }
    return outcome;
}

}  // namespace campaign
