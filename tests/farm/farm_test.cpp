// bringup-farm's model: the server's answers read, what became of each job, the job rendered for a
// board and the farm's files.
#include <gtest/gtest.h>

#include "farm/farm.h"

namespace {

using farm::Case;
using farm::Job;
using farm::Outcome;

// The suites as parse_suites names them.
const std::vector<std::pair<long long, std::string>> kSuites = {{7, "lava"}, {8, "kernel-board"}, {9, "bringup-check"}};

Case lava_case(const std::string& name, const std::string& result, const std::string& msg = "",
               const std::string& type = "") {
    Case c;
    c.suite = "lava";
    c.name = name;
    c.result = result;
    c.error = msg;
    c.error_type = type;
    return c;
}

Case check(const std::string& name, const std::string& result) {
    Case c;
    c.suite = farm::kCheckSuite;
    c.name = name;
    c.result = result;
    return c;
}

Job finished(const std::string& health, std::vector<Case> cases) {
    Job j;
    j.id = 12;
    j.device = "board-1";
    j.state = "Finished";
    j.health = health;
    j.cases = cases;
    return j;
}

TEST(FarmServerAnswers, JobStateDeviceAndTimes) {
    Job j;
    j.board = "good";
    std::string why;
    ASSERT_TRUE(farm::parse_job(R"({"id": 12, "state": "Finished", "health": "Complete", "actual_device": "board-1",
        "health_check": false, "submit_time": "2026-12-08T23:00:00.000000Z",
        "start_time": "2026-12-08T23:00:40.500000Z", "end_time": "2026-12-08T23:03:10.500000Z"})",
                                &j, &why))
        << why;
    EXPECT_EQ(j.id, 12);
    EXPECT_EQ(j.board, "good");  // what was asked for is kept
    EXPECT_EQ(j.device, "board-1");
    EXPECT_DOUBLE_EQ(j.waited_s, 40.5);
    EXPECT_DOUBLE_EQ(j.ran_s, 150);
    ASSERT_TRUE(farm::parse_job(R"({"id": 13, "state": "Submitted", "health": "Unknown", "actual_device": null,
        "start_time": null})", &j, &why));
    EXPECT_EQ(j.device, "");
    EXPECT_EQ(j.waited_s, -1);
}

TEST(FarmServerAnswers, CasesWithSuitesAndMeasurements) {
    std::vector<Case> cases;
    std::string next, why;
    ASSERT_TRUE(farm::parse_tests(R"({"next": "http://s/api/v0.2/jobs/12/tests/?offset=2", "results": [
        {"name": "audio.capture", "result": "pass", "suite": 9, "measurement": "10.0400000000", "unit": "seconds",
         "metadata": "case: audio.capture\n"},
        {"name": "job", "result": "fail", "suite": 7, "measurement": null, "unit": "",
         "metadata": "case: job\nerror_msg: 'auto-login-action timed out after 600 seconds'\nerror_type: Infrastructure\n"}]})",
                                  kSuites, &cases, &next, &why))
        << why;
    EXPECT_EQ(next, "http://s/api/v0.2/jobs/12/tests/?offset=2");
    ASSERT_EQ(cases.size(), 2u);
    EXPECT_EQ(cases[0].suite, "bringup-check");
    EXPECT_TRUE(cases[0].measured);
    EXPECT_DOUBLE_EQ(cases[0].measurement, 10.04);
    EXPECT_EQ(cases[0].units, "seconds");
    EXPECT_FALSE(cases[1].measured);
    EXPECT_EQ(cases[1].error, "auto-login-action timed out after 600 seconds");
    EXPECT_EQ(cases[1].error_type, "Infrastructure");
    std::vector<std::pair<long long, std::string>> suites;
    ASSERT_TRUE(farm::parse_suites(R"({"next": null, "results": [{"id": 9, "name": "1_bringup-check"}]})", &suites,
                                   &next, &why));
    EXPECT_EQ(next, "");
    EXPECT_EQ(suites.at(0).second, "bringup-check");  // LAVA's "1_" prefix taken off
}

