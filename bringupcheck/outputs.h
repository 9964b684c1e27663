// The files of a run's results and the folder that holds them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bringupcheck/checks.h"
#include "bringupcheck/figures.h"

// The run did not complete: its output folder was refused, or a file of its results could not be
// written. A board farm then knows that the folder does not hold this run's verdicts.
const int kNotCompleted = 3;

// Makes the output folder `out` (or, when it is "", a new one named `fresh`) and sets ctx.out;
// refuses it, or any subsystem's subfolder already there, that is unfit to write into (saying why),
// and removes the results an earlier run left there. 0, or kNotCompleted.
int make_output_folder(Context& ctx, std::string out, const std::string& fresh);

// Writes each file of the results; the paths that could not be written, each with its errno.
// The XML, the verdicts and the page are drawn from the results as results.json reads back (so
// that --render makes the same page), whether or not results.json itself could be written.
std::vector<std::pair<std::string, int>> write_outputs(const std::string& dir, const Results& r);

// Writes the results once more at the end of the run, names each file that could not be written,
// says what the comparison with a baseline found and where the report is. The run's exit status:
// a failed check or a regression (with --strict, a drifted figure too) fail it.
int finish_outputs(const Context& ctx);

// --compare: the run in `new_dir` compared with the one in `old_dir`, its results files written
// again with the comparison. 0, 1 for a regression (with `strict`, a drift) or results that
// cannot be read, kNotCompleted when a file cannot be written.
int compare_runs(const std::string& old_dir, const std::string& new_dir, const Tolerances& t, bool strict);

// --render: report.html made again from results.json and the evidence. The exit status.
int render(const std::string& dir);
