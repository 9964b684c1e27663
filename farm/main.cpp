// bringup-farm: runs bringup-check's LAVA job on the boards of a LAVA server and reports, through the
// server's REST API v0.2.
//   submit  renders the job for each board (by tag, or any board of the device type) and submits it
//   wait    follows the submitted jobs until each has finished
//   report  reads each job's state, test cases and measurements back and writes farm.json,
//           farm.xml (JUnit) and farm.html into the output folder
// Exit status: 0 done (report: every board checked and no check failed), 1 a board not checked or
// a check failed (report) or jobs still unfinished (wait), 2 usage error, 3 the server could not be
// used (no answer, token refused, an answer that is not the API's).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bringupcheck/json.h"
#include "farm/farm.h"
#include "farm/http.h"

namespace {

const char kUsageText[] =
    "Usage: bringup-farm submit --url URL --token-file FILE --job JOB.yaml --out DIR\n"
    "                           [--tag TAG]... [--count N] [--device-type TYPE] [--image DIR|URL]\n"
    "                           [--repository URL] [--param NAME=VALUE]...\n"
    "       bringup-farm wait   --token-file FILE --out DIR [--url URL] [--timeout SECONDS]\n"
    "       bringup-farm report --token-file FILE --out DIR [--url URL] [--reports PATTERN]\n"
    "       bringup-farm --version\n";

enum Exit { kDone = 0, kNotAllWell = 1, kUsage = 2, kServer = 3 };

// An API call is tried this often while the proxy answers 502-504 or the server does not answer.
const int kTries = 5;
const double kRetryPauseS = 2;
// wait's polling interval and default limit.
const double kPollS = 5;
const double kDefaultWaitS = 3600;

struct Options {
    std::string command, url, token_file, job, out, device_type, image, repository;
    std::string reports;  // where each job's bringup-check report lies: {device} and {job} filled in
    std::vector<std::string> tags;
    std::vector<std::pair<std::string, std::string>> params;
    long count = 1;
    double timeout_s = kDefaultWaitS;
};

int usage_error(const std::string& why) {
    fprintf(stderr, "bringup-farm: %s\n%s", why.c_str(), kUsageText);
    return kUsage;
}

bool whole_number(const char* s, long lo, long hi, long* out) {
    char* end = nullptr;
    long v = strtol(s, &end, 10);
    if (!*s || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// Fills `o` from the command line; returns -1 when it is good, otherwise the exit status.
int parse(int argc, char** argv, Options* o) {
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        printf("bringup-farm %s\n", BRINGUP_VERSION);
        return kDone;
    }
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf("%s", kUsageText);
        return kDone;
    }
    if (argc < 2) return usage_error("no command");
    o->command = argv[1];
    if (o->command != "submit" && o->command != "wait" && o->command != "report")
        return usage_error("no such command: " + o->command);
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return usage_error("no value after " + a);
        const char* v = argv[++i];
        long n = 0;
        if (a == "--url") o->url = v;
        else if (a == "--token-file") o->token_file = v;
        else if (a == "--job") o->job = v;
        else if (a == "--out") o->out = v;
        else if (a == "--tag") o->tags.push_back(v);
        else if (a == "--device-type") o->device_type = v;
        else if (a == "--image") o->image = v;
        else if (a == "--repository") o->repository = v;
        else if (a == "--reports") o->reports = v;
        else if (a == "--count" && whole_number(v, 1, 1000, &n)) o->count = n;
        else if (a == "--timeout" && whole_number(v, 1, 7 * 86400, &n)) o->timeout_s = double(n);
        else if (a == "--param" && strchr(v, '=') && v[0] != '=') {
            std::string p = v;
            o->params.emplace_back(p.substr(0, p.find('=')), p.substr(p.find('=') + 1));
        } else if (a == "--count" || a == "--timeout" || a == "--param")
            return usage_error("bad value for " + a + ": " + v);
        else
            return usage_error("unknown option " + a);
    }
    if (o->token_file.empty() || o->out.empty()) return usage_error("--token-file and --out are needed");
    if (o->command == "submit" && (o->url.empty() || o->job.empty()))
        return usage_error("submit needs --url and --job");
    return -1;
}

bool read_file(const std::string& path, std::string* text) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::ostringstream s;
    s << f.rdbuf();
    *text = s.str();
    return !f.bad();
}

bool write_file(const std::string& path, const std::string& text) {
    std::string tmp = path + ".part";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!(f << text) || !f.flush()) return false;
    }
    return rename(tmp.c_str(), path.c_str()) == 0;
}