TEST(FarmServerAnswers, MalformedAnswersRefusedWholeWithAReason) {
    const char* const bad_tests[] = {
        "<html>502 Bad Gateway</html>",
        R"({"detail": "Invalid token."})",
        R"({"results": [{"name": "a", "result": "pass", "suite": 9}, {"name": "b", "suite": 9}]})",
        R"({"results": [{"name": "a", "result": "pass", "suite": 9, "measurement": "fast"}]})",
    };
    for (const char* text : bad_tests) {
        std::vector<Case> cases;
        std::string next, why;
        EXPECT_FALSE(farm::parse_tests(text, kSuites, &cases, &next, &why)) << text;
        EXPECT_TRUE(cases.empty()) << text;
        EXPECT_FALSE(why.empty());
    }
    Job j;
    std::string why;
    EXPECT_FALSE(farm::parse_job(R"({"id": 3, "state": "Finished"})", &j, &why));
    EXPECT_EQ(j.id, 0);
    std::vector<long long> ids;
    EXPECT_FALSE(farm::parse_submitted(R"({"message": "ok", "job_ids": []})", &ids, &why));
    EXPECT_TRUE(farm::parse_submitted(R"({"message": "ok", "job_ids": [41]})", &ids, &why));
    EXPECT_EQ(ids, std::vector<long long>{41});
}

TEST(FarmOutcome, OnlyACompletedJobWithChecksIsChecked) {
    struct Row {
        Job job;
        Outcome outcome;
        const char* why;  // a part of the reason
    };
    Job pending;
    pending.state = "Running";
    Job health = finished("Incomplete", {lava_case("kernel-board", "pass"), lava_case("job", "fail", "module failed", "Test")});
    health.health_check = true;
    Job unreadable = finished("Complete", {check("audio.capture", "pass")});
    unreadable.unreadable = "HTTP 500";
    const Row rows[] = {
        {finished("Complete", {check("audio.capture", "pass"), check("usb.controller", "fail")}), Outcome::Checked, ""},
        {finished("Complete", {lava_case("job", "pass")}), Outcome::NoResults, "no check"},
        {unreadable, Outcome::NoResults, "HTTP 500"},
        {pending, Outcome::Pending, "Running"},
        {finished("Canceled", {check("audio.capture", "pass")}), Outcome::Canceled, "cancelled"},
        {finished("Incomplete", {lava_case("auto-login-action", "fail"),
                                 lava_case("job", "fail", "auto-login-action timed out after 600 seconds")}),
         Outcome::BootFailed, "boot failed (auto-login-action): auto-login-action timed out"},
        {finished("Incomplete", {lava_case("lava-test-shell", "fail"), lava_case("job", "fail", "lava-test-shell timed out")}),
         Outcome::TimedOut, "timed out"},
        {finished("Incomplete", {check("audio.capture", "pass"),
                                 lava_case("job", "fail", "Unable to download", "Infrastructure")}),
         Outcome::Infrastructure, "Infrastructure error: Unable to download"},
        {health, Outcome::Infrastructure, "health check failed: Test error: module failed"},
    };
    for (const Row& r : rows) {
        std::string why;
        EXPECT_EQ(farm::job_outcome(r.job, &why), r.outcome) << r.why;
        EXPECT_NE(why.find(r.why), std::string::npos) << why;
    }
}

