// Demo framework: ETC1 textures.
#pragma once

#include <GLES2/gl2.h>

namespace KorrinSDK {

class Texture {
public:
    // True when the GL implementation accepts ETC1 textures. With verbose set, a refusal says why
    // on standard error.
    static bool isETCSupported(bool verbose);

    // Loads a mipmapped ETC1 texture from PKM files named <filenameBase><level><filenameSuffix>,
    // level 0 the full image, until the 1x1 level. The texture is left bound to GL_TEXTURE_2D on the
    // active unit. A missing, truncated or corrupt level is refused with a message on standard
    // error; *textureID is then 0, no texture is bound and a GL error is left pending, so that the
    // caller's next GL check sees the failure.
    static void loadCompressedMipmaps(const char* filenameBase, const char* filenameSuffix,
                                      GLuint* textureID);
};

}  // namespace KorrinSDK
