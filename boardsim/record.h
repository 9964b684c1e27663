// Recording a board's state as simulated-board settings (`boardsim record`).
#pragma once

#include <string>

namespace boardsim {

// board.conf lines (settings, and comments saying what was found) for the attributes under
// <root>/sys and the devices under <root>/dev; root "" is this system.
std::string record_settings(const std::string& root);

// Bytes as a setting value the USB model decodes (C escapes, \xHH for anything else that is not
// plain printable text, and for '#' and '"').
std::string conf_escape(const std::string& bytes);

// A measured audio byte rate as the nominal rate within 3% of it (sample rate times 2, 4 or 8
// bytes a frame), or else rounded to whole 4-byte frames.
long long snap_rate(double measured);

}  // namespace boardsim
