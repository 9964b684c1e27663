#include "bringupcheck/results.h"

#include <math.h>
#include <stdio.h>

#include "bringupcheck/registry.h"

namespace {

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
    j["main_figure"] = main_figure(*this);
    j["evidence"] = evidence;
    if (!attempts.empty()) {
        j["flaky"] = flaky();
        Json& a = j["attempts"] = Json::array();
        for (const Check& t : attempts) {
            Json e = Json::object();
            e["verdict"] = verdict_name(t.verdict);
            e["reason"] = t.reason;
            e["seconds"] = round(t.seconds * 100) / 100;
            e["evidence"] = t.evidence;
            a.push_back(e);
        }
    }
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
    for (const Json& a : json_items(json_member(j, "attempts"))) {
        Check t = from_json(a);
        // An earlier attempt is kept only with a verdict of its own.
        if (parse_verdict(json_string_or(json_member(a, "verdict"), ""), &t.verdict)) c.attempts.push_back(t);
    }
    return c;
}

Counts count_verdicts(const Results& r) {
    Counts n;
    for (const Check& c : r.checks) {
        n.passed += c.verdict == Verdict::Pass;
        n.failed += c.verdict == Verdict::Fail;
        n.skipped += c.verdict == Verdict::Skip;
        n.flaky += c.flaky();
    }
    return n;
}

std::string counts_text(const Counts& n) {
    std::string s = std::to_string(n.passed) + " passed";
    if (n.flaky) s += " (" + std::to_string(n.flaky) + " flaky: passed after retries)";
    return s + ", " + std::to_string(n.failed) + " failed, " + std::to_string(n.skipped) + " skipped";
}

std::string results_json(const Results& r) {
    Json top = Json::object();
    top["board"] = r.board;
    top["started"] = r.started;
    Json& checks = top["checks"] = Json::array();
    for (const Check& c : r.checks) checks.push_back(c.to_json());
    Counts n = count_verdicts(r);
    Json& summary = top["summary"] = Json::object();
    summary["passed"] = double(n.passed);
    summary["failed"] = double(n.failed);
    summary["skipped"] = double(n.skipped);
    summary["flaky"] = double(n.flaky);
    if (r.comparison.is_object()) top["comparison"] = r.comparison;
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
        std::vector<std::string> all = c.evidence;
        for (const Check& a : c.attempts) all.insert(all.end(), a.evidence.begin(), a.evidence.end());
        for (const std::string& e : all)
            if (e.empty() || e[0] == '/' || e.find("..") != std::string::npos) {
                *error = "evidence path outside the output folder: " + e;
                return false;
            }
        out.checks.push_back(c);
    }
    if (json_member(top, "comparison").is_object()) out.comparison = json_member(top, "comparison");
    *r = out;
    return true;
}

const Json* compared_check(const Results& r, const std::string& name) {
    for (const Json& c : json_items(json_member(r.comparison, "checks")))
        if (json_string_or(json_member(c, "name"), "") == name) return &c;
    return nullptr;
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
        // With a baseline, the check's class and drifted figures as properties; a regression's
        // failure is typed and says so, for a CI page to show it apart.
        const Json* cmp = compared_check(r, c.name);
        std::string cls = cmp ? json_string_or(json_member(*cmp, "class"), "") : "";
        if (cmp) {
            out += "      <properties>\n        <property name=\"comparison\" value=\"" + xml_escape(cls) + "\"/>\n";
            for (const Json& d : json_items(json_member(*cmp, "drifted")))
                out += "        <property name=\"drifted\" value=\"" + xml_escape(json_string_or(json_member(d, "text"), "")) +
                       "\"/>\n";
            out += "      </properties>\n";
        }
        // Retries as Maven Surefire writes reruns: a check that failed every attempt has its first
        // failure as <failure> and each later one as <rerunFailure>; one that passed after failing
        // keeps each failure as <flakyFailure> and passes.
        std::vector<const Check*> failed;
        for (const Check& a : c.attempts) failed.push_back(&a);
        if (c.verdict == Verdict::Fail) failed.push_back(&c);
        for (size_t i = 0; i < failed.size(); ++i) {
            const std::string& why = failed[i]->reason;
            if (c.verdict == Verdict::Fail && i == 0) {
                bool regression = cls == kRegressionClass;
                out += "      <failure message=\"" + xml_escape((regression ? "regression: " : "") + why) + "\" type=\"" +
                       (regression ? "regression" : "fail") + "\">" + xml_escape(why) + "</failure>\n";
            } else {
                const char* tag = c.verdict == Verdict::Fail ? "rerunFailure" : "flakyFailure";
                out += std::string("      <") + tag + " message=\"" + xml_escape(why) + "\" type=\"fail\"><stackTrace>" +
                       xml_escape(why) + "</stackTrace></" + tag + ">\n";
            }
        }
        if (c.verdict == Verdict::Skip)
            out += "      <skipped message=\"" + xml_escape(c.reason) + "\"/>\n";
        std::string text = (c.program.empty() ? "" : "program: " + c.program + "\n") + c.reason + "\n";
        for (const std::string& e : c.evidence) text += "evidence: " + e + "\n";
        for (size_t i = 0; i < c.attempts.size(); ++i)
            for (const std::string& e : c.attempts[i].evidence)
                text += "evidence of attempt " + std::to_string(i + 1) + ": " + e + "\n";
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
        Json m = main_figure(c);
        if (m.is_object()) out += " " + json_dump(m["value"]) + " " + m["units"].get<std::string>();
        out += "\n";
    }
    return out;
}

Json main_figure(const Check& c) {
    const CheckRow* row = check_row(c.name);
    if (!row || !*row->figure || !json_member(c.figures, row->figure).is_number()) return Json();
    Json m = Json::object();
    m["name"] = row->figure;
    m["value"] = json_member(c.figures, row->figure);
    m["units"] = row->units;
    return m;
}
