// The GPU checks: each demo draws for the run's seconds on the display; its window is copied and
// looked at, closed as a window manager closes it, and its frames counted by the preload that
// counts buffer swaps.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

#include "bringupcheck/outfiles.h"
#include "bringupcheck/png.h"
#include "bringupcheck/runprogram.h"
#include "bringupcheck/swapcount.h"
#include "bringupcheck/x11.h"

namespace {

const char* const kDemos[] = {"lanterna", "veilglass", "tilemosaic"};
const char kSamplesDir[] = "/share/board-bringup/samples/";
const char kSwapCountLib[] = "libbringup-swapcount.so";
// A demo's window must be up within this long, and the demo gone this long after the close request.
const double kWindowWaitS = 20;
const double kCloseWaitS = 15;

// How much of a screenshot is a drawn scene: the share of pixels unlike the most common colour,
// and the number of distinct colours.
void look_at(const std::vector<uint32_t>& px, double* drawn, size_t* colours) {
    std::vector<uint32_t> sorted(px);
    std::sort(sorted.begin(), sorted.end());
    size_t best = 0, run = 0, distinct = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (i == 0 || sorted[i] != sorted[i - 1]) {
            run = 0;
            distinct++;
        }
        best = std::max(best, ++run);
    }
    *drawn = px.empty() ? 0 : 1.0 - double(best) / double(px.size());
    *colours = distinct;
}

std::string swapcount_lib(const Context& ctx) {
    // The install prefix's private library folder (the packages' board-bringup folder, the
    // relocatable tree's lib/), then the build tree's lib/ beside bin/, then beside the program.
    for (const std::string& p : {ctx.prefix + "/" BRINGUP_PRIVATE_LIB_DIR "/" + kSwapCountLib,
                                 self_dir() + "/../lib/" + kSwapCountLib, self_dir() + "/" + kSwapCountLib})
        if (access(p.c_str(), R_OK) == 0) return p;
    return "";
}


// True (with the check recorded) when the demo cannot be shown: no display named, the display lost
// earlier in the run, or one that cannot be opened. Else the demo's windows already there.
bool no_display(Context& ctx, Check& c, const char* demo, const char* display, std::vector<unsigned long>* before) {
    if (!display || !*display) {
        verdict(c, Verdict::Skip, "no display in DISPLAY: the demos need an X server");
        record(ctx, c);
        return true;
    }
    std::string error;
    *before = windows_titled(demo, &error);
    if (!error.empty() && display_lost()) {
        // The X server went away earlier in this run: nothing more can be shown on it.
        verdict(c, Verdict::Fail, "the connection to the display \"" + std::string(display) + "\" was lost earlier in the run");
        record(ctx, c);
        return true;
    }
    if (!error.empty()) {
        verdict(c, Verdict::Skip, "cannot open the display \"" + std::string(display) + "\"");
        record(ctx, c);
        return true;
    }
    return false;
}

// What is seen of the demo while it runs: its window, and the copy of it taken once.
struct DemoWindow {
    unsigned long window = 0;
    bool shot = false;
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    double drawn = 0;  // as look_at tells, of the copy
    size_t colours = 0;
};

// The frames the preload counted.
struct Frames {
    long long swaps = 0;
    double fps = 0;
};

// Called as the demo runs: finds its new window, then, the run's seconds in, copies it and asks
// it to close.
void watch(const Context& ctx, const char* demo, const std::vector<unsigned long>& before, const std::string& lib,
           const std::string& swaps_path, double t, DemoWindow& seen) {
    if (!seen.window) {
        for (unsigned long id : windows_titled(demo, nullptr))
            if (std::find(before.begin(), before.end(), id) == before.end()) seen.window = id;
        return;
    }
    // A slow GPU (or an emulated one) can take seconds over its first frame: with the
    // frame counter, the picture waits for two frames, up to the window wait past the run.
    if (!seen.shot && t >= ctx.seconds && !lib.empty() && t < ctx.seconds + kWindowWaitS) {
        std::string counted;
        long long n = 0;
        double first = 0, last = 0;
        if (!read_file(swaps_path, &counted) || sscanf(counted.c_str(), kSwapCountScan, &n, &first, &last) < 1 || n < 2)
            return;
    }
    if (!seen.shot && t >= ctx.seconds) {
        raise_window(seen.window);
        usleep(300000);  // a frame or two after the raise
        seen.shot = copy_window(seen.window, &seen.pixels, &seen.w, &seen.h);
        send_close(seen.window);
    }
}

// Looks at the copy of the window and keeps it as <demo>.png.
void keep_shot(const Context& ctx, Check& c, const char* demo, DemoWindow& seen) {
    if (!seen.shot) return;
    look_at(seen.pixels, &seen.drawn, &seen.colours);
    std::string png = encode_png(seen.pixels, seen.w, seen.h);
    if (!png.empty() && write_file(ctx.out + "/gpu/" + demo + ".png", png))
        c.evidence.push_back(std::string("gpu/") + demo + ".png");
}

