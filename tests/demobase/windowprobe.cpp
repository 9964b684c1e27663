// A minimal framework user for the window tests: opens a window, sets up EGL, clears to the colour
// given as "R G B" (0-255) and swaps until the window is closed, then tears down.
// Prints "ready\n" after the first frame and "closed\n" at the end.
#include <EGL/egl.h>
#include <GLES2/gl2.h>

#include <cstdio>
#include <cstdlib>

#include "EGLRuntime.h"
#include "Platform.h"

int main(int argc, char** argv) {
    float colour[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 3 && i + 1 < argc; ++i) colour[i] = static_cast<float>(std::atoi(argv[i + 1])) / 255.0f;

    KorrinSDK::Platform* platform = KorrinSDK::Platform::getInstance();
    platform->openWindow(320, 240);
    KorrinSDK::EGLRuntime::initializeEGL(KorrinSDK::OpenGLES2);
    using KorrinSDK::EGLRuntime;
    if (!eglMakeCurrent(EGLRuntime::display, EGLRuntime::surface, EGLRuntime::surface, EGLRuntime::context)) {
        std::printf("eglMakeCurrent failed 0x%x\n", eglGetError());
        return 1;
    }
    glClearColor(colour[0], colour[1], colour[2], 1.0f);
    bool first = true;
    int closed = 0;
    do {
        closed = platform->windowClosed();
        glClear(GL_COLOR_BUFFER_BIT);
        eglSwapBuffers(EGLRuntime::display, EGLRuntime::surface);
        if (first) {
            KorrinSDK::Platform::log("ready\n");
            std::fflush(stdout);
            first = false;
        }
    } while (closed == 0);
    KorrinSDK::EGLRuntime::terminateEGL();
    platform->closeWindow();
    delete platform;
    KorrinSDK::Platform::log("closed\n");
    return 0;
}
