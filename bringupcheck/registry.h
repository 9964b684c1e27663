// The checks of a run: one row each, in the order they are made, under the subsystem that makes
// them. The one list that the command line (--only, --list, the run), the output folder (a
// subfolder per subsystem), the results files (each check's main figure), the comparison (the
// checks this version makes) and the report page (its sections) read.
//
// A row list, expanded by each reader into a table of what it needs of it: the functions that
// make the checks are bringup-check's own (checks.h), the ones that draw them the report's
// (report.cpp), and the tables of plain names below serve everything else.
//
// SUBSYSTEM(name, title, report_place, checks, section): a subsystem, named as its subfolder of
// the output folder and in --only; its heading on the report page and the place of its section
// there (counted from 0: the page shows the demos' screenshots before the EGL table, though the
// EGL check runs first); the function that makes its checks (check_<name>.cpp) and the one that
// draws each of them on the page.
// CHECK(subsystem, name, figure, units, needs_switch): a check of that subsystem; the key of its
// main figure among its figures and the figure's units ("" and "" for none: the number that
// verdicts.txt and a board farm show for it); whether it is made only with --switch (it changes
// the board's state; without the option it is reported as skipped).
#pragma once

#include <string>

#define BRINGUP_CHECKS(SUBSYSTEM, CHECK)                                    \
    SUBSYSTEM(audio, "Audio", 0, check_audio, audio_section)               \
    CHECK(audio, "audio.capture", "audio_seconds", "seconds", false)       \
    SUBSYSTEM(usb, "USB", 1, check_usb, usb_section)                       \
    CHECK(usb, "usb.controller", "", "", false)                            \
    CHECK(usb, "usb.ports", "", "", false)                                 \
    CHECK(usb, "usb.otgpower", "", "", true)                               \
    CHECK(usb, "usb.otgpoweriddq", "", "", true)                           \
    CHECK(usb, "usb.otgpowersave", "", "", true)                           \
    SUBSYSTEM(wifi, "Wi-Fi", 2, check_wifi, plain_section)                 \
    CHECK(wifi, "wifi.on", "", "", true)                                   \
    CHECK(wifi, "wifi.off", "", "", true)                                  \
    SUBSYSTEM(egl, "EGL", 4, check_egl, egl_section)                       \
    CHECK(egl, "egl.configs", "configs", "configurations", false)          \
    SUBSYSTEM(gpu, "GPU", 3, check_gpu, gpu_section)                       \
    CHECK(gpu, "gpu.lanterna", "fps", "fps", false)                        \
    CHECK(gpu, "gpu.veilglass", "fps", "fps", false)                       \
    CHECK(gpu, "gpu.tilemosaic", "fps", "fps", false)

// For the kind of row a reader leaves out.
#define BRINGUP_NO_ROW(...)

struct SubsystemRow {
    const char* name;       // "audio"
    const char* title;      // the report's heading, "Audio"
    int report_place;       // of its section on the report page
};

struct CheckRow {
    const char* name;       // "audio.capture"
    const char* subsystem;  // "audio"
    const char* figure;     // the main figure's key in the check's figures, or ""
    const char* units;      // its units, or ""
    bool needs_switch;      // made only with --switch
};

#define BRINGUP_SUBSYSTEM_ROW(name, title, report_place, checks, section) {#name, title, report_place},
inline constexpr SubsystemRow kSubsystems[] = {BRINGUP_CHECKS(BRINGUP_SUBSYSTEM_ROW, BRINGUP_NO_ROW)};
#undef BRINGUP_SUBSYSTEM_ROW

#define BRINGUP_CHECK_ROW(subsystem, name, figure, units, needs_switch) {name, #subsystem, figure, units, needs_switch},
inline constexpr CheckRow kChecks[] = {BRINGUP_CHECKS(BRINGUP_NO_ROW, BRINGUP_CHECK_ROW)};
#undef BRINGUP_CHECK_ROW

// The row of the check named `name`, or nullptr for a check this version does not make (a later
// version's, read from its results).
const CheckRow* check_row(const std::string& name);
// Whether `name` is a subsystem.
bool is_subsystem(const std::string& name);
// The subsystems' names in their order, joined by `separator`: "audio, usb, wifi, egl, gpu".
std::string subsystem_names(const char* separator);
