// A model of the USB power policy that judges what a daemon wrote, from a board trace: every port
// the daemon powers off is powered on again within a cycle to look for a device, looked at before
// it is powered off, and never powered off while it holds a device.
#pragma once

#include <string>
#include <vector>

#include "judge/trace.h"

namespace judge {

struct PolicyOptions {
    // The power-save policy: port 0 stays powered while either port is in use (only port 0 is
    // switched). Otherwise each managed port by its own status.
    bool save_policy = false;
    // Port 0 in the host role counts as in use until both bus-valid bits are up (the profile of
    // otgpower and otgpowersave; not otgpoweriddq).
    bool port0_busvalid_rule = true;
    bool managed[2] = {true, true};
    // Longest a managed port may stay unpowered before it is powered on to look again.
    double max_off_s = 3.0;
    // End of the run; 0: the time of the trace's last record.
    double end_time = 0;
    int pid = 0;  // only this process's records; 0: all
};

struct PowerChange {
    double time = 0;
    int port = 0;
    bool on = false;
};

struct PortLook {
    double time = 0;
    int port = 0;
    bool in_use = false;
};

struct Violation {
    double time = 0;
    int port = 0;
    std::string what;  // one line
};

struct PolicyReport {
    double start = 0, end = 0;          // the trace's span
    std::vector<PowerChange> changes;   // in order
    std::vector<PortLook> looks;        // every status read of a port, in order
    std::vector<Violation> violations;
    int power_ons[2] = {0, 0};
    int power_offs[2] = {0, 0};
    bool ok() const { return violations.empty(); }
};

// A port is taken to be powered until the trace says otherwise.
PolicyReport judge_power_policy(const Trace& trace, const PolicyOptions& options);

// Whether a port holds a device, by its GOTGCTL word and its Bus Connected value: in the
// peripheral role while both bus-valid bits are up; in the host role while a device is connected,
// and port 0 (with port0_busvalid_rule) until both bus-valid bits are up. This is the judge's own
// reading of the rule: the daemons' copy (usbpower/core/otg_status.cpp) is the product, and this
// one, kept apart from it on purpose, is what it is tested against.
bool port_in_use(int port, unsigned gotgctl, unsigned busconnected, bool port0_busvalid_rule);
// Whether the GOTGCTL word puts the port in the peripheral role.
bool port_peripheral(unsigned gotgctl);

// The port's device, "lm<N>", and its folder, "/sys/devices/lm<N>".
std::string port_name(int port);
std::string port_dir(int port);
// Port and attribute of "/sys/devices/lm<N>/<attr>"; -1 for any other path.
int port_of_path(const std::string& path, std::string* attr);

}  // namespace judge
