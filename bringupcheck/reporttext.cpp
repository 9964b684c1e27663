// Figures, links and headings of the report page in words. See reportparts.h.
#include <stdio.h>

#include <cctype>
#include <cmath>

#include "bringupcheck/figures.h"
#include "bringupcheck/reportparts.h"

namespace report {

namespace {

// A figure's value as the label says it reads. t0: the start of the run the times count from, or
// NaN when there is none (then a device's stay is given by its length).
std::string figure_value(const Figure* label, const Json& v, double t0) {
    FigureKind kind = label ? label->kind : kPlain;
    if (kind == kPerPort && v.is_array() && v.size() == 2)
        return "lm0: " + figure_text(v[0]) + ", lm1: " + figure_text(v[1]);
    if (kind == kPercent && v.is_number()) return num(v.get<double>() * 100, "%.1f") + " %";
    if (kind == kDevices && v.is_array()) {
        std::string s;
        for (const Json& d : v) {
            if (json_items(d).size() != 3) continue;
            double from = json_number_or(d[1], 0), to = json_number_or(d[2], 0);
            s += (s.empty() ? "" : "; ") + ("lm" + figure_text(d[0])) +
                 (std::isfinite(t0) ? " from " + num(from - t0, "%.1f") + " s to " + num(to - t0, "%.1f") + " s"
                                    : " for " + num(to - from, "%.1f") + " s");
        }
        return s.empty() ? "none" : s;
    }
    return figure_text(v);
}

}  // namespace

std::string figure_text(const Json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number()) return num(v.get<double>(), "%.10g");
    if (v.is_boolean()) return v.get<bool>() ? "yes" : "no";
    if (v.is_object()) return json_dump(v);
    if (!v.is_array()) return "";
    if (v.empty()) return "none";
    std::string s;
    for (const Json& i : v) s += (s.empty() ? "" : "; ") + figure_text(i);
    return s;
}

std::string esc(const std::string& s) { return xml_escape(s); }

std::string num(double v, const char* format) {
    char buf[64];
    snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string scrolling(const std::string& table) { return "<div class=\"scroll\">" + table + "</div>"; }

std::string figures_table(const Check& c, double t0) {
    if (c.figures.empty()) return "";
    std::string s = "<table>";
    for (const auto& m : c.figures.items()) {
        const Figure* label = find_figure(m.key());
        s += "<tr><th>" + esc(label ? label->label : m.key()) + "</th><td>" + esc(figure_value(label, m.value(), t0)) +
             "</td></tr>";
    }
    return scrolling(s + "</table>");
}

// Every byte but letters, digits and "-._~/" percent-encoded, after "./" so that no part of it
// reads as a scheme.
std::string href(const std::string& path) {
    std::string out = "./";
    for (unsigned char c : path) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += char(c);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string relative_link(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty() || from[0] != '/' || to[0] != '/') return to;
    auto parts = [](const std::string& p) {
        std::vector<std::string> out;
        for (size_t i = 0, j; i < p.size(); i = j + 1) {
            j = p.find('/', i);
            if (j == std::string::npos) j = p.size();
            if (j > i) out.push_back(p.substr(i, j - i));
        }
        return out;
    };
    std::vector<std::string> f = parts(from), t = parts(to);
    size_t k = 0;
    while (k < f.size() && k < t.size() && f[k] == t[k]) ++k;
    std::string s;
    for (size_t i = k; i < f.size(); ++i) s += s.empty() ? ".." : "/..";
    for (size_t i = k; i < t.size(); ++i) s += (s.empty() ? "" : "/") + t[i];
    return s.empty() ? "." : s;
}

std::string evidence_links(const std::vector<std::string>& evidence, const std::string& base) {
    std::string s;
    for (const std::string& e : evidence) {
        std::string path = base.empty() ? e : base + "/" + e;
        s += " <a href=\"" + esc(href(path)) + "\"><code>" + esc(path) + "</code></a>";
    }
    return s;
}

std::string evidence_list(const Check& c) {
    std::string s = c.evidence.empty() ? "" : "<p>Evidence:" + evidence_links(c.evidence, "") + "</p>";
    for (size_t i = 0; i < c.attempts.size(); ++i) {
        const Check& a = c.attempts[i];
        s += "<p>Attempt " + std::to_string(i + 1) + " of " + std::to_string(c.attempts.size() + 1) + ": " +
             verdict_name(a.verdict) + ", " + esc(a.reason) + ". Evidence:" + evidence_links(a.evidence, "") + "</p>";
    }
    return s;
}

std::string check_head(const Check& c) {
    std::string v = verdict_name(c.verdict);
    std::string tries = c.attempts.empty() ? "" : " on attempt " + std::to_string(c.attempts.size() + 1);
    return "<h3>" + esc(c.name) + " <span class=\"" + v + "\">" + v + (c.flaky() ? " (flaky)" : "") + "</span></h3><p>" +
           esc(c.reason) + tries + "</p>";
}

std::string board_table(const Json& board) {
    std::string t = "<table>";
    for (const auto& m : board.items()) {
        const Figure* label = find_figure(m.key());
        t += "<tr><th>" + esc(label ? label->label : m.key()) + "</th><td>" + esc(figure_text(m.value())) + "</td></tr>";
    }
    return scrolling(t + "</table>");
}

}  // namespace report
