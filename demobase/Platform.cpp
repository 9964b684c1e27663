// The native window (X11) and the log call.
#include "Platform.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal.h"

namespace {

// One window per process.
Display* xDisplay = nullptr;
Window xWindow = 0;
Atom wmDeleteWindow = None;
int closeRequested = 0;
// Set once the server has said the window is gone (another client destroyed it).
bool windowGone = false;

// While closeWindow runs: the window may have been destroyed by another client after the last
// look at the events, which makes our own destroy fail with BadWindow. That alone is ignored;
// every other error goes to the handler that was in place.
XErrorHandler previousErrorHandler = nullptr;
int ignoreWindowAlreadyGone(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow && error->request_code == X_DestroyWindow &&
        error->resourceid == xWindow) {
        return 0;
    }
    return previousErrorHandler != nullptr ? previousErrorHandler(display, error) : 0;
}

// The window title is the program's name, so that tools and tests can find the window.
void programName(char* name, size_t size) {
    std::snprintf(name, size, "demo");
    FILE* comm = std::fopen("/proc/self/comm", "r");
    if (comm == nullptr) return;
    if (std::fgets(name, static_cast<int>(size), comm) != nullptr) {
        name[std::strcspn(name, "\n")] = '\0';
    }
    std::fclose(comm);
}

}  // namespace

namespace KorrinSDK {

namespace internal {
Display* nativeDisplay() { return xDisplay; }
Window nativeWindow() { return xWindow; }
}  // namespace internal

Platform* Platform::getInstance() { return new Platform(); }

void Platform::openWindow(int width, int height) {
    if (xDisplay != nullptr) return;  // one window per process
    xDisplay = XOpenDisplay(nullptr);
    if (xDisplay == nullptr) {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || name[0] == '\0') {
            std::fprintf(stderr, "Cannot open a window: DISPLAY is not set\n");
        } else {
            std::fprintf(stderr, "Cannot open a window: no X display at \"%s\"\n", name);
        }
        std::exit(1);
    }
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "Cannot open a window of %d x %d pixels\n", width, height);
        std::exit(1);
    }
    int screen = DefaultScreen(xDisplay);
    Window root = RootWindow(xDisplay, screen);
    XSetWindowAttributes attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.background_pixel = BlackPixel(xDisplay, screen);
    attributes.event_mask = StructureNotifyMask | KeyPressMask | ExposureMask;
    xWindow = XCreateWindow(xDisplay, root, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWBackPixel | CWEventMask, &attributes);

    char title[64];
    programName(title, sizeof title);
    XStoreName(xDisplay, xWindow, title);
    XClassHint classHint;
    classHint.res_name = title;
    classHint.res_class = title;
    XSetClassHint(xDisplay, xWindow, &classHint);

    // A fixed size: the demos draw for exactly this many pixels.
    XSizeHints* sizeHints = XAllocSizeHints();
    if (sizeHints != nullptr) {
        sizeHints->flags = PMinSize | PMaxSize;
        sizeHints->min_width = sizeHints->max_width = width;
        sizeHints->min_height = sizeHints->max_height = height;
        XSetWMNormalHints(xDisplay, xWindow, sizeHints);
        XFree(sizeHints);
    }

    wmDeleteWindow = XInternAtom(xDisplay, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(xDisplay, xWindow, &wmDeleteWindow, 1);
    closeRequested = 0;
    windowGone = false;

    XMapWindow(xDisplay, xWindow);
    // Wait until the window is on the screen, so that the first frame is visible.
    XEvent event;
    do {
        XWindowEvent(xDisplay, xWindow, StructureNotifyMask, &event);
    } while (event.type != MapNotify);
}

int Platform::windowClosed() {
    if (xDisplay == nullptr) return 1;
    while (XPending(xDisplay) > 0) {
        XEvent event;
        XNextEvent(xDisplay, &event);
        switch (event.type) {
        case ClientMessage:
            if (static_cast<Atom>(event.xclient.data.l[0]) == wmDeleteWindow) closeRequested = 1;
            break;
        case KeyPress:
            if (XLookupKeysym(&event.xkey, 0) == XK_Escape) closeRequested = 1;
            break;
        case DestroyNotify:
            // Destroyed by another client: a close, and nothing left for closeWindow to destroy.
            if (event.xdestroywindow.window == xWindow) windowGone = true;
            closeRequested = 1;
            break;
        default:
            break;
        }
    }
    return closeRequested;
}

void Platform::closeWindow() {
    if (xDisplay == nullptr) return;
    if (!windowGone) {
        XSync(xDisplay, False);
        previousErrorHandler = XSetErrorHandler(ignoreWindowAlreadyGone);
        XDestroyWindow(xDisplay, xWindow);
        XSync(xDisplay, False);
        XSetErrorHandler(previousErrorHandler);
        previousErrorHandler = nullptr;
    }
    XCloseDisplay(xDisplay);
    xDisplay = nullptr;
    xWindow = 0;
}

void Platform::log(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

}  // namespace KorrinSDK
