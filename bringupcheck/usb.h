// The USB checks' view of the board: the power daemons, the controller versions each runs on, and
// a port's status as the daemons read it.
#pragma once

#include <string>

#include "bringup/otg.h"
#include "bringupcheck/checks.h"

// The daemons, the controller versions each one runs on (by its build profile) and its policy.
struct Daemon {
    const char* name;
    const char* versions;       // the recognised and supported version texts, blank-separated
    bool port0_busvalid_rule;
    bool save_policy;           // port 0 only, kept powered while either port is in use
};
inline constexpr Daemon kDaemons[] = {
    {"otgpower", OTG_VERSION_PHY_CONTROL " " OTG_VERSION_PER_PORT " " OTG_VERSION_PER_PORT_2, true, false},
    {"otgpoweriddq", OTG_VERSION_PHY_CONTROL " " OTG_VERSION_PER_PORT, false, false},
    {"otgpowersave", OTG_VERSION_PHY_CONTROL " " OTG_VERSION_PER_PORT " " OTG_VERSION_PER_PORT_2, true, true},
};

// Whether the daemon runs on the controller of this version text.
bool supports(const Daemon& d, const std::string& version);

// A port's device and its two status attributes, as read at the start of the run.
struct PortState {
    bool present = false;
    bool read_ok = false;
    std::string problem;
    unsigned gotgctl = 0, bus = 0;
    std::string gotgctl_text, bus_text;
};

// Runs the daemon for the run's seconds (with --switch) and judges what it printed and, from its
// trace, every power change it made against the power policy.
void check_daemon(Context& ctx, const Daemon& d, const std::string& version, const PortState ports[2]);