// The token: the file's first line. A token others can read is refused: whoever reads it can
// run jobs and cancel them in the user's name.
bool read_token(const std::string& path, std::string* token) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !read_file(path, token)) {
        fprintf(stderr, "bringup-farm: cannot read the token file %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    if (st.st_mode & 077) {
        fprintf(stderr, "bringup-farm: the token file %s can be read by others: chmod 600 it\n", path.c_str());
        return false;
    }
    *token = token->substr(0, token->find_first_of("\r\n"));
    if (token->empty()) {
        fprintf(stderr, "bringup-farm: the token file %s is empty\n", path.c_str());
        return false;
    }
    return true;
}

std::string api(std::string url, const std::string& path) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url + "/api/v0.2/" + path;
}

// A GET whose answer must be a 200; otherwise one line on standard error.
bool get(const std::string& url, const std::string& token, std::string* body, std::string* problem) {
    farm::Answer a = farm::http_request(url, token, "", kTries, kRetryPauseS);
    if (a.status != 200) {
        *problem = farm::answer_problem(url, a);
        return false;
    }
    *body = a.body;
    return true;
}

int submit(const Options& o, const std::string& token) {
    std::string yaml;
    if (!read_file(o.job, &yaml)) {
        fprintf(stderr, "bringup-farm: cannot read the job %s\n", o.job.c_str());
        return kUsage;
    }
    std::vector<std::string> boards = o.tags;
    if (boards.empty()) boards.push_back("");
    // Rendered first, all of them: a bad parameter submits nothing.
    std::vector<std::pair<std::string, std::string>> rendered;
    for (const std::string& b : boards) {
        farm::RenderOptions r{b, o.device_type, o.image, o.repository, o.params};
        std::string text, why;
        if (!farm::render_job(yaml, r, &text, &why)) {
            fprintf(stderr, "bringup-farm: %s: %s\n", o.job.c_str(), why.c_str());
            return kUsage;
        }
        for (long i = 0; i < o.count; ++i) rendered.emplace_back(b, text);
    }
    mkdir(o.out.c_str(), 0755);
    std::vector<farm::Job> jobs;
    int status = kDone;
    for (const auto& r : rendered) {
        Json body = {{"definition", r.second}};
        std::string url = api(o.url, "jobs/");
        // A submission is not repeated: the server may have taken one that it did not answer.
        farm::Answer a = farm::http_request(url, token, json_dump(body), 1, 0);
        std::vector<long long> ids;
        std::string why;
        if (a.status != 201 && a.status != 200) {
            fprintf(stderr, "bringup-farm: submit: %s\n", farm::answer_problem(url, a).c_str());
            status = kServer;
            break;
        }
        if (!farm::parse_submitted(a.body, &ids, &why)) {
            fprintf(stderr, "bringup-farm: submit: %s\n", why.c_str());
            status = kServer;
            break;
        }
        for (long long id : ids) {
            farm::Job j;
            j.id = id;
            j.board = r.first;
            jobs.push_back(j);
            printf("bringup-farm: job %lld submitted for %s\n", id, r.first.empty() ? "any board" : r.first.c_str());
        }
    }
    // What was submitted is kept, even when a later submission failed.
    if (!jobs.empty() && !write_file(o.out + "/jobs.json", farm::jobs_json(o.url, jobs))) {
        fprintf(stderr, "bringup-farm: cannot write %s/jobs.json\n", o.out.c_str());
        return kUsage;
    }
    return status;
}

bool load_jobs(const Options& o, std::string* url, std::vector<farm::Job>* jobs) {
    std::string text, why;
    if (!read_file(o.out + "/jobs.json", &text)) {
        fprintf(stderr, "bringup-farm: no %s/jobs.json: submit first\n", o.out.c_str());
        return false;
    }
    if (!farm::parse_jobs_json(text, url, jobs, &why)) {
        fprintf(stderr, "bringup-farm: %s/%s\n", o.out.c_str(), why.c_str());
        return false;
    }
    if (!o.url.empty()) *url = o.url;
    return true;
}

// The job's state as the server has it now.
bool read_job(const std::string& url, const std::string& token, farm::Job* job, std::string* problem) {
    std::string body;
    if (!get(api(url, "jobs/" + std::to_string(job->id) + "/"), token, &body, problem)) return false;
    return farm::parse_job(body, job, problem);
}

