// What became of each job, and the farm's files: jobs.json (the submitted jobs), farm.json,
// farm.xml (JUnit, one suite a job and board) and farm.html (the board x check matrix).
#include <stdio.h>

#include <algorithm>

#include "bringupcheck/reportparts.h"
#include "bringupcheck/results.h"
#include "bringupcheck/text.h"
#include "farm/farm.h"

namespace farm {

const char* const kCheckSuite = "bringup-check";

namespace {

const char* const kOutcomeNames[] = {"checked",  "pending",  "no results",    "boot failed",
                                     "timed out", "canceled", "infrastructure"};  // by Outcome

// LAVA's own actions that bring the board to its shell: one of them failing is a boot failure.
const char* const kBootActions[] = {"login", "boot", "kernel"};

const char kStyle[] =
    "body{font-family:sans-serif;margin:1em;color:#222}"
    "table{border-collapse:collapse;margin:.5em 0 1em}td,th{border:1px solid #ccc;padding:.25em .6em;"
    "text-align:left;vertical-align:top}th{background:#f2f2f2}"
    ".pass{background:#d9f2d9}.fail{background:#f8d0d0}.skip{background:#eee;color:#666}"
    ".infra{background:#fde8b0}.pending{background:#e4ecf7}.fig{font-size:85%;color:#333}"
    ".scroll{overflow-x:auto;max-width:100%}";

bool contains(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

// LAVA's own failed case that says most: the job's closing case, or else the first failed action.
const Case* lava_failure(const Job& job) {
    const Case* first = nullptr;
    for (const Case& c : job.cases) {
        if (c.suite != "lava" || c.result != "fail") continue;
        if (c.name == "job") return &c;
        if (!first) first = &c;
    }
    return first;
}

std::string duration(double s) {
    if (s < 0) return "";
    char b[32];
    snprintf(b, sizeof b, "%.0f s", s);
    return b;
}

// The first line of a text, for one-line reasons.
std::string one_line(const std::string& s) { return s.substr(0, s.find('\n')); }

}  // namespace

const char* outcome_name(Outcome o) { return kOutcomeNames[int(o)]; }

std::vector<const Case*> check_cases(const Job& job) {
    std::vector<const Case*> out;
    for (const Case& c : job.cases)
        if (c.suite == kCheckSuite) out.push_back(&c);
    return out;
}

Outcome job_outcome(const Job& job, std::string* why) {
    std::string prefix = job.health_check ? "health check failed: " : "";
    if (!job.unreadable.empty()) {
        *why = "results not read: " + job.unreadable;
        return Outcome::NoResults;
    }
    if (job.state != "Finished") {
        *why = "the job is " + (job.state.empty() ? std::string("unknown") : job.state);
        return Outcome::Pending;
    }
    if (job.health == "Canceled") {
        *why = prefix + "the job was cancelled";
        return Outcome::Canceled;
    }
    if (job.health == "Complete") {
        if (!check_cases(job).empty()) return Outcome::Checked;
        *why = prefix + "the job completed but bringup-check reported no check";
        return Outcome::NoResults;
    }
    // Incomplete (or a health the server did not have before): the farm failed the board.
    const Case* failed = lava_failure(job);
    std::string msg = failed ? one_line(failed->error) : "";
    std::string action;
    for (const Case& c : job.cases)
        if (c.suite == "lava" && c.result == "fail" && c.name != "job" && action.empty()) action = c.name;
    for (const char* b : kBootActions)
        if (contains(action, b)) {
            *why = prefix + "boot failed (" + action + ")" + (msg.empty() ? "" : ": " + msg);
            return Outcome::BootFailed;
        }
    if (contains(msg, "timed out") || contains(msg, "Timed out")) {
        *why = prefix + "timed out: " + msg;
        return Outcome::TimedOut;
    }
    std::string type = failed && !failed->error_type.empty() ? failed->error_type : "Infrastructure";
    *why = prefix + type + " error" + (msg.empty() ? "" : ": " + msg) + " (job " + job.health + ")";
    return Outcome::Infrastructure;
}

std::string jobs_json(const std::string& url, const std::vector<Job>& jobs) {
    Json j = Json::object();
    j["server"] = url;
    j["jobs"] = Json::array();
    for (const Job& job : jobs) j["jobs"].push_back(Json{{"id", job.id}, {"board", job.board}});
    return json_dump(j) + "\n";
}

bool parse_jobs_json(const std::string& text, std::string* url, std::vector<Job>* jobs, std::string* error) {
    Json j;
    std::string why;
    if (!parse_json(text, &j, &why)) {
        *error = "jobs.json: not JSON: " + why;
        return false;
    }
    const Json& server = json_member(j, "server");
    if (!server.is_string() || !json_member(j, "jobs").is_array()) {
        *error = "jobs.json: no server or jobs";
        return false;
    }
    std::vector<Job> got;
    for (const Json& e : json_items(json_member(j, "jobs"))) {
        Job job;
        if (!json_member(e, "id").is_number_integer() || !json_member(e, "board").is_string()) {
            *error = "jobs.json: a job without id or board";
            return false;
        }
        job.id = json_member(e, "id").get<long long>();
        job.board = json_member(e, "board").get<std::string>();
        got.push_back(job);
    }
    *url = server.get<std::string>();
    *jobs = got;
    return true;
}

Json farm_json(const std::string& url, const std::vector<Job>& jobs) {
    Json j = Json::object();
    j["server"] = url;
    Json list = Json::array();
    int checked = 0, failed_checks = 0;
    for (const Job& job : jobs) {
        std::string why;
        Outcome o = job_outcome(job, &why);
        Json e = Json::object();
        e["id"] = job.id;
        e["board"] = job.board;
        e["device"] = job.device;
        e["health_check"] = job.health_check;
        e["state"] = job.state;
        e["health"] = job.health;
        e["outcome"] = outcome_name(o);
        e["why"] = why;
        e["submit_time"] = job.submit_time;
        e["start_time"] = job.start_time;
        e["end_time"] = job.end_time;
        e["waited_s"] = job.waited_s < 0 ? Json() : Json(job.waited_s);
        e["ran_s"] = job.ran_s < 0 ? Json() : Json(job.ran_s);
        Json checks = Json::array(), setup = Json::array();
        for (const Case& c : job.cases) {
            Json k = {{"name", c.name}, {"verdict", c.result}};
            if (c.measured) {
                k["measurement"] = c.measurement;
                k["units"] = c.units;
            }
            if (c.suite == kCheckSuite) {
                checks.push_back(k);
                failed_checks += c.result == "fail";
            } else if (c.suite != "lava") {
                k["suite"] = c.suite;
                setup.push_back(k);
            }
        }
        e["checks"] = o == Outcome::Checked ? checks : Json::array();
        e["setup"] = setup;
        checked += o == Outcome::Checked;
        list.push_back(e);
    }
    j["jobs"] = list;
    j["summary"] = {{"jobs", jobs.size()}, {"checked", checked}, {"not_checked", int(jobs.size()) - checked},
                    {"failed_checks", failed_checks}};
    return j;
}

std::string farm_junit(const std::vector<Job>& jobs) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"bringup-farm\">\n";
    for (const Job& job : jobs) {
        std::string why;
        Outcome o = job_outcome(job, &why);
        std::vector<const Case*> checks = check_cases(job);
        std::string name = (job.device.empty() ? job.board : job.device) + " (job " + std::to_string(job.id) + ")";
        size_t n = o == Outcome::Checked ? checks.size() : 1;
        int failures = 0, skipped = 0;
        if (o == Outcome::Checked)
            for (const Case* c : checks) failures += c->result == "fail", skipped += c->result == "skip";
        out += "  <testsuite name=\"" + xml_escape(name) + "\" tests=\"" + std::to_string(n) + "\" failures=\"" +
               std::to_string(failures) + "\" errors=\"" + std::to_string(o == Outcome::Checked ? 0 : 1) +
               "\" skipped=\"" + std::to_string(skipped) + "\">\n";
        if (o != Outcome::Checked) {
            // The board was not checked: an error of the farm, never a check's failure.
            out += "    <testcase classname=\"bringup-farm\" name=\"job\">\n      <error type=\"" +
                   xml_escape(outcome_name(o)) + "\" message=\"" + xml_escape(why) + "\"/>\n    </testcase>\n";
        } else {
            for (const Case* c : checks) {
                out += "    <testcase classname=\"bringup-check\" name=\"" + xml_escape(c->name) + "\">";
                if (c->result == "fail")
                    out += "<failure message=\"failed\"/>";
                else if (c->result != "pass")
                    out += "<skipped message=\"" + xml_escape(c->result) + "\"/>";
                out += "</testcase>\n";
            }
        }
        out += "  </testsuite>\n";
    }
    return out + "</testsuites>\n";
}

std::string report_link(const std::string& pattern, const Job& job) {
    std::string out = pattern;
    const std::pair<std::string, std::string> fields[] = {{"{device}", job.device}, {"{job}", std::to_string(job.id)}};
    for (const auto& f : fields)
        for (size_t at = out.find(f.first); at != std::string::npos; at = out.find(f.first, at + f.second.size()))
            out.replace(at, f.first.size(), f.second);
    return out;
}

std::string farm_html(const std::string& url, const std::vector<Job>& jobs, const std::string& reports) {
    using report::esc;
    // The columns: every check any job reported, in the order first seen.
    std::vector<std::string> names;
    for (const Job& job : jobs)
        for (const Case* c : check_cases(job))
            if (std::find(names.begin(), names.end(), c->name) == names.end()) names.push_back(c->name);
    std::string base = url;
    while (!base.empty() && base.back() == '/') base.pop_back();
    int checked = 0;
    std::string rows;
    for (const Job& job : jobs) {
        std::string why, id = std::to_string(job.id);
        Outcome o = job_outcome(job, &why);
        checked += o == Outcome::Checked;
        rows += "<tr><th>" + esc(job.device.empty() ? "(not scheduled)" : job.device) +
                (job.health_check ? " <small>health check</small>" : "") + "</th><td><a href=\"" +
                esc(base + "/scheduler/job/" + id) + "\">" + id + "</a> (<a href=\"" +
                esc(base + "/scheduler/job/" + id + "/log_file/plain") + "\">log</a>" +
                (o == Outcome::Checked && !reports.empty()
                     ? ", <a href=\"" + esc(report_link(reports, job)) + "\">bringup-check's report</a>"
                     : "") +
                ")</td><td>" +
                esc(job.board.empty() ? "any" : job.board) + "</td><td>" + esc(duration(job.waited_s)) + "</td><td>" +
                esc(duration(job.ran_s)) + "</td>";
        if (o != Outcome::Checked) {
            const char* cls = o == Outcome::Pending ? "pending" : "infra";
            rows += "<td class=\"" + std::string(cls) + "\" colspan=\"" + std::to_string(std::max<size_t>(1, names.size())) +
                    "\"><b>Not checked (" + esc(outcome_name(o)) + ")</b>: " + esc(why) + "</td></tr>\n";
            continue;
        }
        for (const std::string& n : names) {
            const Case* found = nullptr;
            for (const Case* c : check_cases(job))
                if (c->name == n) found = c;
            if (!found) {
                rows += "<td></td>";
                continue;
            }
            Verdict v;
            std::string cls = parse_verdict(found->result, &v) ? verdict_name(v) : "infra";
            rows += "<td class=\"" + cls + "\">" + esc(found->result);
            if (found->measured)
                rows += "<br><span class=\"fig\">" + report::num(found->measurement) + " " + esc(found->units) + "</span>";
            rows += "</td>";
        }
        rows += "</tr>\n";
    }
    std::string head = "<tr><th>board</th><th>job</th><th>asked for</th><th>waited</th><th>ran</th>";
    for (const std::string& n : names) head += "<th>" + esc(n) + "</th>";
    if (names.empty()) head += "<th>checks</th>";
    head += "</tr>\n";
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Board farm: " +
           std::to_string(checked) + " of " + std::to_string(jobs.size()) + " boards checked</title><style>" + kStyle +
           "</style></head><body>\n<h1>Board farm</h1>\n<p>Server <code>" + esc(url) + "</code>: " +
           std::to_string(jobs.size()) + (jobs.size() == 1 ? " job, " : " jobs, ") + std::to_string(checked) +
           " checked; a board that was not checked says why (the farm's failure, not the board's checks).</p>\n" +
           report::scrolling("<table>\n" + head + rows + "</table>") + "\n</body></html>\n";
}

}  // namespace farm
