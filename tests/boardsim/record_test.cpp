// Recording a board and tracing programs on real devices: `boardsim record` on board folders (with
// --from, and through the preload library on a simulated board whose audio device answers), its
// command line, and `boardsim run --trace-only` outside any board.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_support.h"
#include "boardfiles/board_names.h"
#include "bringup/otg.h"
#include "bringup/qvaudio.h"
#include "record_support.h"
#include "runprog.h"

namespace {

using rectest::conf_value;
using rectest::expect_same_run;
using rectest::kCases;
using rectest::ops;
using rectest::Texts;

// Without a namespace: a board folder's sys/ read through --from gives a board whose daemons do
// what they do on the original.
TEST(Record, FromAFolderGivesABoardThatBehavesTheSame) {
    for (const rectest::Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string original = board::make(std::string("recfrom_") + c.name, c.board);
        std::string rec = original + "/../recording";
        testutil::RunResult r = board::command({"record", rec, "--from", original});
        ASSERT_EQ(0, r.exit_code) << r.err;
        EXPECT_EQ("", r.err);
        board::run(original, c.argv, 1.7);
        board::run(rec, c.argv, 1.7);
        expect_same_run(ops(board::trace(original)), ops(board::trace(rec)), 15);
    }
}

TEST(Record, SaysWhatWasFound) {
    std::string original = board::make("rec_conf", {"--profile", "otg-iddq", "usb.ports=0", "usb.port0.role=peripheral",
                                                     "usb.port0.missing=peri_otg_disable", "usb.phy_control=0",
                                                     "usb.version=3.10a"});
    std::string rec = original + "/../recording";
    ASSERT_EQ(0, board::command({"record", rec, "--from", original}).exit_code);
    EXPECT_EQ("\"3.10a\\n\"", conf_value(rec, "usb.version"));
    EXPECT_EQ("0", conf_value(rec, "usb.ports"));
    EXPECT_EQ("iddq", conf_value(rec, "usb.phy"));
    EXPECT_EQ("peri_otg_disable", conf_value(rec, "usb.port0.missing"));
    EXPECT_EQ("peripheral", conf_value(rec, "usb.port0.role"));
    EXPECT_EQ("none", conf_value(rec, "usb.port0.busvalid"));
    EXPECT_EQ("0", conf_value(rec, "usb.phy_control"));
    EXPECT_EQ("0", conf_value(rec, "usb.mod_class"));
    // No device nodes under the folder's dev/.
    EXPECT_EQ("0", conf_value(rec, "audio.present"));
    EXPECT_EQ("0", conf_value(rec, "wifi.present"));
    std::string conf = testutil::read_file(rec + "/" + boardfiles::kSettingsFile);
    EXPECT_NE(std::string::npos, conf.find("# " OTG_PORT1_DIR ": missing")) << conf;
    EXPECT_NE(std::string::npos, conf.find("# " OTG_GOTGCTL_PATH ": \"" OTG_GOTGCTL_PREFIX "00010000\\n\"")) << conf;

    // No version file, no ports.
    original = board::make("rec_bare", {"usb.version=none", "usb.ports=none", "usb.mod_class=0"});
    rec = original + "/../recording";
    ASSERT_EQ(0, board::command({"record", rec, "--from", original}).exit_code);
    EXPECT_EQ("none", conf_value(rec, "usb.version"));
    EXPECT_EQ("none", conf_value(rec, "usb.ports"));
    testutil::RunResult r = board::run(rec, {"otgpower"});
    EXPECT_EQ(255, r.exit_code);
}

// On a board whose audio device answers (the simulated one, through the preload library), only
// the read-only queries are asked, and the ring and the measured rate are recorded.
TEST(Record, AsksTheAudioDeviceOnlyItsReadOnlyQueries) {
    std::string original = board::make("rec_audio", {"audio.rate=768000", "audio.ring=131072", "wifi.present=1"});
    std::string rec = original + "/../recording";
    testutil::RunResult r = board::run(original, {board::command_path(), "record", rec});
    ASSERT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("1", conf_value(rec, "audio.present"));
    EXPECT_EQ("131072", conf_value(rec, "audio.ring"));
    EXPECT_EQ("768000", conf_value(rec, "audio.rate"));
    EXPECT_EQ("1", conf_value(rec, "wifi.present"));
    int queries = 0;
    for (const testutil::TraceLine& l : board::trace(original)) {
        EXPECT_NE("write", l.op) << l.path;
        if (l.op != "ioctl") continue;
        queries++;
        std::string request = l.detail.substr(0, l.detail.find(' '));
        EXPECT_TRUE(request == testutil::request_text(kCmdOutSize) || request == testutil::request_text(kCmdOutHwPos) ||
                    request == testutil::request_text(kCmdOutReadPos))
            << l.detail;
    }
    EXPECT_EQ(4, queries);

    // A device whose queries fail is recorded as failing them.
    original = board::make("rec_audio_faults", {"audio.fault.size=-1", "audio.fault.hwpos_fail=1-"});
    rec = original + "/../recording";
    ASSERT_EQ(0, board::run(original, {board::command_path(), "record", rec}).exit_code);
    EXPECT_EQ("-1", conf_value(rec, "audio.fault.size"));
    EXPECT_EQ("1-", conf_value(rec, "audio.fault.hwpos_fail"));
    EXPECT_EQ("", conf_value(rec, "audio.fault.readpos_fail"));
}

TEST(Record, CommandLineErrors) {
    std::string dir = testutil::make_temp_dir("rec_usage");
    struct Bad {
        Texts args;
        int status;
        std::string err;
    };
    const Bad cases[] = {
        {{"record"}, 2, ""},
        {{"record", dir + "/r", "--from"}, 2, ""},
        {{"record", dir + "/r", "--to", dir}, 2, ""},
        {{"record", dir + "/r", "--from", dir + "/none"}, 1, "boardsim: no folder " + dir + "/none\n"},
        {{"run", "--trace-only", "true"}, 2, ""},
        {{"run", "--trace-only", "--trace", "", "--", "true"}, 2, ""},
        {{"run", "--trace-only", "--trace", dir + "/none/trace.log", "--", "true"}, 1, ""},
    };
    for (const Bad& b : cases) {
        testutil::RunResult r = board::command(b.args);
        EXPECT_EQ(b.status, r.exit_code) << b.args.size();
        if (b.status == 2) EXPECT_EQ(0u, r.err.rfind("usage: boardsim", 0)) << r.err;
        else if (!b.err.empty()) EXPECT_EQ(b.err, r.err);
        else EXPECT_NE("", r.err);
    }
    EXPECT_FALSE(testutil::file_exists(dir + "/r"));
}

// Trace-only mode outside any board: operations on "/sys" are traced where they really are, with
// nothing redirected, and nothing else is traced. The traced program is one of the build's own, so
// that the preload library (built for the same machine) loads into it.
TEST(TraceOnly, TracesRealAttributesWithoutRedirecting) {
    const std::string attr = "/sys/devices/system/cpu/online";
    std::string text = testutil::read_file(attr);
    ASSERT_NE("", text);
    std::string dir = testutil::make_temp_dir("traceonly");
    testutil::RunOptions o;
    o.argv = {board::command_path(), "run", "--trace-only", "--trace=" + dir + "/" + boardfiles::kTraceFile, "--", BOARDSIM_PROBE,
              "oread", attr, "oread", "/proc/self/stat", "access", "/sys/devices/system"};
    o.env = {std::string(boardfiles::kBoardEnv) + "=" + dir + "/not-used"};
    testutil::RunResult r = testutil::run(o);
    ASSERT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ(0u, r.out.rfind("oread " + std::to_string(text.size()) + " 0 ", 0)) << r.out;
    Texts t = ops(testutil::read_trace(dir));
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ("open " + attr + " 0x0 fd", t[0]);
    EXPECT_EQ(0u, t[1].rfind("read " + attr + " \"" + text.substr(0, text.size() - 1) + "\\n\" ", 0)) << t[1];
    for (const std::string& line : t) EXPECT_EQ(std::string::npos, line.find("/proc")) << line;
    EXPECT_EQ("access /sys/devices/system 4 0", t.back());
}

// A program that runs boardsim asks it, by exit status, whether it can trace on the real devices.
TEST(TraceOnly, SaysItCanByExitStatus) {
    EXPECT_EQ(0, board::command({"supports", "trace-only"}).exit_code);
    EXPECT_EQ(1, board::command({"supports", "colour"}).exit_code);
    EXPECT_EQ(2, board::command({"supports"}).exit_code);
}

}  // namespace
