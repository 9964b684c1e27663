// The three daemons' start-up and cycles on the simulated board: version handling, port
// selection, waking idle ports, devices attached and detached while running, otgpowersave's
// combined status, and each daemon switching by its profile's status decision.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board_support.h"
#include "boardfiles/board_names.h"
#include "bringup/otg.h"
#include "usbpower/messages.h"

namespace {

using Texts = std::vector<std::string>;
using Trace = std::vector<board::TraceLine>;

const std::string LM0 = OTG_PORT0_DIR "/";
const std::string LM1 = OTG_PORT1_DIR "/";
const std::string VERSION = OTG_VERSION_PATH;
const std::string UNSUPPORTED = std::string(usbmsg::kUnsupported) + "\n";

// Times at which the port's PHY power attribute took the value ("1" off, "0" on).
std::vector<double> phy_times(const Trace& t, int port, const std::string& value,
                              const std::string& attr = "peri_sleepm") {
    std::string text = (port == 0 ? LM0 : LM1) + attr + "=" + value;
    std::vector<double> times;
    for (const board::Change& c : board::changes(t))
        if (c.text == text) times.push_back(c.t);
    return times;
}

// Times of the port's queries (each reads busconnected once, after gotgctl).
std::vector<double> query_times(const Trace& t, int port) {
    std::vector<double> times;
    for (const board::TraceLine& l : t)
        if (l.op == "open" && l.path == (port == 0 ? LM0 : LM1) + "busconnected") times.push_back(l.time);
    return times;
}

// The shortest time from one of `from` to the first of `to` after it, over at least `pairs` such
// pairs (a failure when there are fewer). A wait of the daemon can only be stretched by a busy
// machine, never shortened, so a ceiling on the shortest of several gaps catches a wait that is
// too long while one slow cycle cannot make it fail.
double shortest_gap(const std::vector<double>& from, const std::vector<double>& to, size_t pairs) {
    double shortest = 1e9;
    size_t found = 0;
    for (double a : from)
        for (double b : to)
            if (b > a) {
                shortest = std::min(shortest, b - a);
                ++found;
                break;
            }
    EXPECT_GE(found, pairs);
    return shortest;
}

std::string run_until(const std::string& dir, const std::vector<std::string>& argv,
                      bool (*done)(const Trace&)) {
    board::Daemon d = board::start(dir, argv);
    bool ok = board::wait_for(dir, done);
    std::string out = board::stop(d);
    EXPECT_TRUE(ok) << "the daemon did not get there in time";
    return out;
}

TEST(Version, RefusedVersionsEndWith255AndTouchNothing) {
    struct Case {
        const char* program;
        const char* version;
    };
    const Case cases[] = {
        {"otgpower", "2.20a"}, {"otgpoweriddq", "2.20a"}, {"otgpowersave", "2.20a"},
        {"otgpoweriddq", "3.10a"}, {"otgpower", "none"},  {"otgpowersave", "none"},
        {"otgpower", "2.6"},   {"otgpower", ""},          {"otgpoweriddq", "2.94"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " version '" + c.version + "'");
        bool empty = std::string(c.version).empty();
        std::string dir = board::make("version", {std::string("usb.version=") + (empty ? "2.94a" : c.version)});
        if (empty) testutil::write_file(dir + VERSION, "");
        testutil::RunResult r = board::run(dir, {c.program});
        EXPECT_EQ(255, r.exit_code);
        EXPECT_EQ(UNSUPPORTED, r.out);
        for (const board::TraceLine& l : board::trace(dir)) EXPECT_EQ(VERSION, l.path) << l.op;
    }
}

TEST(Version, AcceptedVersionsRun) {
    struct Case {
        const char* program;
        const char* version;
    };
    const Case cases[] = {
        {"otgpower", "3.10a"}, {"otgpowersave", "3.10a"}, {"otgpoweriddq", "2.94a"},
        {"otgpower", "2.60a-rc2"}, {"otgpoweriddq", "2.60a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " version '" + c.version + "'");
        std::string dir = board::make("version", {std::string("usb.version=") + c.version});
        std::string out = run_until(dir, {c.program}, [](const Trace& t) { return query_times(t, 0).size() >= 1; });
        EXPECT_EQ("", out);
    }
}

TEST(Selection, SelectorsManageTheirPorts) {
    struct Case {
        const char* program;
        std::vector<std::string> args;
        bool port0, port1;
    };
    const Case cases[] = {
        {"otgpower", {}, true, true},          {"otgpower", {"AB"}, true, true},
        {"otgpower", {"a"}, true, true},       {"otgpower", {"BA"}, true, true},
        {"otgpower", {"A"}, true, false},      {"otgpower", {"B"}, false, true},
        {"otgpower", {"A", "B"}, true, false}, {"otgpoweriddq", {"B"}, false, true},
        {"otgpoweriddq", {}, true, true},
    };
    for (const Case& c : cases) {
        std::string attr = std::string(c.program) == "otgpoweriddq" ? "peri_iddq" : "peri_sleepm";
        std::string label = c.program;
        for (const std::string& a : c.args) label += " " + a;
        SCOPED_TRACE(label);
        std::string dir = board::make("select", {});
        std::vector<std::string> argv = {c.program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        board::Daemon d = board::start(dir, argv);
        // Three switch-offs of a managed port: the first cycle's and two more.
        int managed = c.port0 ? 0 : 1;
        bool ok = board::wait_for(dir, [&](const Trace& t) { return phy_times(t, managed, "1", attr).size() >= 3; });
        std::string out = board::stop(d);
        ASSERT_TRUE(ok);
        Trace t = board::trace(dir);
        for (int port = 0; port < 2; port++) {
            bool is_managed = port == 0 ? c.port0 : c.port1;
            size_t offs = phy_times(t, port, "1", attr).size();
            if (is_managed) {
                EXPECT_GE(offs, 2u) << "port " << port;
            } else {
                // An unselected port gets one OFF request at start-up and is left alone after it.
                EXPECT_EQ(1u, offs) << "port " << port;
                EXPECT_EQ(0u, phy_times(t, port, "0", attr).size()) << "port " << port;
                EXPECT_EQ(1u, query_times(t, port).size()) << "port " << port;
                EXPECT_EQ(0, board::count(t, "access", port == 0 ? OTG_PORT0_DIR : OTG_PORT1_DIR));
            }
        }
        EXPECT_EQ("", out);
    }
}

TEST(Selection, NoPortToManageEndsWithZero) {
    struct Case {
        const char* program;
        std::vector<std::string> args;
        const char* ports;
        Texts changes;
    };
    const Case cases[] = {
        // Port 1 selected but absent: both ports get their OFF request, only port 0 can take it.
        {"otgpower", {"B"}, "0", {OTG_MODULE_OFF_PATH "=usb0", LM0 + "peri_sleepm=1"}},
        {"otgpoweriddq", {"A"}, "1", {LM1 + "peri_iddq=1"}},
        {"otgpower", {}, "none", {}},
        // otgpowersave with neither port: one OFF request for port 0, which cannot be carried out.
        {"otgpowersave", {}, "none", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " ports " + c.ports);
        std::string dir = board::make("noport", {std::string("usb.ports=") + c.ports});
        std::vector<std::string> argv = {c.program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        testutil::RunResult r = board::run(dir, argv);
        EXPECT_EQ(0, r.exit_code);
        EXPECT_EQ("", r.out);
        Trace t = board::trace(dir);
        EXPECT_EQ(c.changes, board::change_texts(t));
        EXPECT_GE(board::count(t, "open", LM0 + "gotgctl"), 1);
    }
}

TEST(Cycle, IdlePortsAreWokenEveryCycle) {
    std::string dir = board::make("idle", {});
    std::string out = run_until(dir, {"otgpower"}, [](const Trace& t) { return phy_times(t, 1, "1").size() >= 4; });
    EXPECT_EQ("", out);
    Trace t = board::trace(dir);
    // Ceilings: 500 ms from a power-on to the query and OFF, 500 ms from the cycle's last OFF to
    // the next cycle's first ON.
    EXPECT_LT(shortest_gap(phy_times(t, 0, "0"), phy_times(t, 0, "1"), 3), 0.8);
    EXPECT_LT(shortest_gap(phy_times(t, 1, "0"), phy_times(t, 1, "1"), 3), 0.8);
    EXPECT_LT(shortest_gap(phy_times(t, 1, "1"), phy_times(t, 0, "0"), 3), 0.8);
    std::vector<double> off0 = phy_times(t, 0, "1"), on0 = phy_times(t, 0, "0");
    std::vector<double> q0 = query_times(t, 0);
    ASSERT_GE(off0.size(), 3u);
    ASSERT_GE(on0.size(), 2u);
    // The first cycle queries before anything is switched: the first change is an OFF.
    EXPECT_LT(q0[0], off0[0]);
    EXPECT_LT(off0[0], on0[0]);
    for (size_t i = 0; i + 1 < on0.size(); i++) {
        // Every later cycle: ON, at least 500 ms, OFF; ONs of a port at least 1.5 s apart.
        EXPECT_GE(off0[i + 1] - on0[i], 0.45);
        EXPECT_LT(off0[i + 1] - on0[i], 10.0);
        EXPECT_GE(on0[i + 1] - on0[i], 1.45);
    }
}

TEST(Cycle, DeviceAttachedWhileRunningIsFoundAndKeptThenDetached) {
    std::string dir = board::make("attach", {});
    board::Daemon d = board::start(dir, {"otgpower"});
    // Port 1 idle and switched off at least once.
    ASSERT_TRUE(board::wait_for(dir, [](const Trace& t) { return phy_times(t, 1, "1").size() >= 1; }));
    board::attach(dir, 1);
    size_t offs_at_attach = phy_times(board::trace(dir), 1, "1").size();
    // Found after its next power-on, then kept powered while port 0 keeps cycling.
    bool kept = board::wait_for(dir, [offs_at_attach](const Trace& t) {
        std::vector<double> on1 = phy_times(t, 1, "0"), off1 = phy_times(t, 1, "1");
        if (on1.empty() || off1.size() < offs_at_attach) return false;
        double last_on = on1.back();
        if (!off1.empty() && off1.back() > last_on) return false;
        size_t port0_offs_since = 0;
        for (double x : phy_times(t, 0, "1"))
            if (x > last_on) port0_offs_since++;
        return port0_offs_since >= 2;
    });
    EXPECT_TRUE(kept);
    Trace t = board::trace(dir);
    ASSERT_FALSE(phy_times(t, 1, "0").empty());
    double on_at = phy_times(t, 1, "0").back();
    EXPECT_EQ("1", testutil::read_file(dir + "/" + boardfiles::kStateDir + "/usb.port1.powered"));
    // While the device stays, the port is queried and left powered.
    size_t queries_since = 0;
    for (double q : query_times(t, 1))
        if (q > on_at) queries_since++;
    EXPECT_GE(queries_since, 2u);

    board::detach(dir, 1);
    bool off_again = board::wait_for(dir, [on_at](const Trace& t2) {
        std::vector<double> off1 = phy_times(t2, 1, "1");
        return !off1.empty() && off1.back() > on_at;
    });
    EXPECT_TRUE(off_again);
    std::string out = board::stop(d);
    EXPECT_EQ("", out);
}

bool three_looks_at_port0(const Trace& t) { return query_times(t, 0).size() >= 3; }
bool port0_switched_off(const Trace& t) { return !board::changes(t).empty(); }

TEST(StatusDecision, EachDaemonSwitchesByItsProfilesDecision) {
    // The decision itself is the core's (core_test.cpp); here it reaches the board. Port 0 in the
    // host role without the bus-valid indications and nothing attached: the sleep profile keeps it
    // powered, the IDDQ profile switches it off. A peripheral port with a host attached is kept.
    struct Case {
        const char* program;
        Texts settings;
        std::string off;  // the port's first change, empty when it is kept powered
    };
    const Case cases[] = {
        {"otgpower", {"usb.ports=0", "usb.port0.busvalid=none"}, ""},
        {"otgpoweriddq", {"usb.ports=0", "usb.port0.busvalid=none"}, LM0 + "peri_iddq=1"},
        {"otgpower", {"usb.ports=0", "usb.port0.role=peripheral", "usb.port0.attached=1"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.settings.back());
        std::string dir = board::make("decision", c.settings);
        std::string out = run_until(dir, {c.program, "A"}, c.off.empty() ? three_looks_at_port0 : port0_switched_off);
        Texts changes = board::change_texts(board::trace(dir));
        if (c.off.empty()) {
            EXPECT_EQ(Texts{}, changes);
        } else {
            ASSERT_FALSE(changes.empty());
            EXPECT_EQ(c.off, changes[0]);
        }
        EXPECT_EQ("", out);
    }
}

TEST(PowerSave, DeviceOnPort1KeepsPort0Powered) {
    std::string dir = board::make("save_busy", {"usb.port1.attached=1"});
    std::string out = run_until(dir, {"otgpowersave"}, [](const Trace& t) { return query_times(t, 1).size() >= 4; });
    Trace t = board::trace(dir);
    EXPECT_EQ(Texts{}, board::change_texts(t));
    // A look every second.
    std::vector<double> looks = query_times(t, 0);
    EXPECT_LT(shortest_gap(looks, looks, 3), 1.6);
    // Port 0 is queried first in every cycle.
    std::vector<double> q0 = query_times(t, 0), q1 = query_times(t, 1);
    ASSERT_GE(q0.size(), 3u);
    for (size_t i = 0; i < 3; i++) EXPECT_LT(q0[i], q1[i]);
    EXPECT_EQ("", out);
}

TEST(PowerSave, IdlePortsSwitchPort0OffAndWakeIt) {
    std::string dir = board::make("save_idle", {});
    std::string out = run_until(dir, {"otgpowersave"}, [](const Trace& t) { return phy_times(t, 0, "1").size() >= 4; });
    Trace t = board::trace(dir);
    std::vector<double> off0 = phy_times(t, 0, "1"), on0 = phy_times(t, 0, "0");
    // Ceilings: 500 ms from ON to the query and OFF, 1 s from OFF to the next ON.
    EXPECT_LT(shortest_gap(on0, off0, 3), 0.8);
    EXPECT_LT(shortest_gap(off0, on0, 3), 1.6);
    ASSERT_GE(on0.size(), 2u);
    EXPECT_LT(off0[0], on0[0]);
    // The cycle: ON, 500 ms, query, OFF, 1 s.
    EXPECT_GE(off0[1] - on0[0], 0.45);
    EXPECT_GE(on0[0] - off0[0], 0.95);
    EXPECT_GE(on0[1] - on0[0], 1.45);
    // Port 1 is only ever queried.
    for (const std::string& ch : board::change_texts(t)) {
        EXPECT_EQ(ch.find(LM1), std::string::npos) << ch;
        EXPECT_EQ(ch.find("usb1"), std::string::npos) << ch;
    }
    EXPECT_EQ("", out);
}

TEST(PowerSave, OnlyPort0PresentStartsUnpowered) {
    std::string dir = board::make("save_lm0", {"usb.ports=0"});
    std::string out = run_until(dir, {"otgpowersave"}, [](const Trace& t) { return phy_times(t, 0, "1").size() >= 1; });
    Trace t = board::trace(dir);
    std::vector<board::Change> ch = board::changes(t);
    ASSERT_GE(ch.size(), 2u);
    EXPECT_EQ(OTG_MODULE_ON_PATH "=usb0", ch[0].text);
    EXPECT_EQ(LM0 + "peri_sleepm=0", ch[1].text);
    std::vector<double> q0 = query_times(t, 0);
    ASSERT_FALSE(q0.empty());
    EXPECT_GE(q0[0] - ch[1].t, 0.45);
    EXPECT_EQ(0u, query_times(t, 1).size());
    EXPECT_EQ("", out);
}

}  // namespace
