// The checks, one function per subsystem, and what they share: where the output goes, whether the
// board is simulated, and how a program of the suite is run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "board_folder.h"
#include "bringupcheck/results.h"

struct Context {
    std::string out;            // output folder, absolute
    std::string sim;            // simulated board folder, or empty on a real board
    boardsim::Settings settings;  // the simulated board's board.conf
    std::string preload;        // libboardsim.so (simulated board, and trace-only runs)
    std::string boardsim;       // the boardsim command, or empty
    bool trace_only = false;    // real board: `boardsim run --trace-only` keeps a trace of each program
    bool do_switch = false;
    double seconds = 10;
    std::vector<int> attach_ports;  // simulated board: a device comes and goes here during each USB daemon run
    long long audio_rate = 192000;  // bytes per second the audio driver plays (real board)
    std::string prefix;         // the suite's installed root (bin/, share/board-bringup/)
    bool progress = false;      // standard output is a terminal
    std::function<void(const Check&)> show;  // called as each check ends
    Results results;
};

void check_audio(Context& ctx);
void check_usb(Context& ctx);
void check_wifi(Context& ctx);
void check_egl(Context& ctx);
void check_gpu(Context& ctx);

// Small file helpers.
bool read_file(const std::string& path, std::string* text);
// Replaces the file at `path` (a link there is replaced, not followed); false with errno.
bool write_file(const std::string& path, const std::string& text);
// Makes the folder and any missing folders above it (links above it are followed).
bool make_dirs(const std::string& path);
// Why bringup-check will not write into the folder at `path`, or "" when it is a folder, not a
// link, of our own user, that no other user can write to: nobody else can then put a link in
// place of a file it writes.
std::string unfit_folder(const std::string& path);
// Makes the folder (its parent must exist) unless it is there; then as unfit_folder.
std::string make_folder(const std::string& path);
