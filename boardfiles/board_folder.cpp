// Reading a board folder safely, and its settings. See board_folder.h.
#include "boardfiles/board_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iterator>

#include "boardfiles/board_names.h"
#include "boardfiles/folderfile.h"
#include "bringup/audio_stream_core.h"
#include "bringup/board_setting_rows.h"

namespace boardfiles {

namespace {

// Keys whose repeated lines add up (comma separated) instead of replacing each other.
const char* const kListKeys[] = {"fault.deny"};
// The board's settings, one row each: include/bringup/board_settings.h.
using bringup::BoardSetting;
using bringup::SettingKind;

// The tone's frequency: the table's one frequency setting (audio.tone_hz).
constexpr size_t hertz_row() {
    size_t i = 0;
    while (i < std::size(bringup::kBoardSettings) && bringup::kBoardSettings[i].kind != SettingKind::Hertz) ++i;
    return i;
}
static_assert(hertz_row() < std::size(bringup::kBoardSettings), "the board settings name the tone's frequency");
constexpr const BoardSetting* kTone = &bringup::kBoardSettings[hertz_row()];

bool parse_number(const BoardSetting& n, const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text.c_str(), &end, 0);
    if (errno || end == text.c_str() || *end != '\0' || v < n.low || v > n.high) return false;
    *value = v;
    return true;
}

const BoardSetting* number_row(const std::string& key) {
    const BoardSetting* row = setting_row(key);
    return row && (row->kind == SettingKind::Number || row->kind == SettingKind::Optional) ? row : nullptr;
}

// Whether `item` is one of the space-separated `words`.
bool is_word(const std::string& item, const char* words) {
    std::string all = std::string(" ") + words + " ";
    return !item.empty() && item.find(' ') == std::string::npos && all.find(" " + item + " ") != std::string::npos;
}

// The space-separated `words` as the messages name them: "sleepm, iddq, both".
std::string word_names(const char* words) {
    std::string names = words;
    for (size_t at = names.find(' '); at != std::string::npos; at = names.find(' ', at + 2)) names.replace(at, 1, ", ");
    return names;
}

// Whether every item of a list (separated by commas or blanks) is one of the `words`.
bool list_taken(const std::string& list, const char* words) {
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find_first_of(", ", pos);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(pos, end - pos);
        if (!item.empty() && !is_word(item, words)) return false;
        pos = end + 1;
    }
    return true;
}

// A call number of up to 18 digits (no sign: calls count from 1) at `text`[*pos], moving past it.
bool call_number(const std::string& text, size_t* pos, long long* out) {
    size_t n = 0;
    *out = 0;
    for (; *pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9'; ++*pos, ++n)
        *out = *out * 10 + (text[*pos] - '0');
    return n > 0 && n <= 18;
}

// Whether `text` is a list of calls as the board counts them: "3", "2,5", "4-6", "7-", blanks
// around an item allowed.
bool calls_taken(const std::string& text) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        std::string item = trim(text.substr(pos, comma - pos));
        pos = comma + 1;
        if (item.empty()) continue;
        size_t at = 0;
        long long first, last;
        if (!call_number(item, &at, &first)) return false;
        if (at < item.size() && item[at] == '-' && ++at < item.size() && (!call_number(item, &at, &last) || last < first))
            return false;
        if (at != item.size()) return false;
    }
    return true;
}

bool is_list_key(const std::string& key) {
    for (const char* k : kListKeys)
        if (key == k) return true;
    return false;
}

}  // namespace

int open_in_folder(const std::string& dir, const std::string& path, int flags, mode_t mode) {
    if (dir.empty() || path.compare(0, dir.size(), dir) != 0 || path.size() <= dir.size() + 1 ||
        path[dir.size()] != '/')
        return open_beneath("", path, flags, mode, kLinksWithin);
    return open_beneath(dir, path.substr(dir.size() + 1), flags, mode, kLinksWithin);
}

