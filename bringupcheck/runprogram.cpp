#include "bringupcheck/runprogram.h"

#include <stdlib.h>
#include <unistd.h>

#include "boardfiles/board_names.h"
#include "bringupcheck/outfiles.h"
#include "bringupcheck/progress.h"

namespace {

// Where a program's trace is read: the file `src`, inside the board folder `dir` when there is
// one, from byte `from` on; `own` when every line of it is the program's.
struct TraceSource {
    std::string dir, src;
    long long from = 0;
    bool own = false;
};

// Sets the plan up to run the program on the board through `boardsim run`, which takes the
// program's place (its pid is the program's): on a simulated board, whose trace the program's lines
// are read from; on a real one, when boardsim can, with every operation on the real devices traced
// into a file of the program's own.
TraceSource run_on_board(const Context& ctx, const std::string& dir, const std::string& base, ChildPlan* plan) {
    TraceSource ts;
    std::vector<std::string> argv = {ctx.boardsim, "run"};
    if (!ctx.sim.empty()) {
        ts.dir = ctx.sim;
        ts.src = std::string("/") + boardfiles::kTraceFile;
        ts.from = file_size(ts.dir + ts.src);
    } else if (ctx.trace_only) {
        ts.src = dir + "/" + base + ".devices.trace";
        unlink(ts.src.c_str());
        ts.own = true;
        argv.insert(argv.end(), {"--trace-only", "--trace", ts.src});
    } else {
        return ts;
    }
    if (!ctx.preload.empty()) argv.insert(argv.end(), {"--preload", ctx.preload});
    if (!ctx.sim.empty()) argv.push_back(ctx.sim);
    argv.push_back("--");
    argv.insert(argv.end(), plan->argv.begin(), plan->argv.end());
    plan->argv = argv;
    return ts;
}

// Reads the program's lines of the trace into `ran` and keeps them as <base>.trace.
void keep_trace(const TraceSource& ts, const std::string& dir, const std::string& sub, const std::string& base,
                Check& check, ProgramRun& ran) {
    std::string all;
    boardfiles::FileRead read = boardfiles::read_board_file(ts.dir, ts.src, kTraceMax, &all, ts.from, true);
    ran.trace_problem = read.problem;
    ran.trace_cut = read.cut;
    if (!read.ok) return;
    // Only this program's lines: other processes may use the same board.
    judge::Trace t = judge::parse_trace(all);
    std::string mine;
    for (const judge::TraceRecord& r : t.records)
        if (r.pid == ran.res.pid || ts.own) {
            ran.trace.records.push_back(r);
            long long sec = (long long)r.time;
            mine += bringup::format_trace_line(sec, long((r.time - double(sec)) * 1e6 + 0.5), r.pid, r.op.c_str(),
                                                r.path.c_str(), r.detail, r.result);
        }
    write_file(dir + "/" + base + ".trace", mine);
    check.evidence.push_back(sub + "/" + base + ".trace");
    ran.traced = true;
}

}  // namespace

std::string program_path(const Context& ctx, const std::string& program) {
    std::string path = ctx.prefix.empty() ? "" : ctx.prefix + "/bin/" + program;
    if (path.empty() || access(path.c_str(), X_OK) != 0) path = find_program(program);
    return path;
}

bool skipped_as_not_installed(Context& ctx, Check& c, const std::string& program) {
    if (!program_path(ctx, program).empty()) return false;
    verdict(c, Verdict::Skip, program + " is not installed (it comes with " BRINGUP_DEMOS_PACKAGE ")");
    record(ctx, c);
    return true;
}

ProgramRun run_program(Context& ctx, Check& check, const ProgramToRun& what) {
    ProgramRun ran;
    const std::string& sub = what.sub;
    const std::string& base = what.base.empty() ? what.program : what.base;
    std::string dir = ctx.out + "/" + sub;
    std::string unfit = make_folder(dir);
    std::string path = program_path(ctx, what.program);
    ran.plan.out_path = dir + "/" + base + ".out";
    ran.plan.err_path = dir + "/" + base + ".err";
    ran.plan.cwd = what.cwd;
    ran.plan.stop_after_s = what.stop_after;
    ran.plan.limit_s = what.limit;
    ran.plan.env = what.env;
    if (path.empty()) {
        ran.res.error = what.program + " is not installed (not next to bringup-check nor on PATH)";
        return ran;
    }
    if (!unfit.empty()) {
        ran.res.error = dir + ": " + unfit;
        return ran;
    }
    ran.plan.argv.push_back(path);
    for (const std::string& a : what.args) ran.plan.argv.push_back(a);
    // The GPU programs touch no device of the board: they run as they are.
    TraceSource trace = what.on_board ? run_on_board(ctx, dir, base, &ran.plan) : TraceSource();
    double deadline = what.stop_after >= 0 ? what.stop_after : what.limit;
    ran.plan.tick = [&](double t) {
        show_progress(ctx, check.name, what.waiting, deadline - t);
        if (what.tick) what.tick(t);
    };
    ran.res = run_child(ran.plan);
    clear_progress(ctx);
    check.seconds += ran.res.seconds;
    read_file(ran.plan.out_path, &ran.out_text);
    read_file(ran.plan.err_path, &ran.err_text);
    check.evidence.push_back(sub + "/" + base + ".out");
    check.evidence.push_back(sub + "/" + base + ".err");
    if (!trace.src.empty() && ran.res.started) keep_trace(trace, dir, sub, base, check, ran);
    return ran;
}

std::string preload_setting(const std::string& lib) {
    const char* old = getenv("LD_PRELOAD");
    return "LD_PRELOAD=" + (old && *old ? std::string(old) + ":" : "") + lib;
}

void judge_trace_read(Check& c, const ProgramRun& ran) {
    if (!ran.trace_problem.empty() && c.verdict != Verdict::Fail)
        verdict(c, Verdict::Fail, "the board's trace was not read: " + ran.trace_problem);
    else if (ran.trace_cut)
        c.reason += "; only the first " + std::to_string(kTraceMax >> 20) + " MiB of the board's trace were read";
}
