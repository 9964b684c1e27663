// PNG files of our own pictures (screenshots), compressed with zlib.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// An 8-bit RGB PNG of w*h pixels, row by row from the top, each 0x00RRGGBB. Empty when the
// picture is empty or compression fails.
std::string encode_png(const std::vector<uint32_t>& pixels, int w, int h);

// Standard base64, for pictures inlined into the report.
std::string base64(const std::string& bytes);
