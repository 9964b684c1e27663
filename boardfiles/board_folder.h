// Reading a board folder: its files, opened without leaving the folder, without blocking and only
// when they are regular files, read up to a bound; and its settings (board.conf), read one way by
// the simulated board and by bringup-check alike. Plain system calls only: this is linked into
// libboardsim.so, whose wrapped entry points it must never meet.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "bringup/board_setting_rows.h"

namespace boardfiles {

// A real sysfs attribute holds at most a page.
constexpr size_t kAttributeMax = 4096;
// board.conf: far more than any board needs, hand-written or recorded.
constexpr size_t kSettingsMax = 1 << 20;

// Opens `path`, which lies in the folder `dir`, without leaving the folder: a link (or "..") that
// leads out of it fails with EXDEV. With an empty `dir`, or a path not in `dir`, the path is
// opened as it is. -1 with errno on failure.
int open_in_folder(const std::string& dir, const std::string& path, int flags, mode_t mode = 0);

// What became of reading a file.
struct FileRead {
    bool ok = false;       // the text was read (up to the bound where cutting was allowed)
    bool missing = false;  // there is no such file
    bool cut = false;      // the file went on past the bound, and only the bound was read
    std::string problem;   // why it was not read: "<path> is a link out of the board folder", ...
};

// Reads the file `path` of the board folder `dir` ("/sys/..." is "<dir>/sys/..."; with an empty
// `dir` the path on this system): non-blocking, a regular file only (sysfs attributes are), from
// byte `from` on and at most `max` bytes. A longer file is refused, or cut at `max` when `cut_ok`.
FileRead read_board_file(const std::string& dir, const std::string& path, size_t max, std::string* text,
                         long long from = 0, bool cut_ok = false);

// The text without blanks (spaces, tabs, carriage returns) at either end, as settings are read.
std::string trim(const std::string& s);

// Settings of a board.conf, key to value.
using Settings = std::map<std::string, std::string>;

// Adds the settings of a board.conf text: "key = value" lines, '#' starts a comment, lines
// without '=' or with an empty key are skipped; a later line replaces an earlier one for the same
// key, except for list keys (fault.deny), whose values add up comma-separated.
void parse_settings(const std::string& text, Settings* settings);

// The settings of the board folder `dir` (none when it has no board.conf). False, with the
// reason, when its board.conf is there but refused (see read_board_file).
bool read_settings(const std::string& dir, Settings* settings, std::string* problem);

// A setting's text, or `fallback` when it is missing or empty.
std::string setting_text(const Settings& settings, const std::string& key, const std::string& fallback);

// The row of the board setting `key` in include/bringup/board_settings.h (default, what it takes),
// or null for a key outside the table (fault.deny, usb.port<N>.gotgctl, ...).
const bringup::BoardSetting* setting_row(const std::string& key);

// The default of the board setting `key` as text ("192000", "tone"), or empty when it has none.
std::string setting_default(const std::string& key);

// The board's numeric settings (audio.rate, audio.ring, ...): the value as the board takes it, or
// the key's default when the setting is missing, is not a whole number or lies outside its range
// (0 for audio.fault.size, which has none). Numbers are read in C notation (0x2EE00 is 192000).
long long setting_number(const Settings& settings, const std::string& key);

// audio.tone_hz as the board plays it: hertz to the milli-hertz (440.5), the default when missing
// or not such a frequency.
double setting_tone_hz(const Settings& settings);

// Why `value` is refused for the board setting `key` ("audio.ring = abc: not a whole number from 1
// to 2147483647", "usb.phy = x: not one of sleepm, iddq, both"), or empty when it is taken. An
// empty value stands for the default; keys outside the table and quoted version texts (the file's
// exact content) are the preloaded board's own and taken as they are.
std::string setting_refused(const std::string& key, const std::string& value);

// Removes a folder and everything under it (a board's sys/, a test's folder), staying on its file
// system and never following links; true when it is gone (or was never there), else errno says why.
bool remove_tree(const std::string& path);

}  // namespace boardfiles
