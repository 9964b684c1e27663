#include "bringupcheck/x11.h"

#ifdef BRINGUP_CHECK_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

// An X error (a window gone meanwhile, a window partly off the screen for XGetImage) must not end
// the run the way Xlib's default handler does: it is noted and the call counts as failed.
bool g_x_error = false;

int note_error(Display*, XErrorEvent*) {
    g_x_error = true;
    return 0;
}

// Losing the connection (the X server ended or crashed) must not end the run either: Xlib's
// default would exit at once, leaving no results. The call in progress fails, and every later one
// fails at once.
bool g_lost = false;
const char* const kLost = "the connection to the X display was lost";

int quiet_io_error(Display*) { return 0; }

void note_lost(Display*, void*) { g_lost = true; }

// One connection for the whole run, opened on first use.
Display* display_or(std::string* error) {
    static Display* d = nullptr;
    static bool tried = false;
    if (!tried) {
        tried = true;
        d = XOpenDisplay(nullptr);
        if (d) {
            XSetErrorHandler(note_error);
            XSetIOErrorHandler(quiet_io_error);
            XSetIOErrorExitHandler(d, note_lost, nullptr);
        }
    }
    if (g_lost) {
        if (error) *error = kLost;
        return nullptr;
    }
    if (!d && error) *error = "cannot open the X display";
    return d;
}

void collect(Display* d, Window w, const std::string& title, int depth, std::vector<unsigned long>* out) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        bool match = title == name;
        XFree(name);
        XWindowAttributes a;
        if (match && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable) {
            out->push_back(w);
            return;
        }
    }
    if (depth > 3) return;
    Window root, parent, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &n)) return;
    for (unsigned int i = 0; i < n; ++i) collect(d, children[i], title, depth + 1, out);
    if (children) XFree(children);
}

}  // namespace

std::vector<unsigned long> windows_titled(const std::string& title, std::string* error) {
    std::vector<unsigned long> out;
    Display* d = display_or(error);
    if (!d) return out;
    XSync(d, False);
    collect(d, DefaultRootWindow(d), title, 0, &out);
    if (g_lost) {
        out.clear();
        if (error) *error = kLost;
    }
    return out;
}

bool copy_window(unsigned long window, std::vector<uint32_t>* pixels, int* w, int* h) {
    Display* d = display_or(nullptr);
    if (!d) return false;
    XSync(d, False);
    g_x_error = false;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, window, &a) || a.width <= 0 || a.height <= 0) return false;
    XImage* image = XGetImage(d, window, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    XSync(d, False);
    if (!image || g_x_error || g_lost) {
        if (image) XDestroyImage(image);
        return false;
    }
    *w = a.width;
    *h = a.height;
    pixels->resize(size_t(a.width) * size_t(a.height));
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            uint32_t r = uint32_t((p & image->red_mask) * 255 / (image->red_mask ? image->red_mask : 1));
            uint32_t g = uint32_t((p & image->green_mask) * 255 / (image->green_mask ? image->green_mask : 1));
            uint32_t b = uint32_t((p & image->blue_mask) * 255 / (image->blue_mask ? image->blue_mask : 1));
            (*pixels)[size_t(y) * size_t(a.width) + size_t(x)] = r << 16 | g << 8 | b;
        }
    XDestroyImage(image);
    return true;
}

bool raise_window(unsigned long window) {
    Display* d = display_or(nullptr);
    if (!d) return false;
    XRaiseWindow(d, window);
    XSync(d, False);
    return true;
}

bool send_close(unsigned long window) {
    Display* d = display_or(nullptr);
    if (!d) return false;
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(d, window, False, NoEventMask, &e);
    XSync(d, False);
    return sent != 0 && !g_lost;
}

bool send_escape(unsigned long window) {
    Display* d = display_or(nullptr);
    if (!d) return false;
    XEvent e = {};
    e.xkey.type = KeyPress;
    e.xkey.display = d;
    e.xkey.window = window;
    e.xkey.root = DefaultRootWindow(d);
    e.xkey.same_screen = True;
    e.xkey.keycode = XKeysymToKeycode(d, XK_Escape);
    Status sent = XSendEvent(d, window, False, KeyPressMask, &e);
    e.xkey.type = KeyRelease;
    XSendEvent(d, window, False, KeyReleaseMask, &e);
    XSync(d, False);
    return sent != 0 && !g_lost;
}

bool destroy_window(unsigned long window) {
    Display* d = display_or(nullptr);
    if (!d) return false;
    XDestroyWindow(d, window);
    XSync(d, False);
    return !g_lost;
}

bool display_lost() {
    Display* d = display_or(nullptr);
    if (d) XSync(d, False);  // a round trip finds a server that has gone
    return g_lost;
}

#else

bool display_lost() { return false; }
std::vector<unsigned long> windows_titled(const std::string&, std::string* error) {
    if (error) *error = "built without Xlib";
    return {};
}
bool copy_window(unsigned long, std::vector<uint32_t>*, int*, int*) { return false; }
bool raise_window(unsigned long) { return false; }
bool send_close(unsigned long) { return false; }
bool send_escape(unsigned long) { return false; }
bool destroy_window(unsigned long) { return false; }

#endif
