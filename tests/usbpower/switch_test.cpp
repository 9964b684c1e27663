// Port power switching by the installed daemons on the simulated board: the attributes written,
// their exact bytes and the order in which they take effect (the order of the closes), for each
// switching method, port role and daemon profile; and the cases where nothing may be written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_support.h"
#include "bringup/otg.h"

namespace {

using Texts = std::vector<std::string>;

const std::string LM0 = OTG_PORT0_DIR "/";
const std::string LM1 = OTG_PORT1_DIR "/";
const std::string PHY = OTG_PHY_CONTROL_DIR "/";
const std::string MOD = OTG_MODULE_CLASS_DIR "/";

Texts concat(std::initializer_list<Texts> parts) {
    Texts all;
    for (const Texts& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Texts first(const Texts& all, size_t n) { return Texts(all.begin(), all.begin() + std::min(n, all.size())); }

// Runs a daemon on the board until at least n values have taken effect (or a timeout), then
// stops it; returns its output.
std::string run_until_changes(const std::string& dir, const std::vector<std::string>& argv, size_t n) {
    board::Daemon d = board::start(dir, argv);
    board::wait_for(dir, [n](const std::vector<board::TraceLine>& t) { return board::changes(t).size() >= n; });
    return board::stop(d);
}

// Runs a daemon until the path has been opened at least n times.
std::string run_until_opens(const std::string& dir, const std::vector<std::string>& argv,
                            const std::string& path, int n) {
    board::Daemon d = board::start(dir, argv);
    board::wait_for(dir, [&path, n](const std::vector<board::TraceLine>& t) { return board::count(t, "open", path) >= n; });
    return board::stop(d);
}

struct OrderCase {
    const char* name;
    std::vector<std::string> argv;
    std::vector<std::string> board;  // boardsim create arguments
    Texts off, on;
};

class WriteOrder : public ::testing::TestWithParam<OrderCase> {};

// An idle managed port: the first cycle finds it unused and switches it off, the next switches it
// on, waits, finds it unused again and switches it off.
TEST_P(WriteOrder, OffOnOffWithExactBytes) {
    const OrderCase& c = GetParam();
    std::string dir = board::make(c.name, c.board);
    Texts expected = concat({c.off, c.on, c.off});
    std::string out = run_until_changes(dir, c.argv, expected.size());
    EXPECT_EQ(expected, first(board::change_texts(board::trace(dir)), expected.size()));
    EXPECT_EQ("", out);
}

const Texts PHY_HOST_A_OFF = {PHY + "index=A", PHY + "por=off"};
const Texts PHY_HOST_A_ON = {PHY + "index=A", PHY + "por=on"};
const Texts PHY_HOST_B_OFF = {PHY + "index=B", PHY + "por=off"};
const Texts PHY_HOST_B_ON = {PHY + "index=B", PHY + "por=on"};

INSTANTIATE_TEST_SUITE_P(
    Methods, WriteOrder,
    ::testing::Values(
        OrderCase{"phyctl_host_port0", {"otgpower", "A"}, {"--profile", "otg-2.60a", "usb.ports=0"},
                  PHY_HOST_A_OFF, PHY_HOST_A_ON},
        OrderCase{"phyctl_host_port1", {"otgpower", "B"}, {"--profile", "otg-2.60a", "usb.ports=1"},
                  PHY_HOST_B_OFF, PHY_HOST_B_ON},
        OrderCase{"phyctl_peripheral_port0", {"otgpower", "A"},
                  {"--profile", "otg-2.60a", "usb.ports=0", "usb.port0.role=peripheral"},
                  {PHY + "index=A", PHY + "por=off", LM0 + "pullup=off", PHY + "otgdisable=off"},
                  {PHY + "index=A", PHY + "por=on", LM0 + "pullup=on", PHY + "otgdisable=on"}},
        OrderCase{"phyctl_peripheral_port1", {"otgpower", "B"},
                  {"--profile", "otg-2.60a", "usb.ports=1", "usb.port1.role=peripheral"},
                  {PHY + "index=B", PHY + "por=off", LM1 + "pullup=off", PHY + "otgdisable=off"},
                  {PHY + "index=B", PHY + "por=on", LM1 + "pullup=on", PHY + "otgdisable=on"}},
        OrderCase{"iddq_phyctl_host_port1", {"otgpoweriddq", "B"}, {"--profile", "otg-2.60a", "usb.ports=1"},
                  PHY_HOST_B_OFF, PHY_HOST_B_ON},
        OrderCase{"iddq_phyctl_peripheral_port0", {"otgpoweriddq", "A"},
                  {"--profile", "otg-2.60a", "usb.ports=0", "usb.port0.role=peripheral"},
                  {PHY + "index=A", PHY + "por=off", LM0 + "pullup=off", PHY + "otgdisable=off"},
                  {PHY + "index=A", PHY + "por=on", LM0 + "pullup=on", PHY + "otgdisable=on"}},
        OrderCase{"sleepm_host_port0", {"otgpower", "A"}, {"usb.ports=0"},
                  {MOD + "mod_off=usb0", LM0 + "peri_sleepm=1"},
                  {MOD + "mod_on=usb0", LM0 + "peri_sleepm=0"}},
        OrderCase{"sleepm_peripheral_port0", {"otgpower", "A"}, {"usb.ports=0", "usb.port0.role=peripheral"},
                  {MOD + "mod_off=usb0", LM0 + "peri_sleepm=1", LM0 + "peri_otg_disable=1"},
                  {MOD + "mod_on=usb0", LM0 + "peri_sleepm=0", LM0 + "peri_otg_disable=0"}},
        OrderCase{"sleepm_310a_host_port1", {"otgpower", "B"}, {"--profile", "otg-3.10a", "usb.ports=1"},
                  {MOD + "mod_off=usb1", LM1 + "peri_sleepm=1"},
                  {MOD + "mod_on=usb1", LM1 + "peri_sleepm=0"}},
        OrderCase{"sleepm_310a_peripheral_port1", {"otgpower", "B"},
                  {"--profile", "otg-3.10a", "usb.ports=1", "usb.port1.role=peripheral"},
                  {MOD + "mod_off=usb1", LM1 + "peri_sleepm=1", LM1 + "peri_otg_disable=1"},
                  {MOD + "mod_on=usb1", LM1 + "peri_sleepm=0", LM1 + "peri_otg_disable=0"}},
        OrderCase{"iddq_host_port0", {"otgpoweriddq", "A"}, {"--profile", "otg-iddq", "usb.ports=0"},
                  {LM0 + "peri_iddq=1"}, {LM0 + "peri_iddq=0"}},
        OrderCase{"iddq_peripheral_port1", {"otgpoweriddq", "B"},
                  {"--profile", "otg-iddq", "usb.ports=1", "usb.port1.role=peripheral"},
                  {LM1 + "peri_iddq=1", LM1 + "peri_otg_disable=1"},
                  {LM1 + "peri_iddq=0", LM1 + "peri_otg_disable=0"}},
        // otgpowersave switches port 0 only; with both ports present it starts powered.
        OrderCase{"save_sleepm_host_port0", {"otgpowersave"}, {},
                  {MOD + "mod_off=usb0", LM0 + "peri_sleepm=1"},
                  {MOD + "mod_on=usb0", LM0 + "peri_sleepm=0"}},
        OrderCase{"save_phyctl_peripheral_port0", {"otgpowersave"},
                  {"--profile", "otg-2.60a", "usb.port0.role=peripheral"},
                  {PHY + "index=A", PHY + "por=off", LM0 + "pullup=off", PHY + "otgdisable=off"},
                  {PHY + "index=A", PHY + "por=on", LM0 + "pullup=on", PHY + "otgdisable=on"}}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.name); });

// Every output line equals the expected message, and there are at least n of them.
void expect_only_lines(const std::string& out, const std::string& message, size_t n) {
    std::vector<std::string> lines = testutil::split_lines(out);
    EXPECT_GE(lines.size(), n) << out;
    for (const std::string& l : lines) EXPECT_EQ(message, l);
}

TEST(NothingWritten, ControlWordUnreadable) {
    struct Case {
        const char* name;
        std::string setting;
        std::string message;  // empty: none
    };
    const Case cases[] = {
        {"denied", "fault.deny=" OTG_GOTGCTL_PATH, ""},
        {"missing", "usb.port0.missing=gotgctl", ""},
        {"empty", "usb.port0.gotgctl=\"\"", "Failed to read gotgctl"},
        {"lower_case_prefix", "usb.port0.gotgctl=gotgctl = 0x000c0000\\n", "gotgctl txt is error"},
        // The prefix with no hexadecimal digit after it is a malformed line, not a value.
        {"prefix_without_digits", "usb.port0.gotgctl=GOTGCTL = 0x\\n", "gotgctl txt is error"},
        {"prefix_with_junk", "usb.port0.gotgctl=GOTGCTL = 0xzz\\n", "gotgctl txt is error"},
    };
    for (const char* program : {"otgpower", "otgpoweriddq"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(program) + " " + c.name);
            std::string dir = board::make(c.name, {"usb.ports=0", c.setting});
            // Two cycles: query, OFF (status read and control read), ON, query, OFF.
            std::string out = run_until_opens(dir, {program, "A"}, LM0 + "gotgctl", 7);
            EXPECT_EQ(Texts{}, board::change_texts(board::trace(dir)));
            if (c.message.empty()) {
                EXPECT_EQ("", out);
            } else {
                // Query once, then OFF twice (its status read and its own control read).
                std::vector<std::string> lines = testutil::split_lines(out);
                ASSERT_GE(lines.size(), 3u);
                expect_only_lines(out, c.message, 3);
            }
        }
    }
}

TEST(NothingWritten, AttributeOfTheStepMissing) {
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        std::vector<std::string> board;
        Texts per_request;  // the files opened and closed unwritten by one request
    };
    const Case cases[] = {
        {"sleepm_otg_disable", {"otgpower", "A"},
         {"usb.ports=0", "usb.port0.role=peripheral", "usb.port0.missing=peri_otg_disable"},
         {LM0 + "peri_sleepm="}},
        {"iddq_otg_disable", {"otgpoweriddq", "A"},
         {"--profile", "otg-iddq", "usb.ports=0", "usb.port0.role=peripheral", "usb.port0.missing=peri_otg_disable"},
         {LM0 + "peri_iddq="}},
        {"sleepm_phy_power", {"otgpower", "A"}, {"usb.ports=0", "usb.port0.missing=peri_sleepm"}, {}},
        // The port-select write comes first and stays done.
        {"phyctl_otgdisable", {"otgpower", "A"},
         {"--profile", "otg-2.60a", "usb.ports=0", "usb.port0.role=peripheral", "usb.phy_control.missing=otgdisable"},
         {PHY + "index=A", PHY + "por=", LM0 + "pullup="}},
        {"phyctl_por", {"otgpower", "A"}, {"--profile", "otg-2.60a", "usb.ports=0", "usb.phy_control.missing=por"},
         {PHY + "index=A"}},
        {"phyctl_index", {"otgpower", "A"}, {"--profile", "otg-2.60a", "usb.ports=0", "usb.phy_control.missing=index"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = board::make(c.name, c.board);
        // Three requests: OFF, ON, OFF.
        std::string out = run_until_opens(dir, c.argv, LM0 + "gotgctl", 8);
        Texts expected = concat({c.per_request, c.per_request, c.per_request});
        EXPECT_EQ(expected, first(board::change_texts(board::trace(dir)), expected.size()));
        for (const std::string& ch : board::change_texts(board::trace(dir)))
            EXPECT_EQ(ch.find(MOD), std::string::npos) << ch;
        EXPECT_EQ("", out);
    }
}

TEST(StatusRead, BusConnectedFaultsCountAsUnusedAndTheSwitchGoesOn) {
    struct Case {
        const char* name;
        std::string setting;
        std::string message;
    };
    const Case cases[] = {
        {"malformed", "usb.port0.busconnected=bus connected = 0x1\\n", "busconnected txt is error"},
        {"prefix_without_digits", "usb.port0.busconnected=Bus Connected = 0x\\n", "busconnected txt is error"},
        {"empty", "usb.port0.busconnected=\"\"", "Failed to read busconnected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A device on port 0 (host role): only the unreadable connection state lets it go off.
        std::string dir = board::make(c.name, {"usb.ports=0", "usb.port0.attached=1", c.setting});
        std::string out = run_until_changes(dir, {"otgpower", "A"}, 2);
        EXPECT_EQ((Texts{MOD + "mod_off=usb0", LM0 + "peri_sleepm=1"}),
                  first(board::change_texts(board::trace(dir)), 2));
        // The query and the status read of the OFF request each print it once.
        std::vector<std::string> lines = testutil::split_lines(out);
        ASSERT_GE(lines.size(), 2u) << out;
        EXPECT_EQ(c.message, lines[0]);
        EXPECT_EQ(c.message, lines[1]);
    }
}

TEST(StatusRead, MissingBusConnectedFileIsQuietlyUnused) {
    // A peripheral port with both bus-valid bits: in use, were its busconnected file readable.
    std::string dir = board::make("busconnected_missing",
                                  {"usb.ports=0", "usb.port0.gotgctl=GOTGCTL = 0x000d0000\\n",
                                   "usb.port0.missing=busconnected"});
    std::string out = run_until_changes(dir, {"otgpower", "A"}, 3);
    EXPECT_EQ((Texts{MOD + "mod_off=usb0", LM0 + "peri_sleepm=1", LM0 + "peri_otg_disable=1"}),
              first(board::change_texts(board::trace(dir)), 3));
    EXPECT_EQ("", out);
}

TEST(ModuleClass, MissingClassStillSwitchesThePhy) {
    for (const char* role : {"host", "peripheral"}) {
        SCOPED_TRACE(role);
        bool peripheral = std::string(role) == "peripheral";
        std::string dir = board::make("noclass", {"usb.ports=0", "usb.mod_class=0", std::string("usb.port0.role=") + role});
        Texts off = {LM0 + "peri_sleepm=1"}, on = {LM0 + "peri_sleepm=0"};
        if (peripheral) {
            off.push_back(LM0 + "peri_otg_disable=1");
            on.push_back(LM0 + "peri_otg_disable=0");
        }
        Texts expected = concat({off, on, off});
        std::string out = run_until_changes(dir, {"otgpower", "A"}, expected.size());
        EXPECT_EQ(expected, first(board::change_texts(board::trace(dir)), expected.size()));
        EXPECT_EQ("", out);
    }
}

TEST(RefusedOff, DeviceOnAnUnselectedPort) {
    // otgpower A with a device on port 1: port 1's start-up OFF is refused and port 1 is never
    // looked at again.
    std::string dir = board::make("refused", {"usb.port1.attached=1"});
    std::string out = run_until_changes(dir, {"otgpower", "A"}, 6);
    std::vector<board::TraceLine> t = board::trace(dir);
    EXPECT_EQ("Has devices on this port,can't power off!\n", out);
    EXPECT_EQ(1, board::count(t, "open", LM1 + "gotgctl"));
    EXPECT_EQ(1, board::count(t, "open", LM1 + "busconnected"));
    for (const std::string& ch : board::change_texts(t)) {
        EXPECT_EQ(ch.find(LM1), std::string::npos) << ch;
        EXPECT_EQ(ch.find("usb1"), std::string::npos) << ch;
    }
}

}  // namespace
