// tilemosaic: a translucent ETC1 texture whose colour and alpha come from one atlas on unit 0. The
// atlas holds the colour picture in its top half and the alpha mask in its bottom half; the shaders
// map each quad's texture coordinates into both halves.

#include <string>

#include "DemoSkeleton.h"

static const std::string textureFilename = "good_atlas_mip_";
static const std::string imageExtension = ".pkm";
static const std::string vertexShaderFilename = "Tilemosaic_atlastex.vert";
static const std::string fragmentShaderFilename = "Tilemosaic_atlastex.frag";

bool setupGraphics(int, int)
{
    if (!requireETC1()) {
        return false;
    }

    enableAlphaBlending();

    loadMipChain(textureFilename, imageExtension, &textureID);

    if (!createDemoProgram(vertexShaderFilename, fragmentShaderFilename,
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
