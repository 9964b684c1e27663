// A run compared with a baseline (an earlier run's output folder): each check's verdict classed,
// its figures against the baseline's within their tolerances (figures.h), and what changed around
// the board. The comparison is a JSON object kept in results.json, from which the terminal's
// lines, the report's "Compared with" section and the JUnit marks are all drawn.
#pragma once

#include <string>
#include <vector>

#include "bringupcheck/figures.h"
#include "bringupcheck/results.h"

// Reads DIR/results.json as --render does: only a regular file inside DIR, never through a link,
// at most kMaxResultsBytes. False with a one-line reason ("DIR/results.json: ...").
const size_t kMaxResultsBytes = 16 << 20;
bool read_results_folder(const std::string& dir, Results* r, std::string* error);

// The comparison object of `now` against `before`, the results in the folder `baseline` (absolute);
// with `strict`, drift fails it as a regression does.
Json compare_results(const Results& before, const Results& now, const std::string& baseline, const Tolerances& t,
                     bool strict);
// A comparison that could not be made: the baseline's folder and why.
Json comparison_error(const std::string& baseline, const std::string& why);

// The terminal's lines: one per changed check, drifted figure and change around the board, then
// "compared with DIR: <summary>".
std::vector<std::string> comparison_lines(const Json& comparison);
// Whether the comparison fails the run: a regression, or when it is strict a drifted figure too.
bool comparison_fails(const Json& comparison);
// comparison.txt, for a board farm's shell: one line for each of regressions, fixed checks and
// drifted figures, "<name> <pass|fail> <count> <units>" (fail: it fails the run).
std::string comparison_counts(const Json& comparison);

// A class's name in words ("still failing"), for the page.
std::string class_words(const std::string& cls);
