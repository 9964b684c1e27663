// configlist: prints every EGL frame-buffer configuration of the default display, with twelve
// attributes each, four of them decoded into words.
#include <EGL/egl.h>

#include <cstdio>
#include <cstdlib>

#include "messages.h"

namespace {

// One attribute of a configuration's block: its format takes the raw value (%d) or, when the row
// has a decoder, the decoder's text (%s).
struct AttributeQuery {
    EGLint attribute;
    const char* format;
    const char* (*decoder)(int value);
};

const char* decodeCaveat(int value);
const char* decodeColorBuffer(int value);
const char* decodeSurface(int value);
const char* decodeAPISupport(int value);

const AttributeQuery queryList[] = {
    {EGL_CONFIG_ID, configmsg::kConfigId, nullptr},
    {EGL_CONFIG_CAVEAT, configmsg::kCaveat, decodeCaveat},
    {EGL_COLOR_BUFFER_TYPE, configmsg::kBufferType, decodeColorBuffer},
    {EGL_BUFFER_SIZE, configmsg::kDepth, nullptr},
    {EGL_RED_SIZE, configmsg::kRed, nullptr},
    {EGL_GREEN_SIZE, configmsg::kGreen, nullptr},
    {EGL_BLUE_SIZE, configmsg::kBlue, nullptr},
    {EGL_ALPHA_SIZE, configmsg::kAlpha, nullptr},
    {EGL_DEPTH_SIZE, configmsg::kZBits, nullptr},
    {EGL_SAMPLES, configmsg::kSamples, nullptr},
    {EGL_SURFACE_TYPE, configmsg::kSurfaces, decodeSurface},
    {EGL_RENDERABLE_TYPE, configmsg::kApis, decodeAPISupport},
    {EGL_NONE, nullptr, nullptr},
};

// Indexed by EGL_PBUFFER_BIT | EGL_PIXMAP_BIT | EGL_WINDOW_BIT.
const char* const decodeSurfaceStrings[8] = {
    "None!",
    "PBuffer",
    "Pixmap",
    "PBuffer+Pixmap",
    "Window",
    "Window+PBuffer",
    "Window+Pixmap",
    "Window+Pixmap+PBuffer",
};

// Indexed by EGL_OPENGL_ES_BIT | EGL_OPENVG_BIT | EGL_OPENGL_ES2_BIT.
const char* const decodeAPISupportStrings[8] = {
    "No API support(?)",
    "OpenGL ES",
    "OpenVG",
    "OpenGL ES, OpenVG",
    "OpenGL ES 2.0",
    "OpenGL ES, OpenGL ES 2.0",
    "OpenGL ES 2.0, OpenVG",
    "OpenGL ES, OpenGL ES 2.0, OpenVG",
};

const char* decodeCaveat(int value) {
    switch (value) {
    case EGL_NONE: return "Normal";
    case EGL_SLOW_CONFIG: return "Slow";
    case EGL_NON_CONFORMANT_CONFIG: return "Non-conformant";
    default: return "Unknown EGL_CONFIG_CAVEAT";
    }
}

const char* decodeColorBuffer(int value) {
    switch (value) {
    case EGL_RGB_BUFFER: return "RGB colour buffer";
    case EGL_LUMINANCE_BUFFER: return "Luminance buffer";
    default: return "Unknown EGL_COLOR_BUFFER_TYPE";
    }
}

const char* decodeSurface(int value) { return decodeSurfaceStrings[value & 7]; }

const char* decodeAPISupport(int value) { return decodeAPISupportStrings[value & 7]; }

void writeErrorPrefix() { std::fputs(configmsg::kErrorPrefix, stderr); }

void describeConfig(EGLDisplay display, EGLConfig* configs, EGLint index) {
    std::printf(configmsg::kConfigLine, index);
    for (int row = 0; queryList[row].attribute != EGL_NONE; ++row) {
        const AttributeQuery& query = queryList[row];
        EGLint value = 0;
        if (eglGetConfigAttrib(display, configs[index], query.attribute, &value) == EGL_FALSE) {
            writeErrorPrefix();
            std::printf(configmsg::kMsgAttribFailed, index, row);
            continue;
        }
        if (query.decoder != nullptr) {
            std::printf(query.format, query.decoder(value));
        } else {
            std::printf(query.format, value);
        }
    }
    std::printf("\n");
}

bool listConfigs() {
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY) return false;
    EGLint major = 0, minor = 0;
    if (eglInitialize(display, &major, &minor) == EGL_FALSE) return false;
    const char* vendor = eglQueryString(display, EGL_VENDOR);
    if (vendor == nullptr) return false;
    std::printf(configmsg::kVendorLine, vendor, major, minor);

    EGLint count = 0;
    if (eglGetConfigs(display, nullptr, 0, &count) == EGL_FALSE || count < 0) return false;
    // At least one slot, so that an implementation with no configuration is not mistaken for a
    // failed allocation; a count the heap cannot hold fails the listing instead of crashing.
    const EGLint allocated = count;
    EGLConfig* configs = static_cast<EGLConfig*>(
        std::calloc(allocated > 0 ? static_cast<size_t>(allocated) : 1, sizeof(EGLConfig)));
    if (configs == nullptr) return false;
    if (eglGetConfigs(display, configs, allocated, &count) == EGL_FALSE) {
        std::free(configs);
        return false;
    }
    // Never walk past the array, whatever count the second pass wrote back.
    for (EGLint index = 0; index < count && index < allocated; ++index) {
        describeConfig(display, configs, index);
    }
    std::free(configs);
    std::fflush(stdout);
    eglTerminate(display);
    return true;
}

}  // namespace

int main() {
    if (!listConfigs()) {
        writeErrorPrefix();
        std::fputs(configmsg::kMsgListingFailed, stdout);
        return 1;
    }
    return 0;
}
