// The LAVA server's answers read into the farm's model: a job, its suites and test cases, a
// submission. Every reader checks the members it needs before filling anything.
#include <stdlib.h>
#include <time.h>

#include "farm/farm.h"

namespace farm {

namespace {

// A member that must be a string.
bool member_string(const Json& j, const char* key, std::string* out) {
    const Json& v = json_member(j, key);
    if (!v.is_string()) return false;
    *out = v.get<std::string>();
    return true;
}

// A text or null member as text ("" for null).
std::string text_or_empty(const Json& j, const char* key) {
    const Json& v = json_member(j, key);
    return v.is_string() ? v.get<std::string>() : "";
}

// A paginated answer: its results array and the next page's URL.
bool page(const std::string& text, const char* what, Json* doc, std::string* next, std::string* error) {
    std::string why;
    if (!parse_json(text, doc, &why)) {
        *error = std::string(what) + ": not JSON: " + why;
        return false;
    }
    if (!json_member(*doc, "results").is_array()) {
        *error = std::string(what) + ": no results list";
        return false;
    }
    *next = text_or_empty(*doc, "next");
    return true;
}

// LAVA names a job's suites "<position>_<definition name>"; its own is "lava".
std::string suite_name(const std::string& raw) {
    size_t u = raw.find('_');
    if (u == std::string::npos || u == 0) return raw;
    for (size_t i = 0; i < u; ++i)
        if (raw[i] < '0' || raw[i] > '9') return raw;
    return raw.substr(u + 1);
}

// A top-level "key: value" of the YAML mapping LAVA keeps as a case's metadata, unquoted.
std::string metadata_value(const std::string& yaml, const std::string& key) {
    size_t at = 0;
    while (at < yaml.size()) {
        size_t end = yaml.find('\n', at);
        if (end == std::string::npos) end = yaml.size();
        std::string line = yaml.substr(at, end - at);
        at = end + 1;
        if (line.compare(0, key.size() + 2, key + ": ") != 0) continue;
        std::string v = line.substr(key.size() + 2);
        if (v.size() >= 2 && (v[0] == '\'' || v[0] == '"') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
        return v;
    }
    return "";
}

// The server's times: "2026-12-08T23:01:02.123456Z" (or with "+00:00").
bool parse_time(const std::string& s, double* out) {
    struct tm tm = {};
    const char* rest = strptime(s.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (!rest) return false;
    double frac = 0;
    if (*rest == '.') frac = strtod(rest, nullptr);
    *out = double(timegm(&tm)) + frac;
    return true;
}

}  // namespace

double seconds_between(const std::string& from, const std::string& to) {
    double a = 0, b = 0;
    if (from.empty() || to.empty() || !parse_time(from, &a) || !parse_time(to, &b)) return -1;
    return b - a;
}

bool parse_job(const std::string& text, Job* job, std::string* error) {
    Json j;
    std::string why;
    if (!parse_json(text, &j, &why)) {
        *error = "job: not JSON: " + why;
        return false;
    }
    Job out = *job;
    if (!json_member(j, "id").is_number_integer() || !member_string(j, "state", &out.state) ||
        !member_string(j, "health", &out.health)) {
        *error = "job: no id, state or health";
        return false;
    }
    out.id = json_member(j, "id").get<long long>();
    out.device = text_or_empty(j, "actual_device");
    out.health_check = json_true(json_member(j, "health_check"));
    out.submit_time = text_or_empty(j, "submit_time");
    out.start_time = text_or_empty(j, "start_time");
    out.end_time = text_or_empty(j, "end_time");
    out.waited_s = seconds_between(out.submit_time, out.start_time);
    out.ran_s = seconds_between(out.start_time, out.end_time);
    *job = out;
    return true;
}

bool parse_suites(const std::string& text, std::vector<std::pair<long long, std::string>>* names, std::string* next,
                  std::string* error) {
    Json doc;
    if (!page(text, "suites", &doc, next, error)) return false;
    std::vector<std::pair<long long, std::string>> got;
    for (const Json& s : json_items(json_member(doc, "results"))) {
        std::string name;
        if (!json_member(s, "id").is_number_integer() || !member_string(s, "name", &name)) {
            *error = "suites: a suite without id or name";
            return false;
        }
        got.emplace_back(json_member(s, "id").get<long long>(), suite_name(name));
    }
    names->insert(names->end(), got.begin(), got.end());
    return true;
}

bool parse_tests(const std::string& text, const std::vector<std::pair<long long, std::string>>& suites,
                 std::vector<Case>* cases, std::string* next, std::string* error) {
    Json doc;
    if (!page(text, "tests", &doc, next, error)) return false;
    std::vector<Case> got;
    for (const Json& t : json_items(json_member(doc, "results"))) {
        Case c;
        const Json& suite = json_member(t, "suite");
        if (!member_string(t, "name", &c.name) || !member_string(t, "result", &c.result) || !suite.is_number_integer()) {
            *error = "tests: a case without name, result or suite";
            return false;
        }
        c.suite = "?";
        for (const auto& s : suites)
            if (s.first == suite.get<long long>()) c.suite = s.second;
        // Measurements come as decimal text ("29.0000000000") or numbers.
        const Json& m = json_member(t, "measurement");
        if (m.is_number()) {
            c.measured = true;
            c.measurement = m.get<double>();
        } else if (m.is_string() && !m.get<std::string>().empty()) {
            std::string text = m.get<std::string>();
            char* end = nullptr;
            c.measurement = strtod(text.c_str(), &end);
            if (!end || *end) {
                *error = "tests: " + c.name + ": measurement is not a number";
                return false;
            }
            c.measured = true;
        }
        c.units = text_or_empty(t, "unit");
        std::string meta = text_or_empty(t, "metadata");
        c.error = metadata_value(meta, "error_msg");
        c.error_type = metadata_value(meta, "error_type");
        got.push_back(c);
    }
    cases->insert(cases->end(), got.begin(), got.end());
    return true;
}

bool parse_submitted(const std::string& text, std::vector<long long>* ids, std::string* error) {
    Json j;
    std::string why;
    if (!parse_json(text, &j, &why)) {
        *error = "submission: not JSON: " + why;
        return false;
    }
    std::vector<long long> got;
    for (const Json& id : json_items(json_member(j, "job_ids"))) {
        if (!id.is_number_integer()) {
            *error = "submission: a job id that is not a number";
            return false;
        }
        got.push_back(id.get<long long>());
    }
    if (got.empty()) {
        *error = "submission: no job id in the answer";
        return false;
    }
    *ids = got;
    return true;
}

}  // namespace farm