TEST(FarmRender, TheJobMadeForABoard) {
    const std::string job = R"(device_type: qemu
job_name: bringup-check on the arm64 board image
actions:
  - deploy:
      images:
        kernel: {url: "file:///srv/board-image/vmlinuz"}
        rootfs: {url: "file:///srv/board-image/disk.ext4"}
  - test:
      definitions:
        - {from: inline, name: kernel-board, path: inline/k.yaml, parameters: {MODULE_ARGS: a=1}}
        - {from: git, name: bringup-check, repository: /srv/x.git, path: p.yaml, parameters: {ARGS: --switch}}
)";
    farm::RenderOptions o;
    o.tag = "board-2";
    o.image = "/work/build/image/";
    o.repository = "/srv/suite";
    o.parameters = {{"ARGS", "--only audio"}};
    std::string out, why;
    ASSERT_TRUE(farm::render_job(job, o, &out, &why)) << why;
    for (const char* want : {"job_name: bringup-check on the arm64 board image on board-2", "- board-2",
                             "file:///work/build/image/vmlinuz", "file:///work/build/image/disk.ext4",
                             "repository: /srv/suite", "ARGS: --only audio", "MODULE_ARGS: a=1"})
        EXPECT_NE(out.find(want), std::string::npos) << want << " in\n" << out;
    EXPECT_EQ(out.find("parameters: {}"), std::string::npos);  // nothing added where nothing was set

    o.parameters = {{"NO_SUCH", "1"}};
    EXPECT_FALSE(farm::render_job(job, o, &out, &why));
    EXPECT_NE(why.find("NO_SUCH"), std::string::npos);
    EXPECT_FALSE(farm::render_job("just: text\n", farm::RenderOptions(), &out, &why));
    EXPECT_FALSE(farm::render_job("a: [b\n", farm::RenderOptions(), &out, &why));
}

TEST(FarmFiles, ABoardNotCheckedNeverShowsAVerdict) {
    Case fps = check("gpu.lanterna", "pass");
    fps.measured = true;
    fps.measurement = 29.5;
    fps.units = "fps";
    Job good = finished("Complete", {fps, check("usb.controller", "fail")});
    Job lost = finished("Incomplete", {check("usb.controller", "pass"), lava_case("auto-login-action", "fail"),
                                       lava_case("job", "fail", "login timed out")});
    lost.id = 13;
    lost.device = "board-2";
    std::vector<Job> jobs = {good, lost};

    Json j = farm::farm_json("http://127.0.0.1/", jobs);
    EXPECT_EQ(j["jobs"][0]["outcome"], "checked");
    EXPECT_EQ(j["jobs"][0]["checks"][0]["measurement"], 29.5);
    EXPECT_EQ(j["jobs"][1]["outcome"], "boot failed");
    EXPECT_TRUE(j["jobs"][1]["checks"].empty());
    EXPECT_EQ(j["summary"]["not_checked"], 1);

    std::string junit = farm::farm_junit(jobs);
    EXPECT_NE(junit.find("<testsuite name=\"board-2 (job 13)\" tests=\"1\" failures=\"0\" errors=\"1\""), std::string::npos)
        << junit;
    EXPECT_NE(junit.find("<error type=\"boot failed\""), std::string::npos);
    EXPECT_NE(junit.find("name=\"usb.controller\"><failure"), std::string::npos);

    std::string html = farm::farm_html("http://127.0.0.1/", jobs, "file:///shares/{device}/job-{job}/report.html");
    EXPECT_NE(html.find("<td class=\"pass\">pass<br><span class=\"fig\">29.5 fps</span></td>"), std::string::npos);
    EXPECT_NE(html.find("Not checked (boot failed)"), std::string::npos);
    EXPECT_NE(html.find("http://127.0.0.1/scheduler/job/13/log_file/plain"), std::string::npos);
    EXPECT_EQ(html.find("<td class=\"pass\">pass</td>"), std::string::npos);  // board-2's reported pass is not shown
    EXPECT_NE(html.find("file:///shares/board-1/job-12/report.html"), std::string::npos);
    EXPECT_EQ(html.find("file:///shares/board-2/"), std::string::npos);  // no report of a board not checked
}

TEST(FarmFiles, SubmittedJobsReadBack) {
    Job a, b;
    a.id = 4;
    a.board = "board-1";
    b.id = 5;
    std::string url, why;
    std::vector<Job> jobs;
    ASSERT_TRUE(farm::parse_jobs_json(farm::jobs_json("http://h/", {a, b}), &url, &jobs, &why)) << why;
    EXPECT_EQ(url, "http://h/");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].board, "board-1");
    EXPECT_EQ(jobs[1].id, 5);
    EXPECT_FALSE(farm::parse_jobs_json(R"({"server": "x", "jobs": [{"id": "4"}]})", &url, &jobs, &why));
}

}  // namespace
