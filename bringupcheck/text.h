// Text from outside (a board's attributes, a program's output, a host name) may hold any bytes.
// Everything bringup-check writes goes through these: valid UTF-8, with every byte that is not
// part of a valid UTF-8 sequence read as U+FFFD, and control characters escaped or replaced.
#pragma once

#include <string>
#include <vector>

// Appends the code point (below U+110000) in UTF-8.
void append_utf8(unsigned cp, std::string* out);

// The text as valid UTF-8: each byte that does not belong to a well-formed sequence (a stray
// continuation byte, a truncated or overlong sequence, a surrogate, beyond U+10FFFF) becomes U+FFFD.
std::string valid_utf8(const std::string& bytes);

// The body of a JSON string literal (no quotes): valid UTF-8, `"` and `\` escaped, control
// characters (C0, DEL, C1) as \n, \r, \t or \u00XX.
std::string json_escape(const std::string& bytes);

// For XML and HTML: valid UTF-8 with &, <, >, " and ' escaped. Control characters that XML 1.0
// does not allow (C0 other than tab, line feed and carriage return, even as references), and DEL,
// C1 and the non-characters U+FFFE and U+FFFF, become U+FFFD.
std::string xml_escape(const std::string& bytes);

// For a terminal: valid UTF-8 with control characters escaped as in results.json (\t, \u001b, ...),
// so that nothing a board says can move the cursor or change the terminal's state.
std::string terminal_text(const std::string& bytes);

// The lines of a program's output without their line ends; a last line without one is kept.
std::vector<std::string> split_lines(const std::string& text);
