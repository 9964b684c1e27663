// Reading a simulated board's trace (include/bringup/trace_line.h has the line format).
#pragma once

#include <string>
#include <vector>

#include "bringup/trace_line.h"

namespace judge {

using bringup::TraceRecord;

struct Trace {
    std::vector<TraceRecord> records;  // in file order
    size_t bad_lines = 0;              // whole lines that are not trace lines
};

// Parses a trace's text. A last line without its line end is still being written and is left
// out; it does not count as bad.
Trace parse_trace(const std::string& text);

// Reads and parses a trace file; false (with a one-line reason) when it cannot be read.
bool read_trace(const std::string& path, Trace* trace, std::string* error);

// The bytes a read or write record carries (its detail decoded); false when the detail is not a
// byte literal.
bool record_bytes(const TraceRecord& record, std::string* bytes);

}  // namespace judge
