#include "bringupcheck/progress.h"

#include <stdio.h>

#include "bringupcheck/text.h"

void show_progress(const Context& ctx, const std::string& check, const std::string& waiting, double left) {
    if (!ctx.progress) return;
    static std::string last;
    char line[512];
    snprintf(line, sizeof line, "\r\033[K  %s: %s, %.0f s left", terminal_text(check).c_str(),
             terminal_text(waiting).c_str(), left > 0 ? left : 0);
    if (line == last) return;
    last = line;
    fputs(line, stdout);
    fflush(stdout);
}

void clear_progress(const Context& ctx) {
    if (!ctx.progress) return;
    printf("\r\033[K");
    fflush(stdout);
}
