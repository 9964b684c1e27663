// Looking at and closing another process's X window from a test (found by its title, WM_NAME).
// Uses the X display named by DISPLAY.
#pragma once

#include <cstdint>
#include <vector>

namespace testutil {

// Copies the window's current contents: w*h pixels, row by row from the top, each 0x00RRGGBB.
// False when no window of that title is mapped or the copy fails.
bool screenshot_window(const char* title, std::vector<uint32_t>& pixels, int& w, int& h);

// Sends the window manager's close request (WM_PROTOCOLS / WM_DELETE_WINDOW) to the window.
bool send_close_request(const char* title);

// Sends an Escape key press and release to the window.
bool send_escape_key(const char* title);

// Puts the window above its siblings (windows of tests running side by side overlap on one
// screen). Its program must redraw before a screenshot shows it.
bool raise_window(const char* title);

// Destroys the window from this test's own X connection, as another client (a window manager or
// a user's tool) may do while its program runs.
bool destroy_window(const char* title);

// Waits up to timeout_s for a mapped window of that title; true once it is there.
bool wait_for_window(const char* title, double timeout_s);

}  // namespace testutil
