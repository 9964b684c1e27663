#include "report.h"

#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "capture.h"
#include "eglreport.h"
#include "png.h"
#include "usbpolicy.h"

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:1em auto;padding:0 1em;color:#222;max-width:60em}"
    "table{border-collapse:collapse;margin:.5em 0 1em}td,th{border:1px solid #ccc;padding:.25em .6em;"
    "text-align:left;vertical-align:top}th{background:#f2f2f2}"
    ".pass{background:#d9f2d9}.fail{background:#f8d0d0}.skip{background:#eee;color:#666}"
    "h2{border-bottom:1px solid #ccc;margin-top:2em}figure{display:inline-block;margin:0 1em 1em 0;max-width:100%}"
    "figcaption{font-size:90%;color:#444}svg text{font-size:11px;font-family:sans-serif}"
    "svg,img{max-width:100%;height:auto}.scroll{overflow-x:auto;max-width:100%}.why{min-width:16em}"
    "code{background:#f4f4f4;padding:0 .2em;overflow-wrap:anywhere}";

const int kChartW = 720, kChartH = 220, kLeft = 50, kRight = 15, kTop = 15, kBottom = 35;
const int kPlotW = kChartW - kLeft - kRight;

// The most of an evidence file that is read for the page: a capture of 87 s at 192000 bytes/s, a
// trace of some hundred thousand lines. What lies beyond is left out, and the page says so.
const size_t kMaxEvidenceBytes = 16 << 20;

// What a board engineer calls each figure of results.json and the board record, and how its value
// reads; figures not named here are shown by their key.
enum FigureKind { kPlain, kPerPort, kDevices, kPercent };
struct FigureLabel {
    const char* key;
    const char* label;
    FigureKind kind;
};
const FigureLabel kFigureLabels[] = {
    {"host", "host name", kPlain},
    {"kernel", "kernel", kPlain},
    {"controller", "USB controller version", kPlain},
    {"egl_vendor", "EGL vendor", kPlain},
    {"simulated", "simulated board folder", kPlain},
    {"exit", "how the program ended", kPlain},
    {"rate", "bytes per second the driver plays", kPlain},
    {"content", "what the board plays", kPlain},
    {"tone_hz", "tone frequency (Hz)", kPlain},
    {"ring_size", "driver ring size (bytes)", kPlain},
    {"bytes", "bytes captured", kPlain},
    {"blocks", "blocks written", kPlain},
    {"blocks_9600", "blocks of 9600 bytes", kPlain},
    {"blocks_19200", "blocks of 19200 bytes", kPlain},
    {"audio_seconds", "seconds of audio", kPlain},
    {"data_rate", "data rate (bytes per second)", kPlain},
    {"silent_stretches", "stretches of silence", kPlain},
    {"silent_seconds", "seconds of silence", kPlain},
    {"stuck_stretches", "stretches of one sample repeated", kPlain},
    {"blocks_intact", "blocks that are intact slices of the stream", kPlain},
    {"gaps", "gaps in the stream", kPlain},
    {"resyncs", "times the reader re-synced", kPlain},
    {"overruns", "overruns of the driver's ring", kPlain},
    {"problems", "problems", kPlain},
    {"messages", "lines printed", kPlain},
    {"save_policy", "port 0 kept powered while either port is in use", kPlain},
    {"port0_busvalid_rule", "port 0 needs bus-valid", kPlain},
    {"devices", "device attached (seconds into the run)", kDevices},
    {"power_ons", "power-ons", kPerPort},
    {"power_offs", "power-offs", kPerPort},
    {"looks", "port status reads", kPlain},
    {"violations", "breaches of the power policy", kPlain},
    {"version", "controller version", kPlain},
    {"supported_by", "supported by", kPlain},
    {"printed", "lines printed", kPlain},
    {"requests", "requests to the driver", kPlain},
    {"vendor", "EGL vendor", kPlain},
    {"configs", "configurations", kPlain},
    {"complete", "complete configuration blocks", kPlain},
    {"es2_window", "configurations that render OpenGL ES 2.0 into a window", kPlain},
    {"window", "window shown", kPlain},
    {"width", "screenshot width (pixels)", kPlain},
    {"height", "screenshot height (pixels)", kPlain},
    {"drawn_fraction", "share of the screenshot unlike the background", kPercent},
    {"colours", "colours in the screenshot", kPlain},
    {"frames", "frames swapped", kPlain},
    {"fps", "frames per second", kPlain},
};

