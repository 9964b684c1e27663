// X11 helpers for tests that watch a program's window from outside the program.
#include "xwindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// Depth-first search below `parent` for a mapped window whose WM_NAME is `title`.
Window findWindow(Display* display, Window parent, const char* title) {
    char* name = nullptr;
    if (XFetchName(display, parent, &name) && name != nullptr) {
        bool match = std::strcmp(name, title) == 0;
        XFree(name);
        if (match) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, parent, &attributes) && attributes.map_state == IsViewable) {
                return parent;
            }
        }
    }
    Window root = 0, parentOfParent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOfParent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = count; i-- > 0 && found == 0;) {
        found = findWindow(display, children[i], title);
    }
    if (children != nullptr) XFree(children);
    return found;
}

// Errors from a window that disappears while we look at it must not end the test.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

struct Connection {
    Display* display;
    Connection() : display(XOpenDisplay(nullptr)) {
        XSetErrorHandler(ignoreXError);
    }
    ~Connection() {
        if (display != nullptr) XCloseDisplay(display);
    }
};

unsigned channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    unsigned long value = (pixel & mask) >> shift;
    unsigned long maximum = mask >> shift;
    return static_cast<unsigned>(value * 255 / maximum);
}

}  // namespace

namespace testutil {

bool screenshot_window(const char* title, std::vector<uint32_t>& pixels, int& w, int& h) {
    Connection connection;
    if (connection.display == nullptr) return false;
    Display* display = connection.display;
    Window window = findWindow(display, DefaultRootWindow(display), title);
    if (window == 0) return false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return false;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    w = attributes.width;
    h = attributes.height;
    pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            pixels[static_cast<size_t>(y * w + x)] = (channel(pixel, image->red_mask) << 16) |
                                                     (channel(pixel, image->green_mask) << 8) |
                                                     channel(pixel, image->blue_mask);
        }
    }
    XDestroyImage(image);
    return true;
}

bool send_close_request(const char* title) {
    Connection connection;
    if (connection.display == nullptr) return false;
    Display* display = connection.display;
    Window window = findWindow(display, DefaultRootWindow(display), title);
    if (window == 0) return false;
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return sent != 0;
}

bool send_escape_key(const char* title) {
    Connection connection;
    if (connection.display == nullptr) return false;
    Display* display = connection.display;
    Window window = findWindow(display, DefaultRootWindow(display), title);
    if (window == 0) return false;
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xkey.type = KeyPress;
    event.xkey.display = display;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(display);
    event.xkey.same_screen = True;
    event.xkey.keycode = XKeysymToKeycode(display, XK_Escape);
    Status sent = XSendEvent(display, window, False, KeyPressMask, &event);
    event.xkey.type = KeyRelease;
    XSendEvent(display, window, False, KeyReleaseMask, &event);
    XSync(display, False);
    return sent != 0;
}

bool raise_window(const char* title) {
    Connection connection;
    if (connection.display == nullptr) return false;
    Display* display = connection.display;
    Window window = findWindow(display, DefaultRootWindow(display), title);
    if (window == 0) return false;
    XRaiseWindow(display, window);
    XSync(display, False);
    return true;
}

bool destroy_window(const char* title) {
    Connection connection;
    if (connection.display == nullptr) return false;
    Display* display = connection.display;
    Window window = findWindow(display, DefaultRootWindow(display), title);
    if (window == 0) return false;
    XDestroyWindow(display, window);
    XSync(display, False);
    return true;
}

bool wait_for_window(const char* title, double timeout_s) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    for (;;) {
        {
            Connection connection;
            if (connection.display != nullptr &&
                findWindow(connection.display, DefaultRootWindow(connection.display), title) != 0) {
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace testutil
