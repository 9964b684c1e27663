// A stand-in around the system EGL for the demo tests, preloaded into a demo with LD_PRELOAD.
// Only calls made by the demo program itself are touched, not those of the framework library.
//   FAKEEGL_MAKECURRENT_ERROR=<code>  eglMakeCurrent fails and eglGetError then reports <code>
//   FAKEEGL_HOLD_FILE=<path>          eglMakeCurrent first waits (up to 60 s) for <path> to exist,
//                                     so a test can act on the window before the first frame
//   FAKEEGL_END_HOLD_FILE=<path>      eglTerminate first creates <path>.reached, then waits (up to
//                                     60 s) for <path> to exist, so a test can act between the
//                                     last frame and the window's close
//   FAKEEGL_NO_PROGRAM=1              glCreateProgram returns 0, as when no program can be made
#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

EGLint pendingError = EGL_SUCCESS;

template <typename F>
F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// True when the call came from the program rather than from a shared library it loaded.
bool calledByProgram(void* returnAddress)
{
    Dl_info info;
    if (dladdr(returnAddress, &info) == 0 || info.dli_fname == nullptr) return true;
    const char* slash = std::strrchr(info.dli_fname, '/');
    return std::strstr(slash != nullptr ? slash + 1 : info.dli_fname, ".so") == nullptr;
}

}  // namespace

extern "C" EGLBoolean eglMakeCurrent(EGLDisplay display, EGLSurface draw, EGLSurface read,
                                     EGLContext context)
{
    using MakeCurrent = EGLBoolean (*)(EGLDisplay, EGLSurface, EGLSurface, EGLContext);
    static MakeCurrent real = next<MakeCurrent>("eglMakeCurrent");
    if (calledByProgram(__builtin_return_address(0))) {
        if (const char* hold = std::getenv("FAKEEGL_HOLD_FILE")) {
            for (int i = 0; i < 6000 && access(hold, F_OK) != 0; ++i) usleep(10000);
        }
        if (const char* code = std::getenv("FAKEEGL_MAKECURRENT_ERROR")) {
            pendingError = static_cast<EGLint>(std::strtol(code, nullptr, 0));
            return EGL_FALSE;
        }
    }
    return real(display, draw, read, context);
}

extern "C" EGLBoolean eglTerminate(EGLDisplay display)
{
    using Terminate = EGLBoolean (*)(EGLDisplay);
    static Terminate real = next<Terminate>("eglTerminate");
    if (const char* hold = std::getenv("FAKEEGL_END_HOLD_FILE")) {
        std::string reached = std::string(hold) + ".reached";
        int fd = open(reached.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd >= 0) close(fd);
        for (int i = 0; i < 6000 && access(hold, F_OK) != 0; ++i) usleep(10000);
    }
    return real(display);
}

extern "C" EGLint eglGetError(void)
{
    using GetError = EGLint (*)(void);
    static GetError real = next<GetError>("eglGetError");
    if (pendingError != EGL_SUCCESS) {
        EGLint error = pendingError;
        pendingError = EGL_SUCCESS;
        return error;
    }
    return real();
}

extern "C" GLuint glCreateProgram(void)
{
    using CreateProgram = GLuint (*)(void);
    static CreateProgram real = next<CreateProgram>("glCreateProgram");
    if (std::getenv("FAKEEGL_NO_PROGRAM") != nullptr && calledByProgram(__builtin_return_address(0)))
        return 0;
    return real();
}
