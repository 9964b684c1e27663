// The window helpers by title, on bringup-check's own (x11.h): the topmost mapped window of
// that title is the one acted on.
#include "xwindow.h"

#include <chrono>
#include <thread>

#include "bringupcheck/x11.h"

namespace testutil {

namespace {

unsigned long window_titled(const char* title) {
    std::vector<unsigned long> found = windows_titled(title, nullptr);
    return found.empty() ? 0 : found.back();
}

}  // namespace

bool screenshot_window(const char* title, std::vector<uint32_t>& pixels, int& w, int& h) {
    unsigned long window = window_titled(title);
    return window != 0 && copy_window(window, &pixels, &w, &h);
}

bool send_close_request(const char* title) {
    unsigned long window = window_titled(title);
    return window != 0 && send_close(window);
}

bool send_escape_key(const char* title) {
    unsigned long window = window_titled(title);
    return window != 0 && send_escape(window);
}

bool raise_window(const char* title) {
    unsigned long window = window_titled(title);
    return window != 0 && ::raise_window(window);
}

bool destroy_window(const char* title) {
    unsigned long window = window_titled(title);
    return window != 0 && ::destroy_window(window);
}

bool wait_for_window(const char* title, double timeout_s) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (window_titled(title) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace testutil
