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
    j.set("name", Json::string(name));
    j.set("subsystem", Json::string(subsystem));
    j.set("program", program.empty() ? Json() : Json::string(program));
    j.set("verdict", Json::string(verdict_name(verdict)));
    j.set("reason", Json::string(reason));
    // Hundredths of a second; a time read back from elsewhere beyond any run's stays as it is.
    j.set("seconds", Json::number(fabs(seconds) < 1e12 ? round(seconds * 100) / 100 : seconds));
    j.set("figures", figures);
    Json ev = Json::array();
    for (const std::string& e : evidence) ev.push(Json::string(e));
    j.set("evidence", ev);
    return j;
}

Check Check::from_json(const Json& j) {
    Check c;
    c.name = j.get("name").string_or("");
    c.subsystem = j.get("subsystem").string_or("");
    c.program = j.get("program").string_or("");
    c.reason = j.get("reason").string_or("");
    c.seconds = j.get("seconds").number_or(0);
    if (j.get("figures").type == Json::Object) c.figures = j.get("figures");
    for (const Json& e : j.get("evidence").items)
        if (e.type == Json::String) c.evidence.push_back(e.str);
    return c;
}

std::string results_json(const Results& r) {
    Json top = Json::object();
    top.set("board", r.board);
    top.set("started", Json::string(r.started));
    Json checks = Json::array();
    for (const Check& c : r.checks) checks.push(c.to_json());
    top.set("checks", checks);
    return top.dump() + "\n";
}

bool parse_results(const std::string& text, Results* r, std::string* error) {
    Json top;
    if (!parse_json(text, &top, error)) return false;
    if (top.type != Json::Object || top.get("board").type != Json::Object || top.get("checks").type != Json::Array) {
        *error = "not a results file: no board object or checks list";
        return false;
    }
    Results out;
    out.board = top.get("board");
    out.started = top.get("started").string_or("");
    for (const Json& j : top.get("checks").items) {
        if (j.type != Json::Object) {
            *error = "a check that is not an object";
            return false;
        }
        Check c = Check::from_json(j);
        if (c.name.empty() || !parse_verdict(j.get("verdict").string_or(""), &c.verdict)) {
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
    out += " hostname=\"" + xml_escape(r.board.get("host").string_or("")) + "\"";
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
            const Json& f = c.figures.get(m.key);
            if (f.type != Json::Number) continue;
            out += " " + f.dump() + " " + m.units;
            break;
        }
        out += "\n";
    }
    return out;
}
