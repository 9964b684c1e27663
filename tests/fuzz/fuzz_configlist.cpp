// Fuzz entry for configlist's walk and decoders: an EGL stand-in answers every call from the fuzz
// input, with random attribute values and random failures, and the lister runs against it (its
// source compiled with main renamed).
//
// Input, read from the front as the calls come: one byte per call that may fail (odd: the call
// fails; eglQueryString's byte: odd gives no vendor), then for eglGetConfigs two bytes of count,
// for eglGetConfigAttrib four bytes of value. An exhausted input answers success and zeros.
#include <EGL/egl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int configlist_main();
FILE* fuzz_output_stream = nullptr;
FILE* fuzz_error_stream = nullptr;

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;
size_t g_pos = 0;
std::string g_out;
int g_walked = -1;      // entries the second eglGetConfigs says it filled
int g_attrib_calls = 0;

uint8_t take() { return g_pos < g_size ? g_data[g_pos++] : 0; }
bool fails() { return (take() & 1) != 0; }

EGLDisplay display() { return reinterpret_cast<EGLDisplay>(static_cast<uintptr_t>(0xd15)); }

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_configlist: %s\n", what);
    std::abort();
}

// Counts from two bytes: mostly small, some negative. Counts the heap cannot hold are left to the
// stand-in EGL of the integration tests: here they would only measure the allocator.
EGLint takeCount() {
    const int v = take() | (take() << 8);
    if (v >= 0xff00) return -(v & 0xff) - 1;
    if (v >= 0xf000) return v % 300;
    return v % 40;
}

}  // namespace

extern "C" {

EGLDisplay eglGetDisplay(EGLNativeDisplayType) { return fails() ? EGL_NO_DISPLAY : display(); }

EGLBoolean eglInitialize(EGLDisplay d, EGLint* major, EGLint* minor) {
    if (d != display()) fail("eglInitialize on another display");
    if (fails()) return EGL_FALSE;
    *major = 1;
    *minor = take();
    return EGL_TRUE;
}

const char* eglQueryString(EGLDisplay d, EGLint name) {
    if (d != display() || name != EGL_VENDOR) fail("unexpected eglQueryString");
    return fails() ? nullptr : "Fuzz";
}

EGLBoolean eglGetConfigs(EGLDisplay d, EGLConfig* configs, EGLint size, EGLint* count) {
    if (d != display()) fail("eglGetConfigs on another display");
    if (fails()) return EGL_FALSE;
    const EGLint answer = takeCount();
    if (configs == nullptr) {
        *count = answer;
        return EGL_TRUE;
    }
    if (size < 0) fail("array pass with a negative size");
    const EGLint filled = answer < 0 ? 0 : answer < size ? answer : size;
    for (EGLint i = 0; i < filled; ++i)
        configs[i] = reinterpret_cast<EGLConfig>(static_cast<uintptr_t>(i + 1));
    // A driver may claim more than it filled, or anything at all.
    *count = (take() & 1) ? answer : filled;
    g_walked = filled;
    return EGL_TRUE;
}

EGLBoolean eglGetConfigAttrib(EGLDisplay d, EGLConfig, EGLint, EGLint* value) {
    if (d != display()) fail("eglGetConfigAttrib on another display");
    ++g_attrib_calls;
    if (fails()) return EGL_FALSE;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(take()) << (8 * i);
    *value = static_cast<EGLint>(v);
    return EGL_TRUE;
}

EGLBoolean eglTerminate(EGLDisplay d) {
    if (d != display()) fail("eglTerminate on another display");
    return EGL_TRUE;
}

}  // extern "C"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (fuzz_error_stream == nullptr) fuzz_error_stream = std::fopen("/dev/null", "w");
    g_data = data;
    g_size = size;
    g_pos = 0;
    g_walked = -1;
    g_attrib_calls = 0;
    char* out = nullptr;
    size_t out_size = 0;
    fuzz_output_stream = open_memstream(&out, &out_size);
    if (fuzz_output_stream == nullptr) fail("no memory for the lister's output");
    const int status = configlist_main();
    std::fclose(fuzz_output_stream);
    g_out.assign(out, out_size);
    std::free(out);
    if (status != 0 && status != 1) fail("exit status neither 0 nor 1");
    // Twelve attributes a configuration; every block starts with its number line.
    if (g_attrib_calls % 12 != 0) fail("a configuration's block cut short");
    size_t blocks = 0;
    for (size_t at = g_out.find("Config number "); at != std::string::npos;
         at = g_out.find("Config number ", at + 1))
        ++blocks;
    if (blocks * 12 != static_cast<size_t>(g_attrib_calls)) fail("blocks and queries disagree");
    if (status == 0 && g_walked < 0) fail("success without a listing");
    return 0;
}
