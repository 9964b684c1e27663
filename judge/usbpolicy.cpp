#include "judge/usbpolicy.h"

#include <stdio.h>

#include "bringup/otg.h"

namespace judge {

namespace {

const char kPortDir[] = OTG_PORT_DIR_PREFIX;  // then the port digit, '/', the attribute
const char kPhyControlDir[] = OTG_PHY_CONTROL_DIR "/";
const char kGotgctlPrefix[] = OTG_GOTGCTL_PREFIX;
const char kBusPrefix[] = OTG_BUSCONNECTED_PREFIX;
const unsigned kBusValid = OTG_GOTGCTL_A_VALID | OTG_GOTGCTL_B_VALID;

bool parse_word(const std::string& bytes, const char* prefix, unsigned* value) {
    std::string p = prefix;
    if (bytes.compare(0, p.size(), p) != 0) return false;
    return sscanf(bytes.c_str() + p.size(), "%x", value) == 1;
}

std::string format_s(double s) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.1f s", s);
    return buf;
}

}  // namespace

bool port_peripheral(unsigned gotgctl) { return gotgctl & OTG_GOTGCTL_PERIPHERAL; }

bool port_in_use(int port, unsigned gotgctl, unsigned busconnected, bool port0_busvalid_rule) {
    bool valid = (gotgctl & kBusValid) == kBusValid;
    if (port_peripheral(gotgctl)) return valid;
    if (port == 0 && port0_busvalid_rule && !valid) return true;
    return busconnected == 1;
}

std::string port_dir(int port) { return kPortDir + std::to_string(port); }

std::string port_name(int port) {
    std::string dir = port_dir(port);
    return dir.substr(dir.rfind('/') + 1);
}

int port_of_path(const std::string& path, std::string* attr) {
    size_t n = sizeof kPortDir - 1;
    if (path.compare(0, n, kPortDir) != 0 || path.size() < n + 3 || path[n + 1] != '/') return -1;
    if (path[n] != '0' && path[n] != '1') return -1;
    *attr = path.substr(n + 2);
    return path[n] - '0';
}

PolicyReport judge_power_policy(const Trace& trace, const PolicyOptions& o) {
    PolicyReport r;
    bool powered[2] = {true, true};
    double off_since[2] = {0, 0};
    bool looked[2] = {false, false};      // since the port was last powered on
    bool in_use[2] = {false, false};      // at the last look
    unsigned gotgctl[2] = {0, 0};
    bool have_gotgctl[2] = {false, false};
    int selected = 0;                     // the PHY-control device's port select

    auto violate = [&](double t, int port, const std::string& what) {
        r.violations.push_back({t, port, what});
    };
    auto power = [&](double t, int port, bool on) {
        r.changes.push_back({t, port, on});
        // A daemon powers down the ports it leaves alone; it never powers one up.
        if (on && !o.managed[port]) violate(t, port, "powered on, though the daemon does not manage it");
        if (on) {
            r.power_ons[port]++;
            if (!powered[port] && t - off_since[port] > o.max_off_s)
                violate(t, port, "left unpowered for " + format_s(t - off_since[port]) + " before it was powered on to look");
            looked[port] = false;
        } else {
            r.power_offs[port]++;
            bool holding = in_use[port] || (o.save_policy && port == 0 && in_use[1]);
            if (powered[port] && !looked[port])
                violate(t, port, "powered off without its status read since it was powered on");
            else if (powered[port] && holding)
                violate(t, port, "powered off while it holds a device");
            off_since[port] = t;
        }
        powered[port] = on;
    };

    bool first = true;
    for (const TraceRecord& rec : trace.records) {
        if (o.pid && rec.pid != o.pid) continue;
        if (first) r.start = rec.time;
        first = false;
        r.end = rec.time;
        if (rec.result < 0 || (rec.op != "write" && rec.op != "read")) continue;
        std::string bytes;
        if (!record_bytes(rec, &bytes)) continue;
        std::string attr;
        int port = port_of_path(rec.path, &attr);
        if (rec.op == "read" && port >= 0) {
            unsigned v = 0;
            if (attr == OTG_ATTR_GOTGCTL) {
                have_gotgctl[port] = parse_word(bytes, kGotgctlPrefix, &v);
                gotgctl[port] = v;
            } else if (attr == OTG_ATTR_BUSCONNECTED && have_gotgctl[port] && parse_word(bytes, kBusPrefix, &v)) {
                bool use = port_in_use(port, gotgctl[port], v, o.port0_busvalid_rule);
                in_use[port] = use;
                looked[port] = true;
                have_gotgctl[port] = false;
                r.looks.push_back({rec.time, port, use});
            }
            continue;
        }
        if (rec.op != "write") continue;
        if (port >= 0 && (attr == OTG_ATTR_SLEEPM || attr == OTG_ATTR_IDDQ)) {
            if (bytes == OTG_PHY_POWERED) power(rec.time, port, true);
            else if (bytes == OTG_PHY_UNPOWERED) power(rec.time, port, false);
        } else if (rec.path.compare(0, sizeof kPhyControlDir - 1, kPhyControlDir) == 0) {
            std::string name = rec.path.substr(sizeof kPhyControlDir - 1);
            if (name == OTG_PHY_ATTR_INDEX && (bytes == OTG_PORT0_LETTER || bytes == OTG_PORT1_LETTER))
                selected = bytes == OTG_PORT0_LETTER ? 0 : 1;
            else if (name == OTG_PHY_ATTR_POR && (bytes == OTG_POR_ON || bytes == OTG_POR_OFF))
                power(rec.time, selected, bytes == OTG_POR_ON);
        }
    }
    double end = o.end_time > 0 ? o.end_time : r.end;
    for (int port = 0; port < 2; ++port)
        if (!powered[port] && o.managed[port] && end - off_since[port] > o.max_off_s)
            violate(end, port, "unpowered for the last " + format_s(end - off_since[port]) + " of the run");
    return r;
}

}  // namespace judge