int wait_jobs(const Options& o, const std::string& token) {
    std::string url;
    std::vector<farm::Job> jobs;
    if (!load_jobs(o, &url, &jobs)) return kUsage;
    time_t start = time(nullptr);
    std::vector<std::string> seen(jobs.size());
    for (;;) {
        size_t finished = 0;
        for (size_t i = 0; i < jobs.size(); ++i) {
            std::string problem;
            if (!read_job(url, token, &jobs[i], &problem)) {
                fprintf(stderr, "bringup-farm: wait: job %lld: %s\n", jobs[i].id, problem.c_str());
                return kServer;
            }
            std::string now = jobs[i].state + " " + jobs[i].health + " " + jobs[i].device;
            if (now != seen[i]) {
                seen[i] = now;
                printf("bringup-farm: job %lld: %s%s%s%s\n", jobs[i].id, jobs[i].state.c_str(),
                       jobs[i].state == "Finished" ? (" " + jobs[i].health).c_str() : "",
                       jobs[i].device.empty() ? "" : " on ", jobs[i].device.c_str());
                fflush(stdout);
            }
            finished += jobs[i].state == "Finished";
        }
        if (finished == jobs.size()) return kDone;
        if (difftime(time(nullptr), start) > o.timeout_s) {
            fprintf(stderr, "bringup-farm: wait: %zu of %zu jobs still unfinished after %.0f s\n", jobs.size() - finished,
                    jobs.size(), o.timeout_s);
            return kNotAllWell;
        }
        usleep(useconds_t(kPollS * 1e6));
    }
}

// Every page of a listing, through `read_page`.
template <typename F>
bool all_pages(std::string next, const std::string& token, F read_page, std::string* problem) {
    while (!next.empty()) {
        std::string body, following;
        if (!get(next, token, &body, problem) || !read_page(body, &following, problem)) return false;
        next = following;
    }
    return true;
}

// The job's suites and cases; on a problem the job keeps no case and `problem` says why.
bool read_cases(const std::string& url, const std::string& token, farm::Job* job, std::string* problem) {
    std::string base = api(url, "jobs/" + std::to_string(job->id) + "/");
    std::vector<std::pair<long long, std::string>> suites;
    std::vector<farm::Case> cases;
    if (!all_pages(base + "suites/?limit=100", token,
                   [&](const std::string& b, std::string* n, std::string* p) { return farm::parse_suites(b, &suites, n, p); },
                   problem))
        return false;
    if (!all_pages(base + "tests/?limit=500", token,
                   [&](const std::string& b, std::string* n, std::string* p) {
                       return farm::parse_tests(b, suites, &cases, n, p);
                   },
                   problem))
        return false;
    job->cases = cases;
    return true;
}

int report(const Options& o, const std::string& token) {
    std::string url;
    std::vector<farm::Job> jobs;
    if (!load_jobs(o, &url, &jobs)) return kUsage;
    int status = kDone;
    for (farm::Job& job : jobs) {
        std::string problem;
        if (!read_job(url, token, &job, &problem) || (job.state == "Finished" && !read_cases(url, token, &job, &problem))) {
            // Nothing of this job is trusted: it is reported as not checked, with the reason.
            fprintf(stderr, "bringup-farm: report: job %lld: %s\n", job.id, problem.c_str());
            job.cases.clear();
            job.unreadable = problem;
            status = kServer;
        }
        std::string why;
        farm::Outcome oc = farm::job_outcome(job, &why);
        int failed = 0;
        for (const farm::Case* c : farm::check_cases(job)) failed += c->result == "fail";
        if (oc != farm::Outcome::Checked)
            printf("bringup-farm: job %lld (%s): not checked: %s\n", job.id, job.device.c_str(), why.c_str());
        else
            printf("bringup-farm: job %lld (%s): %zu checks, %d failed; waited %.0f s, ran %.0f s\n", job.id,
                   job.device.c_str(), farm::check_cases(job).size(), failed, job.waited_s, job.ran_s);
        if (status == kDone && (oc != farm::Outcome::Checked || failed)) status = kNotAllWell;
    }
    std::string dir = o.out + "/";
    if (!write_file(dir + "farm.json", json_dump(farm::farm_json(url, jobs)) + "\n") ||
        !write_file(dir + "farm.xml", farm::farm_junit(jobs)) || !write_file(dir + "farm.html", farm::farm_html(url, jobs, o.reports))) {
        fprintf(stderr, "bringup-farm: cannot write the report into %s\n", o.out.c_str());
        return kUsage;
    }
    printf("bringup-farm: %sfarm.html\n", dir.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int rc = parse(argc, argv, &o);
    if (rc >= 0) return rc;
    std::string token;
    if (!read_token(o.token_file, &token)) return kUsage;
    // Progress lines reach a log as they happen.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    farm::http_init();
    if (o.command == "submit") rc = submit(o, token);
    else if (o.command == "wait") rc = wait_jobs(o, token);
    else rc = report(o, token);
    farm::http_done();
    return rc;
}
