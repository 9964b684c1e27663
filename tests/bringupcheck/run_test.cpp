// The installed bringup-check on simulated boards: its verdicts, files, exit statuses, the report
// made again by --render, and the board farm's run steps with a stand-in reporter.
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "boardfiles/board_names.h"
#include "bringup/otg.h"
#include "bringup/qvaudio.h"
#include "bringupcheck/proc.h"
#include "bringupcheck/registry.h"
#include "bringupcheck/results.h"
#include "runprog.h"

namespace {

using testutil::RunResult;

std::string check_bin() { return testutil::stage_bin("bringup-check"); }
std::string boardsim() { return testutil::build_dir() + "/boardsim/boardsim"; }

RunResult run_argv(const std::vector<std::string>& argv) {
    testutil::RunOptions o;
    o.argv = argv;
    return testutil::run(o);
}

std::string make_board(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {boardsim(), "create", dir + "/board"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_argv(argv);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return dir + "/board";
}

// A program left running in the background, its standard output and error in `out`; the test
// signals it and waits for it.
Child start_background(const std::vector<std::string>& argv, const std::string& out) {
    ChildPlan plan;
    plan.argv = argv;
    plan.out_path = plan.err_path = out;
    Child child;
    std::string error;
    EXPECT_TRUE(start_child(plan, &child, &error)) << error;
    return child;
}

RunResult check(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    testutil::RunOptions o;
    o.argv = {check_bin()};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.env = env;
    o.timeout_s = 240;
    return testutil::run(o);
}

Results load(const std::string& out) {
    Results r;
    std::string error;
    EXPECT_TRUE(parse_results(testutil::read_file(out + "/results.json"), &r, &error)) << error;
    return r;
}

const Check* find(const Results& r, const std::string& name) {
    for (const Check& c : r.checks)
        if (c.name == name) return &c;
    ADD_FAILURE() << "no check " << name;
    static const Check none;
    return &none;
}

// results.xml read back by a real XML parser, as "<name> <verdict>" lines in document order.
std::string junit_verdicts(const std::string& path) {
    RunResult r = run_argv({"/usr/bin/python3", "-c",
                                  "import sys, xml.etree.ElementTree as E\n"
                                  "root = E.parse(sys.argv[1]).getroot()\n"
                                  "for t in root.iter('testcase'):\n"
                                  "    v = 'fail' if t.find('failure') is not None else "
                                  "'skip' if t.find('skipped') is not None else 'pass'\n"
                                  "    print(t.get('name'), v)\n",
                                  path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

// "<name> <verdict>" lines of results.json's checks, in order.
std::string names_and_verdicts(const Results& res) {
    std::string out;
    for (const Check& c : res.checks) out += c.name + " " + verdict_name(c.verdict) + "\n";
    return out;
}

// The checks, failures and skips that results.xml counts, as a real XML parser reads them: one
// "<tests> <failures> <skipped>" line for the suites and one for the suite.
std::string junit_counts(const std::string& path) {
    RunResult r = run_argv({"/usr/bin/python3", "-c",
                            "import sys, xml.etree.ElementTree as E\n"
                            "root = E.parse(sys.argv[1]).getroot()\n"
                            "for e in [root] + list(root.iter('testsuite')):\n"
                            "    print(e.get('tests'), e.get('failures'), e.get('skipped'))\n",
                            path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

// Every check of the checks' table, in its order: a run with --switch makes them all.
std::vector<std::string> all_checks() {
    std::vector<std::string> names;
    for (const CheckRow& c : kChecks) names.push_back(c.name);
    return names;
}
const std::vector<std::string> kAllChecks = all_checks();

// A Python script run on `path` (as sys.argv[1]); what it prints.
std::string python(const std::string& script, const std::string& path) {
    RunResult r = run_argv({"/usr/bin/python3", "-c", script, path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

TEST(BringupCheck, GoodBoardPassesEveryCheck) {
    // A ring of 1 MiB lasts 5 s: a busy machine holding the capture thread up cannot overrun it.
    // The rate and the tone are read the way the board reads them (0x2EE00 bytes/s, a tone of
    // 440.5 Hz).
    std::string dir = testutil::make_temp_dir("bringupcheck-good");
    std::string board = make_board(dir, {"audio.ring=1048576", "audio.rate=0x2EE00", "audio.tone_hz=440.5"});
    std::string out = dir + "/out";
    RunResult r = check({"--sim", board, "--switch", "--attach", "1", "--seconds", "3", "--boardsim", boardsim(),
                         "--out", out});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");

    // One summary line per check, then the report's path; no progress output off a terminal.
    Results res = load(out);
    std::vector<std::string> lines = testutil::split_lines(r.out);
    ASSERT_EQ(lines.size(), kAllChecks.size() + 2) << r.out;
    ASSERT_EQ(res.checks.size(), kAllChecks.size());
    std::set<std::string> programs;
    for (size_t i = 0; i < kAllChecks.size(); ++i) {
        const Check& c = res.checks[i];
        EXPECT_EQ(c.name, kAllChecks[i]);
        EXPECT_EQ(c.verdict, Verdict::Pass) << c.name << ": " << c.reason;
        EXPECT_EQ(c.subsystem, c.name.substr(0, c.name.find('.')));
        EXPECT_EQ(lines[i].substr(0, 6 + c.name.size()), "PASS  " + c.name);
        EXPECT_NE(lines[i].find(c.reason), std::string::npos);
        if (!c.program.empty()) programs.insert(c.program);
        for (const std::string& e : c.evidence) EXPECT_TRUE(testutil::file_exists(out + "/" + e)) << e;
    }
    EXPECT_EQ(lines[kAllChecks.size()], "summary: " + std::to_string(kAllChecks.size()) + " passed, 0 failed, 0 skipped");
    EXPECT_EQ(lines.back(), "report: " + out + "/report.html");
    EXPECT_EQ(programs, (std::set<std::string>{"pcmcapture", "otgpower", "otgpoweriddq", "otgpowersave", "wlanpower",
                                               "configlist", "lanterna", "veilglass", "tilemosaic"}));

    // What the board and the judging saw.
    EXPECT_EQ(res.board.at("controller").get<std::string>(), "2.94a");
    EXPECT_NE(res.board.at("egl_vendor").get<std::string>(), "");
    EXPECT_EQ(res.board.at("simulated").get<std::string>(), board);
    const Check* audio = find(res, "audio.capture");
    EXPECT_EQ(audio->figures.at("rate").get<double>(), 192000);
    EXPECT_EQ(audio->figures.at("tone_hz").get<double>(), 440.5);
    EXPECT_EQ(audio->figures.at("blocks_intact").get<double>(), audio->figures.at("blocks").get<double>());
    EXPECT_GT(audio->figures.at("resyncs").get<double>(), 0);
    for (const char* daemon : {"usb.otgpower", "usb.otgpoweriddq", "usb.otgpowersave"}) {
        const Check* d = find(res, daemon);
        EXPECT_EQ(d->figures.at("devices").size(), 1u) << daemon;
        EXPECT_GT(d->figures.at("power_ons").at(0).get<double>(), 0) << daemon;
        EXPECT_TRUE(d->figures.at("violations").empty()) << daemon;
    }
    // otgpowersave leaves port 1 alone; the other two switch it too.
    EXPECT_EQ(find(res, "usb.otgpowersave")->figures.at("power_ons").at(1).get<double>(), 0);
    EXPECT_GT(find(res, "usb.otgpower")->figures.at("power_ons").at(1).get<double>(), 0);
    for (const char* demo : {"gpu.lanterna", "gpu.veilglass", "gpu.tilemosaic"}) {
        const Check* g = find(res, demo);
        EXPECT_GT(g->figures.at("fps").get<double>(), 0) << demo;
        EXPECT_EQ(g->figures.at("width").get<double>(), 640) << demo;
        EXPECT_EQ(testutil::read_file(out + "/gpu/" + g->program + ".png").compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
    }

    // The report: the verdict table first, then every subsystem's evidence drawn in the page.
    std::string html = testutil::read_file(out + "/report.html");
    EXPECT_LT(html.find("<table>"), html.find("<h2>"));
    for (const char* part : {"<h2>Audio</h2>", "<h2>USB</h2>", "<h2>Wi-Fi</h2>", "<h2>GPU</h2>", "<h2>EGL</h2>",
                             "Level over time", "Spectrum", "Port power over the run", "frames per second",
                             "<th>ES 2.0 window</th>"})
        EXPECT_NE(html.find(part), std::string::npos) << part;
    for (const std::string& name : kAllChecks) EXPECT_NE(html.find("<section id=\"" + name + "\">"), std::string::npos);
    EXPECT_EQ(count(html, "data:image/png;base64,"), 3u);
    EXPECT_EQ(count(html, "<svg "), 5u);  // level, spectrum, three timelines
    EXPECT_EQ(html.find("src=\"http"), std::string::npos);

    // The JUnit file and the verdict list say the same as results.json, check for check.
    EXPECT_EQ(junit_verdicts(out + "/results.xml"), names_and_verdicts(res));
    EXPECT_EQ(testutil::read_file(out + "/verdicts.txt"), verdict_lines(res));

    // --render makes the same page again from the files alone.
    ASSERT_EQ(unlink((out + "/report.html").c_str()), 0);
    RunResult again = check({"--render", out});
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(again.out, "report: " + out + "/report.html\n");
    EXPECT_EQ(testutil::read_file(out + "/report.html"), html);
}

TEST(BringupCheck, BrokenBoardFailsAndSaysWhy) {
    // A controller no daemon supports, its version and a port's status holding bytes that are not
    // UTF-8 and control characters, an audio driver whose read position query fails from its 300th
    // answer on, and a port without its busconnected attribute.
    std::string dir = testutil::make_temp_dir("bringupcheck-broken");
    std::string board = make_board(dir, {"--profile", "otg-2.20a", "usb.version=\"2.20a\\x01\\xff\"",
                                         "usb.port0.gotgctl=\"GOTGCTL = \\x1b[31m\\xff\"", "audio.fault.readpos_fail=300-",
                                         "usb.port1.missing=busconnected"});
    std::string out = dir + "/out";
    RunResult r = check({"--sim", board, "--switch", "--only", "audio,usb", "--seconds", "2", "--boardsim", boardsim(),
                         "--out", out});
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    Results res = load(out);
    std::vector<std::string> names, fails;
    for (const Check& c : res.checks) {
        names.push_back(c.name);
        if (c.verdict == Verdict::Fail) fails.push_back(c.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"audio.capture", "usb.controller", "usb.ports", "usb.otgpower",
                                               "usb.otgpoweriddq", "usb.otgpowersave"}));
    EXPECT_EQ(fails, (std::vector<std::string>{"audio.capture", "usb.controller", "usb.ports"}));
    for (const std::string& f : fails) EXPECT_NE(r.out.find("FAIL  " + f), std::string::npos) << f;
    EXPECT_NE(find(res, "audio.capture")->reason.find(" s of audio in 10 s of capture"), std::string::npos)
        << find(res, "audio.capture")->reason;
    EXPECT_EQ(find(res, "usb.controller")->reason,
              "controller version \"2.20a\x01\xef\xbf\xbd\" is not supported by any of the power daemons");
    EXPECT_EQ(find(res, "usb.ports")->reason, "lm0: gotgctl reads \"GOTGCTL = \x1b[31m\xef\xbf\xbd\" (and 1 more)");
    // The board's bytes reach every file as valid UTF-8 (U+FFFD for what is not), read by standard
    // parsers, and the terminal sees its control characters escaped.
    EXPECT_NE(r.out.find("FAIL  usb.ports          lm0: gotgctl reads \"GOTGCTL = \\u001b[31m\xef\xbf\xbd\""),
              std::string::npos) << r.out;
    EXPECT_EQ(r.out.find_first_of("\x01\x1b"), std::string::npos);
    RunResult strict = run_argv({"/usr/bin/python3", "-c",
                                 "import json, sys\n"
                                 "json.load(open(sys.argv[1], encoding='utf-8'))\n"
                                 "open(sys.argv[2], encoding='utf-8', errors='strict').read()\n",
                                 out + "/results.json", out + "/report.html"});
    EXPECT_EQ(strict.exit_code, 0) << strict.err;
    RunResult xml = run_argv({"/usr/bin/xmllint", "--noout", out + "/results.xml"});
    EXPECT_EQ(xml.exit_code, 0) << xml.err;
    // The daemons refuse such a controller, as they should: nothing to judge, nothing switched.
    for (const char* d : {"usb.otgpower", "usb.otgpoweriddq", "usb.otgpowersave"}) {
        EXPECT_EQ(find(res, d)->verdict, Verdict::Skip) << d;
        EXPECT_NE(find(res, d)->reason.find("refused to start, as it should"), std::string::npos) << d;
    }
    // A ring smaller than one frame holds no audio at all: that is the reason, not a reader held up.
    std::string tiny = dir + "/tiny";
    mkdir(tiny.c_str(), 0755);
    check({"--sim", make_board(tiny, {"audio.ring=2"}), "--only", "audio", "--boardsim", boardsim(), "--out", tiny + "/out"});
    EXPECT_EQ(load(tiny + "/out").checks.at(0).reason,
              "no audio was captured; the driver's ring of 2 bytes is smaller than one frame (4 bytes)");
    std::string html = testutil::read_file(out + "/report.html");
    EXPECT_NE(html.find("<td class=\"fail\">fail</td>"), std::string::npos);
    EXPECT_NE(html.find("is not supported by any of the power daemons"), std::string::npos);
    EXPECT_EQ(junit_verdicts(out + "/results.xml"), names_and_verdicts(res));
    EXPECT_EQ(junit_counts(out + "/results.xml"), "6 3 3\n6 3 3\n");
}

TEST(BringupCheck, BoardFolderIsReadWithinItself) {
    // A board folder from elsewhere: its version file a link to a file outside, an attribute a
    // FIFO, another longer than a page, its trace a link to a file outside. Nothing outside is read
    // or written, nothing waits, and each refusal is named.
    std::string dir = testutil::make_temp_dir("bringupcheck-hostile");
    std::string board = make_board(dir, {});
    testutil::write_file(dir + "/secret", "2.94a secret\n");
    testutil::write_file(dir + "/victim", "untouched");
    ASSERT_EQ(unlink((board + OTG_VERSION_PATH).c_str()), 0);
    ASSERT_EQ(symlink((dir + "/secret").c_str(), (board + OTG_VERSION_PATH).c_str()), 0);
    ASSERT_EQ(unlink((board + OTG_GOTGCTL_PATH).c_str()), 0);
    ASSERT_EQ(mkfifo((board + OTG_GOTGCTL_PATH).c_str(), 0644), 0);
    testutil::write_file(board + OTG_PORT1_DIR "/" OTG_ATTR_BUSCONNECTED, std::string(5000, '1'));
    ASSERT_EQ(unlink((board + "/" + boardfiles::kTraceFile).c_str()), 0);
    ASSERT_EQ(symlink((dir + "/victim").c_str(), (board + "/" + boardfiles::kTraceFile).c_str()), 0);
    std::string out = dir + "/out";
    RunResult r = check({"--sim", board, "--switch", "--only", "usb,wifi", "--seconds", "1", "--boardsim", boardsim(),
                         "--out", out});
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    Results res = load(out);
    EXPECT_EQ(find(res, "usb.controller")->reason,
              "the controller version was not read: " + board + OTG_VERSION_PATH + " is a link out of the board folder");
    EXPECT_EQ(find(res, "usb.ports")->reason, "lm0: " + board + OTG_GOTGCTL_PATH + " is not a regular file (and 1 more)");
    EXPECT_NE(testutil::read_file(out + "/usb/controller.txt").find(OTG_ATTR_BUSCONNECTED " is longer than a page"),
              std::string::npos);
    EXPECT_EQ(find(res, "wifi.on")->reason,
              "the board's trace was not read: " + board + "/" + boardfiles::kTraceFile +
                  " is a link out of the board folder");
    for (const char* file : {"/results.json", "/results.xml", "/report.html", "/usb/controller.txt"})
        EXPECT_EQ(testutil::read_file(out + file).find("secret"), std::string::npos) << file;
    EXPECT_EQ(testutil::read_file(dir + "/victim"), "untouched");

    // A board.conf that is a FIFO is refused at once.
    ASSERT_EQ(unlink((board + "/" + boardfiles::kSettingsFile).c_str()), 0);
    ASSERT_EQ(mkfifo((board + "/" + boardfiles::kSettingsFile).c_str(), 0644), 0);
    RunResult fifo = check({"--sim", board, "--boardsim", boardsim(), "--out", out});
    EXPECT_EQ(fifo.exit_code, 2);
    EXPECT_EQ(testutil::split_lines(fifo.err)[0], "bringup-check: no simulated board in " + board + " (" + board + "/" +
                                                       boardfiles::kSettingsFile + " is not a regular file)");
}

TEST(BringupCheck, UsageErrors) {
    std::string dir = testutil::make_temp_dir("bringupcheck-usage");
    std::string board = make_board(dir, {});
    std::string out = dir + "/never";
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--seconds", "0"},
        {"--seconds", "ten"},
        {"--seconds", "1e3"},
        {"--seconds", "0x10"},
        {"--seconds", "1.9"},
        {"--seconds", "-1"},
        {"--seconds="},
        {"--seconds"},
        {"--only", "audio,sound"},
        {"--only", ""},
        {"--sim", dir + "/no-board"},
        {"--attach", "1"},
        {"--sim", board, "--attach", "2", "--boardsim", boardsim()},
        {"--sim", board, "--preload", dir + "/no-lib.so"},
        {"--sim", board, "--boardsim", dir + "/no-boardsim"},
        {"--render", dir, "--switch"},
        {"--retries", "11"},
        {"--baseline", dir, "--tolerance", "fps"},
        {"--baseline", dir, "--tolerance", "bogus=1"},
        {"--baseline", dir, "--tolerance", "fps=-1"},
        {"--baseline", dir, "--tolerance", "frames=1"},
        {"--strict"},
        {"--compare", dir},
        {"--compare", dir, dir, "--switch"},
        {"--list", "--render", dir},
        {"extra"},
    };
    for (std::vector<std::string> args : bad) {
        args.push_back("--out");
        args.push_back(out);
        RunResult r = check(args, {"PATH=/usr/bin:/bin"});
        std::string what = args[0] + (args.size() > 3 ? " " + args[1] : "");
        EXPECT_EQ(r.exit_code, 2) << what;
        EXPECT_EQ(r.out, "") << what;
        EXPECT_EQ(r.err.compare(0, 15, "bringup-check: "), 0) << what << ": " << r.err;
        EXPECT_NE(r.err.find("usage: bringup-check"), std::string::npos) << what;
        EXPECT_FALSE(testutil::file_exists(out)) << what;
    }
    EXPECT_EQ(testutil::split_lines(check({"--seconds", "1.9"}).err)[0],
              "bringup-check: --seconds takes a whole number of seconds from 1 to 3600");
    // What is missing of the simulated board, said precisely.
    RunResult nolib = check({"--sim", board, "--preload", dir + "/no-lib.so", "--out", out});
    EXPECT_EQ(testutil::split_lines(nolib.err)[0], "bringup-check: no " + dir + "/no-lib.so to preload");
    mkdir((dir + "/empty").c_str(), 0755);
    RunResult nosim = check({"--sim", board, "--out", out}, {"PATH=" + dir + "/empty"});
    EXPECT_EQ(testutil::split_lines(nosim.err)[0],
              "bringup-check: cannot find the boardsim command (name it with --boardsim; it comes with "
              BRINGUP_SIM_PACKAGE ")");
    // A library to preload, and a boardsim command that cannot take it.
    std::string conf = board + "/" + boardfiles::kSettingsFile, older = dir + "/older-boardsim";
    testutil::write_file(older, "#!/bin/sh\nexit 1\n");
    ASSERT_EQ(chmod(older.c_str(), 0755), 0);
    RunResult old = check({"--sim", board, "--boardsim", older, "--preload", conf, "--out", out});
    EXPECT_EQ(testutil::split_lines(old.err)[0], "bringup-check: cannot preload " + conf + " with " + older +
                                                     " (it has no run --preload)");
    // A boardsim command without its library beside it.
    std::string lone = dir + "/empty/boardsim";
    ASSERT_EQ(symlink("/bin/true", lone.c_str()), 0);
    RunResult nolib_beside = check({"--sim", board, "--boardsim", lone, "--out", out});
    EXPECT_EQ(testutil::split_lines(nolib_beside.err)[0],
              std::string("bringup-check: cannot find ") + boardfiles::kPreloadLibrary +
                  " (name it with --preload, or --boardsim; it comes with " BRINGUP_SIM_PACKAGE ")");

    RunResult help = check({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.compare(0, 20, "usage: bringup-check"), 0);
    RunResult version = check({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "bringup-check " BRINGUP_VERSION "\n");
    EXPECT_EQ(version.err, "");

    // --render on a folder without results, or with results that are not ours, writes nothing.
    RunResult none = check({"--render", dir});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_NE(none.err.find("results.json"), std::string::npos);
    for (const char* text : {"{\"board\": {}, \"checks\": [", "[]",
                             "{\"board\": {}, \"checks\": [{\"name\": \"a\", \"verdict\": \"maybe\"}]}",
                             "{\"board\": {}, \"checks\": [{\"name\": \"a\", \"verdict\": \"pass\", \"evidence\": [\"../../etc/passwd\"]}]}"}) {
        testutil::write_file(dir + "/results.json", text);
        RunResult r = check({"--render", dir});
        EXPECT_EQ(r.exit_code, 1) << text;
        EXPECT_FALSE(testutil::file_exists(dir + "/report.html")) << text;
    }
}

TEST(BringupCheck, WritesNothingThroughALink) {
    // Links left where bringup-check writes (a results file, its temporary, a program's output,
    // evidence) are replaced, never written through.
    std::string dir = testutil::make_temp_dir("bringupcheck-links");
    std::string board = make_board(dir, {"audio.ring=1048576"}), out = dir + "/out";
    testutil::write_file(dir + "/victim", "kept\n");
    const char* planted[] = {"results.json.new", "verdicts.txt", "wifi/wlanpower-1.err", "wifi/wlanpower-0.trace.new",
                             "usb/controller.txt", "audio/output.pcm"};
    ASSERT_EQ(run_argv({"/bin/mkdir", "-p", out + "/wifi", out + "/usb", out + "/audio"}).exit_code, 0);
    for (const char* f : planted) ASSERT_EQ(symlink((dir + "/victim").c_str(), (out + "/" + f).c_str()), 0);
    RunResult r = check({"--sim", board, "--switch", "--only", "audio,usb,wifi", "--seconds", "1", "--boardsim",
                         boardsim(), "--out", out});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_TRUE(testutil::read_file(dir + "/victim") == "kept\n") << "written through a link";

    // A folder (or subfolder) that is not a real folder of ours, or that others could put links
    // into, is refused before anything runs, saying which and why.
    RunResult made = run_argv({"/bin/sh", "-ec", "cd " + dir + "; mkdir away sub; ln -s away link; : >file; "
                                                 "mkdir -m 777 shared; ln -s ../away sub/wifi; mkdir theirs; "
                                                 "chown 65534 theirs || rmdir theirs"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    for (std::string why : {"link: it is a link", "file: it is not a folder", "shared: other users can write to it",
                            "sub/wifi: it is a link", "theirs: it belongs to another user"}) {
        std::string folder = dir + "/" + why.substr(0, why.find(':'));
        if (!testutil::file_exists(folder)) continue;  // not root: no folder of another user
        RunResult no = check({"--sim", board, "--switch", "--only", "wifi", "--boardsim", boardsim(), "--out",
                              folder.substr(0, folder.rfind("/wifi"))});
        EXPECT_EQ(no.exit_code, 3) << why;
        EXPECT_EQ(no.out + no.err, "bringup-check: cannot write into " + dir + "/" + why + "\n");
    }
    EXPECT_EQ(run_argv({"/bin/ls", "-A", dir + "/away", dir + "/shared"}).out, dir + "/away:\n\n" + dir + "/shared:\n");
}

TEST(BringupCheck, ResultsFileThatCannotBeWrittenIsNamed) {
    // A folder holds results.json's name: the other files still hold every check, the one that
    // failed is named, and the exit status says the run did not complete.
    std::string dir = testutil::make_temp_dir("bringupcheck-unwritable");
    std::string out = dir + "/out";
    ASSERT_EQ(run_argv({"/bin/mkdir", "-p", out + "/results.json/held"}).exit_code, 0);
    RunResult r = check({"--sim", make_board(dir, {}), "--only", "usb", "--boardsim", boardsim(), "--out", out});
    EXPECT_EQ(r.exit_code, 3) << r.out << r.err;
    EXPECT_EQ(r.err, "bringup-check: cannot write " + out + "/results.json: Is a directory\n");
    std::string verdicts = "usb.controller pass\nusb.ports pass\nusb.otgpower skip\nusb.otgpoweriddq skip\n"
                           "usb.otgpowersave skip\n";
    EXPECT_EQ(testutil::read_file(out + "/verdicts.txt"), verdicts);
    EXPECT_EQ(junit_verdicts(out + "/results.xml"), verdicts);
    EXPECT_NE(testutil::read_file(out + "/report.html").find("<section id=\"usb.otgpowersave\">"), std::string::npos);
}

TEST(BringupCheck, RunsStartedTogetherEachMakeTheirOwnFolder) {
    // Without --out the folder is named after the host and the second. Two runs started together,
    // with every name of the coming minute taken, each make a new one.
    std::string dir = testutil::make_temp_dir("bringupcheck-together");
    std::string board = make_board(dir, {});
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    for (time_t t = time(nullptr), end = t + 60; t < end; ++t) {
        char stamp[32];
        strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", localtime(&t));
        mkdir((dir + "/" + host + stamp).c_str(), 0755);
    }
    std::string run = check_bin() + " --sim " + board + " --only usb --boardsim " + boardsim();
    testutil::RunOptions o;
    o.argv = {"/bin/sh", "-c", run + " >first & " + run + " >second && wait $!"};
    o.cwd = dir;
    RunResult r = testutil::run(o);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::set<std::string> folders;
    for (const char* name : {"/first", "/second"}) {
        std::vector<std::string> said = testutil::split_lines(testutil::read_file(dir + name));
        ASSERT_FALSE(said.empty()) << name;
        std::string page = said.back();
        std::string folder = page.substr(8, page.rfind('/') - 8);
        EXPECT_EQ(load(folder).checks.size(), 5u) << folder;
        folders.insert(folder);
    }
    EXPECT_EQ(folders.size(), 2u);
}

TEST(BringupCheck, SkipsWhatItMayNotDo) {
    // Without --switch nothing changes the board's power; without a display the demos are left out.
    std::string dir = testutil::make_temp_dir("bringupcheck-skip");
    std::string board = make_board(dir, {});
    std::string out = dir + "/out";
    RunResult r = check({"--sim", board, "--only=usb,wifi,gpu", "--seconds=5", "--boardsim", boardsim(), "--out=" + out},
                        {"DISPLAY="});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    Results res = load(out);
    ASSERT_EQ(res.checks.size(), 10u);
    for (const Check& c : res.checks) {
        if (c.name == "usb.controller" || c.name == "usb.ports") {
            EXPECT_EQ(c.verdict, Verdict::Pass) << c.name;
            continue;
        }
        EXPECT_EQ(c.verdict, Verdict::Skip) << c.name;
        EXPECT_NE(c.reason.find(c.subsystem == "gpu" ? "no display in DISPLAY" : "run with --switch"), std::string::npos)
            << c.name << ": " << c.reason;
    }
    std::string trace = testutil::read_file(board + "/" + boardfiles::kTraceFile);
    EXPECT_EQ(trace.find("\twrite\t"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("\tioctl\t"), std::string::npos) << trace;
    // --list names the checks such a run attempts, with their main figures' units; nothing runs.
    RunResult list = check({"--list", "--only=usb,gpu", "--out", dir + "/listed"});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out, "usb.controller -\nusb.ports -\ngpu.lanterna fps\ngpu.veilglass fps\ngpu.tilemosaic fps\n");
    EXPECT_FALSE(testutil::file_exists(dir + "/listed"));
    EXPECT_EQ(testutil::split_lines(check({"--list", "--switch", "--only=usb,wifi,gpu"}).out).size(), res.checks.size());
}

TEST(BringupCheck, BoardFarmStepsReportEveryCheck) {
    // The definition's run steps, run by the shell with a stand-in lava-test-case that logs its calls:
    // every check's verdict, with its main figure as the measurement where it has one.
    std::string yaml = testutil::read_file(testutil::source_dir() + "/packaging/lava/bringup-check.yaml");
    EXPECT_NE(yaml.find("format: Lava-Test Test Definition 1.0"), std::string::npos);
    std::string script;
    bool in_steps = false;
    for (const std::string& line : testutil::split_lines(yaml)) {
        if (line == "  steps:") in_steps = true;
        else if (in_steps && line.compare(0, 6, "    - ") == 0) script += line.substr(6) + "\n";
        else if (in_steps && !line.empty()) in_steps = false;
    }
    ASSERT_NE(script, "");
    std::string dir = testutil::make_temp_dir("bringupcheck-lava");
    std::string board = make_board(dir, {});
    mkdir((dir + "/bin").c_str(), 0755);
    testutil::write_file(dir + "/bin/lava-test-case", "#!/bin/sh\necho \"$*\" >>\"$LAVA_CASES\"\n");
    chmod((dir + "/bin/lava-test-case").c_str(), 0755);
    const char* path = getenv("PATH");
    testutil::RunOptions o;
    o.argv = {"/bin/sh", "-e", "-c", script};
    o.env = {"PATH=" + dir + "/bin:" + testutil::stage_dir() + "/bin:" + (path ? path : "/usr/bin:/bin"),
             "OUT=" + dir + "/out", "LAVA_CASES=" + dir + "/cases",
             "ARGS=--sim " + board + " --boardsim " + boardsim() + " --switch --only audio,usb,wifi --seconds 2"};
    o.timeout_s = 120;
    RunResult r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    Results res = load(dir + "/out");
    ASSERT_EQ(res.checks.size(), 8u);
    std::string expected;
    for (const Check& c : res.checks)
        expected += c.name + " --result " + verdict_name(c.verdict) +
                    (c.name == "audio.capture" ? " --measurement " + json_dump(c.figures.at("audio_seconds")) + " --units seconds"
                                               : "") +
                    "\n";
    EXPECT_EQ(testutil::read_file(dir + "/cases"), expected);

    // A job with the first job's run as its baseline: the comparison's counts as three more cases.
    ASSERT_EQ(run_argv({"/bin/cp", "-r", dir + "/out", dir + "/first"}).exit_code, 0);
    o.env.push_back("BASELINE=" + dir + "/first");
    o.env.push_back("ARGS=--sim " + board + " --boardsim " + boardsim() + " --only usb");
    unlink((dir + "/cases").c_str());
    r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    std::string cases = testutil::read_file(dir + "/cases");
    EXPECT_EQ(cases.substr(cases.find("regressions")), "regressions --result pass --measurement 0 --units checks\n"
              "fixed --result pass --measurement 0 --units checks\ndrifted --result pass --measurement 0 --units figures\n");
    o.env.pop_back();
    o.env.pop_back();

    // Later jobs on the same board, in the same folder: one whose arguments are wrong, one whose
    // folder is refused. Each reports one failing case saying so, never the first job's verdicts.
    o.env.push_back("ARGS=--sim " + board + " --boardsim " + boardsim() + " --only sound");
    unlink((dir + "/cases").c_str());
    r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(testutil::read_file(dir + "/cases"), "bringup-check-usage-error --result fail\n");
    o.env.back() = "ARGS=--sim " + board + " --boardsim " + boardsim() + " --only usb";
    ASSERT_EQ(chmod((dir + "/out").c_str(), 0777), 0);
    unlink((dir + "/cases").c_str());
    r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(testutil::read_file(dir + "/cases"), "bringup-check-not-completed --result fail\n");
}

TEST(BringupCheck, RealBoardKeepsTraceOnlyTraces) {
    // Without --sim the programs run on this machine's devices; a boardsim that says it supports
    // trace-only runs (a stand-in here, beside a libboardsim.so) wraps each board program and its
    // trace is kept.
    std::string dir = testutil::make_temp_dir("bringupcheck-real");
    mkdir((dir + "/bin").c_str(), 0755);
    testutil::write_file(dir + "/bin/boardsim",
                         "#!/bin/sh\n"
                         "[ \"$1\" = supports ] && { [ \"$2\" = trace-only ]; exit; }\n"
                         "[ \"$1\" = run ] || exit 2\n"
                         "[ \"$2\" = --trace-only ] && [ \"$3\" = --trace ] && [ \"$5\" = -- ] || exit 99\n"
                         "printf '1.000000\\t%s\\tioctl\\t/dev/wifi_power\\t0x6d01\\t0\\n' $$ >>\"$4\"\n"
                         "shift 5\nexec \"$@\"\n");
    chmod((dir + "/bin/boardsim").c_str(), 0755);
    testutil::write_file(dir + "/bin/" + boardfiles::kPreloadLibrary, "");
    const char* path = getenv("PATH");
    std::string out = dir + "/out";
    RunResult r = check({"--switch", "--only", "wifi", "--out", out},
                        {"PATH=" + dir + "/bin:" + (path ? path : "/usr/bin:/bin")});
    Results res = load(out);
    ASSERT_EQ(res.checks.size(), 2u) << r.out << r.err;
    EXPECT_FALSE(res.board.contains("simulated"));
    for (const Check& c : res.checks) {
        EXPECT_NE(std::find(c.evidence.begin(), c.evidence.end(), "wifi/" + std::string("wlanpower-") +
                                                                       (c.name == "wifi.on" ? "1" : "0") + ".trace"),
                  c.evidence.end())
            << c.name;
        ASSERT_EQ(c.figures.at("requests").size(), 1u) << c.name;
        EXPECT_EQ(c.figures.at("requests").at(0).get<std::string>(), "0x6d01 accepted");
    }
}

TEST(BringupCheck, MisbehavingProgramsFailTheirChecks) {
    // Stand-ins beside a copy of bringup-check: a power daemon that runs until stopped but never
    // looks at a port, and a wlanpower that ends with status 1 without a word.
    std::string dir = testutil::make_temp_dir("bringupcheck-misbehave");
    mkdir((dir + "/tree").c_str(), 0755);
    mkdir((dir + "/tree/bin").c_str(), 0755);
    mkdir((dir + "/empty").c_str(), 0755);
    RunResult copy = run_argv({"/bin/cp", check_bin(), dir + "/tree/bin/"});
    ASSERT_EQ(copy.exit_code, 0) << copy.err;
    for (const char* stand_in : {"otgpower", "wlanpower"}) {
        RunResult placed = run_argv({"/bin/cp", STANDIN_PROG, dir + "/tree/bin/" + stand_in});
        ASSERT_EQ(placed.exit_code, 0) << placed.err;
    }
    std::string board = make_board(dir, {});
    testutil::RunOptions o;
    o.argv = {dir + "/tree/bin/bringup-check", "--sim", board, "--switch", "--only", "usb,wifi", "--seconds", "2",
              "--boardsim", boardsim(), "--out", dir + "/out"};
    o.env = {"PATH=" + dir + "/empty"};
    RunResult r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    Results res = load(dir + "/out");
    EXPECT_EQ(find(res, "usb.otgpower")->reason, "the trace shows no port looked at or switched");
    for (const char* step : {"wifi.on", "wifi.off"})
        EXPECT_EQ(find(res, step)->reason, "wlanpower ended with exit status 1") << step;
    // A wlanpower that ends quietly with status 0 but never asks the driver.
    testutil::write_file(dir + "/tree/bin/wlanpower.fails", "quiet\n");
    o.argv = {dir + "/tree/bin/bringup-check", "--sim", board, "--switch", "--only", "wifi", "--boardsim", boardsim(),
              "--out", dir + "/quiet"};
    r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    res = load(dir + "/quiet");
    for (const char* step : {"wifi.on", "wifi.off"})
        EXPECT_EQ(find(res, step)->reason, "wlanpower ended quietly, but the board's trace shows no request the driver took")
            << step;

    // The demos on a GPU driver that draws nothing: frames are swapped, the window stays one colour.
    std::string gpu = dir + "/gpu";
    r = check({"--sim", board, "--only", "gpu", "--seconds", "2", "--boardsim", boardsim(), "--out", gpu},
              {"LD_PRELOAD=" NODRAW_LIB});
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    res = load(gpu);
    ASSERT_EQ(res.checks.size(), 3u);
    for (const Check& c : res.checks) {
        EXPECT_GT(c.figures.at("frames").get<double>(), 0) << c.name;
        EXPECT_EQ(c.reason.rfind("the window of " + c.program + " shows no drawn scene (1 colours, 0.0% unlike", 0), 0u)
            << c.name << ": " << c.reason;
    }
}

TEST(BringupCheck, RealBoardWithoutAudioDeviceSaysSo) {
    // This machine has no audio device: it is waited for, then pcmcapture, which only retries its
    // open without one, is stopped.
    ASSERT_NE(access(QVAUDIO_NODE, F_OK), 0);
    std::string dir = testutil::make_temp_dir("bringupcheck-noaudio");
    RunResult r = check({"--only", "audio", "--out", dir + "/out"});
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    Results res = load(dir + "/out");
    ASSERT_EQ(res.checks.size(), 1u);
    EXPECT_EQ(res.checks[0].verdict, Verdict::Fail);
    EXPECT_EQ(res.checks[0].reason, "pcmcapture did not end within 2 s: there is no " QVAUDIO_NODE " (waited 10 s for it)");
    EXPECT_LT(r.seconds, 40);
}

TEST(BringupCheck, BoardWithoutTheDemosSkipsTheirChecks) {
    // A board with the tools but not the demos' package: their checks are left out, with the reason.
    std::string dir = testutil::make_temp_dir("bringupcheck-nodemos");
    RunResult copy = run_argv({"/bin/cp", "-a", testutil::stage_dir(), dir + "/tree"});
    ASSERT_EQ(copy.exit_code, 0) << copy.err;
    for (const char* program : {"configlist", "lanterna", "veilglass", "tilemosaic"})
        unlink((dir + "/tree/bin/" + program).c_str());
    mkdir((dir + "/empty").c_str(), 0755);
    testutil::RunOptions o;
    o.argv = {dir + "/tree/bin/bringup-check", "--sim", make_board(dir, {}), "--only", "egl,gpu", "--boardsim",
              boardsim(), "--out", dir + "/out"};
    o.env = {"PATH=" + dir + "/empty"};
    RunResult r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    Results res = load(dir + "/out");
    ASSERT_EQ(res.checks.size(), 4u);
    for (const Check& c : res.checks) {
        EXPECT_EQ(c.verdict, Verdict::Skip) << c.name;
        EXPECT_EQ(c.reason, c.program + " is not installed (it comes with " BRINGUP_DEMOS_PACKAGE ")");
    }
    EXPECT_EQ(testutil::split_lines(r.out)[0].substr(0, 17), "SKIP  egl.configs");
}

TEST(BringupCheck, RealBoardLeavesARunningPowerDaemonAlone) {
    // A power daemon already running on the board (here a stand-in with its name): the daemon
    // checks are not run beside it.
    std::string dir = testutil::make_temp_dir("bringupcheck-running");
    RunResult copy = run_argv({"/bin/cp", "/bin/sleep", dir + "/otgpowersave"});
    ASSERT_EQ(copy.exit_code, 0) << copy.err;
    Child other = start_background({dir + "/otgpowersave", "60"}, dir + "/otgpowersave.out");
    usleep(200000);
    RunResult r = check({"--switch", "--only", "usb", "--out", dir + "/out"});
    kill(other.pid, SIGKILL);
    await_child(&other, -1, nullptr);
    Results res = load(dir + "/out");
    ASSERT_EQ(res.checks.size(), 5u) << r.out << r.err;
    for (const char* daemon : {"otgpower", "otgpoweriddq", "otgpowersave"}) {
        const Check* c = find(res, std::string("usb.") + daemon);
        EXPECT_EQ(c->verdict, Verdict::Skip);
        // Tests beside this one may run daemons of their own on simulated boards: any may be named.
        bool matched = false;
        for (const std::string running : {"otgpower", "otgpoweriddq", "otgpowersave"}) {
            std::string head = running + " is already running (pid ";
            std::string tail = ") and switches the same ports: stop it (systemctl stop " + running + ") to check " + daemon;
            const std::string& why = c->reason;
            if (why.size() <= head.size() + tail.size() || why.compare(0, head.size(), head) != 0 ||
                why.compare(why.size() - tail.size(), tail.size(), tail) != 0)
                continue;
            std::string pid = why.substr(head.size(), why.size() - head.size() - tail.size());
            matched = pid.find_first_not_of("0123456789") == std::string::npos;
        }
        EXPECT_TRUE(matched)
            << c->reason;
    }
}

// bringup-check started in the background, its output kept in `out`, for a test that stops it.
Child start_check(const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv = {check_bin()};
    argv.insert(argv.end(), args.begin(), args.end());
    return start_background(argv, out);
}

// Polls `ready` every 50 ms for up to `seconds`.
bool wait_until(const std::function<bool()>& ready, double seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (ready()) return true;
        usleep(50000);
    }
    return ready();
}

// The child of `parent` whose command name is `name`, 0 when there is none; and whether a process
// still runs (a zombie waiting for init to reap it does not).
pid_t child_named(pid_t parent, const std::string& name) {
    for (const std::string& line : testutil::split_lines(
             run_argv({"/bin/ps", "-o", "pid=,comm=", "--ppid", std::to_string(parent)}).out)) {
        long pid = 0;
        char comm[64] = "";
        if (sscanf(line.c_str(), "%ld %63s", &pid, comm) == 2 && comm == name) return pid_t(pid);
    }
    return 0;
}
bool running(pid_t pid) {
    std::string stat = testutil::read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(") ");
    return paren != std::string::npos && stat[paren + 2] != 'Z' && stat[paren + 2] != 'X';
}

TEST(BringupCheck, InterruptedRunLeavesNoDaemonBehind) {
    // A daemon switching the board's power must not outlive a bringup-check that is stopped; the
    // device attached for the run is detached again.
    std::string dir = testutil::make_temp_dir("bringupcheck-stop");
    std::string board = make_board(dir, {});
    std::string attached = board + "/" + boardfiles::kStateDir + "/usb.port1.attached";
    Child run = start_check({"--sim", board, "--switch", "--only", "usb", "--attach", "1", "--seconds", "12",
                             "--boardsim", boardsim(), "--out", dir + "/out"},
                            dir + "/stopped.out");
    ASSERT_GT(run.pid, 0);
    EXPECT_TRUE(wait_until([&] { return testutil::file_exists(attached) && testutil::read_file(attached) == "1"; }, 60));
    kill(run.pid, SIGTERM);
    int status = 0;
    ASSERT_TRUE(await_child(&run, -1, &status));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    // The checks finished before the stop keep their results.
    Results res = load(dir + "/out");
    ASSERT_EQ(res.checks.size(), 2u);
    EXPECT_EQ(res.checks[0].name, "usb.controller");
    EXPECT_EQ(res.checks[1].name, "usb.ports");
    EXPECT_TRUE(testutil::file_exists(dir + "/out/report.html"));
    usleep(500000);
    size_t before = testutil::read_file(board + "/" + boardfiles::kTraceFile).size();
    EXPECT_GT(before, 0u);
    usleep(2500000);  // otgpower looks at its ports every second
    EXPECT_EQ(testutil::read_file(board + "/" + boardfiles::kTraceFile).size(), before);
    EXPECT_EQ(testutil::read_file(attached), "0");

    // Killed outright: the daemon on the simulated board, and pcmcapture on this machine's devices
    // (started through boardsim's trace-only run), end with it.
    const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {"otgpower", {"--sim", board, "--switch", "--only", "usb", "--seconds", "20", "--out", dir + "/killed-usb"}},
        {"pcmcapture", {"--only", "audio", "--out", dir + "/killed-audio"}}};
    for (auto [program, args] : runs) {
        args.insert(args.end(), {"--boardsim", boardsim()});
        run = start_check(args, dir + "/killed.out");
        ASSERT_GT(run.pid, 0);
        pid_t child = 0;
        EXPECT_TRUE(wait_until([&] { return (child = child_named(run.pid, program)) != 0; }, 30)) << program;
        kill(run.pid, SIGKILL);
        await_child(&run, -1, nullptr);
        EXPECT_TRUE(!child || wait_until([&] { return !running(child); }, 2)) << program << " outlived bringup-check";
        if (child && running(child)) kill(child, SIGKILL);
    }
}

TEST(BringupCheck, RenderReadsOnlyRegularEvidenceFiles) {
    // A results folder brought from elsewhere: a FIFO in place of an evidence file, or a file that
    // is not what its name says, does not hold the page up or end up in it.
    std::string dir = testutil::make_temp_dir("bringupcheck-render");
    std::string out = dir + "/out";
    RunResult r = check({"--sim", make_board(dir, {}), "--only", "egl", "--boardsim", boardsim(), "--out", out});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    ASSERT_NE(testutil::read_file(out + "/report.html").find("<table><tr><th>#</th>"), std::string::npos);
    std::string egl = out + "/egl/configlist.out", listing = testutil::read_file(egl);
    ASSERT_EQ(unlink(egl.c_str()), 0);
    ASSERT_EQ(mkfifo(egl.c_str(), 0644), 0);
    testutil::RunOptions o;
    o.argv = {check_bin(), "--render", out};
    o.timeout_s = 20;
    RunResult again = testutil::run(o);
    EXPECT_EQ(again.exit_code, 0) << again.err;
    std::string page = testutil::read_file(out + "/report.html");
    EXPECT_EQ(page.find("<table><tr><th>#</th>"), std::string::npos);
    EXPECT_NE(page.find("egl/configlist.out"), std::string::npos);  // still listed as evidence
    // Nor through a link, even one to a file inside the folder.
    ASSERT_EQ(unlink(egl.c_str()), 0);
    testutil::write_file(out + "/egl/inside.out", listing);
    ASSERT_EQ(symlink("inside.out", egl.c_str()), 0);
    EXPECT_EQ(testutil::run(o).exit_code, 0);
    EXPECT_EQ(testutil::read_file(out + "/report.html").find("<table><tr><th>#</th>"), std::string::npos);

    // A link out of the folder in an evidence file's place, a capture of 1 GiB and a trace whose
    // clock jumped 1e9 s: the page is drawn at once, from inside the folder, from the capture's
    // first part (and says which), its charts no bigger for it.
    testutil::write_file(dir + "/secret", "EGL_VENDOR = Secret Vendor, version 9.9\n");
    ASSERT_EQ(unlink(egl.c_str()), 0);
    ASSERT_EQ(symlink((dir + "/secret").c_str(), egl.c_str()), 0);
    Results res = load(out);
    Check audio, usb;
    audio.name = "audio.capture";
    audio.subsystem = "audio";
    audio.program = "pcmcapture";
    audio.verdict = usb.verdict = Verdict::Pass;
    audio.figures["rate"] = 192000;
    audio.evidence = {"audio/output.pcm"};
    usb.name = "usb.otgpower";
    usb.subsystem = "usb";
    usb.program = "otgpower";
    usb.evidence = {"usb/otgpower.trace"};
    res.checks.push_back(audio);
    res.checks.push_back(usb);
    testutil::write_file(out + "/results.json", results_json(res));
    mkdir((out + "/audio").c_str(), 0755);
    mkdir((out + "/usb").c_str(), 0755);
    testutil::write_file(out + "/audio/output.pcm", "");
    ASSERT_EQ(truncate((out + "/audio/output.pcm").c_str(), 1LL << 30), 0);
    testutil::write_file(out + "/usb/otgpower.trace", "1.000000\t7\topen\t/sys/devices/lm0/gotgctl\tr\t3\n"
                                                      "1000000001.000000\t7\topen\t/sys/devices/lm0/gotgctl\tr\t3\n");
    RunResult far = testutil::run(o);
    EXPECT_EQ(far.exit_code, 0) << far.err;
    EXPECT_LT(far.seconds, 10);
    page = testutil::read_file(out + "/report.html");
    EXPECT_EQ(page.find("Secret Vendor"), std::string::npos);
    EXPECT_NE(page.find("The capture holds 5592.4 s of audio (1073741824 bytes): these figures draw its first 87.4 s."),
              std::string::npos);
    EXPECT_NE(page.find("seconds into the run"), std::string::npos);
    EXPECT_LT(page.size(), 200000u);
}

TEST(BringupCheck, DisplayGoneMidRunFailsTheGpuChecksAndKeepsTheResults) {
    // An X server of its own, killed while the first demo runs: the run goes on without it, fails
    // the GPU checks with the reason, and still writes its results.
    std::string dir = testutil::make_temp_dir("bringupcheck-xgone");
    std::string number = std::to_string(300 + getpid() % 400);
    std::string socket = "/tmp/.X11-unix/X" + number;
    Child server = start_background({find_program("Xvfb"), ":" + number, "-nolisten", "tcp", "-screen", "0", "640x480x24"},
                                    dir + "/xvfb.out");
    ASSERT_GT(server.pid, 0);
    for (int i = 0; i < 100 && !testutil::file_exists(socket); ++i) usleep(100000);
    ASSERT_TRUE(testutil::file_exists(socket));
    std::string out = dir + "/out";
    std::thread killer([&server, out] {
        // The first demo's check has begun (and looked at the display) once its folder is there.
        for (int i = 0; i < 1200 && !testutil::file_exists(out + "/gpu"); ++i) usleep(50000);
        sleep(1);
        kill(server.pid, SIGKILL);
        await_child(&server, -1, nullptr);
    });
    RunResult r = check({"--sim", make_board(dir, {}), "--only", "gpu", "--seconds", "10", "--boardsim", boardsim(),
                         "--out", out},
                        {"DISPLAY=:" + number});
    killer.join();
    unlink(socket.c_str());
    unlink(("/tmp/.X" + number + "-lock").c_str());

    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    Results res = load(out);
    ASSERT_EQ(res.checks.size(), 3u);
    EXPECT_EQ(res.checks[0].verdict, Verdict::Fail);
    EXPECT_NE(res.checks[0].reason.find("the connection to the display \":" + number + "\" was lost while lanterna ran"),
              std::string::npos)
        << res.checks[0].reason;
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(res.checks[i].verdict, Verdict::Fail);
        EXPECT_NE(res.checks[i].reason.find("was lost earlier in the run"), std::string::npos) << res.checks[i].reason;
    }
    EXPECT_TRUE(testutil::file_exists(out + "/report.html"));
    EXPECT_TRUE(testutil::file_exists(out + "/results.xml"));
}

}  // namespace

TEST(BringupCheck, ComparesWithABaselineAndRetriesAFailure) {
    // The baseline: a good board, its results then edited as if made on another kernel, with
    // wifi.off failing, and with a check of a later version of bringup-check.
    std::string dir = testutil::make_temp_dir("bringupcheck-compare");
    std::string base = dir + "/base", now = dir + "/now", good = dir + "/good", bad = dir + "/bad";
    mkdir(good.c_str(), 0755);
    mkdir(bad.c_str(), 0755);
    RunResult b = check({"--sim", make_board(good, {"audio.ring=1048576"}), "--switch", "--only", "audio,usb,wifi",
                         "--seconds", "1", "--boardsim", boardsim(), "--out", base});
    ASSERT_EQ(b.exit_code, 0) << b.out << b.err;
    Results old = load(base);
    old.board["kernel"] = "Linux 6.1.0-57-arm64 aarch64";
    Check* off = const_cast<Check*>(find(old, "wifi.off"));
    off->verdict = Verdict::Fail;
    Check future = *off;
    future.name = "usb.future";
    old.checks.push_back(future);
    testutil::write_file(base + "/results.json", results_json(old));

    // Now a controller no daemon supports (usb.controller regresses, failing both its attempts), a
    // bigger audio ring (a figure drifts while audio passes), and a wlanpower that fails once.
    mkdir((dir + "/tree").c_str(), 0755);
    mkdir((dir + "/tree/bin").c_str(), 0755);
    ASSERT_EQ(run_argv({"/bin/cp", check_bin(), STANDIN_PROG, dir + "/tree/bin/"}).exit_code, 0);
    ASSERT_EQ(rename((dir + "/tree/bin/bringupcheck_standin").c_str(), (dir + "/tree/bin/wlanpower").c_str()), 0);
    testutil::write_file(dir + "/tree/bin/wlanpower.fails", "1\n");
    testutil::RunOptions o;
    o.argv = {dir + "/tree/bin/bringup-check", "--sim", make_board(bad, {"--profile", "otg-2.20a", "audio.ring=2097152"}),
              "--switch", "--only", "audio,usb,wifi", "--seconds", "1", "--boardsim", boardsim(), "--out", now,
              "--retries", "1", "--baseline", base};
    o.env = {"PATH=" + testutil::stage_bin("")};
    o.timeout_s = 240;
    RunResult r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    std::string kernel = load(now).board.at("kernel").get<std::string>();
    for (const std::string& line : std::vector<std::string>
         {"RETRY  usb.controller     controller version \"2.20a\"", "FAIL  usb.controller     controller version \"2.20a\"",
          "RETRY  wifi.on            wlanpower ended with exit status 1\n", "PASS  wifi.on            wlanpower 1: the driver took the request, exit status 0 (attempt 2)\n",
          "summary: 4 passed (1 flaky: passed after retries), 1 failed, 3 skipped\n",
          "regression: usb.controller (pass \u2192 fail)\n", "fixed: wifi.off (fail \u2192 pass)\n",
          "unknown to this version: usb.future (fail \u2192 not run)\n",
          "drifted: audio.capture ring_size 1048576 \u2192 2097152 (exact)\n",
          "changed: kernel Linux 6.1.0-57-arm64 aarch64 \u2192 " + kernel + "\n",
          "compared with " + base + ": 1 regression, 1 fixed, 1 unknown to this version, ",
          " figures drifted, 1 flaky check; kernel Linux 6.1.0-57-arm64 aarch64 \u2192 " + kernel + ", ",
          "\nreport: " + now + "/report.html\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;

    // results.json, as Python reads it: each check's class, the counts, the flaky attempt's evidence
    // kept apart from the pass's.
    EXPECT_EQ(python("import json, sys\n"
                     "r = json.load(open(sys.argv[1], encoding='utf-8'))\n"
                     "c = r['comparison']\n"
                     "print(c['counts']['regression'], c['counts']['fixed'], r['summary']['flaky'])\n"
                     "for k in c['checks']: print(k['name'], k['class'])\n"
                     "print([s['what'] for s in c['surroundings']][:3])\n"
                     "w = [k for k in r['checks'] if k['name'] == 'wifi.on'][0]\n"
                     "print(w['flaky'], w['attempts'][0]['verdict'], w['attempts'][0]['evidence'][0])\n",
                     now + "/results.json"),
              "1 1 1\naudio.capture still_passing\nusb.controller regression\nusb.ports still_passing\n"
              "usb.otgpower skipped\nusb.otgpoweriddq skipped\nusb.otgpowersave skipped\nwifi.on still_passing\n"
              "wifi.off fixed\nusb.future unknown\n['kernel', 'controller', 'audio.ring']\n"
              "True fail wifi/attempt-1/wlanpower-1.out\n");
    EXPECT_EQ(testutil::read_file(now + "/wifi/attempt-1/wlanpower-1.out"), "stand-in failure, 1 to go\n");
    EXPECT_EQ(testutil::read_file(now + "/wifi/wlanpower-1.out"), "");
    EXPECT_TRUE(testutil::file_exists(now + "/usb/attempt-1/controller.txt"));

    // JUnit, as Python's XML parser reads it: the regression's failure typed so, its second attempt
    // a rerunFailure, the flaky pass's first a flakyFailure.
    EXPECT_EQ(python("import sys, xml.etree.ElementTree as E\n"
                     "for t in E.parse(sys.argv[1]).getroot().iter('testcase'):\n"
                     "    f = t.find('failure')\n"
                     "    p = t.find('properties/property')\n"
                     "    print(t.get('name'), f.get('type') if f is not None else '-', len(t.findall('rerunFailure')),\n"
                     "          len(t.findall('flakyFailure')), p.get('value'))\n",
                     now + "/results.xml"),
              "audio.capture - 0 0 still_passing\nusb.controller regression 1 0 regression\nusb.ports - 0 0 still_passing\n"
              "usb.otgpower - 0 0 skipped\nusb.otgpoweriddq - 0 0 skipped\nusb.otgpowersave - 0 0 skipped\n"
              "wifi.on - 0 1 still_passing\nwifi.off - 0 0 fixed\n");

    // The page: what changed at the top, with links to both runs' evidence and the two captures'
    // levels side by side.
    std::string html = testutil::read_file(now + "/report.html");
    EXPECT_LT(html.find("<h2>Compared with</h2>"), html.find("<th>check</th><th>verdict</th>"));
    for (const char* part : {"<td class=\"fail\">regression</td>", "href=\"./../base/usb/controller.txt\"",
                             "href=\"./usb/controller.txt\"", "<figcaption>baseline</figcaption>",
                             "<figcaption>this run</figcaption>", "pass (flaky)", "Attempt 1 of 2: fail",
                             "<th>kernel</th><td>Linux 6.1.0-57-arm64 aarch64</td>"})
        EXPECT_NE(html.find(part), std::string::npos) << part;
    // One look in a headless browser: the page as it reads it, the comparison first.
    testutil::RunOptions look;
    look.argv = {"/usr/bin/chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--dump-dom",
                 "file://" + now + "/report.html"};
    look.env = {"HOME=" + dir};
    look.timeout_s = 120;
    RunResult dom = testutil::run(look);
    EXPECT_EQ(dom.exit_code, 0) << dom.err;
    EXPECT_LT(dom.out.find("<h2>Compared with</h2>"), dom.out.find("<h2>Audio</h2>")) << dom.out.substr(0, 2000);
    EXPECT_NE(dom.out.find("<td class=\"fail\">regression</td>"), std::string::npos);

    // Afterwards, --compare says the same of the same two folders.
    RunResult c = check({"--compare", base, now});
    EXPECT_EQ(c.exit_code, 1) << c.err;
    EXPECT_EQ(r.out.substr(r.out.find('\n', r.out.find("summary: ")) + 1), c.out);
    // Drift alone passes, unless --strict; a tolerance set on the command line holds.
    old = load(now);
    const_cast<Check*>(find(old, "audio.capture"))->figures["ring_size"] = 1048576;
    mkdir((dir + "/drift").c_str(), 0755);
    testutil::write_file(dir + "/drift/results.json", results_json(old));
    EXPECT_EQ(check({"--compare", dir + "/drift", now}).exit_code, 0);
    EXPECT_EQ(check({"--compare", dir + "/drift", now, "--strict"}).exit_code, 1);
    EXPECT_EQ(check({"--compare", dir + "/drift", now, "--strict", "--tolerance", "ring_size=1048576"}).exit_code, 0);
    RunResult same = check({"--compare", now, now});
    EXPECT_EQ(same.exit_code, 0);
    EXPECT_EQ(same.out, "compared with " + now + ": no check changed, 1 flaky check\nreport: " + now + "/report.html\n");
}

TEST(BringupCheck, BadBaselinesAreNamed) {
    std::string dir = testutil::make_temp_dir("bringupcheck-badbase");
    std::string board = make_board(dir, {}), now = dir + "/now", old = dir + "/old";
    ASSERT_EQ(check({"--sim", board, "--only", "usb", "--boardsim", boardsim(), "--out", now}).exit_code, 0);
    std::string good = testutil::read_file(now + "/results.json");
    mkdir(old.c_str(), 0755);
    // Each gets one line and no comparison; the run's own files are left as they were.
    const std::vector<std::pair<std::function<void()>, std::string>> bad = {
        {[] {}, "results.json: No such file or directory"},
        {[&] { testutil::write_file(old + "/results.json", good.substr(0, good.size() / 2)); }, " at byte "},
        {[&] { unlink((old + "/results.json").c_str()); symlink((now + "/results.json").c_str(), (old + "/results.json").c_str()); },
         "results.json is a link"},
        {[&] { unlink((old + "/results.json").c_str()); mkfifo((old + "/results.json").c_str(), 0644); },
         "results.json is not a regular file"},
        {[&] { unlink((old + "/results.json").c_str()); testutil::write_file(old + "/results.json", good);
               truncate((old + "/results.json").c_str(), 17 << 20); }, "results.json is longer than 16 MiB"},
    };
    for (const auto& b : bad) {
        b.first();
        RunResult r = check({"--compare", old, now});
        EXPECT_EQ(r.exit_code, 1) << b.second;
        EXPECT_EQ(r.out, "") << b.second;
        EXPECT_EQ(r.err.rfind("bringup-check: cannot compare: " + old + "/", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(b.second), std::string::npos) << r.err;
        EXPECT_EQ(testutil::read_file(now + "/results.json"), good);
    }
    // An older layout (no version kept) and another kind of board are compared, and said at the top.
    Results before = load(now);
    before.board.erase("suite");
    testutil::write_file(old + "/results.json.new", results_json(before));
    rename((old + "/results.json.new").c_str(), (old + "/results.json").c_str());
    RunResult older = check({"--compare", old, now});
    EXPECT_EQ(older.exit_code, 0) << older.err;
    EXPECT_EQ(older.out.rfind("note: the baseline was written by an older bringup-check, which kept no version", 0), 0u)
        << older.out;
    before = load(now);
    before.board["board_kind"] = "kernel";
    testutil::write_file(old + "/results.json", results_json(before));
    EXPECT_EQ(check({"--compare", old, now}).out.rfind("note: the baseline ran on a kernel board, this run on a "
                                                      "preloaded board", 0), 0u);
    // A run whose baseline cannot be read still runs and keeps its results, and says why.
    RunResult run = check({"--sim", board, "--only", "usb", "--boardsim", boardsim(), "--out", now, "--baseline",
                           dir + "/none"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "bringup-check: cannot compare with " + dir + "/none: " + dir +
                           "/none/results.json: No such file or directory\n");
    EXPECT_NE(run.out.find("compared with " + dir + "/none: not compared: "), std::string::npos) << run.out;
    EXPECT_EQ(load(now).checks.size(), 5u);
}
