#include "report.h"

#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "capture.h"
#include "eglreport.h"
#include "png.h"
#include "usbpolicy.h"

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:2em;color:#222;max-width:60em}"
    "table{border-collapse:collapse;margin:.5em 0 1em}td,th{border:1px solid #ccc;padding:.25em .6em;"
    "text-align:left;vertical-align:top}th{background:#f2f2f2}"
    ".pass{background:#d9f2d9}.fail{background:#f8d0d0}.skip{background:#eee;color:#666}"
    "h2{border-bottom:1px solid #ccc;margin-top:2em}figure{display:inline-block;margin:0 1em 1em 0}"
    "figcaption{font-size:90%;color:#444}svg text{font-size:11px;font-family:sans-serif}"
    "code{background:#f4f4f4;padding:0 .2em}";

const int kChartW = 720, kChartH = 220, kLeft = 50, kRight = 15, kTop = 15, kBottom = 35;

std::string esc(const std::string& s) { return xml_escape(s); }

std::string num(double v, const char* format = "%g") {
    char buf[64];
    snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string figure_text(const Json& v) {
    switch (v.type) {
        case Json::String: return v.str;
        case Json::Number: return num(v.num, "%.10g");
        case Json::Bool: return v.b ? "yes" : "no";
        case Json::Null: return "";
        case Json::Array: {
            std::string s;
            for (const Json& i : v.items) s += (s.empty() ? "" : "; ") + figure_text(i);
            return s;
        }
        case Json::Object: return v.dump();
    }
    return "";
}

std::string evidence_path(const Check& c, const std::string& suffix) {
    for (const std::string& e : c.evidence)
        if (e.size() >= suffix.size() && e.compare(e.size() - suffix.size(), suffix.size(), suffix) == 0) return e;
    return "";
}

// An evidence file's contents, read only when it is a regular file (a FIFO or a device put in its
// place must not hold the page up).
bool read_evidence(const std::string& dir, const std::string& path, std::string* text) {
    int fd = open((dir + "/" + path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    text->clear();
    char buf[65536];
    ssize_t n = 0;
    while (ok && (n = read(fd, buf, sizeof buf)) > 0) text->append(buf, size_t(n));
    close(fd);
    return ok && n == 0;
}

// A line chart of ys over xs in a plot area with labelled axes.
std::string line_chart(const std::vector<double>& xs, const std::vector<double>& ys, double x0, double x1, double y0,
                       double y1, const std::string& xlabel, const std::string& ylabel, double xstep, double ystep) {
    int pw = kChartW - kLeft - kRight, ph = kChartH - kTop - kBottom;
    auto X = [&](double x) { return kLeft + (x - x0) / (x1 - x0) * pw; };
    auto Y = [&](double y) { return kTop + (1 - (std::min(std::max(y, y0), y1) - y0) / (y1 - y0)) * ph; };
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kChartW) + "\" height=\"" + num(kChartH) +
                    "\" viewBox=\"0 0 " + num(kChartW) + " " + num(kChartH) + "\">";
    s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(pw) + "\" height=\"" + num(ph) +
         "\" fill=\"#fafafa\" stroke=\"#999\"/>";
    for (double x = ceil(x0 / xstep) * xstep; x <= x1 + 1e-9; x += xstep)
        s += "<line x1=\"" + num(X(x), "%.1f") + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(X(x), "%.1f") + "\" y2=\"" +
             num(kTop + ph) + "\" stroke=\"#e4e4e4\"/><text x=\"" + num(X(x), "%.1f") + "\" y=\"" + num(kTop + ph + 14) +
             "\" text-anchor=\"middle\">" + num(x) + "</text>";
    for (double y = ceil(y0 / ystep) * ystep; y <= y1 + 1e-9; y += ystep)
        s += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(Y(y), "%.1f") + "\" x2=\"" + num(kLeft + pw) + "\" y2=\"" +
             num(Y(y), "%.1f") + "\" stroke=\"#e4e4e4\"/><text x=\"" + num(kLeft - 4) + "\" y=\"" + num(Y(y) + 4, "%.1f") +
             "\" text-anchor=\"end\">" + num(y) + "</text>";
    s += "<text x=\"" + num(kLeft + pw / 2) + "\" y=\"" + num(kChartH - 4) + "\" text-anchor=\"middle\">" + esc(xlabel) +
         "</text><text x=\"12\" y=\"" + num(kTop + ph / 2) + "\" transform=\"rotate(-90 12 " + num(kTop + ph / 2) +
         ")\" text-anchor=\"middle\">" + esc(ylabel) + "</text>";
    if (!xs.empty()) {
        s += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" points=\"";
        for (size_t i = 0; i < xs.size(); ++i) s += num(X(xs[i]), "%.1f") + "," + num(Y(ys[i]), "%.1f") + " ";
        s += "\"/>";
    }
    return s + "</svg>";
}

std::string figures_table(const Check& c) {
    if (c.figures.members.empty()) return "";
    std::string s = "<table>";
    for (const auto& m : c.figures.members)
        s += "<tr><th>" + esc(m.first) + "</th><td>" + esc(figure_text(m.second)) + "</td></tr>";
    return s + "</table>";
}

std::string evidence_list(const Check& c) {
    if (c.evidence.empty()) return "";
    std::string s = "<p>Evidence:";
    for (const std::string& e : c.evidence) s += " <code>" + esc(e) + "</code>";
    return s + "</p>";
}

std::string check_head(const Check& c) {
    return "<h3>" + esc(c.name) + " <span class=\"" + esc(c.verdict) + "\">" + esc(c.verdict) + "</span></h3><p>" +
           esc(c.reason) + "</p>";
}

std::string audio_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string pcm_path = evidence_path(c, "output.pcm"), pcm;
    // results.json may come from elsewhere (--render): a rate out of all reason draws nothing.
    double rate_figure = c.figures.get("rate").number_or(192000);
    long long rate = rate_figure >= 4 && rate_figure <= 1e9 ? (long long)rate_figure : 0;
    if (!pcm_path.empty() && read_evidence(dir, pcm_path, &pcm) && pcm.size() >= 4 && rate >= 4) {
        std::vector<double> level = judge::level_over_time(pcm, rate, 0.05);
        std::vector<double> xs(level.size());
        for (size_t i = 0; i < xs.size(); ++i) xs[i] = (double(i) + 0.5) * 0.05;
        double dur = std::max(1.0, ceil(double(pcm.size()) / double(rate)));
        s += "<figure>" + line_chart(xs, level, 0, dur, -100, 0, "seconds into the capture", "level (dBFS)",
                                     dur > 20 ? 5 : 1, 20) +
             "<figcaption>Level over time (RMS of 50 ms windows, both channels)</figcaption></figure>";
        double bin = 0;
        std::vector<double> magnitudes = judge::spectrum(pcm, rate, 8192, &bin);
        if (!magnitudes.empty()) {
            std::vector<double> fx(magnitudes.size());
            for (size_t i = 0; i < fx.size(); ++i) fx[i] = double(i) * bin / 1000.0;
            double top = double(rate) / 8000.0;
            s += "<figure>" + line_chart(fx, magnitudes, 0, top, -140, 0, "frequency (kHz)", "magnitude (dBFS)",
                                         top > 20 ? 5 : 1, 20) +
                 "<figcaption>Spectrum of the left channel, 8192 frames from the middle of the capture (Hann window)"
                 "</figcaption></figure>";
        }
    } else {
        s += "<p>No capture to draw.</p>";
    }
    return s + figures_table(c) + evidence_list(c);
}

// Each port's power over the run: a bar while powered, ticks where the daemon looked, red marks at
// violations, the device's stay shaded.
std::string usb_timeline(const std::string& dir, const Check& c) {
    std::string trace_path = evidence_path(c, ".trace");
    std::string text;
    if (trace_path.empty() || !read_evidence(dir, trace_path, &text)) return "<p>No trace: no power timeline.</p>";
    judge::Trace trace = judge::parse_trace(text);
    if (trace.records.empty()) return "<p>No trace: no power timeline.</p>";
    judge::PolicyOptions o;
    o.save_policy = c.figures.get("save_policy").b;
    o.port0_busvalid_rule = c.figures.get("port0_busvalid_rule").type != Json::Bool || c.figures.get("port0_busvalid_rule").b;
    judge::PolicyReport p = judge::judge_power_policy(trace, o);
    double t0 = p.start, t1 = std::max(p.end, p.start + 1);
    int pw = kChartW - kLeft - kRight;
    auto X = [&](double t) { return kLeft + (t - t0) / (t1 - t0) * pw; };
    const int row = 50, h = 2 * row + kTop + kBottom;
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kChartW) + "\" height=\"" + num(h) + "\">";
    for (int port = 0; port < 2; ++port) {
        double y = kTop + port * row;
        s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(y + 24) + "\" text-anchor=\"end\">lm" + num(port) + "</text>";
        s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(y + 8) + "\" width=\"" + num(pw) + "\" height=\"26\" fill=\"#f4f4f4\"/>";
        for (const Json& d : c.figures.get("devices").items)
            if (d.items.size() == 3 && d.items[0].num == port)
                s += "<rect x=\"" + num(X(d.items[1].num), "%.1f") + "\" y=\"" + num(y + 4) + "\" width=\"" +
                     num(std::max(1.0, X(d.items[2].num) - X(d.items[1].num)), "%.1f") +
                     "\" height=\"34\" fill=\"#f3d9a4\"><title>device attached</title></rect>";
        bool on = true;
        double since = t0;
        auto bar = [&](double until) {
            if (on)
                s += "<rect x=\"" + num(X(since), "%.1f") + "\" y=\"" + num(y + 12) + "\" width=\"" +
                     num(std::max(0.5, X(until) - X(since)), "%.1f") + "\" height=\"18\" fill=\"#3c9a3c\"/>";
        };
        for (const judge::PowerChange& ch : p.changes) {
            if (ch.port != port) continue;
            bar(ch.time);
            on = ch.on;
            since = ch.time;
        }
        bar(t1);
        for (const judge::PortLook& l : p.looks)
            if (l.port == port)
                s += "<line x1=\"" + num(X(l.time), "%.1f") + "\" y1=\"" + num(y + 32) + "\" x2=\"" + num(X(l.time), "%.1f") +
                     "\" y2=\"" + num(y + 44) + "\" stroke-width=\"2\" stroke=\"" + (l.in_use ? "#d46b00" : "#555") + "\"/>";
        for (const judge::Violation& v : p.violations)
            if (v.port == port)
                s += "<circle cx=\"" + num(X(v.time), "%.1f") + "\" cy=\"" + num(y + 21) + "\" r=\"5\" fill=\"#d00\"><title>" +
                     esc(v.what) + "</title></circle>";
    }
    double span = t1 - t0, step = span > 30 ? 10 : span > 8 ? 2 : 1;
    for (double t = 0; t <= span + 1e-9; t += step)
        s += "<text x=\"" + num(X(t0 + t), "%.1f") + "\" y=\"" + num(kTop + 2 * row + 12) + "\" text-anchor=\"middle\">" +
             num(t) + "</text>";
    s += "<text x=\"" + num(kLeft + pw / 2) + "\" y=\"" + num(h - 4) + "\" text-anchor=\"middle\">seconds into the run</text>";
    return s + "</svg>";
}

