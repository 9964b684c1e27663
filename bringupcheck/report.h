// report.html: one self-contained page drawn from results.json and the evidence beside it, so that
// it can be made again on any machine.
#pragma once

#include <string>

#include "bringupcheck/results.h"

// The page for the results of the run in `dir`; reads the evidence files from there.
std::string render_report(const std::string& dir, const Results& results);
