// The figures' table. See figures.h.
#include "bringupcheck/figures.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

// Each figure of results.json and the board record: its name on the page, how its value reads and
// how far it may drift from a baseline's. Figures not named here are shown by their key and never
// compared. The board record's entries are the board's surroundings, compared on their own.
const Figure kFigures[] = {
    // key                   label                                                   kind       drift     allowance
    {"host", "host name", kPlain, kIgnored, 0},
    {"kernel", "kernel", kPlain, kIgnored, 0},
    {"controller", "USB controller version", kPlain, kIgnored, 0},
    {"egl_vendor", "EGL vendor", kPlain, kIgnored, 0},
    {"suite", "bringup-check version", kPlain, kIgnored, 0},
    {"board_kind", "kind of board", kPlain, kIgnored, 0},
    {"settings", "board settings", kPlain, kIgnored, 0},
    {"simulated", "simulated board folder", kPlain, kIgnored, 0},
    {"exit", "how the program ended", kPlain, kWithin, 0},
    // audio.capture: the board's settings exact, the capture's size and rate within a few
    // percent, and problems never more than the baseline had.
    {"rate", "bytes per second the driver plays", kPlain, kWithin, 0},
    {"content", "what the board plays", kPlain, kWithin, 0},
    {"tone_hz", "tone frequency (Hz)", kPlain, kWithin, 0},
    {"ring_size", "driver ring size (bytes)", kPlain, kWithin, 0},
    {"bytes", "bytes captured", kPlain, kShare, 0.05},
    {"blocks", "blocks written", kPlain, kShare, 0.05},
    {"blocks_9600", "blocks of 9600 bytes", kPlain, kIgnored, 0},
    {"blocks_19200", "blocks of 19200 bytes", kPlain, kIgnored, 0},
    {"audio_seconds", "seconds of audio", kPlain, kShare, 0.05},
    {"data_rate", "data rate (bytes per second)", kPlain, kShare, 0.02},
    {"silent_stretches", "stretches of silence", kPlain, kNotUp, 0},
    {"silent_seconds", "seconds of silence", kPlain, kNotUp, 0.1},
    {"stuck_stretches", "stretches of one sample repeated", kPlain, kNotUp, 0},
    {"blocks_intact", "blocks that are intact slices of the stream", kPlain, kIgnored, 0},
    {"gaps", "gaps in the stream", kPlain, kNotUp, 0},
    {"resyncs", "times the reader re-synced", kPlain, kNotUp, 0},
    {"overruns", "overruns of the driver's ring", kPlain, kNotUp, 0},
    {"problems", "problems", kPlain, kIgnored, 0},
    {"messages", "lines printed", kPlain, kIgnored, 0},
    // The USB daemons: the policy's settings exact, breaches never up; the cycles follow the
    // run's timing.
    {"save_policy", "port 0 kept powered while either port is in use", kPlain, kWithin, 0},
    {"port0_busvalid_rule", "port 0 needs bus-valid", kPlain, kWithin, 0},
    {"devices", "device attached (seconds into the run)", kDevices, kIgnored, 0},
    {"power_ons", "power-ons", kPerPort, kIgnored, 0},
    {"power_offs", "power-offs", kPerPort, kIgnored, 0},
    {"looks", "port status reads", kPlain, kNotDown, 0.5},
    {"violations", "breaches of the power policy", kPlain, kWithin, 0},
    {"version", "controller version", kPlain, kWithin, 0},
    {"supported_by", "supported by", kPlain, kWithin, 0},
    {"printed", "lines printed", kPlain, kWithin, 0},
    {"requests", "requests to the driver", kPlain, kIgnored, 0},
    // EGL: the configurations exact.
    {"vendor", "EGL vendor", kPlain, kWithin, 0},
    {"configs", "configurations", kPlain, kWithin, 0},
    {"complete", "complete configuration blocks", kPlain, kWithin, 0},
    {"es2_window", "configurations that render OpenGL ES 2.0 into a window", kPlain, kWithin, 0},
    // The demos: the picture's size exact, its content within a margin, the frame rate not down
    // by more than a fifth.
    {"window", "window shown", kPlain, kWithin, 0},
    {"width", "screenshot width (pixels)", kPlain, kWithin, 0},
    {"height", "screenshot height (pixels)", kPlain, kWithin, 0},
    {"drawn_fraction", "share of the screenshot unlike the background", kPercent, kWithin, 0.1},
    {"colours", "colours in the screenshot", kPlain, kShare, 0.5},
    {"frames", "frames swapped", kPlain, kIgnored, 0},
    {"fps", "frames per second", kPlain, kNotDown, 0.2},
};

double allowance(const Figure& f, const Tolerances& t) {
    auto o = t.find(f.key);
    return o == t.end() ? f.tolerance : o->second;
}

std::string share(double v) {
    char buf[32];
    snprintf(buf, sizeof buf, "%g%%", v * 100);
    return buf;
}

}  // namespace

const Figure* find_figure(const std::string& key) {
    for (const Figure& f : kFigures)
        if (key == f.key) return &f;
    return nullptr;
}

bool parse_tolerance(const std::string& arg, Tolerances* t, std::string* error) {
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    const Figure* f = find_figure(name);
    if (eq == std::string::npos || !f) {
        *error = "--tolerance takes NAME=VALUE, NAME a figure of results.json (\"" + name + "\" is none)";
        return false;
    }
    if (f->rule == kIgnored) {
        *error = "--tolerance: the figure \"" + name + "\" is never compared";
        return false;
    }
    const char* text = arg.c_str() + eq + 1;
    char* end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end || !(v >= 0 && v <= 1e15)) {
        *error = "--tolerance " + name + " takes a number from 0 up";
        return false;
    }
    (*t)[name] = v;
    return true;
}

bool within_tolerance(const Figure& f, const Tolerances& t, const Json& before, const Json& now) {
    if (f.rule == kIgnored) return true;
    if (!before.is_number() || !now.is_number()) return before == now;
    double b = before.get<double>(), n = now.get<double>(), a = allowance(f, t);
    // A hair of slack for the rounding of the figures as results.json keeps them.
    const double eps = 1e-9 * (1 + fabs(b));
    switch (f.rule) {
        case kWithin: return fabs(n - b) <= a + eps;
        case kShare: return fabs(n - b) <= a * fabs(b) + eps;
        case kNotUp: return n - b <= a + eps;
        case kNotDown: return b - n <= a * fabs(b) + eps;
        case kIgnored: break;
    }
    return true;
}

std::string tolerance_text(const Figure& f, const Tolerances& t) {
    double a = allowance(f, t);
    char buf[64];
    snprintf(buf, sizeof buf, "%g", a);
    switch (f.rule) {
        case kWithin: return a == 0 ? "exact" : std::string("within ") + buf;
        case kShare: return "within " + share(a);
        case kNotUp: return a == 0 ? "never up" : std::string("not up by more than ") + buf;
        case kNotDown: return "not down by more than " + share(a);
        case kIgnored: break;
    }
    return "not compared";
}
