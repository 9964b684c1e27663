// Recording a board's state as simulated-board settings (`boardsim record`).
#pragma once

#include <string>
#include <vector>

namespace boardsim {

// board.conf lines (settings, and comments saying what was found) for the attributes under
// <root>/sys and the devices under <root>/dev; root "" is this system.
std::string record_settings(const std::string& root);

struct Setting {
    std::string key, value;
};

// The settings that make a port of the simulated board show the status texts read from a real one
// (null: not read): the USB model's role, bus-valid and attached settings where the model prints
// the same text, otherwise the text itself, quoted and escaped.
std::vector<Setting> status_settings(int port, const std::string* gotgctl, const std::string* busconnected);

// Bytes as a setting value the USB model decodes (C escapes, \xHH for anything else that is not
// plain printable text, and for '#' and '"').
std::string conf_escape(const std::string& bytes);

// A measured audio byte rate as the nominal rate within 3% of it (sample rate times 2, 4 or 8
// bytes a frame), or else rounded to whole 4-byte frames.
long long snap_rate(double measured);

}  // namespace boardsim
