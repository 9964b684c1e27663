// The line that says, on a terminal, what the running check waits for and how long it may take.
#pragma once

#include <string>

#include "bringupcheck/checks.h"

// Shows "<check>: <waiting>, N s left" in place of the line shown before (only on a terminal).
void show_progress(const Context& ctx, const std::string& check, const std::string& waiting, double left);
// Clears the line, so that the check's verdict line takes its place.
void clear_progress(const Context& ctx);
