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

    Json to_json() const;
    static Check from_json(const Json& j);
};

struct Results {
    Json board = Json::object();   // host, kernel, controller, egl_vendor (and sim, when simulated)
    std::string started;           // local time, ISO 8601
    std::vector<Check> checks;
};

std::string results_json(const Results& r);
// False with a one-line reason when the text is not results.json as we write it.
bool parse_results(const std::string& text, Results* r, std::string* error);
std::string results_junit(const Results& r);
std::string verdict_lines(const Results& r);
