// ETC1 support test and mipmapped ETC1 textures from PKM files.
//
// Level files are named <prefix><level><suffix>, the level in decimal without padding:
// "assets/good_mip_" + ".pkm" gives assets/good_mip_0.pkm (the full image), assets/good_mip_1.pkm,
// ... down to the 1x1 level. Level n of a WxH image is max(1, W>>n) x max(1, H>>n); all levels
// must be present, as OpenGL ES 2.0 samples an incomplete mip chain as black.
#include "Texture.h"

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pkm.h"

namespace {

const char etc1Extension[] = "GL_OES_compressed_ETC1_RGB8_texture";
// Largest level file read (a 4096x4096 level holds 8 MiB of blocks).
const long maxLevelFileSize = 64L * 1024 * 1024;

bool extensionListed(const char* extensions, const char* name) {
    if (extensions == nullptr) return false;
    const size_t nameLength = std::strlen(name);
    for (const char* p = extensions; (p = std::strstr(p, name)) != nullptr; p += nameLength) {
        const bool startsWord = p == extensions || p[-1] == ' ';
        const bool endsWord = p[nameLength] == ' ' || p[nameLength] == '\0';
        if (startsWord && endsWord) return true;
    }
    return false;
}

bool formatListed(GLenum format) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_COMPRESSED_TEXTURE_FORMATS, &count);
    if (count <= 0) return false;
    std::vector<GLint> formats(static_cast<size_t>(count));
    glGetIntegerv(GL_COMPRESSED_TEXTURE_FORMATS, formats.data());
    for (GLint listed : formats) {
        if (static_cast<GLenum>(listed) == format) return true;
    }
    return false;
}

// Reads a whole level file; on failure prints why and returns false.
bool readLevelFile(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "loadCompressedMipmaps: cannot open \"%s\": %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
        std::fprintf(stderr, "loadCompressedMipmaps: \"%s\" is not a regular file\n", path.c_str());
        std::fclose(file);
        return false;
    }
    if (status.st_size > maxLevelFileSize) {
        std::fprintf(stderr, "loadCompressedMipmaps: \"%s\" is too large (%lld bytes)\n", path.c_str(),
                     static_cast<long long>(status.st_size));
        std::fclose(file);
        return false;
    }
    bytes.resize(static_cast<size_t>(status.st_size));
    const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError || got != bytes.size()) {
        std::fprintf(stderr, "loadCompressedMipmaps: cannot read \"%s\"\n", path.c_str());
        return false;
    }
    return true;
}

// A load that fails leaves nothing bound on the active unit and a GL error pending (an invalid
// binding target, which changes no state), as a failed GL call would: the demo's next GL check
// then ends it, instead of drawing with no texture.
void failLoad() {
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindTexture(GL_NONE, 0);
}

unsigned levelCount(uint32_t width, uint32_t height) {
    uint32_t largest = width > height ? width : height;
    unsigned levels = 1;
    while (largest > 1) {
        largest >>= 1;
        ++levels;
    }
    return levels;
}

}  // namespace

namespace KorrinSDK {

bool Texture::isETCSupported(bool verbose) {
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (extensionListed(extensions, etc1Extension) || formatListed(GL_ETC1_RGB8_OES)) return true;
    if (verbose) {
        std::fprintf(stderr, "isETCSupported: the GL lists neither %s nor the ETC1 texture format\n",
                     etc1Extension);
    }
    return false;
}

void Texture::loadCompressedMipmaps(const char* filenameBase, const char* filenameSuffix,
                                    GLuint* textureID) {
    *textureID = 0;
    // Every level is read and checked before the GL sees any of it, so a bad file leaves no
    // half-made texture behind.
    std::vector<std::vector<uint8_t>> files;
    std::vector<pkm::Image> images;
    unsigned levels = 1;
    uint32_t width = 0, height = 0;
    for (unsigned level = 0; level < levels; ++level) {
        const std::string path = std::string(filenameBase) + std::to_string(level) + filenameSuffix;
        files.emplace_back();
        if (!readLevelFile(path, files.back())) {
            failLoad();
            return;
        }
        pkm::Image image;
        const char* problem = pkm::parse(files.back().data(), files.back().size(),
                                         level == 0 ? 0 : pkm::levelDimension(width, level),
                                         level == 0 ? 0 : pkm::levelDimension(height, level), &image);
        if (problem != nullptr) {
            if (level == 0) {
                std::fprintf(stderr, "loadCompressedMipmaps: \"%s\": %s\n", path.c_str(), problem);
            } else {
                std::fprintf(stderr, "loadCompressedMipmaps: \"%s\": %s (level %u of a %ux%u image should be %ux%u)\n",
                             path.c_str(), problem, level, width, height,
                             pkm::levelDimension(width, level), pkm::levelDimension(height, level));
            }
            failLoad();
            return;
        }
        if (level == 0) {
            width = image.width;
            height = image.height;
            levels = levelCount(width, height);
        }
        images.push_back(image);
    }

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (maxSize > 0 && (width > static_cast<uint32_t>(maxSize) || height > static_cast<uint32_t>(maxSize))) {
        std::fprintf(stderr, "loadCompressedMipmaps: %ux%u is larger than the GL's largest texture (%d)\n",
                     width, height, maxSize);
        failLoad();
        return;
    }

    glGenTextures(1, textureID);
    glBindTexture(GL_TEXTURE_2D, *textureID);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    for (size_t level = 0; level < images.size(); ++level) {
        glCompressedTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), GL_ETC1_RGB8_OES,
                               static_cast<GLsizei>(images[level].width),
                               static_cast<GLsizei>(images[level].height), 0,
                               static_cast<GLsizei>(images[level].dataSize), images[level].data);
    }
}

}  // namespace KorrinSDK