const FigureLabel* figure_label(const std::string& key) {
    for (const FigureLabel& l : kFigureLabels)
        if (key == l.key) return &l;
    return nullptr;
}

std::string esc(const std::string& s) { return xml_escape(s); }

std::string num(double v, const char* format = "%g") {
    char buf[64];
    snprintf(buf, sizeof buf, format, v);
    return buf;
}

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

// A figure's value as the label says it reads. t0: the start of the run the times count from, or
// NaN when there is none (then a device's stay is given by its length).
std::string figure_value(const FigureLabel* label, const Json& v, double t0) {
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

std::string evidence_path(const Check& c, const std::string& suffix) {
    for (const std::string& e : c.evidence)
        if (e.size() >= suffix.size() && e.compare(e.size() - suffix.size(), suffix.size(), suffix) == 0) return e;
    return "";
}

// At most kMaxEvidenceBytes of an evidence file, with the file's whole size. Only a regular file
// inside `dir` is read: each part of its path is opened without following a link (a link may point
// anywhere), and without blocking (a FIFO or a device put in its place must not hold the page up).
bool read_evidence(const std::string& dir, const std::string& path, std::string* text, long long* size) {
    text->clear();
    *size = 0;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t from = 0; fd >= 0;) {
        size_t slash = path.find('/', from);
        bool last = slash == std::string::npos;
        std::string part = path.substr(from, last ? std::string::npos : slash - from);
        if (!last && part.empty()) {
            from = slash + 1;
            continue;
        }
        int next = part.empty() ? -1
                                : openat(fd, part.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK : O_DIRECTORY));
        close(fd);
        fd = next;
        if (last) break;
        from = slash + 1;
    }
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) *size = (long long)st.st_size;
    char buf[65536];
    ssize_t n = 0;
    while (ok && text->size() < kMaxEvidenceBytes &&
           (n = read(fd, buf, std::min(sizeof buf, kMaxEvidenceBytes - text->size()))) > 0)
        text->append(buf, size_t(n));
    close(fd);
    return ok && n >= 0;
}

// What the page says of an evidence file of which only the first part was read.
std::string part_note(const std::string& path, long long size, size_t drawn) {
    if (size <= (long long)drawn) return "";
    return "<p>" + esc(path) + " holds " + num(double(size), "%.0f") + " bytes: only its first " + num(double(drawn), "%.0f") +
           " are drawn.</p>";
}

