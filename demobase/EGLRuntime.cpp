// EGL set-up on the framework's window: display, config, window surface, OpenGL ES context.
#include "EGLRuntime.h"

#include <EGL/egl.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "internal.h"

namespace {

struct ErrorName {
    EGLint code;
    const char* name;
};

const ErrorName errorNames[] = {
    {EGL_SUCCESS, "EGL_SUCCESS"},
    {EGL_NOT_INITIALIZED, "EGL_NOT_INITIALIZED"},
    {EGL_BAD_ACCESS, "EGL_BAD_ACCESS"},
    {EGL_BAD_ALLOC, "EGL_BAD_ALLOC"},
    {EGL_BAD_ATTRIBUTE, "EGL_BAD_ATTRIBUTE"},
    {EGL_BAD_CONFIG, "EGL_BAD_CONFIG"},
    {EGL_BAD_CONTEXT, "EGL_BAD_CONTEXT"},
    {EGL_BAD_CURRENT_SURFACE, "EGL_BAD_CURRENT_SURFACE"},
    {EGL_BAD_DISPLAY, "EGL_BAD_DISPLAY"},
    {EGL_BAD_MATCH, "EGL_BAD_MATCH"},
    {EGL_BAD_NATIVE_PIXMAP, "EGL_BAD_NATIVE_PIXMAP"},
    {EGL_BAD_NATIVE_WINDOW, "EGL_BAD_NATIVE_WINDOW"},
    {EGL_BAD_PARAMETER, "EGL_BAD_PARAMETER"},
    {EGL_BAD_SURFACE, "EGL_BAD_SURFACE"},
    {EGL_CONTEXT_LOST, "EGL_CONTEXT_LOST"},
};

// What the demos want: RGBA 8888 with a depth buffer. Closer configs score higher.
const EGLint wantedRed = 8, wantedGreen = 8, wantedBlue = 8, wantedAlpha = 8;

const char* errorName(EGLint code) {
    for (const ErrorName& entry : errorNames) {
        if (entry.code == code) return entry.name;
    }
    return "unknown EGL error";
}

void reportEGLError(const char* call) {
    EGLint code = eglGetError();
    std::fprintf(stderr, "initializeEGL: %s failed: %s (0x%04x)\n", call, errorName(code),
                 static_cast<unsigned>(code));
}

EGLint attribute(EGLDisplay display, EGLConfig config, EGLint name) {
    EGLint value = 0;
    if (!eglGetConfigAttrib(display, config, name, &value)) return 0;
    return value;
}

int distance(EGLint have, EGLint want) { return have > want ? have - want : want - have; }

// Lower is better: an exact RGBA 8888 with a depth buffer on the window's visual scores 0.
long configScore(EGLDisplay display, EGLConfig config, VisualID windowVisual) {
    long score = 0;
    score += distance(attribute(display, config, EGL_RED_SIZE), wantedRed);
    score += distance(attribute(display, config, EGL_GREEN_SIZE), wantedGreen);
    score += distance(attribute(display, config, EGL_BLUE_SIZE), wantedBlue);
    score += distance(attribute(display, config, EGL_ALPHA_SIZE), wantedAlpha);
    if (attribute(display, config, EGL_DEPTH_SIZE) == 0) score += 100;
    if (attribute(display, config, EGL_SAMPLES) != 0) score += 1;
    if (attribute(display, config, EGL_CONFIG_CAVEAT) == EGL_SLOW_CONFIG) score += 10;
    if (static_cast<VisualID>(attribute(display, config, EGL_NATIVE_VISUAL_ID)) != windowVisual) score += 1000;
    return score;
}

void releaseAll() {
    using KorrinSDK::EGLRuntime;
    if (EGLRuntime::display != EGL_NO_DISPLAY) {
        eglMakeCurrent(EGLRuntime::display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (EGLRuntime::context != EGL_NO_CONTEXT) eglDestroyContext(EGLRuntime::display, EGLRuntime::context);
        if (EGLRuntime::surface != EGL_NO_SURFACE) eglDestroySurface(EGLRuntime::display, EGLRuntime::surface);
        eglTerminate(EGLRuntime::display);
    }
    EGLRuntime::context = EGL_NO_CONTEXT;
    EGLRuntime::surface = EGL_NO_SURFACE;
    EGLRuntime::display = EGL_NO_DISPLAY;
}

}  // namespace

namespace KorrinSDK {

EGLDisplay EGLRuntime::display = EGL_NO_DISPLAY;
EGLSurface EGLRuntime::surface = EGL_NO_SURFACE;
EGLContext EGLRuntime::context = EGL_NO_CONTEXT;

void EGLRuntime::initializeEGL(OpenGLESVersion requestedAPIVersion) {
    Display* xDisplay = internal::nativeDisplay();
    Window xWindow = internal::nativeWindow();
    if (xDisplay == nullptr) {
        std::fprintf(stderr, "initializeEGL: no window is open\n");
        return;
    }
    EGLDisplay newDisplay = eglGetDisplay(reinterpret_cast<EGLNativeDisplayType>(xDisplay));
    if (newDisplay == EGL_NO_DISPLAY) {
        reportEGLError("eglGetDisplay");
        return;
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(newDisplay, &major, &minor)) {
        reportEGLError("eglInitialize");
        return;
    }
    display = newDisplay;
    if (!eglBindAPI(EGL_OPENGL_ES_API)) {
        reportEGLError("eglBindAPI");
        releaseAll();
        return;
    }

    const EGLint renderable = requestedAPIVersion == OpenGLES2 ? EGL_OPENGL_ES2_BIT : EGL_OPENGL_ES_BIT;
    const EGLint required[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, renderable,
                               EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(display, required, nullptr, 0, &count)) {
        reportEGLError("eglChooseConfig");
        releaseAll();
        return;
    }
    if (count <= 0) {
        std::fprintf(stderr, "initializeEGL: no EGL config offers OpenGL ES %d on a window\n",
                     requestedAPIVersion == OpenGLES2 ? 2 : 1);
        releaseAll();
        return;
    }
    std::vector<EGLConfig> configs(static_cast<size_t>(count));
    if (!eglChooseConfig(display, required, configs.data(), count, &count)) {
        reportEGLError("eglChooseConfig");
        releaseAll();
        return;
    }
    configs.resize(static_cast<size_t>(count));

    XWindowAttributes windowAttributes;
    VisualID windowVisual = 0;
    if (XGetWindowAttributes(xDisplay, xWindow, &windowAttributes)) {
        windowVisual = XVisualIDFromVisual(windowAttributes.visual);
    }
    // Best first; stable so that EGL's own order breaks ties.
    std::vector<std::pair<long, size_t>> ranked;
    for (size_t i = 0; i < configs.size(); ++i) {
        ranked.emplace_back(configScore(display, configs[i], windowVisual), i);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const std::pair<long, size_t>& a, const std::pair<long, size_t>& b) {
                         return a.first < b.first;
                     });

    // A config the window cannot take is refused at surface creation; try the next closest.
    EGLConfig chosen = nullptr;
    for (const auto& candidate : ranked) {
        surface = eglCreateWindowSurface(display, configs[candidate.second],
                                         static_cast<EGLNativeWindowType>(xWindow), nullptr);
        if (surface != EGL_NO_SURFACE) {
            chosen = configs[candidate.second];
            break;
        }
    }
    if (surface == EGL_NO_SURFACE) {
        reportEGLError("eglCreateWindowSurface");
        releaseAll();
        return;
    }

    const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION,
                                        requestedAPIVersion == OpenGLES2 ? 2 : 1, EGL_NONE};
    context = eglCreateContext(display, chosen, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) {
        reportEGLError("eglCreateContext");
        releaseAll();
        return;
    }
    // The demo makes the context current itself; doing it here too lets framework users that
    // skip that step draw at once.
    if (!eglMakeCurrent(display, surface, surface, context)) {
        reportEGLError("eglMakeCurrent");
        releaseAll();
        return;
    }
}

void EGLRuntime::terminateEGL() { releaseAll(); }

}  // namespace KorrinSDK
