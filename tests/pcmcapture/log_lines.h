// pcmcapture's log lines as it prints them ("<level>/<tag>: <text>"), made from its own message
// texts, so that the tests expect exactly what the program says.
#pragma once

#include <stdio.h>

#include <string>

#include "pcmcapture/messages.h"

namespace loglines {

// A format without the line end it carries.
inline std::string text_of(const char* format) {
    std::string s = format;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// A fixed message's line, without its line end.
inline std::string line(char level, const char* text) {
    return std::string(1, level) + "/" + pcmlog::kTag + ": " + text_of(text);
}

// A format's line with its numbers filled in, without its line end.
template <typename... Args>
std::string line(char level, const char* format, Args... args) {
    char text[256];
    snprintf(text, sizeof text, format, args...);
    return line(level, text);
}

// A format's line as an sscanf pattern: the format's own conversions, then %n for the length read.
inline std::string pattern(char level, const char* format) { return line(level, format) + "%n"; }

}  // namespace loglines