std::string usb_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    if (c.name == "usb.ports") {
        s += "<table><tr><th>port</th><th>present</th><th>role</th><th>GOTGCTL</th><th>bus connected</th><th>in use</th></tr>";
        for (const Json& p : c.figures.get("ports").items)
            s += "<tr><td>lm" + figure_text(p.get("port")) + "</td><td>" + figure_text(p.get("present")) + "</td><td>" +
                 esc(figure_text(p.get("role"))) + "</td><td>" + esc(figure_text(p.get("gotgctl"))) + "</td><td>" +
                 esc(figure_text(p.get("busconnected"))) + "</td><td>" + esc(figure_text(p.get("in_use"))) +
                 esc(figure_text(p.get("problem"))) + "</td></tr>";
        return s + "</table>" + evidence_list(c);
    }
    if (c.program.empty() || c.verdict == "skip") return s + figures_table(c) + evidence_list(c);
    s += "<figure>" + usb_timeline(dir, c) +
         "<figcaption>Port power over the run: green while powered, ticks where the daemon read the port's "
         "status (orange: in use), the device's stay shaded, red marks where the power policy was broken"
         "</figcaption></figure>";
    return s + figures_table(c) + evidence_list(c);
}

std::string gpu_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string png_path = evidence_path(c, ".png"), png;
    if (!png_path.empty() && read_evidence(dir, png_path, &png) && png.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0) {
        double fps = c.figures.get("fps").number_or(0);
        s += "<figure><img alt=\"" + esc(c.program) + "\" width=\"320\" src=\"data:image/png;base64," + base64(png) +
             "\"><figcaption>" + esc(c.program) + (fps > 0 ? ": " + num(fps, "%.1f") + " frames per second" : "") +
             "</figcaption></figure>";
    }
    return s + figures_table(c) + evidence_list(c);
}