// A step of 1, 2 or 5 times a power of ten that cuts `span` into at most `most` parts.
double tick_step(double span, int most) {
    double step = pow(10, floor(log10(span / most)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (span / (step * m) <= most) return step * m;
    return step * 10;
}

// Tick marks along one axis from lo to hi: their values, never more than `most` + 1 of them.
std::vector<double> ticks(double lo, double hi, int most) {
    std::vector<double> out;
    double span = hi - lo;
    if (!(span > 0) || !std::isfinite(span)) return out;
    double step = tick_step(span, most), first = ceil(lo / step) * step;
    for (int i = 0; i <= most; ++i) {
        double v = first + i * step;
        if (v > hi + span * 1e-9) break;
        out.push_back(fabs(v) < step * 1e-9 ? 0 : v);
    }
    return out;
}

// The x pixel of v on a plot from lo to hi, kept just outside the plot at the most.
double x_pixel(double v, double lo, double hi) {
    double x = kLeft + (v - lo) / (hi - lo) * kPlotW;
    return std::isfinite(x) ? std::min(std::max(x, kLeft - 1.0), kLeft + kPlotW + 1.0) : kLeft - 1.0;
}

// A line chart of ys over xs in a plot area with labelled axes. Points that fall in one pixel
// column are drawn as that column's lowest and highest: the chart's size does not grow with them.
std::string line_chart(const std::vector<double>& xs, const std::vector<double>& ys, double x0, double x1, double y0,
                       double y1, const std::string& xlabel, const std::string& ylabel) {
    int ph = kChartH - kTop - kBottom;
    auto X = [&](double x) { return x_pixel(x, x0, x1); };
    auto Y = [&](double y) { return kTop + (1 - (std::min(std::max(y, y0), y1) - y0) / (y1 - y0)) * ph; };
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kChartW) + "\" height=\"" + num(kChartH) +
                    "\" viewBox=\"0 0 " + num(kChartW) + " " + num(kChartH) + "\">";
    s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(kPlotW) + "\" height=\"" + num(ph) +
         "\" fill=\"#fafafa\" stroke=\"#999\"/>";
    for (double x : ticks(x0, x1, 12))
        s += "<line x1=\"" + num(X(x), "%.1f") + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(X(x), "%.1f") + "\" y2=\"" +
             num(kTop + ph) + "\" stroke=\"#e4e4e4\"/><text x=\"" + num(X(x), "%.1f") + "\" y=\"" + num(kTop + ph + 14) +
             "\" text-anchor=\"middle\">" + num(x) + "</text>";
    for (double y : ticks(y0, y1, 8))
        s += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(Y(y), "%.1f") + "\" x2=\"" + num(kLeft + kPlotW) + "\" y2=\"" +
             num(Y(y), "%.1f") + "\" stroke=\"#e4e4e4\"/><text x=\"" + num(kLeft - 4) + "\" y=\"" + num(Y(y) + 4, "%.1f") +
             "\" text-anchor=\"end\">" + num(y) + "</text>";
    s += "<text x=\"" + num(kLeft + kPlotW / 2) + "\" y=\"" + num(kChartH - 4) + "\" text-anchor=\"middle\">" + esc(xlabel) +
         "</text><text x=\"12\" y=\"" + num(kTop + ph / 2) + "\" transform=\"rotate(-90 12 " + num(kTop + ph / 2) +
         ")\" text-anchor=\"middle\">" + esc(ylabel) + "</text>";
    if (!xs.empty()) {
        s += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" points=\"";
        size_t i = 0;
        while (i < xs.size()) {
            long column = lround(X(xs[i]));
            double lo = Y(ys[i]), hi = lo;
            size_t n = 1;
            for (++i; i < xs.size() && lround(X(xs[i])) == column; ++i, ++n) {
                lo = std::max(lo, Y(ys[i]));
                hi = std::min(hi, Y(ys[i]));
            }
            s += num(double(column)) + "," + num(lo, "%.1f") + " ";
            if (n > 1) s += num(double(column)) + "," + num(hi, "%.1f") + " ";
        }
        s += "\"/>";
    }
    return s + "</svg>";
}

// A path inside the output folder as a relative link: every byte but letters, digits and
// "-._~/" percent-encoded, after "./" so that no part of it reads as a scheme.
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

// A table that scrolls sideways in a narrow window instead of overflowing it.
std::string scrolling(const std::string& table) { return "<div class=\"scroll\">" + table + "</div>"; }

std::string figures_table(const Check& c, double t0 = NAN) {
    if (c.figures.empty()) return "";
    std::string s = "<table>";
    for (const auto& m : c.figures.items()) {
        const FigureLabel* label = figure_label(m.key());
        s += "<tr><th>" + esc(label ? label->label : m.key()) + "</th><td>" + esc(figure_value(label, m.value(), t0)) +
             "</td></tr>";
    }
    return scrolling(s + "</table>");
}

std::string evidence_list(const Check& c) {
    if (c.evidence.empty()) return "";
    std::string s = "<p>Evidence:";
    for (const std::string& e : c.evidence) s += " <a href=\"" + esc(href(e)) + "\"><code>" + esc(e) + "</code></a>";
    return s + "</p>";
}

std::string check_head(const Check& c) {
    return "<h3>" + esc(c.name) + " <span class=\"" + esc(c.verdict) + "\">" + esc(c.verdict) + "</span></h3><p>" +
           esc(c.reason) + "</p>";
}

std::string audio_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string pcm_path = evidence_path(c, "output.pcm"), pcm;
    long long size = 0;
    // results.json may come from elsewhere (--render): a rate out of all reason draws nothing.
    double rate_figure = json_number_or(json_member(c.figures, "rate"), 192000);
    long long rate = rate_figure >= 4 && rate_figure <= 1e9 ? (long long)rate_figure : 0;
    if (!pcm_path.empty() && read_evidence(dir, pcm_path, &pcm, &size) && pcm.size() >= 4 && rate >= 4) {
        // A long capture is drawn from its first part, whole frames only.
        pcm.resize(pcm.size() / 4 * 4);
        if (size > (long long)pcm.size())
            s += "<p>The capture holds " + num(double(size) / double(rate), "%.1f") + " s of audio (" +
                 num(double(size), "%.0f") + " bytes): these figures draw its first " +
                 num(double(pcm.size()) / double(rate), "%.1f") + " s.</p>";
        std::vector<double> level = judge::level_over_time(pcm, rate, 0.05);
        std::vector<double> xs(level.size());
        for (size_t i = 0; i < xs.size(); ++i) xs[i] = (double(i) + 0.5) * 0.05;
        double dur = std::max(1.0, ceil(double(pcm.size()) / double(rate)));
        s += "<figure>" + line_chart(xs, level, 0, dur, -100, 0, "seconds into the capture", "level (dBFS)") +
             "<figcaption>Level over time (RMS of 50 ms windows, both channels)</figcaption></figure>";
        double bin = 0;
        std::vector<double> magnitudes = judge::spectrum(pcm, rate, 8192, &bin);
        if (!magnitudes.empty()) {
            std::vector<double> fx(magnitudes.size());
            for (size_t i = 0; i < fx.size(); ++i) fx[i] = double(i) * bin / 1000.0;
            s += "<figure>" + line_chart(fx, magnitudes, 0, double(rate) / 8000.0, -140, 0, "frequency (kHz)",
                                         "magnitude (dBFS)") +
                 "<figcaption>Spectrum of the left channel, 8192 frames from the middle of the capture drawn (Hann "
                 "window)</figcaption></figure>";
        }
    } else {
        s += "<p>No capture to draw.</p>";
    }
    return s + figures_table(c) + evidence_list(c);
}

