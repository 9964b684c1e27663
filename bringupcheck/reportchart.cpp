// The report page's SVG charts. Each keeps its size whatever the figures: at most a dozen ticks an
// axis, and marks that fall in one pixel column drawn once. See reportparts.h.
#include <math.h>

#include <algorithm>
#include <cmath>

#include "bringupcheck/reportparts.h"

namespace report {

namespace {

const int kChartW = 720, kChartH = 220, kLeft = 50, kRight = 15, kTop = 15, kBottom = 35;
const int kPlotW = kChartW - kLeft - kRight;

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

}  // namespace

// Points that fall in one pixel column are drawn as that column's lowest and highest.
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

// A bar while powered, ticks where the daemon looked, red marks at violations, the device's stay
// shaded.
std::string power_chart(const judge::PolicyReport& p, const Json& devices, double t0, double t1) {
    auto X = [&](double t) { return x_pixel(t, t0, t1); };
    const int row = 50, h = 2 * row + kTop + kBottom;
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kChartW) + "\" height=\"" + num(h) +
                    "\" viewBox=\"0 0 " + num(kChartW) + " " + num(h) + "\">";
    for (int port = 0; port < 2; ++port) {
        double y = kTop + port * row;
        s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(y + 24) + "\" text-anchor=\"end\">lm" + num(port) + "</text>";
        s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(y + 8) + "\" width=\"" + num(kPlotW) +
             "\" height=\"26\" fill=\"#f4f4f4\"/>";
        for (const Json& d : json_items(devices))
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
    return s + "</svg>";
}

}  // namespace report
