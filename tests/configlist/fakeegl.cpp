// A stand-in EGL for configlist tests, loaded with LD_PRELOAD. It answers the six EGL calls the
// lister makes from a fixed table of five configurations, shaped by the scenario named in
// FAKEEGL_SCENARIO, and appends one line per call to the file named in FAKEEGL_TRACE.
//
// Scenarios: "normal", "nodisplay", "initfail", "nullvendor", "countfail1" (first eglGetConfigs
// fails), "countfail2" (second fails), "noconfigs", "odd" (unknown caveat and colour-buffer
// values, surface and renderable values with high bits), "attrfail" (configuration 3,
// EGL_SAMPLES fails), "hugecount" (more configurations than memory holds), "negativecount" (the
// first pass reports a negative count), "overcount" (the second pass claims more configurations
// than the array has room for).
#include <EGL/egl.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int configCount = 5;
const EGLint attributeOrder[] = {EGL_CONFIG_ID,   EGL_CONFIG_CAVEAT, EGL_COLOR_BUFFER_TYPE,
                                 EGL_BUFFER_SIZE, EGL_RED_SIZE,      EGL_GREEN_SIZE,
                                 EGL_BLUE_SIZE,   EGL_ALPHA_SIZE,    EGL_DEPTH_SIZE,
                                 EGL_SAMPLES,     EGL_SURFACE_TYPE,  EGL_RENDERABLE_TYPE};
const int attributeCount = sizeof attributeOrder / sizeof attributeOrder[0];

// Rows follow attributeOrder.
EGLint normalConfigs[configCount][attributeCount] = {
    {101, EGL_NONE, EGL_RGB_BUFFER, 32, 8, 8, 8, 8, 24, 0, 0x0005, 0x0005},
    {102, EGL_SLOW_CONFIG, EGL_RGB_BUFFER, 16, 5, 6, 5, 0, 16, 4, 0x0004, 0x0004},
    {103, EGL_NON_CONFORMANT_CONFIG, EGL_LUMINANCE_BUFFER, 8, 0, 0, 0, 0, 0, 0, 0x0001, 0x0001},
    {104, EGL_NONE, EGL_RGB_BUFFER, 24, 8, 8, 8, 0, 0, 2, 0x0007, 0x0007},
    {105, EGL_NONE, EGL_RGB_BUFFER, 32, 8, 8, 8, 8, 32, 8, 0x0006, 0x0002},
};
EGLint oddConfigs[configCount][attributeCount] = {
    {7, 0x1234, 0x9999, 32, 8, 8, 8, 8, 24, 0, 0x0405, 0x0008},
    {3, -1, 0, 32, 8, 8, 8, 8, 24, 0, 0x0008, 0x0045},
    {9, EGL_NONE, EGL_RGB_BUFFER, 32, 8, 8, 8, 8, 24, 0, 0x0445, 0x004c},
    {1, EGL_NONE, EGL_RGB_BUFFER, 32, 8, 8, 8, 8, 24, 0, 0x7ff8, 0x0040},
    {2, EGL_NONE, EGL_RGB_BUFFER, 32, 8, 8, 8, 8, 24, -5, 0x0003, 0x0003},
};

const char* scenario() {
    const char* name = std::getenv("FAKEEGL_SCENARIO");
    return name != nullptr ? name : "normal";
}

bool is(const char* name) { return std::strcmp(scenario(), name) == 0; }

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void trace(const char* format, ...) {
    const char* path = std::getenv("FAKEEGL_TRACE");
    if (path == nullptr) return;
    FILE* file = std::fopen(path, "a");
    if (file == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file, format, arguments);
    va_end(arguments);
    std::fputc('\n', file);
    std::fclose(file);
}

EGLDisplay fakeDisplay() { return reinterpret_cast<EGLDisplay>(static_cast<uintptr_t>(0x5eed)); }

}  // namespace

extern "C" {

EGLDisplay eglGetDisplay(EGLNativeDisplayType displayId) {
    trace("eglGetDisplay %p", static_cast<void*>(displayId));
    return is("nodisplay") ? EGL_NO_DISPLAY : fakeDisplay();
}

EGLBoolean eglInitialize(EGLDisplay display, EGLint* major, EGLint* minor) {
    trace("eglInitialize %d", display == fakeDisplay());
    if (is("initfail")) return EGL_FALSE;
    if (major != nullptr) *major = 1;
    if (minor != nullptr) *minor = 4;
    return EGL_TRUE;
}

const char* eglQueryString(EGLDisplay display, EGLint name) {
    trace("eglQueryString %d 0x%04x", display == fakeDisplay(), name);
    if (is("nullvendor") || name != EGL_VENDOR) return nullptr;
    return "Fake Vendor";
}

EGLBoolean eglGetConfigs(EGLDisplay display, EGLConfig* configs, EGLint size, EGLint* count) {
    trace("eglGetConfigs %d %s %d", display == fakeDisplay(), configs == nullptr ? "null" : "array", size);
    if (is("countfail1") && configs == nullptr) return EGL_FALSE;
    if (is("countfail2") && configs != nullptr) return EGL_FALSE;
    int available = is("noconfigs") ? 0 : configCount;
    if (is("hugecount")) available = INT_MAX;
    if (is("negativecount")) available = -1;
    if (configs == nullptr) {
        *count = available;
        return EGL_TRUE;
    }
    int filled = 0;
    for (; filled < size && filled < available && filled < configCount; ++filled) {
        configs[filled] = reinterpret_cast<EGLConfig>(static_cast<uintptr_t>(filled + 1));
    }
    *count = is("overcount") ? filled + 1000 : filled;
    return EGL_TRUE;
}

EGLBoolean eglGetConfigAttrib(EGLDisplay display, EGLConfig config, EGLint attribute, EGLint* value) {
    const int index = static_cast<int>(reinterpret_cast<uintptr_t>(config)) - 1;
    trace("eglGetConfigAttrib %d %d 0x%04x", display == fakeDisplay(), index, attribute);
    if (index < 0 || index >= configCount) return EGL_FALSE;
    for (int row = 0; row < attributeCount; ++row) {
        if (attributeOrder[row] != attribute) continue;
        if (is("attrfail") && index == 3 && attribute == EGL_SAMPLES) return EGL_FALSE;
        *value = is("odd") ? oddConfigs[index][row] : normalConfigs[index][row];
        return EGL_TRUE;
    }
    return EGL_FALSE;
}

EGLBoolean eglTerminate(EGLDisplay display) {
    trace("eglTerminate %d", display == fakeDisplay());
    return EGL_TRUE;
}

}  // extern "C"
