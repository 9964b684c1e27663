// Demo framework: EGL display, window surface and OpenGL ES context.
#pragma once

#include <EGL/egl.h>

namespace KorrinSDK {

enum OpenGLESVersion { OpenGLES1 = 0, OpenGLES2 = 1 };

class EGLRuntime {
public:
    static EGLDisplay display;
    static EGLSurface surface;
    static EGLContext context;

    // Sets up display, config, window surface on the open window and a context of the
    // requested version. On failure the members stay EGL_NO_* and a message naming the EGL
    // error goes to standard error; the demo's eglMakeCurrent check then ends it.
    static void initializeEGL(OpenGLESVersion requestedAPIVersion);
    // Releases context, surface and display.
    static void terminateEGL();
};

}  // namespace KorrinSDK
