// The verdicts of one run and how they are written: results.json, results.xml (JUnit) and
// verdicts.txt ("<name> <verdict>" a line, then the check's main figure and its units when it has
// one: frames per second, seconds of audio, configurations; for shell-only consumers such as a
// board farm's run steps).
#pragma once

#include <string>
#include <vector>

#include "bringupcheck/json.h"
#include "bringupcheck/text.h"

// How a check ended, in the order the report counts them. Written as "pass", "fail" or "skip" in
// every file of the results.
enum class Verdict { Pass, Fail, Skip };
const char* verdict_name(Verdict v);
// False for any text other than the three names.
bool parse_verdict(const std::string& name, Verdict* v);

struct Check {
    std::string name;        // "audio.capture"
    std::string subsystem;   // audio, usb, wifi, egl, gpu
    std::string program;     // the suite's program it ran, or "" when it ran none
    Verdict verdict = Verdict::Skip;
    std::string reason;      // one line
    Json figures = Json::object();
    std::vector<std::string> evidence;  // paths relative to the output folder
    double seconds = 0;
    // The attempts that failed before this one (--retries), oldest first, each with its own
    // reason, time and evidence (in an attempt-N subfolder). A pass after them is flaky.
    std::vector<Check> attempts;

    bool flaky() const { return verdict == Verdict::Pass && !attempts.empty(); }
    Json to_json() const;
    static Check from_json(const Json& j);
};

struct Results {
    Json board = Json::object();   // host, kernel, controller, egl_vendor (and sim, when simulated)
    std::string started;           // local time, ISO 8601
    std::vector<Check> checks;
    Json comparison;               // with a baseline (compare.h), else null
};

// How many checks passed, failed and were skipped, and how many of the passes were flaky.
struct Counts {
    size_t passed = 0, failed = 0, skipped = 0, flaky = 0;
};
Counts count_verdicts(const Results& r);
// "10 passed (1 flaky: passed after retries), 1 failed, 1 skipped".
std::string counts_text(const Counts& n);

// The comparison's class of a check that regressed: it passed in the baseline and fails now.
inline constexpr const char kRegressionClass[] = "regression";
// The comparison's record of the check named `name`, or nullptr.
const Json* compared_check(const Results& r, const std::string& name);

std::string results_json(const Results& r);
// False with a one-line reason when the text is not results.json as we write it.
bool parse_results(const std::string& text, Results* r, std::string* error);
std::string results_junit(const Results& r);
std::string verdict_lines(const Results& r);
// The check's main figure as results.json has it, {"name", "value", "units"} (registry.h), or null
// when the check has none or did not measure it.
Json main_figure(const Check& c);
