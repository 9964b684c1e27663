// The report page: the verdicts, the board, and each subsystem's checks with their evidence drawn.
#include "bringupcheck/report.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>

#include "boardfiles/folderfile.h"
#include "bringupcheck/compare.h"
#include "bringupcheck/eglreport.h"
#include "bringupcheck/png.h"
#include "bringupcheck/registry.h"
#include "bringupcheck/reportparts.h"
#include "judge/capture.h"

using namespace report;

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

// The most of an evidence file that is read for the page: a capture of 87 s at 192000 bytes/s, a
// trace of some hundred thousand lines. What lies beyond is left out, and the page says so.
const size_t kMaxEvidenceBytes = 16 << 20;

std::string evidence_path(const Check& c, const std::string& suffix) {
    for (const std::string& e : c.evidence)
        if (e.size() >= suffix.size() && e.compare(e.size() - suffix.size(), suffix.size(), suffix) == 0) return e;
    return "";
}

// At most kMaxEvidenceBytes of an evidence file, with the file's whole size. Only a regular file
// inside `dir` is read, never through a link (a link may point anywhere), and without blocking (a
// FIFO or a device put in its place must not hold the page up).
bool read_evidence(const std::string& dir, const std::string& path, std::string* text, long long* size) {
    BoundedRead r;
    bool ok = read_in_folder(dir, path, kMaxEvidenceBytes, kNoLinks, text, &r);
    *size = r.size;
    return ok;
}

// What the page says of an evidence file of which only the first part was read.
std::string part_note(const std::string& path, long long size, size_t drawn) {
    if (size <= (long long)drawn) return "";
    return "<p>" + esc(path) + " holds " + num(double(size), "%.0f") + " bytes: only its first " + num(double(drawn), "%.0f") +
           " are drawn.</p>";
}

// The check's capture, whole frames of its first kMaxEvidenceBytes, with the rate it was played
// at and the file's size. False when there is none to draw.
bool read_capture(const std::string& dir, const Check& c, std::string* pcm, long long* rate, long long* size) {
    std::string path = evidence_path(c, "output.pcm");
    // results.json may come from elsewhere (--render): a rate out of all reason draws nothing.
    double rate_figure = json_number_or(json_member(c.figures, "rate"), double(bringup::board_default::audio_rate));
    *rate = rate_figure >= 4 && rate_figure <= 1e9 ? (long long)rate_figure : 0;
    if (path.empty() || !read_evidence(dir, path, pcm, size) || pcm->size() < 4 || *rate < 4) return false;
    pcm->resize(pcm->size() / 4 * 4);
    return true;
}

std::string level_chart(const std::string& pcm, long long rate) {
    std::vector<double> level = judge::level_over_time(pcm, rate, 0.05);
    std::vector<double> xs(level.size());
    for (size_t i = 0; i < xs.size(); ++i) xs[i] = (double(i) + 0.5) * 0.05;
    double dur = std::max(1.0, ceil(double(pcm.size()) / double(rate)));
    return line_chart(xs, level, 0, dur, -100, 0, "seconds into the capture", "level (dBFS)");
}

std::string audio_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string pcm;
    long long size = 0, rate = 0;
    if (read_capture(dir, c, &pcm, &rate, &size)) {
        // A long capture is drawn from its first part.
        if (size > (long long)pcm.size())
            s += "<p>The capture holds " + num(double(size) / double(rate), "%.1f") + " s of audio (" +
                 num(double(size), "%.0f") + " bytes): these figures draw its first " +
                 num(double(pcm.size()) / double(rate), "%.1f") + " s.</p>";
        s += "<figure>" + level_chart(pcm, rate) +
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
    return part_note(trace_path, size, text.size()) + power_chart(p, json_member(c.figures, "devices"), t0, t1);
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
    if (c.program.empty() || c.verdict == Verdict::Skip) return s + figures_table(c) + evidence_list(c);
    double t0 = NAN;
    s += "<figure>" + usb_timeline(dir, c, &t0) +
         "<figcaption>Port power over the run: green while powered, ticks where the daemon read the port's "
         "status (orange: in use), the device's stay shaded, red marks where the power policy was broken"
         "</figcaption></figure>";
    return s + figures_table(c, t0) + evidence_list(c);
}

