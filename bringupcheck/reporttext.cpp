// Figures, links and headings of the report page in words. See reportparts.h.
#include <stdio.h>

#include <cctype>
#include <cmath>

#include "bringupcheck/reportparts.h"

namespace report {

namespace {

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
    std::string v = verdict_name(c.verdict);
    return "<h3>" + esc(c.name) + " <span class=\"" + v + "\">" + v + "</span></h3><p>" + esc(c.reason) + "</p>";
}

std::string board_table(const Json& board) {
    std::string t = "<table>";
    for (const auto& m : board.items()) {
        const FigureLabel* label = figure_label(m.key());
        t += "<tr><th>" + esc(label ? label->label : m.key()) + "</th><td>" + esc(figure_text(m.value())) + "</td></tr>";
    }
    return scrolling(t + "</table>");
}

}  // namespace report