std::string egl_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string out_path = evidence_path(c, "configlist.out"), text;
    if (!out_path.empty() && read_evidence(dir, out_path, &text)) {
        EglReport r = parse_egl_report(text);
        if (!r.vendor.empty()) s += "<p>Vendor: " + esc(r.vendor) + ", EGL " + esc(r.version) + "</p>";
        if (!r.configs.empty()) {
            s += "<table><tr><th>#</th><th>id</th><th>caveat</th><th>colour</th><th>R G B A</th><th>depth</th>"
                 "<th>samples</th><th>surfaces</th><th>APIs</th><th>ES 2.0 window</th></tr>";
            for (const EglConfig& e : r.configs)
                s += "<tr" + std::string(e.complete() ? "" : " class=\"fail\"") + "><td>" + num(e.index) + "</td><td>" +
                     num(e.id) + "</td><td>" + esc(e.caveat) + "</td><td>" + esc(e.buffer_type) + ", " + num(e.depth) +
                     " bits</td><td>" + num(e.red) + " " + num(e.green) + " " + num(e.blue) + " " + num(e.alpha) +
                     "</td><td>" + num(e.z) + "</td><td>" + num(e.samples) + "</td><td>" + esc(e.surfaces) + "</td><td>" +
                     esc(e.apis) + "</td><td>" + (e.es2_window() ? "yes" : "no") + "</td></tr>";
            s += "</table>";
        }
    }
    return s + evidence_list(c);
}

