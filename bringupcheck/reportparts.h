// The parts the report page is made of, shared by report.cpp (the page), reporttext.cpp (figures
// and links in words) and reportchart.cpp (the SVG charts).
#pragma once

#include <math.h>

#include <string>
#include <vector>

#include "bringupcheck/results.h"
#include "judge/usbpolicy.h"

namespace report {

// Text for HTML (see xml_escape), and a number in a printf format.
std::string esc(const std::string& s);
std::string num(double v, const char* format = "%g");

// A figure's value in words: yes or no, lists joined with "; ", "none" for an empty one.
std::string figure_text(const Json& v);

// A table that scrolls sideways in a narrow window instead of overflowing it.
std::string scrolling(const std::string& table);
// A check's heading, its figures in words (t0: the time a run's seconds count from, or NaN) and
// its evidence as links.
std::string check_head(const Check& c);
std::string figures_table(const Check& c, double t0 = NAN);
// Its evidence as links, then each earlier attempt's reason and evidence.
std::string evidence_list(const Check& c);
// Evidence paths as links, the paths relative to the folder `base` ("" for the page's own).
std::string evidence_links(const std::vector<std::string>& evidence, const std::string& base);
// A path inside the output folder as a relative link.
std::string href(const std::string& path);
// The folder `to` as a path relative to the folder `from` (both absolute: "../run"), or `to` as it
// is when either is not.
std::string relative_link(const std::string& from, const std::string& to);
// The board record as a table.
std::string board_table(const Json& board);

// A line chart of ys over xs, with labelled axes.
std::string line_chart(const std::vector<double>& xs, const std::vector<double>& ys, double x0, double x1, double y0,
                       double y1, const std::string& xlabel, const std::string& ylabel);
// Each port's power from t0 to t1 as the policy report has it, with the devices' stays (the
// "devices" figure).
std::string power_chart(const judge::PolicyReport& p, const Json& devices, double t0, double t1);

}  // namespace report