// Each port's power over the run: a bar while powered, ticks where the daemon looked, red marks at
// violations, the device's stay shaded. Marks that fall in one pixel column are drawn once, so the
// chart's size does not grow with the trace; *t0 is set to the time the run's seconds count from.
std::string usb_timeline(const std::string& dir, const Check& c, double* t0_out) {
    std::string trace_path = evidence_path(c, ".trace");
    std::string text;
    long long size = 0;
    if (trace_path.empty() || !read_evidence(dir, trace_path, &text, &size)) return "<p>No trace: no power timeline.</p>";
    judge::Trace trace = judge::parse_trace(text);
    if (trace.records.empty()) return "<p>No trace: no power timeline.</p>";
    judge::PolicyOptions o;
    const Json& busvalid = json_member(c.figures, "port0_busvalid_rule");
    o.save_policy = json_true(json_member(c.figures, "save_policy"));
    o.port0_busvalid_rule = !busvalid.is_boolean() || json_true(busvalid);
    judge::PolicyReport p = judge::judge_power_policy(trace, o);
    double t0 = p.start, t1 = std::max(p.end, p.start + 1);
    if (!std::isfinite(t0) || !std::isfinite(t1 - t0)) return "<p>The trace's times cannot be drawn.</p>";
    *t0_out = t0;
    auto X = [&](double t) { return x_pixel(t, t0, t1); };
    const int row = 50, h = 2 * row + kTop + kBottom;
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kChartW) + "\" height=\"" + num(h) +
                    "\" viewBox=\"0 0 " + num(kChartW) + " " + num(h) + "\">";
    for (int port = 0; port < 2; ++port) {
        double y = kTop + port * row;
        s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(y + 24) + "\" text-anchor=\"end\">lm" + num(port) + "</text>";
        s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(y + 8) + "\" width=\"" + num(kPlotW) +
             "\" height=\"26\" fill=\"#f4f4f4\"/>";
        for (const Json& d : json_items(json_member(c.figures, "devices")))
            if (json_items(d).size() == 3 && json_number_or(d[0], 0) == port)
                s += "<rect x=\"" + num(X(json_number_or(d[1], 0)), "%.1f") + "\" y=\"" + num(y + 4) + "\" width=\"" +
                     num(std::max(1.0, X(json_number_or(d[2], 0)) - X(json_number_or(d[1], 0))), "%.1f") +
                     "\" height=\"34\" fill=\"#f3d9a4\"><title>device attached</title></rect>";
        // Powered stretches, those less than a pixel apart joined.
        double bar_from = 0, bar_to = -10;
        auto flush = [&] {
            if (bar_to >= bar_from)
                s += "<rect x=\"" + num(bar_from, "%.1f") + "\" y=\"" + num(y + 12) + "\" width=\"" +
                     num(std::max(0.5, bar_to - bar_from), "%.1f") + "\" height=\"18\" fill=\"#3c9a3c\"/>";
        };
        bool on = true;
        double since = t0;
        auto bar = [&](double until) {
            if (!on) return;
            double a = X(since), b = X(until);
            if (a > bar_to + 1) {
                flush();
                bar_from = a;
            }
            bar_to = std::max(bar_to, b);
        };
        for (const judge::PowerChange& ch : p.changes) {
            if (ch.port != port) continue;
            bar(ch.time);
            on = ch.on;
            since = ch.time;
        }
        bar(t1);
        flush();
        long last_look[2] = {-1, -1}, last_violation = -1;
        for (const judge::PortLook& l : p.looks) {
            long column = lround(X(l.time));
            if (l.port != port || column == last_look[l.in_use]) continue;
            last_look[l.in_use] = column;
            s += "<line x1=\"" + num(double(column)) + "\" y1=\"" + num(y + 32) + "\" x2=\"" + num(double(column)) +
                 "\" y2=\"" + num(y + 44) + "\" stroke-width=\"2\" stroke=\"" + (l.in_use ? "#d46b00" : "#555") + "\"/>";
        }
        for (const judge::Violation& v : p.violations) {
            long column = lround(X(v.time));
            if (v.port != port || column == last_violation) continue;
            last_violation = column;
            s += "<circle cx=\"" + num(double(column)) + "\" cy=\"" + num(y + 21) + "\" r=\"5\" fill=\"#d00\"><title>" +
                 esc(v.what) + "</title></circle>";
        }
    }
    for (double t : ticks(0, t1 - t0, 12))
        s += "<text x=\"" + num(X(t0 + t), "%.1f") + "\" y=\"" + num(kTop + 2 * row + 12) + "\" text-anchor=\"middle\">" +
             num(t) + "</text>";
    s += "<text x=\"" + num(kLeft + kPlotW / 2) + "\" y=\"" + num(h - 4) + "\" text-anchor=\"middle\">seconds into the run</text>";
    return part_note(trace_path, size, text.size()) + s + "</svg>";
}

