// Reading a board folder safely, and its settings. See board_folder.h.
#include "board_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bringup/audio_stream.h"
#include "bringupcheck/folderfile.h"

namespace boardsim {

namespace {

const char kSettingsFile[] = "/board.conf";
// Keys whose repeated lines add up (comma separated) instead of replacing each other.
const char* const kListKeys[] = {"fault.deny"};
// The tone's frequency: hertz with up to three decimals, as the audio stream takes it.
const char kToneKey[] = "audio.tone_hz";

// The numeric settings the board reads: default and range.
struct Number {
    const char* key;
    long long fallback;
    long long min, max;
};
const Number kNumbers[] = {
    {"audio.rate", 192000, 1, AUDIO_STREAM_RATE_MAX},
    {"audio.ring", 65536, 1, INT_MAX},
    {"audio.align", 4, 1, INT_MAX},
    {"audio.present", 1, 0, 1},
    {"audio.fault.absent_opens", 0, 0, INT_MAX},
    {"audio.fault.size", 0, INT_MIN, INT_MAX},
    {"usb.phy_control", 1, 0, 1},
    {"usb.mod_class", 1, 0, 1},
    {"wifi.present", 1, 0, 1},
};

const Number* number_of(const std::string& key) {
    for (const Number& n : kNumbers)
        if (key == n.key) return &n;
    return nullptr;
}

bool parse_number(const Number& n, const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text.c_str(), &end, 0);
    if (errno || end == text.c_str() || *end != '\0' || v < n.min || v > n.max) return false;
    *value = v;
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
    FileRead r = read_board_file(dir, kSettingsFile, kSettingsMax, &text);
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

long long setting_number(const Settings& settings, const std::string& key) {
    const Number* n = number_of(key);
    if (!n) return 0;
    long long v = n->fallback;
    parse_number(*n, setting_text(settings, key, ""), &v);
    return v;
}

double setting_tone_hz(const Settings& settings) {
    long long mhz = AUDIO_STREAM_TONE_MHZ_DEFAULT;
    if (audio_stream_parse_mhz(setting_text(settings, kToneKey, "").c_str(), &mhz) != 0 || mhz <= 0)
        mhz = AUDIO_STREAM_TONE_MHZ_DEFAULT;
    return double(mhz) / 1000.0;
}

std::string number_refused(const std::string& key, const std::string& value) {
    if (key == kToneKey) {
        long long mhz;
        if (value.empty() || (audio_stream_parse_mhz(value.c_str(), &mhz) == 0 && mhz > 0)) return "";
        return key + " = " + value + ": not a frequency in hertz above 0, with at most three decimals";
    }
    const Number* n = number_of(key);
    long long v;
    if (!n || value.empty() || parse_number(*n, value, &v)) return "";
    char range[80];
    snprintf(range, sizeof range, ": not a whole number from %lld to %lld", n->min, n->max);
    return key + " = " + value + range;
}

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path) == 0 ? 0 : -1; }

}  // namespace

bool remove_tree(const std::string& path) {
    return nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) == 0 || errno == ENOENT;
}

}  // namespace boardsim
