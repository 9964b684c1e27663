#include "bringupcheck/text.h"

#include <stdio.h>

namespace {

const unsigned kReplacement = 0xfffd;

// The code point that starts at `at` and its length in bytes; U+FFFD and 1 for a byte that starts
// no well-formed sequence.
unsigned decode(const std::string& s, size_t at, size_t* len) {
    unsigned char c = (unsigned char)s[at];
    *len = 1;
    if (c < 0x80) return c;
    size_t n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (n == 0 || at + n > s.size()) return kReplacement;
    unsigned cp = c & (0xff >> (n + 1));
    for (size_t k = 1; k < n; ++k) {
        unsigned char t = (unsigned char)s[at + k];
        if ((t & 0xc0) != 0x80) return kReplacement;
        cp = cp << 6 | (t & 0x3f);
    }
    const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || (cp >= 0xd800 && cp < 0xe000) || cp > 0x10ffff) return kReplacement;
    *len = n;
    return cp;
}

bool is_control(unsigned cp) { return cp < 0x20 || (cp >= 0x7f && cp < 0xa0); }

enum Style { kJson, kXml, kTerminal };

std::string clean(const std::string& s, Style style) {
    std::string out;
    out.reserve(s.size());
    for (size_t at = 0, len = 0; at < s.size(); at += len) {
        unsigned cp = decode(s, at, &len);
        if (style == kXml) {
            switch (cp) {
                case '&': out += "&amp;"; continue;
                case '<': out += "&lt;"; continue;
                case '>': out += "&gt;"; continue;
                case '"': out += "&quot;"; continue;
                case '\'': out += "&#39;"; continue;
                case '\t': case '\n': case '\r': out += char(cp); continue;
            }
            append_utf8(is_control(cp) || cp == 0xfffe || cp == 0xffff ? kReplacement : cp, &out);
            continue;
        }
        if (style == kJson && (cp == '"' || cp == '\\')) {
            out += '\\';
            out += char(cp);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (is_control(cp)) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", cp);
            out += esc;
        } else {
            append_utf8(cp, &out);
        }
    }
    return out;
}

}  // namespace

void append_utf8(unsigned cp, std::string* out) {
    if (cp < 0x80) {
        *out += char(cp);
    } else if (cp < 0x800) {
        *out += char(0xc0 | cp >> 6);
        *out += char(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        *out += char(0xe0 | cp >> 12);
        *out += char(0x80 | ((cp >> 6) & 0x3f));
        *out += char(0x80 | (cp & 0x3f));
    } else {
        *out += char(0xf0 | cp >> 18);
        *out += char(0x80 | ((cp >> 12) & 0x3f));
        *out += char(0x80 | ((cp >> 6) & 0x3f));
        *out += char(0x80 | (cp & 0x3f));
    }
}

std::string valid_utf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t at = 0, len = 0; at < bytes.size(); at += len) append_utf8(decode(bytes, at, &len), &out);
    return out;
}

std::string json_escape(const std::string& bytes) { return clean(bytes, kJson); }
std::string xml_escape(const std::string& bytes) { return clean(bytes, kXml); }
std::string terminal_text(const std::string& bytes) { return clean(bytes, kTerminal); }

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        out.push_back(text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return out;
}