std::string usb_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    if (c.name == "usb.ports") {
        std::string t = "<table><tr><th>port</th><th>present</th><th>role</th><th>GOTGCTL</th><th>bus connected</th>"
                        "<th>in use</th></tr>";
        for (const Json& p : json_items(json_member(c.figures, "ports"))) {
            auto cell = [&p](const char* key) { return esc(figure_text(json_member(p, key))); };
            t += "<tr><td>lm" + cell("port") + "</td><td>" + cell("present") + "</td><td>" + cell("role") + "</td><td>" +
                 cell("gotgctl") + "</td><td>" + cell("busconnected") + "</td><td>" + cell("in_use") + cell("problem") +
                 "</td></tr>";
        }
        return s + scrolling(t + "</table>") + evidence_list(c);
    }
    if (c.program.empty() || c.verdict == "skip") return s + figures_table(c) + evidence_list(c);
    double t0 = NAN;
    s += "<figure>" + usb_timeline(dir, c, &t0) +
         "<figcaption>Port power over the run: green while powered, ticks where the daemon read the port's "
         "status (orange: in use), the device's stay shaded, red marks where the power policy was broken"
         "</figcaption></figure>";
    return s + figures_table(c, t0) + evidence_list(c);
}

std::string gpu_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string png_path = evidence_path(c, ".png"), png;
    long long size = 0;
    // A screenshot is shown whole or not at all.
    if (!png_path.empty() && read_evidence(dir, png_path, &png, &size) && size == (long long)png.size() &&
        png.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0) {
        double fps = json_number_or(json_member(c.figures, "fps"), 0);
        s += "<figure><img alt=\"" + esc(c.program) + "\" width=\"320\" src=\"data:image/png;base64," + base64(png) +
             "\"><figcaption>" + esc(c.program) + (fps > 0 ? ": " + num(fps, "%.1f") + " frames per second" : "") +
             "</figcaption></figure>";
    }
    return s + figures_table(c) + evidence_list(c);
}

