#include "bringupcheck/results.h"

#include <math.h>
#include <stdio.h>

namespace {

// The figure that stands for a check where a single number is wanted (a board farm's measurement),
// with its units: the first of these the check has.
struct MainFigure {
    const char* key;
    const char* units;
};
const MainFigure kMainFigures[] = {
    {"fps", "fps"},
    {"audio_seconds", "seconds"},
    {"configs", "configurations"},
};

const char* const kVerdictNames[] = {"pass", "fail", "skip"};  // by Verdict

}  // namespace

const char* verdict_name(Verdict v) { return kVerdictNames[int(v)]; }

bool parse_verdict(const std::string& name, Verdict* v) {
    for (int i = 0; i < 3; ++i)
        if (name == kVerdictNames[i]) {
            *v = Verdict(i);
            return true;
        }
    return false;
}

Json Check::to_json() const {
    Json j = Json::object();
    j["name"] = name;
    j["subsystem"] = subsystem;
    j["program"] = program.empty() ? Json() : Json(program);
    j["verdict"] = verdict_name(verdict);
    j["reason"] = reason;
    // Hundredths of a second; a time read back from elsewhere beyond any run's stays as it is.
    j["seconds"] = fabs(seconds) < 1e12 ? round(seconds * 100) / 100 : seconds;
    j["figures"] = figures;
    j["evidence"] = evidence;
    return j;
}

Check Check::from_json(const Json& j) {
    Check c;
    c.name = json_string_or(json_member(j, "name"), "");
    c.subsystem = json_string_or(json_member(j, "subsystem"), "");
    c.program = json_string_or(json_member(j, "program"), "");
    c.reason = json_string_or(json_member(j, "reason"), "");
    c.seconds = json_number_or(json_member(j, "seconds"), 0);
    if (json_member(j, "figures").is_object()) c.figures = json_member(j, "figures");
    for (const Json& e : json_items(json_member(j, "evidence")))
        if (e.is_string()) c.evidence.push_back(e.get<std::string>());
    return c;
}

std::string results_json(const Results& r) {
    Json top = Json::object();
    top["board"] = r.board;
    top["started"] = r.started;
    Json& checks = top["checks"] = Json::array();
    for (const Check& c : r.checks) checks.push_back(c.to_json());
    return json_dump(top) + "\n";
}

bool parse_results(const std::string& text, Results* r, std::string* error) {
    Json top;
    if (!parse_json(text, &top, error)) return false;
    if (!json_member(top, "board").is_object() || !json_member(top, "checks").is_array()) {
        *error = "not a results file: no board object or checks list";
        return false;
    }
    Results out;
    out.board = json_member(top, "board");
    out.started = json_string_or(json_member(top, "started"), "");
    for (const Json& j : json_member(top, "checks")) {
        if (!j.is_object()) {
            *error = "a check that is not an object";
            return false;
        }
        Check c = Check::from_json(j);
        if (c.name.empty() || !parse_verdict(json_string_or(json_member(j, "verdict"), ""), &c.verdict)) {
            *error = "a check without a name or with an unknown verdict";
            return false;
        }
        // Evidence stays inside the output folder.
        for (const std::string& e : c.evidence)
            if (e.empty() || e[0] == '/' || e.find("..") != std::string::npos) {
                *error = "evidence path outside the output folder: " + e;
                return false;
            }
        out.checks.push_back(c);
    }
    *r = out;
    return true;
}

std::string results_junit(const Results& r) {
    size_t failures = 0, skipped = 0;
    double total = 0;
    for (const Check& c : r.checks) {
        failures += c.verdict == Verdict::Fail;
        skipped += c.verdict == Verdict::Skip;
        total += c.seconds;
    }
    char head[400];
    snprintf(head, sizeof head,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<testsuites name=\"bringup-check\" tests=\"%zu\" failures=\"%zu\" errors=\"0\" skipped=\"%zu\" time=\"%.2f\">\n"
             "  <testsuite name=\"bringup-check\" tests=\"%zu\" failures=\"%zu\" errors=\"0\" skipped=\"%zu\" time=\"%.2f\"",
             r.checks.size(), failures, skipped, total, r.checks.size(), failures, skipped, total);
    std::string out = head;
    out += " hostname=\"" + xml_escape(json_string_or(json_member(r.board, "host"), "")) + "\"";
    out += " timestamp=\"" + xml_escape(r.started) + "\">\n";
    for (const Check& c : r.checks) {
        char t[32];
        snprintf(t, sizeof t, "%.2f", c.seconds);
        out += "    <testcase classname=\"bringup-check." + xml_escape(c.subsystem) + "\" name=\"" +
               xml_escape(c.name) + "\" time=\"" + t + "\">\n";
        if (c.verdict == Verdict::Fail)
            out += "      <failure message=\"" + xml_escape(c.reason) + "\" type=\"fail\">" + xml_escape(c.reason) +
                   "</failure>\n";
        else if (c.verdict == Verdict::Skip)
            out += "      <skipped message=\"" + xml_escape(c.reason) + "\"/>\n";
        std::string text = (c.program.empty() ? "" : "program: " + c.program + "\n") + c.reason + "\n";
        for (const std::string& e : c.evidence) text += "evidence: " + e + "\n";
        out += "      <system-out>" + xml_escape(text) + "</system-out>\n";
        out += "    </testcase>\n";
    }
    out += "  </testsuite>\n</testsuites>\n";
    return out;
}

std::string verdict_lines(const Results& r) {
    std::string out;
    for (const Check& c : r.checks) {
        out += c.name + " " + verdict_name(c.verdict);
        for (const MainFigure& m : kMainFigures) {
            const Json& f = json_member(c.figures, m.key);
            if (!f.is_number()) continue;
            out += " " + json_dump(f) + " " + m.units;
            break;
        }
        out += "\n";
    }
    return out;
}
