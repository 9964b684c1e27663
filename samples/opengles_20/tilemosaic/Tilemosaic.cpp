// tilemosaic: a translucent ETC1 texture whose colour and alpha come from one atlas on unit 0. The
// atlas holds the colour picture in its top half and the alpha mask in its bottom half; the shaders
// map each quad's texture coordinates into both halves.

#include <string>

#include "DemoSkeleton.h"

static const std::string resourceDirectory = "assets/";
static const std::string textureFilename = "good_atlas_mip_";
static const std::string imageExtension = ".pkm";
static const std::string vertexShaderFilename = "Tilemosaic_atlastex.vert";
static const std::string fragmentShaderFilename = "Tilemosaic_atlastex.frag";

bool setupGraphics(int, int)
{
    std::string texturePath = resourceDirectory + textureFilename;
    std::string vertexShaderPath = resourceDirectory + vertexShaderFilename;
    std::string fragmentShaderPath = resourceDirectory + fragmentShaderFilename;

    if (!Texture::isETCSupported(true)) {
        reportError("ETC1 not supported");
        return false;
    }

    GL_CHECK(glEnable(GL_BLEND));
    GL_CHECK(glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA));

    Texture::loadCompressedMipmaps(texturePath.c_str(), imageExtension.c_str(), &textureID);

    if (!createDemoProgram(vertexShaderPath.c_str(), fragmentShaderPath.c_str(),
                           "Attribute not found: \"a_v4Position\"")) {
        return false;
    }

    GL_CHECK(glClearColor(0.125f, 0.25f, 0.5f, 1.0f));
    return true;
}

void renderFrame()
{
    prepareFrame();
    drawQuads();
}

static void releaseDemoResources() {}

int main()
{
    return runDemo(__FILE__, __LINE__);
}
