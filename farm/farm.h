// bringup-farm's model of a farm run: the jobs it submitted, what a LAVA server says of each (read
// through its REST API v0.2) and the files written from that: farm.json, farm.xml (JUnit, one
// suite a board) and farm.html (the board x check matrix).
#pragma once

#include <string>
#include <vector>

#include "bringupcheck/json.h"

namespace farm {

// The test definition whose cases are bringup-check's checks (its metadata name in the job).
extern const char* const kCheckSuite;

// One test case as LAVA recorded it.
struct Case {
    std::string suite;       // the definition's name, without LAVA's "N_" prefix ("lava" for LAVA's own)
    std::string name;        // "audio.capture"
    std::string result;      // pass, fail, skip or unknown
    bool measured = false;   // a measurement was reported with the case
    double measurement = 0;
    std::string units;
    std::string error;       // LAVA's error message for its own failed actions
    std::string error_type;  // Infrastructure, Job, Test, Bug, Configuration, Canceled, or ""
};

// One job: as submitted, then as the server tells it.
struct Job {
    long long id = 0;
    std::string board;        // what the job asked for: a tag, or "" for any board of the type
    std::string device;       // the device it ran on, "" until scheduled
    std::string state;        // Submitted, Scheduling, Scheduled, Running, Canceling, Finished
    std::string health;       // Unknown, Complete, Incomplete, Canceled
    bool health_check = false;
    std::string submit_time, start_time, end_time;  // ISO 8601 as the server writes them
    double waited_s = -1;     // from submission to start, -1 when unknown
    double ran_s = -1;        // from start to end
    std::vector<Case> cases;  // every case of every suite
    std::string unreadable;   // why the server's answers about the job could not be read, or ""
};

// What became of a job, as the farm's files say it.
enum class Outcome {
    Checked,         // the job completed and bringup-check's checks were reported
    Pending,         // not finished yet
    NoResults,       // completed without bringup-check's checks, or its results could not be read
    BootFailed,      // the board did not boot to its shell
    TimedOut,        // an action or the job overran its time
    Canceled,        // cancelled by someone
    Infrastructure,  // any other failure of the farm itself (deploy, dispatcher, device)
};
const char* outcome_name(Outcome o);

// The outcome and, when it is not Checked, one line saying why.
Outcome job_outcome(const Job& job, std::string* why);
// bringup-check's cases of the job, in the order reported.
std::vector<const Case*> check_cases(const Job& job);

// --- The server's answers (lava.cpp). Each returns false with a one-line reason on text that is
// not what the API writes; nothing is half-filled then.

// GET /api/v0.2/jobs/<id>/: state, health, device, times.
bool parse_job(const std::string& text, Job* job, std::string* error);
// One page of GET /api/v0.2/jobs/<id>/suites/: suite id to name, appended to `names`; `next` is
// the next page's URL or "".
bool parse_suites(const std::string& text, std::vector<std::pair<long long, std::string>>* names, std::string* next,
                  std::string* error);
// One page of GET /api/v0.2/jobs/<id>/tests/, cases appended with their suite named through
// `suites`; `next` as above.
bool parse_tests(const std::string& text, const std::vector<std::pair<long long, std::string>>& suites,
                 std::vector<Case>* cases, std::string* next, std::string* error);
// POST /api/v0.2/jobs/: the ids given to the submitted definition.
bool parse_submitted(const std::string& text, std::vector<long long>* ids, std::string* error);
// Seconds between two of the server's times, or -1 when either is missing or unreadable.
double seconds_between(const std::string& from, const std::string& to);

// --- The job as submitted (render.cpp).

struct RenderOptions {
    std::string tag;                 // the board's tag, or "" for any board of the device type
    std::string device_type;         // replaces the job's device_type when set
    std::string image;               // a folder or URL prefix for the deploy's images, or ""
    std::string repository;          // the git repository of the test definitions taken from one, or ""
    std::vector<std::pair<std::string, std::string>> parameters;  // NAME=VALUE for every definition that has NAME
};
// The job's YAML text made for one board. False with a one-line reason when the text is not a job
// (no actions) or a parameter names no definition's parameter.
bool render_job(const std::string& yaml, const RenderOptions& o, std::string* out, std::string* error);

// --- The farm's files (farmfiles.cpp).

// jobs.json, written by submit and read by wait and report: the server, the jobs and their boards.
std::string jobs_json(const std::string& url, const std::vector<Job>& jobs);
bool parse_jobs_json(const std::string& text, std::string* url, std::vector<Job>* jobs, std::string* error);

Json farm_json(const std::string& url, const std::vector<Job>& jobs);
std::string farm_junit(const std::vector<Job>& jobs);
// The page; `url` is the server's, for each job's page and log. `reports`, when not empty, is where
// each job's own bringup-check report lies, with {device} and {job} standing for the job's.
std::string farm_html(const std::string& url, const std::vector<Job>& jobs, const std::string& reports = "");
// `pattern` with {device} and {job} replaced.
std::string report_link(const std::string& pattern, const Job& job);

}  // namespace farm
