// PKM header checks. Every field is checked against the others and against the file's length.
#include "pkm.h"

#include <cstring>

namespace {

const char magic[4] = {'P', 'K', 'M', ' '};
const char version10[2] = {'1', '0'};
const unsigned formatETC1RGBNoMipmaps = 0;

unsigned bigEndian16(const uint8_t* p) { return (static_cast<unsigned>(p[0]) << 8) | p[1]; }

}  // namespace

namespace KorrinSDK {
namespace pkm {

uint64_t etc1DataSize(uint64_t width, uint64_t height) {
    return ((width + 3) / 4) * ((height + 3) / 4) * 8;
}

uint32_t levelDimension(uint32_t size, unsigned level) {
    if (level >= 32) return 1;
    uint32_t reduced = size >> level;
    return reduced == 0 ? 1 : reduced;
}

const char* parse(const uint8_t* bytes, size_t length, uint32_t expectedWidth,
                  uint32_t expectedHeight, Image* image) {
    if (bytes == nullptr || length < headerSize) return "file shorter than the 16-byte PKM header";
    if (std::memcmp(bytes, magic, sizeof magic) != 0) return "not a PKM file (no \"PKM \" magic)";
    if (std::memcmp(bytes + 4, version10, sizeof version10) != 0) return "unsupported PKM version (not \"10\")";
    if (bigEndian16(bytes + 6) != formatETC1RGBNoMipmaps) return "unsupported PKM format (not ETC1 RGB)";
    const uint32_t paddedWidth = bigEndian16(bytes + 8);
    const uint32_t paddedHeight = bigEndian16(bytes + 10);
    const uint32_t width = bigEndian16(bytes + 12);
    const uint32_t height = bigEndian16(bytes + 14);
    if (width == 0 || height == 0) return "zero image size in the PKM header";
    if (paddedWidth != ((width + 3) / 4) * 4 || paddedHeight != ((height + 3) / 4) * 4) {
        return "padded size in the PKM header does not match the image size";
    }
    if (expectedWidth != 0 && expectedHeight != 0 && (width != expectedWidth || height != expectedHeight)) {
        return "image size does not match the mipmap level's size";
    }
    const uint64_t dataSize = etc1DataSize(width, height);
    const uint64_t available = static_cast<uint64_t>(length) - headerSize;
    if (available < dataSize) return "file truncated: fewer ETC1 blocks than the image size needs";
    if (available > dataSize) return "file longer than its image: trailing bytes after the ETC1 blocks";
    image->width = width;
    image->height = height;
    image->data = bytes + headerSize;
    image->dataSize = dataSize;
    return nullptr;
}

}  // namespace pkm
}  // namespace KorrinSDK
