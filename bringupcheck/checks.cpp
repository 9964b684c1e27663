// How a check is made, judged and kept.
#include "bringupcheck/checks.h"

#include <stdio.h>

#include "bringupcheck/outfiles.h"

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
    if (!ctx.rerun.empty()) {
        if (c.name != ctx.rerun) return;
        ctx.rerun_result = c;
        ctx.rerun_done = true;
        return;
    }
    ctx.results.checks.push_back(c);
    if (ctx.show) ctx.show(c);
}

bool retrying_another(const Context& ctx, const std::string& name) { return !ctx.rerun.empty() && ctx.rerun != name; }

namespace {

// Copies the failed attempt's evidence into <subsystem>/attempt-N/ (N: the attempt's number), so
// that the next attempt, which writes the same files, leaves it as it was. The copies' paths.
std::vector<std::string> keep_attempt(const Context& ctx, const Check& c, size_t n) {
    std::vector<std::string> kept;
    for (const std::string& e : c.evidence) {
        size_t slash = e.find('/');
        std::string sub = e.substr(0, slash), copy = sub + "/attempt-" + std::to_string(n) + "/" + e.substr(slash + 1);
        std::string text;
        if (slash == std::string::npos || !make_folder(ctx.out + "/" + sub + "/attempt-" + std::to_string(n)).empty() ||
            !read_file(ctx.out + "/" + e, &text) || !write_file(ctx.out + "/" + copy, text))
            continue;
        kept.push_back(copy);
    }
    return kept;
}

}  // namespace

void run_with_retries(Context& ctx, void (*checks)(Context&)) {
    size_t first = ctx.results.checks.size();
    checks(ctx);
    for (size_t i = first; i < ctx.results.checks.size(); ++i) {
        while (ctx.results.checks[i].verdict == Verdict::Fail && int(ctx.results.checks[i].attempts.size()) < ctx.retries) {
            Check failed = ctx.results.checks[i];
            failed.attempts.clear();
            failed.evidence = keep_attempt(ctx, failed, ctx.results.checks[i].attempts.size() + 1);
            ctx.rerun = failed.name;
            ctx.rerun_done = false;
            checks(ctx);
            ctx.rerun.clear();
            if (!ctx.rerun_done) break;
            Check next = ctx.rerun_result;
            next.attempts = ctx.results.checks[i].attempts;
            next.attempts.push_back(failed);
            ctx.results.checks[i] = next;
            if (ctx.show) ctx.show(next);
        }
    }
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