const char* const kSubsystems[][2] = {
    {"audio", "Audio"}, {"usb", "USB"}, {"wifi", "Wi-Fi"}, {"gpu", "GPU"}, {"egl", "EGL"}};

}  // namespace

std::string render_report(const std::string& dir, const Results& r) {
    std::string host = r.board.get("host").string_or("board");
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>bring-up check: " + esc(host) +
                    "</title><style>" + kStyle + "</style></head><body>\n";
    s += "<h1>bring-up check: " + esc(host) + "</h1>\n";
    size_t counts[3] = {0, 0, 0};
    for (const Check& c : r.checks) counts[c.verdict == "pass" ? 0 : c.verdict == "fail" ? 1 : 2]++;
    s += "<p>" + num(double(counts[0])) + " passed, " + num(double(counts[1])) + " failed, " + num(double(counts[2])) +
         " skipped; started " + esc(r.started) + ".</p>\n";
    s += "<table><tr><th>check</th><th>verdict</th><th>program</th><th>reason</th><th>seconds</th></tr>\n";
    for (const Check& c : r.checks)
        s += "<tr><td><a href=\"#" + esc(c.name) + "\">" + esc(c.name) + "</a></td><td class=\"" + esc(c.verdict) + "\">" +
             esc(c.verdict) + "</td><td>" + esc(c.program) + "</td><td>" + esc(c.reason) + "</td><td>" +
             num(c.seconds, "%.1f") + "</td></tr>\n";
    s += "</table>\n<h2>Board</h2><table>";
    for (const auto& m : r.board.members)
        s += "<tr><th>" + esc(m.first) + "</th><td>" + esc(figure_text(m.second)) + "</td></tr>";
    s += "</table>\n";
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
