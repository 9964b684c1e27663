// lanterna: one mipmapped ETC1 texture on nine quads of shrinking size, so each quad is sampled from
// a smaller mip level, under the caption "Mipmapped ETC1 compressed texture" on a blue background.

#include <string>

#include "DemoSkeleton.h"
#include "Text.h"

static const std::string textureFilename = "good_mip_";
static const std::string imageExtension = ".pkm";
static const std::string vertexShaderFilename = "Lanterna_texture.vert";
static const std::string fragmentShaderFilename = "Lanterna_texture.frag";

static Text* text = nullptr;

bool setupGraphics(int width, int height)
{
    GL_CHECK(glEnable(GL_CULL_FACE));
    GL_CHECK(glCullFace(GL_BACK));
    GL_CHECK(glEnable(GL_DEPTH_TEST));
    enableAlphaBlending();

    if (!requireETC1()) {
        return false;
    }

    text = new Text(resourceDirectory.c_str(), width, height);
    text->addString(0, 0, "Mipmapped ETC1 compressed texture", 255, 255, 0, 255);

    loadMipChain(textureFilename, imageExtension, &textureID);

    if (!createDemoProgram(vertexShaderFilename, fragmentShaderFilename,
                           "Attribute not found: \"a_v4Position\"")) {
        return false;
    }

    GL_CHECK(glClearColor(0.0f, 0.0f, 1.0f, 1.0f));
    return true;
}

void renderFrame()
{
    prepareFrame();
    // The caption's drawing may change the binding, so the texture is bound again every frame.
    GL_CHECK(glActiveTexture(GL_TEXTURE0));
    GL_CHECK(glBindTexture(GL_TEXTURE_2D, textureID));
    drawQuads();
    text->draw();
}

static void releaseDemoResources()
{
    delete text;
    text = nullptr;
}

int main()
{
    return runDemo(__FILE__, __LINE__);
}