Frames count_frames(Check& c, const char* demo, const std::string& swaps_path) {
    Frames n;
    double first = 0, last = 0;
    std::string counted;
    if (read_file(swaps_path, &counted) &&
        sscanf(counted.c_str(), kSwapCountScan, &n.swaps, &first, &last) == 3) {
        c.evidence.push_back(std::string("gpu/") + demo + ".swaps");
        if (n.swaps > 1 && last > first) n.fps = double(n.swaps - 1) / (last - first);
    }
    return n;
}

// The figures and the verdict of a demo's run.
void judge_demo(Check& c, const char* demo, const char* display, const std::string& lib, const ProgramRun& ran,
                const DemoWindow& seen, const Frames& frames) {
    double drawn = seen.drawn, fps = frames.fps;
    size_t colours = seen.colours;
    long long swaps = frames.swaps;
    Json& f = c.figures;
    f["exit"] = describe_end(ran.res, ran.plan);
    f["window"] = seen.window != 0;
    if (seen.shot) {
        f["width"] = double(seen.w);
        f["height"] = double(seen.h);
        f["drawn_fraction"] = double(llround(drawn * 1000)) / 1000;
        f["colours"] = double(colours);
    }
    f["frames"] = double(swaps);
    f["fps"] = double(llround(fps * 10)) / 10;
    if (!ran.res.started) verdict(c, Verdict::Fail, ran.res.error);
    else if (display_lost())
        verdict(c, Verdict::Fail, "the connection to the display \"" + std::string(display) + "\" was lost while " + demo +
                                      " ran (" + describe_end(ran.res, ran.plan) + ")");
    else if (!seen.window)
        verdict(c, Verdict::Fail, std::string(demo) + " showed no window within " + fmt("%.0f", kWindowWaitS) + " s (" +
                                      describe_end(ran.res, ran.plan) + ")" +
                                      (ran.out_text.empty() ? "" : ": " + first_line(ran.out_text)));
    else if (!seen.shot)
        verdict(c, Verdict::Fail, std::string("the window of ") + demo + " could not be copied");
    else if (ran.res.exit_code != 0)
        verdict(c, Verdict::Fail, std::string(demo) + " ended with " + describe_end(ran.res, ran.plan) +
                                      " after the close request, not exit status 0" +
                                      (ran.out_text.empty() ? "" : ": " + first_line(ran.out_text)));
    else if (drawn < 0.02 || colours < 8)
        verdict(c, Verdict::Fail, std::string("the window of ") + demo + " shows no drawn scene (" + std::to_string(colours) +
                                      " colours, " + fmt("%.1f%%", drawn * 100) + " unlike the background)");
    else if (!lib.empty() && swaps == 0)
        verdict(c, Verdict::Fail, std::string(demo) + " never swapped buffers");
    else
        verdict(c, Verdict::Pass, std::string("a drawn scene (") + std::to_string(colours) + " colours)" +
                                      (lib.empty() ? ", frame rate not counted (no " + std::string(kSwapCountLib) + ")"
                                                   : fmt(", %.1f frames per second", fps)) +
                                      ", closed by the window manager's request with exit status 0");
}

}  // namespace

void check_gpu(Context& ctx) {
    const char* display = getenv("DISPLAY");
    std::string lib = swapcount_lib(ctx);
    for (const char* demo : kDemos) {
        Check c = new_check(std::string("gpu.") + demo, "gpu", demo);
        if (retrying_another(ctx, c.name)) continue;
        if (skipped_as_not_installed(ctx, c, demo)) continue;
        std::vector<unsigned long> before;
        if (no_display(ctx, c, demo, display, &before)) continue;
        std::string folder = ctx.prefix + kSamplesDir + demo;
        std::string swaps_path = ctx.out + "/gpu/" + demo + ".swaps";
        ProgramToRun draw;
        draw.program = demo;
        draw.sub = "gpu";
        draw.cwd = folder;
        draw.limit = ctx.seconds + kWindowWaitS + kCloseWaitS;
        draw.waiting = std::string("drawing ") + demo + " on " + display;
        draw.on_board = false;
        if (!lib.empty()) {
            draw.env.push_back(preload_setting(lib));
            draw.env.push_back(SWAPCOUNT_FILE_ENV "=" + swaps_path);
        }
        unlink(swaps_path.c_str());
        DemoWindow seen;
        draw.tick = [&](double t) { watch(ctx, demo, before, lib, swaps_path, t, seen); };
        ProgramRun ran = run_program(ctx, c, draw);
        keep_shot(ctx, c, demo, seen);
        judge_demo(c, demo, display, lib, ran, seen, count_frames(c, demo, swaps_path));
        record(ctx, c);
    }
}
