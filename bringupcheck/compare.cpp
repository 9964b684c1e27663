// The comparison with a baseline. See compare.h.
#include "bringupcheck/compare.h"

#include <errno.h>
#include <string.h>

#include "boardfiles/folderfile.h"
#include "bringupcheck/registry.h"

namespace {

// Each class a check can fall in, as results.json names it and as the summary counts it; the
// summary leaves out the classes where nothing changed.
struct Class {
    const char* key;
    const char* one;    // in words, one check
    const char* many;   // several
    bool changed;
};
const Class kClasses[] = {
    {kRegressionClass, "regression", "regressions", true},
    {"fixed", "fixed", "fixed", true},
    {"still_failing", "still failing", "still failing", false},
    {"still_passing", "still passing", "still passing", false},
    {"skipped", "skipped now or before", "skipped now or before", false},
    {"new", "new", "new", true},
    {"gone", "gone", "gone", true},
    {"unknown", "unknown to this version", "unknown to this version", true},
};

// What around the board is compared, by the board record's key, in the order the summary says it.
const char* const kSurroundings[] = {"kernel", "controller", "egl_vendor", "suite", "host", "board_kind", "settings"};

// The class of a check present in both runs.
const char* class_of(Verdict before, Verdict now) {
    if (before == Verdict::Skip || now == Verdict::Skip) return "skipped";
    if (before == Verdict::Pass) return now == Verdict::Pass ? "still_passing" : kRegressionClass;
    return now == Verdict::Pass ? "fixed" : "still_failing";
}

const Check* find_check(const Results& r, const std::string& name) {
    for (const Check& c : r.checks)
        if (c.name == name) return &c;
    return nullptr;
}

std::string value_text(const Json& v) {
    if (v.is_null()) return "not recorded";
    if (v.is_string()) return v.get<std::string>();
    return json_dump(v);
}

// The figures of a check, both runs' outside their tolerances.
Json drifted(const Check& before, const Check& now, const Tolerances& t) {
    Json out = Json::array();
    for (const auto& m : before.figures.items()) {
        const Figure* f = find_figure(m.key());
        const Json& n = json_member(now.figures, m.key());
        if (!f || n.is_null() || within_tolerance(*f, t, m.value(), n)) continue;
        Json d = Json::object();
        d["figure"] = m.key();
        d["before"] = m.value();
        d["now"] = n;
        d["tolerance"] = tolerance_text(*f, t);
        d["text"] = m.key() + " " + value_text(m.value()) + " \u2192 " + value_text(n) + " (" + tolerance_text(*f, t) + ")";
        out.push_back(d);
    }
    return out;
}

void add_change(Json* list, const std::string& what, const Json& before, const Json& now) {
    Json c = Json::object();
    c["what"] = what;
    c["before"] = value_text(before);
    c["now"] = value_text(now);
    list->push_back(c);
}

// Each difference around the board; a board's settings one by one.
Json surroundings(const Json& before, const Json& now) {
    Json out = Json::array();
    for (const char* key : kSurroundings) {
        const Json &b = json_member(before, key), &n = json_member(now, key);
        // What only one of the runs recorded (an older version's, or a subsystem's that one run
        // left out: "") is not a change.
        if (b.is_null() || n.is_null() || b == "" || n == "" || b == n) continue;
        if (strcmp(key, "settings") != 0 || !b.is_object() || !n.is_object()) {
            add_change(&out, key, b, n);
            continue;
        }
        for (const auto& m : b.items())
            if (json_member(n, m.key()) != m.value()) add_change(&out, m.key(), m.value(), json_member(n, m.key()));
        for (const auto& m : n.items())
            if (json_member(b, m.key()).is_null()) add_change(&out, m.key(), Json(), m.value());
    }
    return out;
}

// Said at the top: what makes the two runs unlike beyond their checks.
Json notes(const Results& before, const Results& now) {
    Json out = Json::array();
    const Json &bk = json_member(before.board, "board_kind"), &nk = json_member(now.board, "board_kind");
    if (json_member(before.board, "suite").is_null())
        out.push_back("the baseline was written by an older bringup-check, which kept no version: only what both "
                      "runs recorded is compared");
    if (bk.is_string() && nk.is_string() && bk != nk)
        out.push_back("the baseline ran on a " + bk.get<std::string>() + " board, this run on a " + nk.get<std::string>() +
                      " board: the differences include the two kinds of board's own");
    const Json &bh = json_member(before.board, "host"), &nh = json_member(now.board, "host");
    if (bh.is_string() && nh.is_string() && bh != nh)
        out.push_back("the baseline is of another board (host " + bh.get<std::string>() + ")");
    return out;
}

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string summary(const Json& counts, const Json& changes, size_t flaky) {
    std::string s;
    for (const Class& k : kClasses) {
        size_t n = size_t(json_number_or(json_member(counts, k.key), 0));
        if (k.changed && n) s += (s.empty() ? "" : ", ") + counted(n, k.one, k.many);
    }
    size_t d = size_t(json_number_or(json_member(counts, "drifted"), 0));
    if (d) s += (s.empty() ? "" : ", ") + counted(d, "figure drifted", "figures drifted");
    if (s.empty()) s = "no check changed";
    if (flaky) s += ", " + counted(flaky, "flaky check", "flaky checks");
    std::string around;
    for (const Json& c : changes)
        around += (around.empty() ? "; " : ", ") + json_string_or(json_member(c, "what"), "") + " " +
                  json_string_or(json_member(c, "before"), "") + " \u2192 " + json_string_or(json_member(c, "now"), "");
    return s + around;
}

}  // namespace