std::string egl_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string out_path = evidence_path(c, "configlist.out"), text;
    long long size = 0;
    if (!out_path.empty() && read_evidence(dir, out_path, &text, &size)) {
        EglReport r = parse_egl_report(text);
        s += part_note(out_path, size, text.size());
        if (!r.vendor.empty()) s += "<p>Vendor: " + esc(r.vendor) + ", EGL " + esc(r.version) + "</p>";
        if (!r.configs.empty()) {
            std::string t = "<table><tr><th>#</th><th>id</th><th>caveat</th><th>colour</th><th>R G B A</th><th>depth</th>"
                            "<th>samples</th><th>surfaces</th><th>APIs</th><th>ES 2.0 window</th></tr>";
            for (const EglConfig& e : r.configs)
                t += "<tr" + std::string(e.complete() ? "" : " class=\"fail\"") + "><td>" + num(e.index) + "</td><td>" +
                     num(e.id) + "</td><td>" + esc(e.caveat) + "</td><td>" + esc(e.buffer_type) + ", " + num(e.depth) +
                     " bits</td><td>" + num(e.red) + " " + num(e.green) + " " + num(e.blue) + " " + num(e.alpha) +
                     "</td><td>" + num(e.z) + "</td><td>" + num(e.samples) + "</td><td>" + esc(e.surfaces) + "</td><td>" +
                     esc(e.apis) + "</td><td>" + (e.es2_window() ? "yes" : "no") + "</td></tr>";
            s += scrolling(t + "</table>");
        }
    }
    return s + evidence_list(c);
}

const char* const kSubsystems[][2] = {
    {"audio", "Audio"}, {"usb", "USB"}, {"wifi", "Wi-Fi"}, {"gpu", "GPU"}, {"egl", "EGL"}};

}  // namespace

std::string render_report(const std::string& dir, const Results& r) {
    std::string host = json_string_or(json_member(r.board, "host"), "board");
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>bring-up check: " +
                    esc(host) + "</title><style>" + kStyle + "</style></head><body>\n";
    s += "<h1>bring-up check: " + esc(host) + "</h1>\n";
    size_t counts[3] = {0, 0, 0};
    for (const Check& c : r.checks) counts[c.verdict == "pass" ? 0 : c.verdict == "fail" ? 1 : 2]++;
    s += "<p>" + num(double(counts[0])) + " passed, " + num(double(counts[1])) + " failed, " + num(double(counts[2])) +
         " skipped; started " + esc(r.started) + ".</p>\n";
    std::string t = "<table><tr><th>check</th><th>verdict</th><th>program</th><th>reason</th><th>seconds</th></tr>\n";
    for (const Check& c : r.checks)
        t += "<tr><td><a href=\"#" + esc(c.name) + "\">" + esc(c.name) + "</a></td><td class=\"" + esc(c.verdict) + "\">" +
             esc(c.verdict) + "</td><td>" + esc(c.program) + "</td><td class=\"why\">" + esc(c.reason) + "</td><td>" +
             num(c.seconds, "%.1f") + "</td></tr>\n";
    s += scrolling(t + "</table>") + "\n<h2>Board</h2>";
    t = "<table>";
    for (const auto& m : r.board.items()) {
        const FigureLabel* label = figure_label(m.key());
        t += "<tr><th>" + esc(label ? label->label : m.key()) + "</th><td>" + esc(figure_text(m.value())) + "</td></tr>";
    }
    s += scrolling(t + "</table>") + "\n";
    for (const auto& sub : kSubsystems) {
        std::string part;
        for (const Check& c : r.checks) {
            if (c.subsystem != sub[0]) continue;
            std::string body;
            if (c.subsystem == "audio") body = audio_section(dir, c);
            else if (c.subsystem == "usb") body = usb_section(dir, c);
            else if (c.subsystem == "gpu") body = gpu_section(dir, c);
            else if (c.subsystem == "egl") body = egl_section(dir, c);
            else body = check_head(c) + figures_table(c) + evidence_list(c);
            part += "<section id=\"" + esc(c.name) + "\">" + body + "</section>\n";
        }
        if (!part.empty()) s += "<h2>" + std::string(sub[1]) + "</h2>\n" + part;
    }
    return s + "</body></html>\n";
}
