#include "bringupcheck/eglreport.h"

#include <stdio.h>
#include <string.h>

#include "bringupcheck/text.h"
#include "configlist/messages.h"

namespace {

// The text between `after` and `before` in line, or false.
bool between(const std::string& line, const std::string& after, const std::string& before, std::string* out) {
    size_t a = line.find(after);
    if (a == std::string::npos) return false;
    a += after.size();
    size_t b = before.empty() ? line.size() : line.find(before, a);
    if (b == std::string::npos) return false;
    *out = line.substr(a, b - a);
    return true;
}

// What a format of configlist's prints before its value, without leading blanks ("Config caveat: "
// of " Config caveat: %s "), and what it prints after it.
std::string label(const char* format) {
    std::string f = format;
    size_t from = f.find_first_not_of(' ');
    return f.substr(from, f.find('%') - from);
}
std::string after_value(const char* format) { return strchr(format, '%') + 2; }

// A format that must match the whole line: its line end left out, "%n" for where the match ended.
std::string whole_line(const char* format) {
    std::string f = format;
    return f.substr(0, f.rfind('\n')) + "%n";
}

}  // namespace

bool EglConfig::es2_window() const {
    return apis.find("OpenGL ES 2.0") != std::string::npos && surfaces.find("Window") != std::string::npos;
}

EglReport parse_egl_report(const std::string& text) {
    using namespace configmsg;
    // The vendor line: the vendor (which may hold anything) up to the last ", version ".
    const std::string vendor_head = label(kVendorLine), version_words = label(after_value(kVendorLine).c_str());
    const std::string version_format = after_value(kVendorLine);
    const std::string config_format = whole_line(kConfigLine), samples_format = whole_line(kSamples);
    const std::string colour_format = std::string(kDepth) + kRed + kGreen + kBlue + kAlpha;
    // The caveat runs up to the buffer type's label, which follows what the caveat's format prints
    // after it.
    const std::string caveat_end = after_value(kCaveat) + std::string(kBufferType).substr(0, strchr(kBufferType, '%') - kBufferType);
    EglReport r;
    EglConfig* cur = nullptr;
    for (const std::string& line : split_lines(text)) {
        char vendor[256];
        int major = 0, minor = 0, n = 0;
        if (line.compare(0, vendor_head.size(), vendor_head) == 0) {
            size_t comma = line.rfind(version_words);
            if (comma != std::string::npos && sscanf(line.c_str() + comma, version_format.c_str(), &major, &minor) == 2) {
                r.vendor = line.substr(vendor_head.size(), comma - vendor_head.size());
                snprintf(vendor, sizeof vendor, "%d.%d", major, minor);
                r.version = vendor;
                continue;
            }
        }
        int index = 0;
        if (sscanf(line.c_str(), config_format.c_str(), &index, &n) == 1 && size_t(n) == line.size()) {
            r.configs.emplace_back();
            cur = &r.configs.back();
            cur->index = index;
            continue;
        }
        if (line.empty()) {
            cur = nullptr;
            continue;
        }
        if (!cur) {
            r.stray_lines++;
            continue;
        }
        std::string a, b;
        if (sscanf(line.c_str(), kConfigId, &cur->id) == 1) {
            cur->lines++;
        } else if (between(line, label(kCaveat), caveat_end, &a) && between(line, label(kBufferType), "", &b)) {
            cur->caveat = a;
            cur->buffer_type = b;
            cur->lines++;
        } else if (sscanf(line.c_str(), colour_format.c_str(), &cur->depth, &cur->red, &cur->green, &cur->blue,
                          &cur->alpha) == 5) {
            cur->lines++;
        } else if (sscanf(line.c_str(), kZBits, &cur->z) == 1) {
            cur->lines++;
        } else if (sscanf(line.c_str(), samples_format.c_str(), &cur->samples, &n) == 1 && size_t(n) == line.size()) {
            cur->lines++;
        } else if (between(line, label(kSurfaces), "", &a)) {
            cur->surfaces = a;
            cur->lines++;
        } else if (between(line, label(kApis), "", &a)) {
            cur->apis = a;
            cur->lines++;
        } else {
            r.stray_lines++;
        }
    }
    return r;
}
