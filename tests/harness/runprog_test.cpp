// The test helper that starts programs: the time scale it reads, the time-out it applies, what it
// says of a program it cannot start, and the one-CPU pinning of the programs it starts in a build
// whose programs run under an emulator.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "runprog.h"

namespace {

double scaleFor(const char* text) {
    if (text)
        setenv("BRINGUP_TIME_SCALE", text, 1);
    else
        unsetenv("BRINGUP_TIME_SCALE");
    return testutil::time_scale();
}

TEST(RunHarness, TimeScaleIsANumberOfAtLeastOneOrElseOne) {
    EXPECT_EQ(scaleFor(nullptr), 1);
    EXPECT_EQ(scaleFor("3"), 3);
    EXPECT_EQ(scaleFor("2.5"), 2.5);
    EXPECT_EQ(scaleFor("100"), 100);
    for (const char* bad : {"", "abc", "3x", "0", "0.5", "-2", "1e9", "nan"}) EXPECT_EQ(scaleFor(bad), 1) << bad;
}

TEST(RunHarness, TimeOutIsScaled) {
    setenv("BRINGUP_TIME_SCALE", "4", 1);
    testutil::RunOptions o;
    o.argv = {"/bin/sleep", "30"};
    o.timeout_s = 0.25;
    testutil::RunResult r = testutil::run(o);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_GE(r.seconds, 1.0);
    EXPECT_LT(r.seconds, 20);
}

TEST(RunHarness, ProgramThatCannotStartEndsWith127AndSaysWhy) {
    testutil::RunOptions o;
    o.argv = {"/nonexistent/program"};
    testutil::RunResult r = testutil::run(o);
    EXPECT_EQ(r.exit_code, 127);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot run /nonexistent/program: No such file or directory\n");
}

// The helper's own pinning is checked with the test process free to use every CPU again, so that
// a pinned launcher cannot make it pass by itself.
TEST(RunHarness, ChildHasItsStandardStreamsWhenOursAreClosed) {
    // Started with no standard input (a service, a farm's dispatcher), the runner's children still
    // get /dev/null as theirs.
    int saved = dup(0);
    close(0);
    testutil::RunOptions o;
    o.argv = {"/bin/sh", "-c", "readlink /proc/self/fd/0"};
    testutil::RunResult r = testutil::run(o);
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(r.out, "/dev/null\n") << r.err;
}

TEST(RunHarness, ProgramsOfAnEmulatedBuildRunOnOneCpu) {
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    cpu_set_t all;
    CPU_ZERO(&all);
    for (long i = 0; i < cpus && i < CPU_SETSIZE; ++i) CPU_SET(int(i), &all);
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    testutil::RunOptions o;
    o.argv = {"/bin/sh", "-c", "grep '^Cpus_allowed_list:' /proc/self/status | cut -f2"};
    testutil::RunResult r = testutil::run(o);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string list = r.out.substr(0, r.out.find('\n'));
#ifdef BRINGUP_EMULATED
    EXPECT_EQ(list.find_first_of(",-"), std::string::npos) << list;
#else
    if (cpus > 1) {
        EXPECT_NE(list.find_first_of(",-"), std::string::npos) << list;
    }
#endif
}

}  // namespace
