// A board tree served by the kernel (a tmpfs over "/sys" in a private mount namespace) is recorded
// as a real board would be, each daemon runs there under `boardsim run --trace-only` and on the
// recording under `boardsim run`, and the two traces agree. Skipped where namespaces are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "board_support.h"
#include "boardfiles/board_names.h"
#include "bringup/wifi_power.h"
#include "record_support.h"
#include "runprog.h"
#include "sysfs_ns.h"

namespace {

using rectest::expect_same_run;
using rectest::kCases;
using rectest::ops;
using rectest::Texts;

const bool g_skip = sysns::skip_where_refused();

// `boardsim record` run on the tree as a real board (no --from), and each daemon traced there.
TEST(Record, RecordingOfAKernelServedTreeReplaysTheSameOperations) {
    const double seconds = 2.2;
    const std::string script = std::string("set -e\nboard=$1; rec=$2; trace=$3; seconds=$4; sim=$5; shift 5\n") +
                               sysns::MOUNT_SYS +
                               "cp -a \"$board/sys/.\" /sys/\n"
                               "\"$sim\" record \"$rec\" >/dev/null\n"
                               "set +e\n"
                               "timeout -s TERM \"$seconds\" \"$sim\" run --trace-only --trace \"$trace\" -- \"$@\"\n"
                               "[ $? = 124 ] || exit 98\n";
    for (const rectest::Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string tree = board::make(std::string("rec_") + c.name, c.board);
        std::string rec = tree + "/../recording";
        std::string traced = tree + "/../traced";
        ASSERT_EQ(0, mkdir(traced.c_str(), 0755));
        Texts args = {tree, rec, traced + "/" + boardfiles::kTraceFile, std::to_string(seconds), board::command_path(),
                      testutil::stage_bin(c.argv[0])};
        args.insert(args.end(), c.argv.begin() + 1, c.argv.end());
        testutil::RunResult r = sysns::run(script, args, seconds + 60);
        ASSERT_EQ(0, r.exit_code) << r.out << r.err;

        testutil::RunResult replay = board::run(rec, c.argv, seconds);
        EXPECT_EQ(-1, replay.exit_code);  // ended by SIGTERM, like the daemon on the tree
        expect_same_run(ops(testutil::read_trace(traced)), ops(testutil::read_trace(rec)), 25);
    }
}

// Trace-only on a real device node (a plain file standing in for it, on a tmpfs over "/dev"): its
// open, requests and close are traced where it is, and the program sees the system's answers.
TEST(TraceOnly, TracesRealDeviceNodes) {
    const std::string script = std::string("set -e\ntrace=$1; sim=$2; shift 2\n") +
                               "mount -t tmpfs -o mode=0755 boarddev /dev\n"
                               "[ \"$(stat -f -c %T /dev)\" = tmpfs ] || exit 97\n"
                               ": > " WIFI_POWER_NODE "\n"
                               "set +e\n\"$sim\" run --trace-only --trace \"$trace\" -- \"$@\"\n"
                               "echo \"status $?\"\n";
    std::string dir = testutil::make_temp_dir("traceonly-dev");
    testutil::RunResult r =
        sysns::run(script, {dir + "/" + boardfiles::kTraceFile, board::command_path(), testutil::stage_bin("wlanpower"), "1"}, 60);
    ASSERT_EQ(0, r.exit_code) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("status 0")) << r.out;
    Texts t = ops(testutil::read_trace(dir));
    ASSERT_GE(t.size(), 2u) << r.out;
    EXPECT_EQ(0u, t[0].rfind("open " WIFI_POWER_NODE " ", 0)) << t[0];
    // A plain file refuses every request: the first one, then its retry.
    EXPECT_EQ("ioctl " WIFI_POWER_NODE " " + testutil::request_text(WIFI_POWER_UP) + " -1", t[1]);
    EXPECT_EQ("ioctl " WIFI_POWER_NODE " " + testutil::request_text(WIFI_POWER_UP_RETRY) + " -1", t.back());
}

}  // namespace
