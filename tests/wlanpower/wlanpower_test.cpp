// wlanpower on the simulated board: argument handling, the request sent for each direction, the
// second request after a refusal, the messages and the exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_support.h"
#include "boardfiles/board_names.h"
#include "bringup/wifi_power.h"
#include "wlanpower/messages.h"

namespace {

using Texts = std::vector<std::string>;

const std::string NODE = WIFI_POWER_NODE;

std::string req(unsigned long request, int result) {
    return testutil::request_text(request) + " " + std::to_string(result);
}

// The device operations of the trace as "op detail result".
Texts device_ops(const std::string& dir) {
    Texts ops;
    for (const board::TraceLine& l : board::trace(dir))
        if (l.path == NODE) {
            // The descriptor number of a successful open does not matter.
            std::string result = l.op == "open" && l.result >= 0 ? "fd" : std::to_string(l.result);
            ops.push_back(l.op + " " + l.detail + " " + result);
        }
    return ops;
}

// open with O_RDWR, the given requests with their results, then close (when it got that far).
Texts session(const Texts& requests, bool closed = true) {
    Texts ops;
    ops.push_back("open 0x2 fd");
    for (const std::string& r : requests) ops.push_back("ioctl " + r);
    if (closed) ops.push_back("close  0");
    return ops;
}

testutil::RunResult wlanpower(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"wlanpower"};
    argv.insert(argv.end(), args.begin(), args.end());
    return board::run(dir, argv);
}

TEST(Arguments, WrongCountEndsWith255WithoutTouchingTheDevice) {
    std::string dir = board::make("wlan_args", {});
    for (const std::vector<std::string>& args : {Texts{}, Texts{"1", "1"}, Texts{"0", "x", "y"}}) {
        testutil::RunResult r = wlanpower(dir, args);
        EXPECT_EQ(255, r.exit_code) << args.size();
        EXPECT_EQ(std::string(wifimsg::kUsage) + "\n", r.out);
    }
    EXPECT_EQ(Texts{}, device_ops(dir));
}

TEST(Arguments, DecimalValueOneMeansUpEverythingElseDown) {
    // strtol base 10, low 32 bits kept.
    const Texts up = {"1", "+1", "01", "  1", "\t1", "1abc", "4294967297", "-4294967295"};
    const Texts down = {"0", "2", "-1", "off", "", "0x1", "  ", "4294967296", "99999999999999999999", "11"};
    for (const std::string& arg : up) {
        std::string dir = board::make("wlan_up", {});
        testutil::RunResult r = wlanpower(dir, {arg});
        EXPECT_EQ(0, r.exit_code) << "'" << arg << "'";
        EXPECT_EQ("", r.out) << "'" << arg << "'";
        EXPECT_EQ(session({req(WIFI_POWER_UP, 0)}), device_ops(dir)) << "'" << arg << "'";
        EXPECT_EQ("1", testutil::read_file(dir + "/" + boardfiles::kStateDir + "/wifi.power"));
    }
    for (const std::string& arg : down) {
        std::string dir = board::make("wlan_down", {});
        testutil::RunResult r = wlanpower(dir, {arg});
        EXPECT_EQ(0, r.exit_code) << "'" << arg << "'";
        EXPECT_EQ("", r.out) << "'" << arg << "'";
        EXPECT_EQ(session({req(WIFI_POWER_DOWN, 0)}), device_ops(dir)) << "'" << arg << "'";
        EXPECT_EQ("0", testutil::read_file(dir + "/" + boardfiles::kStateDir + "/wifi.power"));
    }
}

TEST(Requests, SecondRequestOnlyAfterTheFirstIsRefused) {
    std::string dir = board::make("wlan_second", {"--profile", "wifi-second"});
    testutil::RunResult r = wlanpower(dir, {"1"});
    EXPECT_EQ(0, r.exit_code);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(session({req(WIFI_POWER_UP, -1), req(WIFI_POWER_UP_RETRY, 0)}), device_ops(dir));
    EXPECT_EQ("1", testutil::read_file(dir + "/" + boardfiles::kStateDir + "/wifi.power"));

    dir = board::make("wlan_second", {"--profile", "wifi-second"});
    r = wlanpower(dir, {"0"});
    EXPECT_EQ(0, r.exit_code);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(session({req(WIFI_POWER_DOWN, -1), req(WIFI_POWER_DOWN_RETRY, 0)}), device_ops(dir));
    EXPECT_EQ("0", testutil::read_file(dir + "/" + boardfiles::kStateDir + "/wifi.power"));
}

TEST(Requests, BothRefusedPrintTheDirection) {
    std::string dir = board::make("wlan_refuse", {"--profile", "wifi-refuse"});
    testutil::RunResult r = wlanpower(dir, {"1"});
    EXPECT_EQ(0, r.exit_code);
    EXPECT_EQ(std::string(wifimsg::kPowerUpFailed) + "\n", r.out);
    EXPECT_EQ(session({req(WIFI_POWER_UP, -1), req(WIFI_POWER_UP_RETRY, -1)}, false), device_ops(dir));

    dir = board::make("wlan_refuse", {"--profile", "wifi-refuse"});
    r = wlanpower(dir, {"7"});
    EXPECT_EQ(0, r.exit_code);
    EXPECT_EQ(std::string(wifimsg::kPowerDownFailed) + "\n", r.out);
    EXPECT_EQ(session({req(WIFI_POWER_DOWN, -1), req(WIFI_POWER_DOWN_RETRY, -1)}, false), device_ops(dir));
    EXPECT_FALSE(testutil::file_exists(dir + "/" + boardfiles::kStateDir + "/wifi.power"));

    // Only the up requests refused: down still works at the first request.
    dir = board::make("wlan_refuse_up", {"wifi.refuse=1,3"});
    r = wlanpower(dir, {"0"});
    EXPECT_EQ("", r.out);
    EXPECT_EQ(session({req(WIFI_POWER_DOWN, 0)}), device_ops(dir));
}

TEST(Requests, MissingNodeReportsTheOpenFailure) {
    for (const char* arg : {"1", "0"}) {
        std::string dir = board::make("wlan_absent", {"--profile", "wifi-absent"});
        testutil::RunResult r = wlanpower(dir, {arg});
        EXPECT_EQ(0, r.exit_code);
        EXPECT_EQ(std::string(wifimsg::kOpenFailed) + "\n", r.out);
        EXPECT_EQ(Texts{"open 0x2 -1"}, device_ops(dir));
    }
}

}  // namespace
