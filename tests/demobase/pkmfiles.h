// Builds PKM (ETC1) files for tests.
#pragma once

#include <cstdint>
#include <string>

namespace pkmtest {

inline void putBigEndian16(std::string& bytes, unsigned value) {
    bytes.push_back(static_cast<char>((value >> 8) & 0xff));
    bytes.push_back(static_cast<char>(value & 0xff));
}

// A well-formed file of width x height with every block filled with `fill`.
inline std::string makePkm(unsigned width, unsigned height, char fill = '\x11') {
    std::string bytes = "PKM 10";
    putBigEndian16(bytes, 0);
    putBigEndian16(bytes, (width + 3) / 4 * 4);
    putBigEndian16(bytes, (height + 3) / 4 * 4);
    putBigEndian16(bytes, width);
    putBigEndian16(bytes, height);
    bytes.append(static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4) * 8, fill);
    return bytes;
}

}  // namespace pkmtest
