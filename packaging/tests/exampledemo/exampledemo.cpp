// A demo written outside the suite's tree against the installed framework: opens the window,
// sets up OpenGL ES 2.0, clears the window and writes a caption (its font from the system, as a
// demo of its own has no assets/ folder) in each of a number of frames (the first argument, default
// 10), then prints "frames: N" and ends with 0; any EGL or GL error ends it with 1.
#include <EGL/egl.h>
#include <GLES2/gl2.h>

#include <cstdlib>

#include "EGLRuntime.h"
#include "Platform.h"
#include "Text.h"

using namespace KorrinSDK;

int main(int argc, char** argv) {
    int frames = argc > 1 ? atoi(argv[1]) : 10;
    Platform* platform = Platform::getInstance();
    platform->openWindow(320, 240);
    EGLRuntime::initializeEGL(OpenGLES2);
    if (!eglMakeCurrent(EGLRuntime::display, EGLRuntime::surface, EGLRuntime::surface,
                        EGLRuntime::context))
        return 1;
    int drawn = 0;
    {
        // The caption's GL objects go before the context does.
        Text caption("assets/", 320, 240);
        caption.addString(8, 8, "example demo", 255, 255, 0, 255);
        while (drawn < frames && !platform->windowClosed()) {
            glClearColor(0.1f * (drawn % 10), 0.5f, 0.8f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            caption.draw();
            if (glGetError() != GL_NO_ERROR ||
                !eglSwapBuffers(EGLRuntime::display, EGLRuntime::surface))
                return 1;
            ++drawn;
        }
    }
    Platform::log("frames: %d\n", drawn);
    EGLRuntime::terminateEGL();
    platform->closeWindow();
    delete platform;
    return 0;
}
