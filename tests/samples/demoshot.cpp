// Looks at a running demo's window: waits for it, optionally saves a screenshot, then asks it to
// close the way a window manager does. For the suite's demo story and for documentation pictures.
// Usage: demoshot <window-title> [<screenshot.ppm>] [<seconds to wait before the screenshot>]
// A window still all of one colour after the wait has not shown its first frame yet (an emulated
// program can take many seconds for it): the screenshot waits for the frame, up to a minute more.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "xwindow.h"

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: demoshot <window-title> [<screenshot.ppm>] [<delay-seconds>]\n");
        return 2;
    }
    const char* title = argv[1];
    if (!testutil::wait_for_window(title, 30)) {
        std::fprintf(stderr, "demoshot: no window \"%s\" within 30 s\n", title);
        return 1;
    }
    if (argc >= 3) {
        double delay = argc == 4 ? std::atof(argv[3]) : 1.0;
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        std::vector<uint32_t> pixels;
        int w = 0, h = 0;
        for (int look = 0;; ++look) {
            if (!testutil::screenshot_window(title, pixels, w, h)) {
                std::fprintf(stderr, "demoshot: cannot copy the window \"%s\"\n", title);
                return 1;
            }
            const bool blank = std::all_of(pixels.begin(), pixels.end(), [&](uint32_t p) { return p == pixels[0]; });
            if (!blank || look == 300) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        FILE* out = std::fopen(argv[2], "wb");
        if (out == nullptr) {
            std::perror(argv[2]);
            return 1;
        }
        std::fprintf(out, "P6\n%d %d\n255\n", w, h);
        for (uint32_t p : pixels) {
            unsigned char rgb[3] = {(unsigned char)(p >> 16), (unsigned char)(p >> 8), (unsigned char)p};
            std::fwrite(rgb, 1, 3, out);
        }
        if (std::fclose(out) != 0) {
            std::perror(argv[2]);
            return 1;
        }
    }
    if (!testutil::send_close_request(title)) {
        std::fprintf(stderr, "demoshot: cannot send the close request to \"%s\"\n", title);
        return 1;
    }
    return 0;
}
