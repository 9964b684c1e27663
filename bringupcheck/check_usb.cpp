// The USB checks: the controller's version and its ports read as the daemons read them, then each
// power daemon run on the board (usb_daemons.cpp).
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <sstream>

#include "bringupcheck/outfiles.h"
#include "bringupcheck/usb.h"
#include "judge/usbpolicy.h"

namespace {

const char kVersionPath[] = OTG_VERSION_PATH;
const char kGotgctlPrefix[] = OTG_GOTGCTL_PREFIX;
const char kBusPrefix[] = OTG_BUSCONNECTED_PREFIX;

std::string sys_path(const Context& ctx, const std::string& path) { return ctx.sim.empty() ? path : ctx.sim + path; }

// An attribute of the board (of a simulated one: in its folder), read as a sysfs attribute is:
// a regular file of at most a page, never waited for, never behind a link out of the board folder.
boardfiles::FileRead read_attribute(const Context& ctx, const std::string& path, std::string* text) {
    return boardfiles::read_board_file(ctx.sim, path, boardfiles::kAttributeMax, text);
}

PortState read_port(const Context& ctx, int port) {
    PortState s;
    std::string dir = judge::port_dir(port);
    s.present = access(sys_path(ctx, dir).c_str(), R_OK) == 0;
    if (!s.present) return s;
    std::string g, b;
    boardfiles::FileRead rg = read_attribute(ctx, dir + "/" OTG_ATTR_GOTGCTL, &g), rb;
    if (!rg.ok) {
        s.problem = rg.missing ? "no " OTG_ATTR_GOTGCTL " attribute" : rg.problem;
    } else if (!(rb = read_attribute(ctx, dir + "/" OTG_ATTR_BUSCONNECTED, &b)).ok) {
        s.problem = rb.missing ? "no " OTG_ATTR_BUSCONNECTED " attribute" : rb.problem;
    } else {
        s.gotgctl_text = first_line(g);
        s.bus_text = first_line(b);
        if (s.gotgctl_text.compare(0, strlen(kGotgctlPrefix), kGotgctlPrefix) != 0 ||
            sscanf(s.gotgctl_text.c_str() + strlen(kGotgctlPrefix), "%x", &s.gotgctl) != 1)
            s.problem = OTG_ATTR_GOTGCTL " reads \"" + s.gotgctl_text + "\"";
        else if (s.bus_text.compare(0, strlen(kBusPrefix), kBusPrefix) != 0 ||
                 sscanf(s.bus_text.c_str() + strlen(kBusPrefix), "%x", &s.bus) != 1)
            s.problem = OTG_ATTR_BUSCONNECTED " reads \"" + s.bus_text + "\"";
        else
            s.read_ok = true;
    }
    return s;
}

// The controller's version, which daemons run on it, and the evidence's first line.
std::string judge_controller(Context& ctx, Check& controller, std::string* version) {
    std::string version_text;
    boardfiles::FileRead read = read_attribute(ctx, kVersionPath, &version_text);
    bool have = read.ok;
    *version = first_line(version_text);
    ctx.results.board["controller"] = have ? *version : "";
    Json by = Json::array();
    for (const Daemon& d : kDaemons)
        if (supports(d, *version)) by.push_back(d.name);
    controller.figures["version"] = *version;
    controller.figures["supported_by"] = by;
    std::string evidence = "version: " + (have           ? "\"" + *version + "\""
                                          : read.missing ? std::string("(no version file)")
                                                         : "(" + read.problem + ")") +
                           "\n";
    if (!have && read.missing)
        verdict(controller, Verdict::Fail, std::string("no controller version at ") + kVersionPath);
    else if (!have)
        verdict(controller, Verdict::Fail, "the controller version was not read: " + read.problem);
    else if (json_items(by).empty())
        verdict(controller, Verdict::Fail, "controller version \"" + *version + "\" is not supported by any of the power daemons");
    else {
        std::string names;
        for (const Json& n : json_items(by)) names += (names.empty() ? "" : ", ") + json_string_or(n, "");
        verdict(controller, Verdict::Pass, "controller version \"" + version->substr(0, 5) + "\", supported by " + names);
    }
    return evidence;
}

// Each port's role and whether it is in use, or why its status was not read; its evidence lines.
void judge_ports(const Context& ctx, Check& ports_check, PortState ports[2], std::string* evidence) {
    Json list = Json::array();
    std::vector<std::string> said, problems;
    for (int port = 0; port < 2; ++port) {
        ports[port] = read_port(ctx, port);
        const PortState& s = ports[port];
        Json p = Json::object();
        p["port"] = double(port);
        p["present"] = s.present;
        std::string name = judge::port_name(port);
        *evidence += name + ": " + (s.present ? "present" : "absent") + "\n";
        if (s.present) {
            *evidence += "  " OTG_ATTR_GOTGCTL ": \"" + s.gotgctl_text + "\"\n  " OTG_ATTR_BUSCONNECTED ": \"" + s.bus_text + "\"\n";
            if (!s.read_ok) *evidence += "  problem: " + s.problem + "\n";
            if (s.read_ok) {
                // The judge's rule, as the daemons with port 0's bus-valid rule apply it.
                bool use = judge::port_in_use(port, s.gotgctl, s.bus, true);
                bool peripheral = judge::port_peripheral(s.gotgctl);
                p["role"] = peripheral ? "peripheral" : "host";
                // The register's value as the attribute shows it, "0x" and its hexadecimal digits.
                p["gotgctl"] = s.gotgctl_text.substr(strlen(kGotgctlPrefix) - strlen("0x"));
                p["busconnected"] = double(s.bus);
                p["in_use"] = use;
                said.push_back(name + ": " + (peripheral ? "peripheral" : "host") + ", " + (use ? "in use" : "free"));
            } else {
                p["problem"] = s.problem;
                problems.push_back(name + ": " + s.problem);
            }
        }
        list.push_back(p);
    }
    ports_check.figures["ports"] = list;
    if (!ports[0].present && !ports[1].present) problems.insert(problems.begin(), "no USB port (no lm0, no lm1)");
    if (problems.empty()) {
        std::string s;
        for (const std::string& x : said) s += (s.empty() ? "" : "; ") + x;
        verdict(ports_check, Verdict::Pass, s);
    } else {
        verdict(ports_check, Verdict::Fail, first_of(problems));
    }
}

}  // namespace

bool supports(const Daemon& d, const std::string& version) {
    if (version.size() < 5) return false;
    std::string v = version.substr(0, 5);
    std::istringstream words(d.versions);
    std::string w;
    while (words >> w)
        if (w == v) return true;
    return false;
}

void check_usb(Context& ctx) {
    // The controller and its ports, read as the daemons read them.
    Check controller_check = new_check("usb.controller", "usb", "");
    std::string version;
    std::string evidence = judge_controller(ctx, controller_check, &version);
    Check ports_check = new_check("usb.ports", "usb", "");
    PortState ports[2];
    judge_ports(ctx, ports_check, ports, &evidence);
    if (make_folder(ctx.out + "/usb").empty() && write_file(ctx.out + "/usb/controller.txt", evidence)) {
        controller_check.evidence.push_back("usb/controller.txt");
        ports_check.evidence.push_back("usb/controller.txt");
    }
    record(ctx, controller_check);
    record(ctx, ports_check);

    for (const Daemon& d : kDaemons) check_daemon(ctx, d, version, ports);
}