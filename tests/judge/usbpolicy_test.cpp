// The USB power policy model against traces written here the way the board writes them.
#include <gtest/gtest.h>

#include "bringup/otg.h"
#include "judge/usbpolicy.h"

namespace {

// Builds a trace of one daemon, time advancing as the daemon's waits would.
struct Script {
    std::string text;
    double t = 1000;
    void rec(const char* op, const std::string& path, const std::string& bytes) {
        long long sec = (long long)t;
        text += bringup::format_trace_line(sec, long((t - double(sec)) * 1e6 + 0.5), 10, op, path.c_str(),
                                            bringup::trace_literal(bytes.data(), bytes.size()), (long long)bytes.size());
    }
    std::string lm(int port, const char* attr) { return "/sys/devices/lm" + std::to_string(port) + "/" + attr; }
    void look(int port, bool device) {
        rec("read", lm(port, "gotgctl"), "GOTGCTL = 0x000c0000\n");
        rec("read", lm(port, "busconnected"), device ? "Bus Connected = 0x1\n" : "Bus Connected = 0x0\n");
    }
    void on(int port) { rec("write", lm(port, "peri_sleepm"), "0"); }
    void off(int port) { rec("write", lm(port, "peri_sleepm"), "1"); }
    // One cycle of otgpower on an unpowered port: on, wait, look, off when nothing is there.
    void cycle(int port, bool device) {
        on(port);
        t += 0.5;
        look(port, device);
        if (!device) off(port);
        t += 0.5;
    }
    judge::PolicyReport judge(const judge::PolicyOptions& o = judge::PolicyOptions()) {
        return judge::judge_power_policy(judge::parse_trace(text), o);
    }
};

std::string whats(const judge::PolicyReport& r) {
    std::string s;
    for (auto& v : r.violations) s += "port " + std::to_string(v.port) + ": " + v.what + "\n";
    return s;
}

TEST(PowerPolicy, DaemonThatLooksEveryCycleAndKeepsADeviceIsSound) {
    Script s;
    s.look(0, false);  // start-up: powered, nothing there
    s.off(0);
    for (int i = 0; i < 5; ++i) s.cycle(0, false);
    s.cycle(0, true);  // a device arrives: the port stays on
    for (int i = 0; i < 3; ++i) {
        s.look(0, true);
        s.t += 0.5;
    }
    s.look(0, false);  // and leaves
    s.off(0);
    s.t += 0.5;
    s.cycle(0, false);
    judge::PolicyReport r = s.judge();
    EXPECT_TRUE(r.ok()) << whats(r);
    EXPECT_EQ(r.power_ons[0], 7);
    EXPECT_EQ(r.power_offs[0], 8);
    ASSERT_FALSE(r.changes.empty());
    EXPECT_FALSE(r.changes.front().on);
    EXPECT_EQ(r.looks.size(), 12u);
}

TEST(PowerPolicy, EachBreachIsNamed) {
    {
        Script s;  // looked, saw the device, powered off anyway
        s.on(1);
        s.look(1, true);
        s.off(1);
        EXPECT_EQ(whats(s.judge()), "port 1: powered off while it holds a device\n");
    }
    {
        Script s;  // powered on and off again without a look
        s.look(0, false);
        s.off(0);
        s.t += 1;
        s.on(0);
        s.t += 0.5;
        s.off(0);
        EXPECT_EQ(whats(s.judge()), "port 0: powered off without its status read since it was powered on\n");
    }
    {
        Script s;  // left off too long, then for the rest of the run
        s.look(0, false);
        s.off(0);
        s.t += 5;
        s.cycle(0, false);
        s.t += 4;
        s.rec("read", "/sys/bus/logicmodule/drivers/dwc_otg/version", "2.94a\n");
        judge::PolicyReport r = s.judge();
        EXPECT_EQ(whats(r), "port 0: left unpowered for 5.0 s before it was powered on to look\n"
                            "port 0: unpowered for the last 4.5 s of the run\n");
    }
    {
        Script s;  // a port the daemon does not manage may be powered down, never up
        s.look(1, false);
        s.off(1);
        s.on(1);
        judge::PolicyOptions o;
        o.managed[1] = false;
        EXPECT_EQ(whats(s.judge(o)), "port 1: powered on, though the daemon does not manage it\n");
    }
}

TEST(PowerPolicy, PowerSaveKeepsPortZeroForADeviceOnEitherPort) {
    Script s;
    s.on(0);
    s.t += 0.5;
    s.look(0, false);
    s.look(1, true);
    s.off(0);
    judge::PolicyOptions o;
    o.save_policy = true;
    o.managed[1] = false;
    EXPECT_EQ(whats(s.judge(o)), "port 0: powered off while it holds a device\n");
    EXPECT_TRUE(s.judge().ok());  // by each port's own status it was free
}

TEST(PowerPolicy, HostPortZeroWithoutBusValidCountsAsInUse) {
    Script s;
    s.on(0);
    s.rec("read", s.lm(0, "gotgctl"), "GOTGCTL = 0x00000000\n");
    s.rec("read", s.lm(0, "busconnected"), "Bus Connected = 0x0\n");
    s.off(0);
    EXPECT_FALSE(s.judge().ok());
    judge::PolicyOptions iddq;
    iddq.port0_busvalid_rule = false;
    EXPECT_TRUE(s.judge(iddq).ok());
}

TEST(PowerPolicy, PortInUseAsBringupCheckReadsTheStatus) {
    // The rule applied to a status as read from the attributes (bringup-check's ports check).
    const unsigned valid = OTG_GOTGCTL_A_VALID | OTG_GOTGCTL_B_VALID, peripheral = OTG_GOTGCTL_PERIPHERAL;
    struct Case {
        int port;
        unsigned gotgctl, bus;
        bool rule, in_use;
    } cases[] = {
        {1, peripheral | valid, 0, true, true},    {1, peripheral | OTG_GOTGCTL_A_VALID, 1, true, false},
        {1, valid, 1, true, true},                 {1, valid, 0, true, false},
        {0, 0, 0, true, true},                     {0, 0, 0, false, false},
        {1, 0, 0, true, false},                    {0, valid, 0, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(judge::port_in_use(c.port, c.gotgctl, c.bus, c.rule), c.in_use)
            << "port " << c.port << " gotgctl " << std::hex << c.gotgctl << " bus " << c.bus << " rule " << c.rule;
    // Port paths: only the two ports' attributes are read back as theirs.
    std::string attr;
    EXPECT_EQ(judge::port_of_path(judge::port_dir(1) + "/busconnected", &attr), 1);
    EXPECT_EQ(attr, "busconnected");
    EXPECT_EQ(judge::port_name(0), "lm0");
    for (const char* other : {"/sys/devices/lm2/gotgctl", "/sys/devices/lm0", "/sys/devices/lm0/", "/sys/devices/lm01/x",
                              "/sys/devices/platform/usb_phy_control/index"})
        EXPECT_EQ(judge::port_of_path(other, &attr), -1) << other;
}

TEST(PowerPolicy, PhyControlDeviceSwitchesTheSelectedPort) {
    Script s;
    s.look(1, false);
    s.rec("write", "/sys/devices/platform/usb_phy_control/index", "B");
    s.rec("write", "/sys/devices/platform/usb_phy_control/por", "off");
    s.t += 1;
    s.rec("write", "/sys/devices/platform/usb_phy_control/index", "A");
    s.rec("write", "/sys/devices/platform/usb_phy_control/por", "on");
    judge::PolicyReport r = s.judge();
    EXPECT_TRUE(r.ok()) << whats(r);
    ASSERT_EQ(r.changes.size(), 2u);
    EXPECT_EQ(r.changes[0].port, 1);
    EXPECT_FALSE(r.changes[0].on);
    EXPECT_EQ(r.changes[1].port, 0);
    EXPECT_TRUE(r.changes[1].on);
}

}  // namespace
