// configlist's report read back: the vendor line and one block per configuration.
#pragma once

#include <string>
#include <vector>

struct EglConfig {
    int index = -1, id = -1;
    std::string caveat, buffer_type, surfaces, apis;
    int depth = -1, red = -1, green = -1, blue = -1, alpha = -1, z = -1, samples = -1;
    int lines = 0;              // of the block's 7 attribute lines, how many were read
    bool complete() const { return lines == 7; }
    bool es2_window() const;    // renders OpenGL ES 2.0 into a window
};

struct EglReport {
    std::string vendor;         // empty when the vendor line is missing
    std::string version;        // "1.5"
    std::vector<EglConfig> configs;
    size_t stray_lines = 0;     // lines that belong to no block
};

EglReport parse_egl_report(const std::string& text);
