// The daemons without path redirection: in a private mount namespace a tmpfs over "/sys" holds the
// board's attribute tree, so the kernel itself answers euidaccess, fopen, reads and writes. The
// attribute files are static here (no kernel model); what the daemons wrote is copied out of the
// namespace before it ends. The whole test is skipped where mount namespaces are refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "board_support.h"
#include "bringup/otg.h"
#include "sysfs_ns.h"

namespace {

const bool g_skip = sysns::skip_where_refused();

// Runs the program in a new mount namespace over a tmpfs "/sys" holding <dir>/sys, for at most
// seconds (SIGTERM then, exit status 124), and copies the resulting tree to <dir>/after.
const std::string SCRIPT = std::string("set -e\nboard=$1; seconds=$2; shift 2\n") + sysns::MOUNT_SYS +
                           "cp -a \"$board/sys/.\" /sys/\n"
                           "set +e\n"
                           "timeout -s TERM \"$seconds\" \"$@\"\n"
                           "rc=$?\n"
                           "mkdir -p \"$board/after\" && cp -a /sys/. \"$board/after/\"\n"
                           "exit $rc\n";

testutil::RunResult run_in_namespace(const std::string& dir, const std::vector<std::string>& argv,
                                     double seconds) {
    // The seconds are the time the program has to get where a test looks: they grow with the time
    // scale, as the program starts and runs slower under an emulator.
    std::vector<std::string> args = {dir, std::to_string(seconds * testutil::time_scale()), testutil::stage_bin(argv[0])};
    args.insert(args.end(), argv.begin() + 1, argv.end());
    return sysns::run(SCRIPT, args, seconds * testutil::time_scale() + 60);
}

std::string after(const std::string& dir, const std::string& sys_path) {
    return testutil::read_file(dir + "/after" + sys_path.substr(4));
}

const std::string LM0 = OTG_PORT0_DIR "/";
const std::string LM1 = OTG_PORT1_DIR "/";
const std::string MOD = OTG_MODULE_CLASS_DIR "/";
const std::string PHY = OTG_PHY_CONTROL_DIR "/";

TEST(KernelSysfs, VersionsDecideTheStart) {
    struct Case {
        const char* program;
        const char* version;
        int exit_code;
    };
    const Case cases[] = {
        {"otgpower", "2.20a", 255}, {"otgpowersave", "2.20a", 255}, {"otgpoweriddq", "3.10a", 255},
        {"otgpower", "none", 255},  {"otgpower", "3.10a", 124},     {"otgpoweriddq", "2.94a", 124},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.version);
        std::string dir = board::make("ns_version", {std::string("usb.version=") + c.version});
        testutil::RunResult r = run_in_namespace(dir, {c.program}, 0.8);
        EXPECT_EQ(c.exit_code, r.exit_code) << r.err;
        EXPECT_EQ(c.exit_code == 255 ? "This dwc_otg version not support. Please check!\n" : "", r.out);
    }
}

TEST(KernelSysfs, IdlePortsAreSwitchedWithBareValues) {
    // The attributes are static: every query finds the ports idle, so each cycle switches them.
    std::string dir = board::make("ns_idle", {});
    testutil::RunResult r = run_in_namespace(dir, {"otgpower"}, 1.2);
    EXPECT_EQ(124, r.exit_code) << r.err;
    EXPECT_EQ("", r.out);
    std::string module = after(dir, MOD + "mod_off");
    EXPECT_TRUE(module == "usb0" || module == "usb1") << module;
    for (const std::string& lm : {LM0, LM1}) {
        std::string v = after(dir, lm + "peri_sleepm");
        EXPECT_TRUE(v == "0" || v == "1") << lm << " '" << v << "'";
        EXPECT_EQ("", after(dir, lm + "peri_iddq"));
        EXPECT_EQ("", after(dir, lm + "peri_otg_disable"));  // host role
    }

    dir = board::make("ns_idle_iddq", {"--profile", "otg-iddq"});
    r = run_in_namespace(dir, {"otgpoweriddq", "B"}, 0.8);
    EXPECT_EQ(124, r.exit_code) << r.err;
    std::string v = after(dir, LM1 + "peri_iddq");
    EXPECT_TRUE(v == "0" || v == "1") << v;
    EXPECT_EQ("1", after(dir, LM0 + "peri_iddq"));  // the unselected port's one OFF request

    dir = board::make("ns_idle_phyctl", {"--profile", "otg-2.60a", "usb.ports=0", "usb.port0.role=peripheral"});
    r = run_in_namespace(dir, {"otgpower", "A"}, 0.8);
    EXPECT_EQ(124, r.exit_code) << r.err;
    EXPECT_EQ("A", after(dir, PHY + "index"));
    std::string por = after(dir, PHY + "por");
    EXPECT_TRUE(por == "on" || por == "off") << por;
    EXPECT_EQ(por, after(dir, LM0 + "pullup"));
    EXPECT_EQ(por, after(dir, PHY + "otgdisable"));
}

TEST(KernelSysfs, PortsInUseAreLeftAlone) {
    // otgpower A with a device on port 1: the start-up OFF is refused.
    std::string dir = board::make("ns_busy", {"usb.port1.attached=1"});
    testutil::RunResult r = run_in_namespace(dir, {"otgpower", "A"}, 0.8);
    EXPECT_EQ(124, r.exit_code) << r.err;
    EXPECT_EQ("Has devices on this port,can't power off!\n", r.out);
    EXPECT_EQ("", after(dir, LM1 + "peri_sleepm"));

    // otgpowersave keeps port 0 powered while port 1 is in use.
    dir = board::make("ns_save_busy", {"usb.port1.attached=1"});
    r = run_in_namespace(dir, {"otgpowersave"}, 1.5);
    EXPECT_EQ(124, r.exit_code) << r.err;
    EXPECT_EQ("", r.out);
    for (const std::string& f : {LM0 + "peri_sleepm", LM1 + "peri_sleepm", MOD + "mod_on", MOD + "mod_off"})
        EXPECT_EQ("", after(dir, f)) << f;
}

TEST(KernelSysfs, MalformedControlWordWritesNothing) {
    std::string dir = board::make("ns_malformed", {"usb.ports=0", "usb.port0.gotgctl=GOTGCTL = 0x\\n"});
    testutil::RunResult r = run_in_namespace(dir, {"otgpower", "A"}, 0.3);
    EXPECT_EQ(124, r.exit_code) << r.err;
    std::vector<std::string> lines = testutil::split_lines(r.out);
    ASSERT_GE(lines.size(), 3u) << r.out;
    for (const std::string& l : lines) EXPECT_EQ("gotgctl txt is error", l);
    for (const std::string& f : {LM0 + "peri_sleepm", MOD + "mod_on", MOD + "mod_off"})
        EXPECT_EQ("", after(dir, f)) << f;
}

TEST(KernelSysfs, NoPortEndsWithZero) {
    for (const char* program : {"otgpower", "otgpoweriddq", "otgpowersave"}) {
        SCOPED_TRACE(program);
        std::string dir = board::make("ns_noport", {"usb.ports=none"});
        testutil::RunResult r = run_in_namespace(dir, {program}, 5);
        EXPECT_EQ(0, r.exit_code) << r.err;
        EXPECT_EQ("", r.out);
    }
}

}  // namespace
