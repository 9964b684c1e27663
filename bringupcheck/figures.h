// The figures a check keeps in results.json: what a board engineer calls each, how its value
// reads, and how far it may move from a baseline's before it has drifted. One table
// (figures.cpp), read by the report page and by the comparison with a baseline.
#pragma once

#include <map>
#include <string>

#include "bringupcheck/json.h"

// How a figure's value reads on the page.
enum FigureKind { kPlain, kPerPort, kDevices, kPercent };

// How far a figure may move from the baseline's value. `tolerance` below is the allowance:
//   kWithin    |now - before| <= tolerance (0: exact; texts, yes/no and lists must be equal)
//   kShare     |now - before| <= tolerance * |before|
//   kNotUp     now - before <= tolerance (a count of problems: never up from the baseline's)
//   kNotDown   before - now <= tolerance * |before| (a rate: not down by more than a share)
//   kIgnored   not compared (it varies from run to run by nature: times, counts of cycles)
enum DriftRule { kWithin, kShare, kNotUp, kNotDown, kIgnored };

struct Figure {
    const char* key;
    const char* label;
    FigureKind kind;
    DriftRule rule;
    double tolerance;
};

// The figure named `key` in results.json (or the board record), or nullptr.
const Figure* find_figure(const std::string& key);

// Tolerances set on the command line (--tolerance NAME=VALUE), by figure key.
using Tolerances = std::map<std::string, double>;

// Reads "NAME=VALUE" into `t`. False with a one-line reason: no such figure, one that is never
// compared, or a value that is not a number from 0 up.
bool parse_tolerance(const std::string& arg, Tolerances* t, std::string* error);

// Whether `now` lies within the figure's tolerance of `before` (an override from `t` first).
bool within_tolerance(const Figure& f, const Tolerances& t, const Json& before, const Json& now);
// The rule in words with its allowance: "within 2%", "never up", "not down by more than 20%".
std::string tolerance_text(const Figure& f, const Tolerances& t);