FileRead read_board_file(const std::string& dir, const std::string& path, size_t max, std::string* text,
                         long long from, bool cut_ok) {
    FileRead r;
    text->clear();
    std::string full = dir + path;
    int fd = open_in_folder(dir, full, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) r.missing = true;
        else if (errno == EXDEV) r.problem = full + " is a link out of the board folder";
        else r.problem = "cannot read " + full + ": " + strerror(errno);
        return r;
    }
    BoundedRead read;
    bool ok = read_bounded(fd, max, from, text, &read);
    if (!read.regular) {
        r.problem = full + " is not a regular file";
        return r;
    }
    if (!ok) {
        r.problem = "cannot read " + full + ": " + strerror(read.error);
        return r;
    }
    if (read.cut) {
        r.cut = true;
        if (!cut_ok) {
            text->clear();
            r.problem = full + " is longer than " +
                        (max == kAttributeMax ? std::string("a page") : std::to_string(max) + " bytes");
            return r;
        }
    }
    r.ok = true;
    return r;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

void parse_settings(const std::string& text, Settings* settings) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (key.empty()) continue;
        std::string& slot = (*settings)[key];
        if (is_list_key(key) && !slot.empty() && !value.empty())
            slot += "," + value;
        else
            slot = value;
    }
}

bool read_settings(const std::string& dir, Settings* settings, std::string* problem) {
    std::string text;
    FileRead r = read_board_file(dir, std::string("/") + kSettingsFile, kSettingsMax, &text);
    if (!r.ok) {
        *problem = r.problem;
        return r.missing;
    }
    parse_settings(text, settings);
    return true;
}

std::string setting_text(const Settings& settings, const std::string& key, const std::string& fallback) {
    auto it = settings.find(key);
    return it == settings.end() || it->second.empty() ? fallback : it->second;
}

const BoardSetting* setting_row(const std::string& key) {
    for (const BoardSetting& row : bringup::kBoardSettings)
        if (key == row.key) return &row;
    return nullptr;
}

std::string setting_default(const std::string& key) {
    const BoardSetting* row = setting_row(key);
    return row ? row->def : "";
}

long long setting_number(const Settings& settings, const std::string& key) {
    const BoardSetting* n = number_row(key);
    if (!n) return 0;
    long long v = n->number;
    parse_number(*n, setting_text(settings, key, ""), &v);
    return v;
}

double setting_tone_hz(const Settings& settings) {
    long long mhz;
    if (audio_stream_parse_mhz(setting_text(settings, kTone->key, "").c_str(), &mhz) != 0 || mhz <= 0)
        audio_stream_parse_mhz(kTone->def, &mhz);
    return double(mhz) / 1000.0;
}

std::string setting_refused(const std::string& key, const std::string& value) {
    const BoardSetting* row = setting_row(key);
    if (!row || value.empty()) return "";
    // A quoted version text is the preloaded board's own: the file's exact content.
    bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (row->kind == SettingKind::Text && quoted) return "";
    if (value.size() > BOARD_SETTING_MAX)
        return key + ": a value of more than " + std::to_string(BOARD_SETTING_MAX) + " characters";
    std::string why;
    long long v;
    switch (row->kind) {
        case SettingKind::Number:
        case SettingKind::Optional:
            if (!parse_number(*row, value, &v))
                why = ": not a whole number from " + std::to_string(row->low) + " to " + std::to_string(row->high);
            break;
        case SettingKind::Word:
            if (!is_word(value, row->words)) why = ": not one of " + word_names(row->words);
            break;
        case SettingKind::List:
            if (!list_taken(value, row->words)) why = ": not a comma-separated list of " + word_names(row->words);
            break;
        case SettingKind::Calls:
            if (!calls_taken(value)) why = ": not a list of calls counted from 1 (\"3\", \"2,5\", \"4-6\", \"7-\")";
            break;
        case SettingKind::Hertz:
            if (audio_stream_parse_mhz(value.c_str(), &v) != 0 || v <= 0)
                why = ": not a frequency in hertz above 0, with at most three decimals";
            break;
        case SettingKind::Text:
            break;
    }
    return why.empty() ? "" : key + " = " + value + why;
}

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path) == 0 ? 0 : -1; }

}  // namespace

bool remove_tree(const std::string& path) {
    return nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) == 0 || errno == ENOENT;
}

}  // namespace boardfiles
