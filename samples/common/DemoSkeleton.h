// The skeleton the three ETC1 demos share: the GL check, the error report, the geometry of the
// nine quads (DemoGeometry.h), the shader program set-up, the common frame steps and main's window, EGL, frame loop
// and teardown. Each demo includes this header once, from its own source file, and supplies
// setupGraphics, renderFrame and releaseDemoResources.
#pragma once

#include <EGL/egl.h>
#include <GLES2/gl2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DemoGeometry.h"
#include "EGLRuntime.h"
#include "Platform.h"
#include "Shader.h"
#include "Texture.h"

using namespace KorrinSDK;

// Runs one GL call, then ends the process with status 1 and no message if GL reports an error.
// A call whose result is kept is written as an assignment: GL_CHECK(id = glCreateProgram()).
#define GL_CHECK(call)                                                                             \
    do {                                                                                           \
        call;                                                                                      \
        if (glGetError() != GL_NO_ERROR) {                                                         \
            exit(1);                                                                               \
        }                                                                                          \
    } while (0)

static GLuint programID = 0;
static GLuint textureID = 0;
static GLuint vertexShaderID = 0;
static GLuint fragmentShaderID = 0;
static GLint iLocPosition = -1;
static GLint iLocTexCoord = -1;
static GLint iLocSampler = -1;

// Supplied by the demo.
bool setupGraphics(int width, int height);
void renderFrame();
// The demo's own releases, after its texture in textureID is deleted and before EGL ends.
static void releaseDemoResources();

// "Error: " on standard error, the message itself on standard output through the framework's log.
static void reportError(const char* message)
{
    fputs("Error: ", stderr);
    Platform::log("%s", message);
}

// Where each demo's textures, shaders and font are: the assets folder beside it (its working
// directory).
static const std::string resourceDirectory = "assets/";

// The opening every demo's set-up shares: without ETC1 there is nothing to draw. False (with the
// error reported) when the GL lacks it.
static bool requireETC1()
{
    if (!Texture::isETCSupported(true)) {
        reportError("ETC1 not supported");
        return false;
    }
    return true;
}

// Blending by the fragment's alpha, as every demo draws.
static void enableAlphaBlending()
{
    GL_CHECK(glEnable(GL_BLEND));
    GL_CHECK(glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA));
}

// Loads the mip chain <assets>/<prefix><level><extension> into the texture `id` on the active unit.
static void loadMipChain(const std::string& prefix, const std::string& extension, GLuint* id)
{
    Texture::loadCompressedMipmaps((resourceDirectory + prefix).c_str(), extension.c_str(), id);
}

// Compiles the two shaders (files of the assets folder), links and selects the program, and finds its attributes and the
// texture sampler. False when no program could be created; a missing position attribute ends
// the process with status 1 after the message missingPositionMessage.
static bool createDemoProgram(const std::string& vertexShaderFile, const std::string& fragmentShaderFile,
                              const char* missingPositionMessage)
{
    Shader::processShader(&vertexShaderID, (resourceDirectory + vertexShaderFile).c_str(), GL_VERTEX_SHADER);
    Shader::processShader(&fragmentShaderID, (resourceDirectory + fragmentShaderFile).c_str(), GL_FRAGMENT_SHADER);

    GL_CHECK(programID = glCreateProgram());
    if (programID == 0) {
        reportError("Could not create program.");
        return false;
    }
    GL_CHECK(glAttachShader(programID, vertexShaderID));
    GL_CHECK(glAttachShader(programID, fragmentShaderID));
    GL_CHECK(glLinkProgram(programID));
    GL_CHECK(glUseProgram(programID));

    GL_CHECK(iLocPosition = glGetAttribLocation(programID, "a_v4Position"));
    if (iLocPosition == -1) {
        reportError(missingPositionMessage);
        exit(1);
    }
    GL_CHECK(glEnableVertexAttribArray(iLocPosition));

    // Shaders that need no texture coordinates or sampler are fine: the quads are drawn without.
    GL_CHECK(iLocTexCoord = glGetAttribLocation(programID, "a_v2TexCoord"));
    if (iLocTexCoord != -1) {
        GL_CHECK(glEnableVertexAttribArray(iLocTexCoord));
    }
    GL_CHECK(iLocSampler = glGetUniformLocation(programID, "u_s2dTexture"));
    if (iLocSampler != -1) {
        GL_CHECK(glUniform1i(iLocSampler, 0));
    }
    return true;
}

// The first frame steps: clear, program, and the two vertex arrays from client memory.
static void prepareFrame()
{
    GL_CHECK(glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT));
    GL_CHECK(glUseProgram(programID));
    GL_CHECK(glVertexAttribPointer(iLocPosition, 3, GL_FLOAT, GL_FALSE, 0, quadPositions));
    GL_CHECK(glEnableVertexAttribArray(iLocPosition));
    if (iLocTexCoord != -1) {
        GL_CHECK(glVertexAttribPointer(iLocTexCoord, 2, GL_FLOAT, GL_FALSE, 0, quadTexCoords));
        GL_CHECK(glEnableVertexAttribArray(iLocTexCoord));
    }
}

static void drawQuads()
{
    GL_CHECK(glDrawElements(GL_TRIANGLE_STRIP, 52, GL_UNSIGNED_BYTE, quadIndices));
}

// The whole program: window, EGL, set-up, frames until the window is closed, teardown.
// sourceFile and checkLine are the demo's own, named in the report of a failed make-current.
static int runDemo(const char* sourceFile, int checkLine)
{
    Platform* platform = Platform::getInstance();
    platform->openWindow(640, 480);
    EGLRuntime::initializeEGL(OpenGLES2);

    eglMakeCurrent(EGLRuntime::display, EGLRuntime::surface, EGLRuntime::surface,
                   EGLRuntime::context);
    EGLint eglError = eglGetError();
    if (eglError != EGL_SUCCESS) {
        fputs("Error: ", stderr);
        Platform::log("eglGetError() = %i (0x%.8x) at %s:%i\n", eglError, (unsigned int)eglError,
                      sourceFile, checkLine);
        exit(1);
    }

    // A failed set-up has already reported itself; its first frame then ends the process at the
    // first GL check, as the position attribute was never found.
    setupGraphics(640, 480);

    // The frame in which the close is seen is still drawn and shown.
    int closed;
    do {
        closed = platform->windowClosed();
        renderFrame();
        eglSwapBuffers(EGLRuntime::display, EGLRuntime::surface);
    } while (closed == 0);

    GL_CHECK(glDeleteTextures(1, &textureID));
    releaseDemoResources();
    EGLRuntime::terminateEGL();
    platform->closeWindow();
    delete platform;
    return 0;
}
