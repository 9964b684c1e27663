// The trace line of a simulated board (preloaded or in the kernel): written by the board, read
// back by the judge library, the tests and bring-up tools. Header-only, so that each binary gets its
// own copy.
//
// "<seconds since the epoch, 6 decimals>\t<pid>\t<op>\t<path>\t<detail>\t<result>\n"
// op is one of kTraceOps. detail for read and write is the bytes as a C string literal ("on",
// "1\n", "\001"); for ioctl the request in hex and, where the request takes one, its argument
// ("0x40044102 4096"); for open the fopen mode or the open flags.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace bringup {

const char* const kTraceOps[] = {"open", "read", "write", "close", "ioctl", "access", "stat", "fault"};

// Detail of the audio driver's "fault" line when the hardware position laps the read position:
// this word, a space, then the bytes lost.
const char kTraceOverrun[] = "overrun";

struct TraceRecord {
    double time = 0;       // seconds since the epoch
    long pid = 0;
    std::string op, path, detail;
    long long result = 0;
};

// An ioctl request as the trace writes it: its number in hexadecimal ("0x40044102").
inline std::string trace_request(unsigned long request) {
    char text[24];
    snprintf(text, sizeof text, "0x%lx", request);
    return text;
}

// Bytes as a C string literal with its quotes: "on", "1\n", "\001".
inline std::string trace_literal(const char* bytes, size_t count) {
    std::string out = "\"";
    for (size_t i = 0; i < count; ++i) {
        unsigned char c = (unsigned char)bytes[i];
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            default:
                if (c < 0x20 || c >= 0x7f) {
                    char esc[8];
                    snprintf(esc, sizeof esc, "\\%03o", c);
                    out += esc;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

// The bytes of a literal made by trace_literal; false when `text` is not such a literal.
inline bool trace_unliteral(const std::string& text, std::string* bytes) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    std::string out;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        char c = text[i];
        if (c == '"') return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i + 1 >= text.size()) return false;
        char e = text[i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            default: {
                if (e < '0' || e > '3' || i + 3 >= text.size()) return false;
                int v = 0;
                for (int k = 0; k < 3; ++k, ++i) {
                    char d = text[i];
                    if (d < '0' || d > '7') return false;
                    v = v * 8 + (d - '0');
                }
                --i;
                out += char(v);
            }
        }
    }
    *bytes = out;
    return true;
}

// One whole line, with its line end.
inline std::string format_trace_line(long long sec, long usec, long pid, const char* op,
                                     const char* path, const std::string& detail, long long result) {
    char head[64];
    snprintf(head, sizeof head, "%lld.%06ld\t%ld\t", sec, usec, pid);
    std::string line = head;
    line += op;
    line += '\t';
    line += path ? path : "";
    line += '\t';
    line += detail;
    line += '\t';
    line += std::to_string(result);
    line += '\n';
    return line;
}

// Parses one line (with or without its line end); false when it is not a whole trace line.
inline bool parse_trace_line(const std::string& line, TraceRecord* out) {
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::string f[6];
    size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        size_t tab = text.find('\t', pos);
        if (i < 5 && tab == std::string::npos) return false;
        if (i == 5 && tab != std::string::npos) return false;
        f[i] = text.substr(pos, i == 5 ? std::string::npos : tab - pos);
        pos = tab + 1;
    }
    bool known = false;
    for (const char* op : kTraceOps) known = known || f[2] == op;
    if (!known || f[0].empty() || f[1].empty() || f[5].empty()) return false;
    char* end = nullptr;
    TraceRecord r;
    r.time = strtod(f[0].c_str(), &end);
    if (*end) return false;
    r.pid = strtol(f[1].c_str(), &end, 10);
    if (*end) return false;
    r.result = strtoll(f[5].c_str(), &end, 10);
    if (*end) return false;
    r.op = f[2];
    r.path = f[3];
    r.detail = f[4];
    *out = r;
    return true;
}

}  // namespace bringup