// The check's screenshot, whole or not at all.
bool read_screenshot(const std::string& dir, const Check& c, std::string* png) {
    std::string path = evidence_path(c, ".png");
    long long size = 0;
    return !path.empty() && read_evidence(dir, path, png, &size) && size == (long long)png->size() &&
           png->compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0;
}

std::string gpu_section(const std::string& dir, const Check& c) {
    std::string s = check_head(c);
    std::string png;
    if (read_screenshot(dir, c, &png)) {
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

// The baseline's check as the comparison keeps it: its verdict and evidence.
Check baseline_check(const Json& k) {
    Check b;
    b.name = json_string_or(json_member(k, "name"), "");
    parse_verdict(json_string_or(json_member(k, "before"), ""), &b.verdict);
    // Only paths inside the baseline's folder, as for a run's own evidence.
    for (const Json& e : json_items(json_member(k, "evidence_before"))) {
        std::string path = json_string_or(e, "");
        if (!path.empty() && path[0] != '/' && path.find("..") == std::string::npos) b.evidence.push_back(path);
    }
    return b;
}

// Old and new side by side, for what is seen rather than read: a screenshot, the audio's level.
std::string side_by_side(const std::string& dir, const std::string& base_dir, const Check& before, const Check& now) {
    std::string figs[2];
    const std::pair<const std::string*, const Check*> runs[2] = {{&base_dir, &before}, {&dir, &now}};
    for (int i = 0; i < 2; ++i) {
        std::string png, pcm;
        long long rate = 0, size = 0;
        if (now.subsystem == "gpu" && read_screenshot(*runs[i].first, *runs[i].second, &png))
            figs[i] = "<img alt=\"" + esc(now.name) + "\" width=\"320\" src=\"data:image/png;base64," + base64(png) + "\">";
        else if (now.subsystem == "audio" && read_capture(*runs[i].first, *runs[i].second, &pcm, &rate, &size))
            figs[i] = level_chart(pcm, rate);
    }
    if (figs[0].empty() || figs[1].empty()) return "";
    return "<figure>" + figs[0] + "<figcaption>baseline</figcaption></figure><figure>" + figs[1] +
           "<figcaption>this run</figcaption></figure>";
}

// The section at the top of a run compared with a baseline: what changed, with links to both
// runs' evidence.
std::string compared_section(const std::string& dir, const Results& r) {
    const Json& cmp = r.comparison;
    std::string base = json_string_or(json_member(cmp, "baseline"), "");
    std::string link = relative_link(dir, base);
    std::string s = "<section id=\"compared\"><h2>Compared with</h2><p><a href=\"" + esc(href(link + "/report.html")) +
                    "\"><code>" + esc(base) + "</code></a>" +
                    (json_member(cmp, "baseline_started").is_string()
                         ? ", started " + esc(json_string_or(json_member(cmp, "baseline_started"), ""))
                         : "") +
                    ": <strong>" + esc(json_string_or(json_member(cmp, "summary"), "")) + "</strong></p>\n";
    for (const Json& n : json_items(json_member(cmp, "notes"))) s += "<p>Note: " + esc(json_string_or(n, "")) + "</p>\n";
    std::string rows, pictures;
    for (const Json& k : json_items(json_member(cmp, "checks"))) {
        std::string cls = json_string_or(json_member(k, "class"), "");
        const Json& drift = json_member(k, "drifted");
        if (cls.compare(0, 6, "still_") == 0 && drift.empty()) continue;
        if (cls == "skipped") continue;
        Check before = baseline_check(k);
        const Check* now = nullptr;
        for (const Check& c : r.checks)
            if (c.name == before.name) now = &c;
        std::string figures;
        for (const Json& d : json_items(drift)) figures += (figures.empty() ? "" : "<br>") + esc(json_string_or(json_member(d, "text"), ""));
        rows += "<tr><td>" + (now ? "<a href=\"#" + esc(before.name) + "\">" + esc(before.name) + "</a>" : esc(before.name)) +
                "</td><td class=\"" + (cls == kRegressionClass ? "fail" : cls == "fixed" ? "pass" : "") + "\">" +
                esc(class_words(cls)) + "</td><td>" + esc(json_string_or(json_member(k, "verdicts"), "")) + "</td><td>" + figures + "</td><td>" +
                evidence_links(before.evidence, link) + "</td><td>" + (now ? evidence_links(now->evidence, "") : "") +
                "</td></tr>\n";
        if (now) {
            std::string pair = side_by_side(dir, base, before, *now);
            if (!pair.empty()) pictures += "<h3>" + esc(now->name) + "</h3>" + pair + "\n";
        }
    }
    if (!rows.empty())
        s += scrolling("<table><tr><th>check</th><th>what changed</th><th>verdict</th><th>figures outside their "
                       "tolerance</th><th>baseline's evidence</th><th>this run's evidence</th></tr>\n" + rows + "</table>");
    std::string around;
    for (const Json& c : json_items(json_member(cmp, "surroundings")))
        around += "<tr><th>" + esc(json_string_or(json_member(c, "what"), "")) + "</th><td>" +
                  esc(json_string_or(json_member(c, "before"), "")) + "</td><td>" +
                  esc(json_string_or(json_member(c, "now"), "")) + "</td></tr>\n";
    if (!around.empty())
        s += "<h3>Around the board</h3>" + scrolling("<table><tr><th></th><th>baseline</th><th>this run</th></tr>\n" +
                                                      around + "</table>");
    return s + pictures + "</section>\n";
}

// A check with nothing of its own to draw: its figures and evidence.
std::string plain_section(const std::string&, const Check& c) { return check_head(c) + figures_table(c) + evidence_list(c); }

// Each subsystem's section of the page: its heading, its place, and how each of its checks is drawn.
struct Section {
    const char* subsystem;
    const char* title;
    int place;
    std::string (*draw)(const std::string& dir, const Check& c);
};
#define BRINGUP_SECTION_ROW(name, title, report_place, checks, section) {#name, title, report_place, section},
const Section kSections[] = {BRINGUP_CHECKS(BRINGUP_SECTION_ROW, BRINGUP_NO_ROW)};
#undef BRINGUP_SECTION_ROW

}  // namespace

std::string render_report(const std::string& dir, const Results& r) {
    std::string host = json_string_or(json_member(r.board, "host"), "board");
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>bring-up check: " +
                    esc(host) + "</title><style>" + kStyle + "</style></head><body>\n";
    s += "<h1>bring-up check: " + esc(host) + "</h1>\n";
    s += "<p>" + esc(counts_text(count_verdicts(r))) + "; started " + esc(r.started) + ".</p>\n";
    if (r.comparison.is_object()) s += compared_section(dir, r);
    std::string t = "<table><tr><th>check</th><th>verdict</th><th>program</th><th>reason</th><th>seconds</th></tr>\n";
    for (const Check& c : r.checks)
        t += "<tr><td><a href=\"#" + esc(c.name) + "\">" + esc(c.name) + "</a></td><td class=\"" + verdict_name(c.verdict) +
             "\">" + verdict_name(c.verdict) +
             (c.flaky() ? " (flaky)" : "") + "</td><td>" + esc(c.program) + "</td><td class=\"why\">" + esc(c.reason) + "</td><td>" +
             num(c.seconds, "%.1f") + "</td></tr>\n";
    s += scrolling(t + "</table>") + "\n<h2>Board</h2>";
    s += board_table(r.board) + "\n";
    const int places = int(sizeof kSections / sizeof kSections[0]);
    for (int place = 0; place < places; ++place)
        for (const Section& sub : kSections) {
            if (sub.place != place) continue;
            std::string part;
            for (const Check& c : r.checks)
                if (c.subsystem == sub.subsystem)
                    part += "<section id=\"" + esc(c.name) + "\">" + sub.draw(dir, c) + "</section>\n";
            if (!part.empty()) s += "<h2>" + std::string(sub.title) + "</h2>\n" + part;
        }
    return s + "</body></html>\n";
}