bool read_results_folder(const std::string& dir, Results* r, std::string* error) {
    std::string text;
    BoundedRead b;
    std::string path = dir + "/results.json";
    if (!read_in_folder(dir, "results.json", kMaxResultsBytes, kNoLinks, &text, &b)) {
        *error = path + (b.error == ELOOP    ? " is a link"
                         : b.error == EXDEV ? " is a link out of the folder"
                         : b.error == 0     ? " is not a regular file"
                                            : ": " + std::string(strerror(b.error)));
        return false;
    }
    if (b.cut) {
        *error = path + " is longer than " + std::to_string(kMaxResultsBytes >> 20) + " MiB";
        return false;
    }
    if (!parse_results(text, r, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

Json compare_results(const Results& before, const Results& now, const std::string& baseline, const Tolerances& t,
                     bool strict) {
    Json out = Json::object(), checks = Json::array(), counts = Json::object();
    for (const Class& k : kClasses) counts[k.key] = 0.0;
    counts["drifted"] = 0.0;
    auto add = [&](const std::string& name, const char* cls, const Check* b, const Check* n) {
        Json c = Json::object();
        c["name"] = name;
        c["class"] = cls;
        c["before"] = b ? Json(verdict_name(b->verdict)) : Json();
        c["now"] = n ? Json(verdict_name(n->verdict)) : Json();
        c["verdicts"] = std::string(b ? verdict_name(b->verdict) : "not in the baseline") + " \u2192 " +
                        (n ? verdict_name(n->verdict) : "not run");
        c["evidence_before"] = b ? Json(b->evidence) : Json::array();
        c["drifted"] = b && n && b->verdict != Verdict::Skip && n->verdict != Verdict::Skip ? drifted(*b, *n, t)
                                                                                           : Json::array();
        counts[cls] = counts[cls].get<double>() + 1;
        counts["drifted"] = counts["drifted"].get<double>() + double(c["drifted"].size());
        checks.push_back(c);
    };
    for (const Check& n : now.checks) {
        const Check* b = find_check(before, n.name);
        add(n.name, b ? class_of(b->verdict, n.verdict) : "new", b, &n);
    }
    for (const Check& b : before.checks)
        if (!find_check(now, b.name)) add(b.name, check_row(b.name) ? "gone" : "unknown", &b, nullptr);
    Json changes = surroundings(before.board, now.board);
    out["baseline"] = baseline;
    out["baseline_started"] = before.started;
    out["notes"] = notes(before, now);
    out["summary"] = summary(counts, changes, count_verdicts(now).flaky);
    out["counts"] = counts;
    out["checks"] = checks;
    out["surroundings"] = changes;
    out["strict"] = strict;
    return out;
}

Json comparison_error(const std::string& baseline, const std::string& why) {
    Json out = Json::object();
    out["baseline"] = baseline;
    out["error"] = why;
    out["summary"] = "not compared: " + why;
    return out;
}

std::vector<std::string> comparison_lines(const Json& c) {
    std::vector<std::string> out;
    for (const Json& n : json_items(json_member(c, "notes"))) out.push_back("note: " + json_string_or(n, ""));
    for (const Json& k : json_items(json_member(c, "checks"))) {
        std::string name = json_string_or(json_member(k, "name"), ""), cls = json_string_or(json_member(k, "class"), "");
        for (const Class& x : kClasses)
            if (x.changed && cls == x.key)
                out.push_back(std::string(x.one) + ": " + name + " (" + json_string_or(json_member(k, "verdicts"), "") + ")");
        for (const Json& d : json_items(json_member(k, "drifted")))
            out.push_back("drifted: " + name + " " + json_string_or(json_member(d, "text"), ""));
    }
    for (const Json& s : json_items(json_member(c, "surroundings")))
        out.push_back("changed: " + json_string_or(json_member(s, "what"), "") + " " +
                      json_string_or(json_member(s, "before"), "") + " \u2192 " + json_string_or(json_member(s, "now"), ""));
    out.push_back("compared with " + json_string_or(json_member(c, "baseline"), "") + ": " +
                  json_string_or(json_member(c, "summary"), ""));
    return out;
}

bool comparison_fails(const Json& c) {
    const Json& counts = json_member(c, "counts");
    return json_number_or(json_member(counts, kRegressionClass), 0) > 0 ||
           (json_true(json_member(c, "strict")) && json_number_or(json_member(counts, "drifted"), 0) > 0);
}

std::string comparison_counts(const Json& c) {
    const Json& counts = json_member(c, "counts");
    double regressions = json_number_or(json_member(counts, kRegressionClass), 0),
           fixed = json_number_or(json_member(counts, "fixed"), 0),
           drifted = json_number_or(json_member(counts, "drifted"), 0);
    bool strict = json_true(json_member(c, "strict"));
    // A comparison that could not be made fails its line: nothing says there was no regression.
    bool made = json_member(c, "error").is_null();
    auto line = [](const char* name, bool fails, double n, const char* units) {
        return std::string(name) + (fails ? " fail " : " pass ") + json_dump(Json(n)) + " " + units + "\n";
    };
    return line("regressions", !made || regressions > 0, regressions, "checks") + line("fixed", !made, fixed, "checks") +
           line("drifted", !made || (strict && drifted > 0), drifted, "figures");
}

std::string class_words(const std::string& cls) {
    for (const Class& k : kClasses)
        if (cls == k.key) return k.one;
    return cls;
}
