#include "bringupcheck/png.h"

#include <zlib.h>

namespace {

void put32(std::string* out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) *out += char((v >> s) & 0xff);
}

void chunk(std::string* out, const char* type, const std::string& data) {
    put32(out, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    *out += body;
    put32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

}  // namespace

std::string encode_png(const std::vector<uint32_t>& pixels, int w, int h) {
    if (w <= 0 || h <= 0 || pixels.size() != size_t(w) * size_t(h)) return "";
    // Each row: filter type 0 (none), then the row's RGB bytes.
    std::string raw;
    raw.reserve(size_t(h) * (size_t(w) * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw += '\0';
        for (int x = 0; x < w; ++x) {
            uint32_t p = pixels[size_t(y) * size_t(w) + size_t(x)];
            raw += char(p >> 16);
            raw += char(p >> 8);
            raw += char(p);
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  uLong(raw.size()), 6) != Z_OK)
        return "";
    packed.resize(size);
    std::string out = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    put32(&ihdr, uint32_t(w));
    put32(&ihdr, uint32_t(h));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
    chunk(&out, "IHDR", ihdr);
    chunk(&out, "IDAT", packed);
    chunk(&out, "IEND", "");
    return out;
}

std::string base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}
