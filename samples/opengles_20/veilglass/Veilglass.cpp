// veilglass: translucent ETC1 textures. ETC1 holds no alpha, so the colour comes from one mipmapped
// texture on unit 0 and the alpha from a second one on unit 1; blending lets the background show.

#include <string>

#include "DemoSkeleton.h"

static const std::string textureFilename = "good_compressed_mip_";
static const std::string imageExtension = ".pkm";
static const std::string alphaExtension = "_alpha.pkm";
static const std::string vertexShaderFilename = "Veilglass_dualtex.vert";
static const std::string fragmentShaderFilename = "Veilglass_dualtex.frag";

static GLuint alphaTextureID = 0;
static GLint iLocAlphaSampler = -1;

bool setupGraphics(int, int)
{
    if (!requireETC1()) {
        return false;
    }

    enableAlphaBlending();

    // Colour on unit 0, alpha on unit 1; both stay bound for every frame.
    loadMipChain(textureFilename, imageExtension, &textureID);
    GL_CHECK(glActiveTexture(GL_TEXTURE1));
    loadMipChain(textureFilename, alphaExtension, &alphaTextureID);

    if (!createDemoProgram(vertexShaderFilename, fragmentShaderFilename,
                           "Error: Attribute not found: \"a_v4Position\"")) {
        return false;
    }

    // Without its alpha the texture cannot be drawn translucent: that sampler is required.
    GL_CHECK(iLocAlphaSampler = glGetUniformLocation(programID, "u_s2dAlpha"));
    if (iLocAlphaSampler == -1) {
        fputs("Error: ", stderr);
        Platform::log("Uniform not found at line %i\n", __LINE__);
        exit(1);
    }
    GL_CHECK(glUniform1i(iLocAlphaSampler, 1));

    GL_CHECK(glClearColor(0.125f, 0.25f, 0.5f, 1.0f));
    return true;
}

void renderFrame()
{
    prepareFrame();
    drawQuads();
}

static void releaseDemoResources()
{
    GL_CHECK(glDeleteTextures(1, &alphaTextureID));
}

int main()
{
    return runDemo(__FILE__, __LINE__);
}
