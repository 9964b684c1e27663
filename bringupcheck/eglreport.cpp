#include "bringupcheck/eglreport.h"

#include <stdio.h>
#include <string.h>

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

namespace {

// The text between `after` and `before` in line, or false.
bool between(const std::string& line, const char* after, const char* before, std::string* out) {
    size_t a = line.find(after);
    if (a == std::string::npos) return false;
    a += strlen(after);
    size_t b = before ? line.find(before, a) : line.size();
    if (b == std::string::npos) return false;
    *out = line.substr(a, b - a);
    return true;
}

}  // namespace

bool EglConfig::es2_window() const {
    return apis.find("OpenGL ES 2.0") != std::string::npos && surfaces.find("Window") != std::string::npos;
}

EglReport parse_egl_report(const std::string& text) {
    EglReport r;
    EglConfig* cur = nullptr;
    for (const std::string& line : split_lines(text)) {
        char vendor[256];
        int major = 0, minor = 0, n = 0;
        if (line.compare(0, 13, "EGL_VENDOR = ") == 0) {
            size_t comma = line.rfind(", version ");
            if (comma != std::string::npos && sscanf(line.c_str() + comma, ", version %d.%d", &major, &minor) == 2) {
                r.vendor = line.substr(13, comma - 13);
                snprintf(vendor, sizeof vendor, "%d.%d", major, minor);
                r.version = vendor;
                continue;
            }
        }
        int index = 0;
        if (sscanf(line.c_str(), "Config number %d in returned configs%n", &index, &n) == 1 && size_t(n) == line.size()) {
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
        if (sscanf(line.c_str(), " EGL_CONFIG_ID %d", &cur->id) == 1) {
            cur->lines++;
        } else if (between(line, "Config caveat: ", "  Colour buffer type: ", &a) &&
                   between(line, "Colour buffer type: ", nullptr, &b)) {
            cur->caveat = a;
            cur->buffer_type = b;
            cur->lines++;
        } else if (sscanf(line.c_str(), " Colour depth: %d Red %d Green %d Blue %d Alpha %d", &cur->depth, &cur->red,
                          &cur->green, &cur->blue, &cur->alpha) == 5) {
            cur->lines++;
        } else if (sscanf(line.c_str(), " Z-buffer bits: %d", &cur->z) == 1) {
            cur->lines++;
        } else if (sscanf(line.c_str(), " %dx anti-aliasing%n", &cur->samples, &n) == 1 && size_t(n) == line.size()) {
            cur->lines++;
        } else if (between(line, " Surfaces: ", nullptr, &a)) {
            cur->surfaces = a;
            cur->lines++;
        } else if (between(line, "API support: ", nullptr, &a)) {
            cur->apis = a;
            cur->lines++;
        } else {
            r.stray_lines++;
        }
    }
    return r;
}
