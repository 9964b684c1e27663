// PKM (ETC1) image files: a 16-byte header and the compressed blocks.
//
//   bytes 0-3   "PKM "
//   bytes 4-5   version "10"
//   bytes 6-7   format, big-endian: 0 (ETC1 RGB, no mipmaps)
//   bytes 8-9   padded width, big-endian: the width rounded up to a multiple of 4
//   bytes 10-11 padded height, big-endian
//   bytes 12-13 width, big-endian
//   bytes 14-15 height, big-endian
//   then ((width+3)/4) * ((height+3)/4) blocks of 8 bytes, and nothing after them
//
// The parser works on bytes in memory so that it can be tested and fuzzed without GL.
#pragma once

#include <cstddef>
#include <cstdint>

namespace KorrinSDK {
namespace pkm {

const size_t headerSize = 16;

struct Image {
    uint32_t width;           // the image's own size in pixels
    uint32_t height;
    const uint8_t* data;      // the ETC1 blocks, inside the parsed bytes
    uint64_t dataSize;        // bytes of ETC1 blocks
};

// Bytes of ETC1 data for an image of width x height pixels (4x4 blocks of 8 bytes).
uint64_t etc1DataSize(uint64_t width, uint64_t height);

// Size of level `level` of a width x height image: halved per level, never below 1.
uint32_t levelDimension(uint32_t size, unsigned level);

// Parses a whole PKM file of `length` bytes. When expectedWidth and expectedHeight are nonzero
// the image must have exactly that size. Returns null and fills *image on success, else a
// constant text saying what is wrong (and *image is untouched).
const char* parse(const uint8_t* bytes, size_t length, uint32_t expectedWidth,
                  uint32_t expectedHeight, Image* image);

}  // namespace pkm
}  // namespace KorrinSDK
