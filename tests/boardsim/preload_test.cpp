// The simulated board as programs see it: a probe program run with `boardsim run` on boards made
// with `boardsim create`, checked through what it prints, the board folder and the trace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "boardfiles/board_names.h"
#include "bringup/audio_stream.h"
#include "bringup/board_setting_rows.h"
#include "bringup/otg.h"
#include "bringup/qvaudio.h"
#include "bringupcheck/proc.h"
#include "runprog.h"

namespace {

using testutil::RunResult;

std::string cli() { return testutil::build_dir() + "/boardsim/boardsim"; }

RunResult run_cli(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    testutil::RunOptions o;
    o.argv = {cli()};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.env = env;
    o.timeout_s = 30;
    return testutil::run(o);
}

std::string make_board(const std::string& tag, const std::vector<std::string>& settings = {}) {
    std::string dir = testutil::make_temp_dir(tag) + "/board";
    std::vector<std::string> args = {"create", dir};
    args.insert(args.end(), settings.begin(), settings.end());
    RunResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return dir;
}

RunResult probe(const std::string& board, const std::vector<std::string>& calls) {
    std::vector<std::string> args = {"run", board, "--", BOARDSIM_PROBE};
    args.insert(args.end(), calls.begin(), calls.end());
    return run_cli(args);
}

// Trace lines without their time and process fields.
std::vector<std::string> trace(const std::string& board) {
    std::vector<std::string> out;
    for (const std::string& line : testutil::split_lines(testutil::read_file(board + "/" + boardfiles::kTraceFile))) {
        size_t a = line.find('\t');
        size_t b = line.find('\t', a + 1);
        out.push_back(line.substr(b + 1));
    }
    return out;
}

long field(const std::string& line, int index) {
    size_t pos = 0;
    for (int i = 0; i < index; ++i) pos = line.find(' ', pos) + 1;
    return std::stol(line.substr(pos));
}

TEST(Sysfs, RedirectedAndTracedInOrder) {
    std::string board = make_board("sysfs");
    mkdir((board + "/sys/kernel").c_str(), 0755);
    mkdir((board + "/sys/kernel/probe").c_str(), 0755);
    testutil::write_file(board + "/sys/kernel/probe/value", "12\n");
    testutil::write_file(board + "/sys/kernel/probe/power", "off");
    RunResult r = probe(board, {"fread", "/sys/kernel/probe/value", "fwrite", "/sys/kernel/probe/power",
                                "on", "oread", "/sys/kernel/probe/power", "owrite",
                                "/sys/kernel/probe/value", "7", "access", "/sys/kernel/probe/value",
                                "access", "/sys/kernel/probe/none", "stat", "/sys/kernel/probe/value",
                                "fread", "/sys/kernel/probe/none"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "fread 3 0 \"12\\n\"\n"
              "fwrite 0 0\n"
              "oread 2 0 \"on\"\n"
              "owrite 1 0\n"
              "access 0 0\n"
              "access -1 2\n"
              "stat 0 0 other\n"
              "fread -1 2\n");
    EXPECT_EQ(testutil::read_file(board + "/sys/kernel/probe/power"), "on");
    EXPECT_EQ(testutil::read_file(board + "/sys/kernel/probe/value"), "7");

    std::vector<std::string> t = trace(board);
    ASSERT_EQ(t.size(), 17u);
    EXPECT_EQ(t[0].substr(0, t[0].rfind('\t')), "open\t/sys/kernel/probe/value\tr");
    EXPECT_EQ(t[1], "read\t/sys/kernel/probe/value\t\"12\\n\"\t3");
    EXPECT_EQ(t[3], "close\t/sys/kernel/probe/value\t\t0");
    EXPECT_EQ(t[4].substr(0, t[4].rfind('\t')), "open\t/sys/kernel/probe/power\tw");
    EXPECT_EQ(t[5], "write\t/sys/kernel/probe/power\t\"on\"\t2");
    EXPECT_EQ(t[6], "close\t/sys/kernel/probe/power\t\t0");
    EXPECT_EQ(t[7].substr(0, t[7].rfind('\t')), "open\t/sys/kernel/probe/power\t0x0");
    EXPECT_EQ(t[8], "read\t/sys/kernel/probe/power\t\"on\"\t2");
    EXPECT_EQ(t[9], "close\t/sys/kernel/probe/power\t\t0");
    EXPECT_EQ(t[10].substr(0, t[10].rfind('\t')), "open\t/sys/kernel/probe/value\t0x201");
    EXPECT_EQ(t[11], "write\t/sys/kernel/probe/value\t\"7\"\t1");
    EXPECT_EQ(t[13], "access\t/sys/kernel/probe/value\t4\t0");
    EXPECT_EQ(t[14], "access\t/sys/kernel/probe/none\t4\t-1");
    EXPECT_EQ(t[15], "stat\t/sys/kernel/probe/value\t\t0");
    EXPECT_EQ(t[16], "open\t/sys/kernel/probe/none\tr\t-1");
}

TEST(Sysfs, DeniedPathsCannotBeOpenedOrAccessed) {
    std::string board = make_board("deny", {"fault.deny=/sys/kernel/a,/sys/kernel/b"});
    // A second line adds to the list rather than replacing it.
    std::string conf = testutil::read_file(board + "/" + boardfiles::kSettingsFile);
    testutil::write_file(board + "/" + boardfiles::kSettingsFile, conf + "fault.deny = /sys/kernel/c\n");
    mkdir((board + "/sys/kernel").c_str(), 0755);
    for (const char* f : {"a", "b", "c", "d"}) testutil::write_file(board + "/sys/kernel/" + f, "x");
    // Links out of the board folder are denied alike, and so is a FIFO; a link within it is followed.
    std::string outside = board + "/../outside";
    testutil::write_file(outside, "secret");
    ASSERT_EQ(symlink(outside.c_str(), (board + "/sys/kernel/e").c_str()), 0);
    ASSERT_EQ(symlink("d", (board + "/sys/kernel/f").c_str()), 0);
    ASSERT_EQ(mkfifo((board + "/sys/kernel/g").c_str(), 0644), 0);
    RunResult r = probe(board, {"fread", "/sys/kernel/a", "access", "/sys/kernel/b", "oread",
                                "/sys/kernel/c", "fwrite", "/sys/kernel/a", "y", "fread", "/sys/kernel/d",
                                "fread", "/sys/kernel/e", "owrite", "/sys/kernel/e", "y", "fread", "/sys/../../outside",
                                "oread", "/sys/kernel/g", "fread", "/sys/kernel/f"});
    EXPECT_EQ(r.out,
              "fread -1 13\n"
              "access -1 13\n"
              "oread -1 13\n"
              "fwrite -1 13\n"
              "fread 1 0 \"x\"\n"
              "fread -1 13\n"
              "owrite -1 13\n"
              "fread -1 13\n"
              "oread -1 13\n"
              "fread 1 0 \"x\"\n");
    EXPECT_EQ(testutil::read_file(board + "/sys/kernel/a"), "x");
    EXPECT_EQ(testutil::read_file(outside), "secret");
}

TEST(Sysfs, MissingAttributesAreNeverCreated) {
    std::string board = make_board("nocreate");
    RunResult r = probe(board, {"fwrite", "/sys/kernel/none", "1", "owrite", "/sys/kernel/none", "1"});
    EXPECT_EQ(r.out, "fwrite -1 2\nowrite -1 2\n");
    EXPECT_FALSE(testutil::file_exists(board + "/sys/kernel/none"));
}

TEST(Sysfs, NoBoardNoRedirection) {
    testutil::RunOptions o;
    o.argv = {BOARDSIM_PROBE, "access", "/sys/kernel/probe/value", "dopen", "thread"};
    o.env = {"LD_PRELOAD=" + testutil::build_dir() + "/boardsim/" + boardfiles::kPreloadLibrary, std::string(boardfiles::kBoardEnv) + "="};
    RunResult r = testutil::run(o);
    EXPECT_EQ(r.out, "access -1 2\ndopen -1 2\nthread 0\n");
}

TEST(AudioDevice, PositionsFollowTheClockAndReadsFollowTheStream) {
    std::string board = make_board("audio", {"audio.content=counter", "audio.rate=100000"});
    RunResult r = probe(board, {"stat", QVAUDIO_NODE, "dopen", "setup", "1", "size", "sleep", "30",
                                "hw", "rd", "sleep", "30", "hw", "read", "1000", "rd", "dclose"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> out = testutil::split_lines(r.out);
    ASSERT_EQ(out.size(), 10u) << r.out;
    EXPECT_EQ(out[0], "stat 0 0 chr");
    EXPECT_EQ(out[1], "dopen 0 0");
    EXPECT_EQ(out[2], "setup 0 0");
    EXPECT_EQ(out[3], "size 65536 0");
    long hw1 = field(out[4], 1);
    long hw2 = field(out[6], 1);
    EXPECT_EQ(out[5], "rd 0 0");
    EXPECT_GE(hw1, 30 * 100 - 4);  // at least the time slept, at 100 bytes per millisecond
    EXPECT_GT(hw2, hw1);
    EXPECT_EQ(hw1 % 4, 0);
    // From the start of the stream: counter words 0, 1, 2, ...
    EXPECT_EQ(out[7], "read 1000 0 0 contig");
    EXPECT_EQ(out[8], "rd 1000 0");

    std::vector<std::string> t = trace(board);
    ASSERT_GE(t.size(), 9u);
    EXPECT_EQ(t[1].substr(0, t[1].rfind('\t')), "open\t" QVAUDIO_NODE "\t0x2");
    const std::string ioctl = std::string("ioctl\t") + QVAUDIO_NODE + "\t";
    EXPECT_EQ(t[2], ioctl + testutil::request_text(kCmdOutSetup) + " 1\t0");
    EXPECT_EQ(t[3], ioctl + testutil::request_text(kCmdOutSize) + " 0\t65536");
    EXPECT_EQ(t[4].substr(0, t[4].rfind('\t')), ioctl + testutil::request_text(kCmdOutHwPos));
    EXPECT_EQ(t[7], "read\t" QVAUDIO_NODE "\t1000\t1000");
    EXPECT_EQ(t.back(), "close\t" QVAUDIO_NODE "\t\t0");
}

TEST(AudioDevice, ToneAtAFractionalFrequency) {
    std::string board = make_board("tone", {"audio.tone_hz=440.5"});
    RunResult r = probe(board, {"dopen", "setup", "1", "sleep", "30", "readhex", "2000", "dclose"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> out = testutil::split_lines(r.out);
    ASSERT_EQ(out.size(), 4u) << r.out;
    bringup::AudioStream stream{bringup::board_default::audio_rate, false, 440.5};
    std::string hex;
    for (long long i = 0; i < 2000; ++i) {
        char byte[4];
        snprintf(byte, sizeof byte, "%02x", bringup::stream_byte(stream, i));
        hex += byte;
    }
    EXPECT_EQ(out[2], "readhex 2000 0 " + hex);
}

TEST(AudioDevice, ReadPositionAndTheRingsEnd) {
    // A slow clock, so that the hardware stays near the stream's start.
    std::string board = make_board("ring", {"audio.content=counter", "audio.rate=1000", "audio.ring=4096"});
    RunResult r = probe(board, {"dopen", "sleep", "20", "setrd", "4000", "rd", "read", "400", "rd",
                                "read", "8", "setrd", "4096", "setrd", "-1"});
    std::vector<std::string> out = testutil::split_lines(r.out);
    ASSERT_EQ(out.size(), 8u) << r.out;
    EXPECT_EQ(out[1], "setrd 0 0");
    EXPECT_EQ(out[2], "rd 4000 0");
    // A read stops at the ring's end (the ring there holds nothing played yet: zeros) ...
    EXPECT_EQ(out[3], "read 96 0 0 broken");
    // ... and the next read starts at the ring's beginning, the stream's start.
    EXPECT_EQ(out[4], "rd 0 0");
    EXPECT_EQ(out[5], "read 8 0 0 contig");
    // Positions outside the ring are refused.
    EXPECT_EQ(out[6], "setrd -1 22");
    EXPECT_EQ(out[7], "setrd -1 22");
}

TEST(AudioDevice, OverrunDropsWhatTheHardwareOverwrote) {
    std::string board = make_board("overrun", {"audio.content=counter", "audio.rate=200000", "audio.ring=4096"});
    RunResult r = probe(board, {"dopen", "setup", "1", "sleep", "100", "hw", "rd"});
    std::vector<std::string> out = testutil::split_lines(r.out);
    ASSERT_EQ(out.size(), 4u) << r.out;
    EXPECT_EQ(field(out[2], 1), field(out[3], 1)) << "the reader was moved up to the hardware";
    bool traced = false;
    for (const std::string& line : trace(board))
        traced = traced || line.rfind("fault\t" QVAUDIO_NODE "\toverrun ", 0) == 0;
    EXPECT_TRUE(traced);
}

TEST(AudioDevice, FaultsOnRequest) {
    std::string board = make_board("faults", {"audio.content=counter", "audio.fault.hwpos_fail=2",
                                              "audio.fault.readpos_range=1", "audio.fault.short_read=1",
                                              "audio.fault.read_error=2-3", "audio.fault.hwpos_range=3-"});
    RunResult r = probe(board, {"dopen", "hw", "hw", "rd", "rd", "read", "100", "read", "8", "read", "8",
                                "read", "8", "hw", "hw"});
    std::vector<std::string> out = testutil::split_lines(r.out);
    ASSERT_EQ(out.size(), 11u) << r.out;
    EXPECT_EQ(out[2], "hw -1 5");
    EXPECT_EQ(out[3], "rd -2 0");
    EXPECT_EQ(out[5].substr(0, 10), "read 48 0 ");
    EXPECT_EQ(out[6], "read -1 5");
    EXPECT_EQ(out[7], "read -1 5");
    EXPECT_EQ(out[8].substr(0, 9), "read 8 0 ");
    EXPECT_EQ(out[9], "hw 65536 0");
    EXPECT_EQ(out[10], "hw 65536 0");
}

TEST(AudioDevice, SizeAnswersAndPresence) {
    for (const char* size : {"-1", "0"}) {
        std::string board = make_board("size", {std::string("audio.fault.size=") + size});
        RunResult r = probe(board, {"dopen", "size"});
        EXPECT_EQ(r.out, std::string("dopen 0 0\nsize ") + size + " 0\n");
    }
    std::string absent = make_board("absent", {"audio.present=0"});
    EXPECT_EQ(probe(absent, {"stat", QVAUDIO_NODE, "access", QVAUDIO_NODE, "dopen"}).out,
              "stat -1 2\naccess -1 2\ndopen -1 2\n");
}

TEST(AudioDevice, MissingForTheFirstOpensAcrossProcesses) {
    std::string board = make_board("late", {"audio.fault.absent_opens=3"});
    EXPECT_EQ(probe(board, {"dopen", "dopen"}).out, "dopen -1 2\ndopen -1 2\n");
    EXPECT_EQ(probe(board, {"dopen", "dopen"}).out, "dopen -1 2\ndopen 0 0\n");
}

TEST(Threads, CreationRefusedOnRequest) {
    std::string board = make_board("thread", {"fault.pthread_create=refuse"});
    EXPECT_EQ(probe(board, {"thread"}).out, "thread 11\n");
    EXPECT_EQ(trace(board).back(), "fault\tpthread_create\trefused\t11");
    std::string fine = make_board("thread-ok");
    EXPECT_EQ(probe(fine, {"thread"}).out, "thread 0\n");
}

TEST(Command, CreateWritesTheSettingsInOrder) {
    std::string board = make_board("create", {"--profile", "counter", "audio.rate=768000"});
    std::string conf = testutil::read_file(board + "/" + boardfiles::kSettingsFile);
    size_t rate_default = conf.find("audio.rate = " + std::to_string(bringup::board_default::audio_rate));
    size_t content = conf.find("audio.content = counter");
    size_t rate_given = conf.find("audio.rate = 768000");
    ASSERT_NE(rate_default, std::string::npos) << conf;
    ASSERT_NE(content, std::string::npos) << conf;
    ASSERT_NE(rate_given, std::string::npos) << conf;
    EXPECT_LT(rate_default, content);
    EXPECT_LT(content, rate_given);
    EXPECT_TRUE(testutil::file_exists(board + "/" + boardfiles::kTraceFile));
    EXPECT_TRUE(testutil::file_exists(board + "/" + boardfiles::kStateDir));

    RunResult bad = run_cli({"create", board, "--profile=nonesuch"});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_EQ(bad.err, "boardsim: no profile named nonesuch\n");
    EXPECT_EQ(run_cli({"frobnicate"}).exit_code, 2);
    EXPECT_EQ(run_cli({"create", board, "--profile"}).exit_code, 2);

    // Numbers the board cannot take are refused, naming the setting, and no board is made.
    std::string none = testutil::make_temp_dir("create-refused") + "/board";
    for (const std::string kv : {"audio.ring=abc", "audio.ring=-8", "audio.ring=4294967300", "audio.rate=1.9",
                                  "audio.tone_hz=440.5.1", "audio.present=2"}) {
        RunResult refused = run_cli({"create", none, kv});
        size_t eq = kv.find('=');
        EXPECT_EQ(refused.exit_code, 1) << kv;
        EXPECT_EQ(refused.err.rfind("boardsim: " + kv.substr(0, eq) + " = " + kv.substr(eq + 1) + ": not a ", 0), 0u)
            << refused.err;
        EXPECT_FALSE(testutil::file_exists(none)) << kv;
    }
    // Every kind of setting: a value the table does not take is refused, in the same words.
    const struct {
        const char* given;
        const char* message;
    } refusals[] = {
        {"usb.phy=x", "usb.phy = x: not one of sleepm, iddq, both"},
        {"usb.ports=0,2", "usb.ports = 0,2: not a comma-separated list of 0, 1, none"},
        {"audio.fault.short_read=2-1",
         "audio.fault.short_read = 2-1: not a list of calls counted from 1 (\"3\", \"2,5\", \"4-6\", \"7-\")"},
        {"audio.tone_hz=0", "audio.tone_hz = 0: not a frequency in hertz above 0, with at most three decimals"},
        {"usb.port1.attached=2", "usb.port1.attached = 2: not a whole number from 0 to 1"},
    };
    for (const auto& r : refusals) {
        RunResult refused = run_cli({"create", none, r.given});
        EXPECT_EQ(refused.exit_code, 1) << r.given;
        EXPECT_EQ(refused.err, std::string("boardsim: ") + r.message + "\n");
        EXPECT_FALSE(testutil::file_exists(none)) << r.given;
    }
    RunResult long_text = run_cli({"create", none, "usb.version=" + std::string(256, 'v')});
    EXPECT_EQ(long_text.exit_code, 1);
    EXPECT_EQ(long_text.err, "boardsim: usb.version: a value of more than 255 characters\n");
    // Values the table takes, and the preloaded board's own settings and quoted versions as they are.
    EXPECT_EQ(run_cli({"create", none, "audio.ring=0x10", "usb.ports=1 none", "audio.fault.read_error=3, 5-,7-9",
                       "usb.phy=", "fault.deny=/sys/x", "usb.port0.gotgctl=anything",
                       "usb.version=\"" + std::string(300, 'v') + "\""})
                  .exit_code,
              0);
}

TEST(Command, AttachDetachTraceAndRun) {
    std::string board = make_board("attach");
    EXPECT_EQ(run_cli({"attach", board, "1"}).exit_code, 0);
    EXPECT_EQ(testutil::read_file(board + "/" + boardfiles::kStateDir + "/usb.port1.attached"), "1");
    EXPECT_EQ(run_cli({"detach", board, "1"}).exit_code, 0);
    EXPECT_EQ(testutil::read_file(board + "/" + boardfiles::kStateDir + "/usb.port1.attached"), "0");
    EXPECT_EQ(run_cli({"attach", board, "x"}).exit_code, 1);

    probe(board, {"access", "/sys/kernel"});
    // A trace.log that is a link is neither followed nor written.
    std::string aside = board + "/../aside";
    testutil::write_file(aside, "");
    ASSERT_EQ(rename((board + "/" + boardfiles::kTraceFile).c_str(), (board + "/trace.kept").c_str()), 0);
    ASSERT_EQ(symlink(aside.c_str(), (board + "/" + boardfiles::kTraceFile).c_str()), 0);
    probe(board, {"access", "/sys/kernel"});
    EXPECT_EQ(testutil::read_file(aside), "");
    ASSERT_EQ(rename((board + "/trace.kept").c_str(), (board + "/" + boardfiles::kTraceFile).c_str()), 0);
    RunResult t = run_cli({"trace", board});
    EXPECT_EQ(t.exit_code, 0);
    EXPECT_EQ(t.out, testutil::read_file(board + "/" + boardfiles::kTraceFile));
    EXPECT_NE(t.out.find("\taccess\t/sys/kernel\t4\t-1\n"), std::string::npos);

    RunResult missing = run_cli({"run", board, "--", board + "/no-such-program"});
    EXPECT_EQ(missing.exit_code, 127);
    RunResult noboard = run_cli({"run", board + "/nothing", "--", BOARDSIM_PROBE});
    EXPECT_EQ(noboard.exit_code, 1);

    // The library named with --preload stands in for the one beside the command; the program takes
    // the command's place, so the trace's lines carry the pid that started it.
    std::string copy = board + "/../" + boardfiles::kPreloadLibrary + ".copy";
    testutil::write_file(copy, testutil::read_file(testutil::build_dir() + "/boardsim/" + boardfiles::kPreloadLibrary));
    ChildPlan plan;
    plan.argv = {cli(), "run", "--preload", copy, board, "--", BOARDSIM_PROBE, "access", "/sys/kernel/preloaded"};
    plan.limit_s = 30 * testutil::time_scale();
    plan.capture = true;
    ChildResult given = run_child(plan);
    EXPECT_EQ(given.exit_code, 0) << given.err;
    std::string lines = testutil::read_file(board + "/" + boardfiles::kTraceFile);
    EXPECT_NE(lines.find("\t" + std::to_string(given.pid) + "\taccess\t/sys/kernel/preloaded\t"), std::string::npos)
        << lines;

    // A library that is not there, not a file or not one LD_PRELOAD can name leaves the program
    // unrun: it would otherwise run on this machine's own devices.
    for (const std::string& bad : {board + "/nothing.so", board, board + "/a:b.so"}) {
        if (bad.find(':') != std::string::npos) testutil::write_file(bad, "");
        RunResult refused = run_cli({"run", "--preload", bad, board, "--", BOARDSIM_PROBE, "access", "/sys/kernel/unrun"});
        EXPECT_EQ(refused.exit_code, 1) << bad;
        EXPECT_EQ(refused.err.rfind("boardsim: cannot preload " + bad + ": ", 0), 0u) << refused.err;
    }
    EXPECT_EQ(testutil::read_file(board + "/" + boardfiles::kTraceFile).find("/sys/kernel/unrun"), std::string::npos);
    EXPECT_EQ(run_cli({"run", "--preload", "", board, "--", BOARDSIM_PROBE}).exit_code, 2);

    RunResult version = run_cli({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "boardsim " BRINGUP_VERSION "\n");
}

TEST(Command, CreateOverAnEarlierBoardStartsAfresh) {
    // Made again with fewer parts, the board keeps nothing of the earlier one's sys/.
    std::string board = make_board("recreate");
    testutil::write_file(board + OTG_PULLUP_PATH, "on");
    testutil::write_file(board + "/sys/stray", "x");
    // A link in it goes, and what it leads to stays.
    std::string outside = testutil::make_temp_dir("outside");
    testutil::write_file(outside + "/keep", "mine");
    ASSERT_EQ(symlink(outside.c_str(), (board + "/sys/elsewhere").c_str()), 0);
    RunResult again = run_cli({"create", board, "usb.ports=0", "usb.version=none", "usb.mod_class=0",
                               "usb.port0.missing=pullup"});
    ASSERT_EQ(again.exit_code, 0) << again.err;
    EXPECT_TRUE(testutil::file_exists(board + OTG_PORT0_DIR));
    EXPECT_FALSE(testutil::file_exists(board + OTG_PULLUP_PATH));
    EXPECT_FALSE(testutil::file_exists(board + OTG_PORT1_DIR));
    EXPECT_FALSE(testutil::file_exists(board + OTG_VERSION_PATH));
    EXPECT_FALSE(testutil::file_exists(board + OTG_MODULE_CLASS_DIR));
    EXPECT_FALSE(testutil::file_exists(board + "/sys/stray"));
    EXPECT_FALSE(testutil::file_exists(board + "/sys/elsewhere"));
    EXPECT_EQ(testutil::read_file(outside + "/keep"), "mine");

    // A folder that is not a board keeps what its sys/ holds; the system's own sysfs is never
    // taken for a board's.
    std::string plain = testutil::make_temp_dir("notaboard");
    testutil::write_file(plain + "/keep", "mine");
    mkdir((plain + "/" + boardfiles::kSysDir).c_str(), 0755);
    testutil::write_file(plain + "/sys/keep", "mine");
    EXPECT_EQ(run_cli({"create", plain}).exit_code, 0);
    EXPECT_EQ(testutil::read_file(plain + "/sys/keep"), "mine");
    std::string over = testutil::make_temp_dir("oversysfs");
    ASSERT_EQ(symlink("/sys", (over + "/" + boardfiles::kSysDir).c_str()), 0);
    RunResult refused = run_cli({"create", over});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(refused.err, "boardsim: refusing to make a board in " + over + ": its sys/ is the system's sysfs\n");
    EXPECT_FALSE(testutil::file_exists(over + "/" + boardfiles::kSettingsFile));
}

}  // namespace
