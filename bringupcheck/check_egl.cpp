// The EGL check: configlist lists the driver's configurations, and its report is read back.
#include <stdlib.h>

#include "bringupcheck/eglreport.h"
#include "bringupcheck/runprogram.h"

void check_egl(Context& ctx) {
    Check c = new_check("egl.configs", "egl", "configlist");
    if (skipped_as_not_installed(ctx, c, "configlist")) return;
    ProgramToRun list;
    list.program = "configlist";
    list.sub = "egl";
    list.limit = 60;
    list.waiting = "listing the EGL configurations";
    list.on_board = false;
    ProgramRun ran = run_program(ctx, c, list);
    EglReport r = parse_egl_report(ran.out_text);
    size_t complete = 0, es2 = 0;
    for (const EglConfig& e : r.configs) {
        complete += e.complete();
        es2 += e.complete() && e.es2_window();
    }
    if (!r.vendor.empty()) ctx.results.board["egl_vendor"] = r.vendor + ", EGL " + r.version;
    c.figures["exit"] = describe_end(ran.res, ran.plan);
    c.figures["vendor"] = r.vendor;
    c.figures["configs"] = double(r.configs.size());
    c.figures["complete"] = double(complete);
    c.figures["es2_window"] = double(es2);
    const char* display = getenv("DISPLAY");
    if (!ran.res.started) {
        verdict(c, Verdict::Fail, ran.res.error);
    } else if (ran.res.exit_code != 0 && (!display || !*display)) {
        verdict(c, Verdict::Skip, "no display in DISPLAY: configlist could not open the default display");
    } else if (ran.res.exit_code != 0) {
        verdict(c, Verdict::Fail, "configlist ended with " + describe_end(ran.res, ran.plan) + ": " + first_line(ran.err_text + ran.out_text));
    } else if (r.vendor.empty()) {
        verdict(c, Verdict::Fail, "configlist's report has no vendor line");
    } else if (r.configs.empty()) {
        verdict(c, Verdict::Fail, "the EGL driver offers no configuration");
    } else if (complete != r.configs.size() || r.stray_lines) {
        verdict(c, Verdict::Fail, std::to_string(r.configs.size() - complete) + " of " + std::to_string(r.configs.size()) +
                                      " configuration blocks incomplete, " + std::to_string(r.stray_lines) + " stray lines");
    } else if (es2 == 0) {
        verdict(c, Verdict::Fail, "no configuration renders OpenGL ES 2.0 into a window");
    } else {
        verdict(c, Verdict::Pass, std::to_string(r.configs.size()) + " configurations from " + r.vendor + ", " +
                                      std::to_string(es2) + " render OpenGL ES 2.0 into a window");
    }
    record(ctx, c);
}
