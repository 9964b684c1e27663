// How a check is made, judged and kept.
#include "bringupcheck/checks.h"

#include <stdio.h>

Check new_check(const std::string& name, const std::string& subsystem, const std::string& program) {
    Check c;
    c.name = name;
    c.subsystem = subsystem;
    c.program = program;
    return c;
}

void verdict(Check& c, Verdict v, const std::string& reason) {
    c.verdict = v;
    c.reason = reason;
}

void record(Context& ctx, const Check& c) {
    ctx.results.checks.push_back(c);
    if (ctx.show) ctx.show(c);
}

std::string first_of(const std::vector<std::string>& problems) {
    if (problems.empty()) return "";
    std::string s = problems[0];
    if (problems.size() > 1) s += " (and " + std::to_string(problems.size() - 1) + " more)";
    return s;
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string fmt(const char* format, double v) {
    char buf[64];
    snprintf(buf, sizeof buf, format, v);
    return buf;
}
