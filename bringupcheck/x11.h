// Looking at a demo's window on the X display: finding it, copying its contents, and closing it
// the way a window manager does.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The ids of the mapped top-level windows titled `title` (WM_NAME), or empty. error is set when
// the display cannot be opened.
std::vector<unsigned long> windows_titled(const std::string& title, std::string* error);

// The window's contents, w*h pixels row by row from the top, each 0x00RRGGBB; false when it cannot
// be copied.
bool copy_window(unsigned long window, std::vector<uint32_t>* pixels, int* w, int* h);

// True once the connection to the display has been lost (a round trip to the server finds out);
// every call above then fails.
bool display_lost();

// Raises the window above its siblings (another program's window may cover it).
bool raise_window(unsigned long window);

// Sends WM_PROTOCOLS / WM_DELETE_WINDOW.
bool send_close(unsigned long window);

// Sends an Escape key press and release, as a user leaving the program would.
bool send_escape(unsigned long window);
// Destroys the window from our own connection, as a window manager or a user's tool may.
bool destroy_window(unsigned long window);
