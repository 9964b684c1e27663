// Small file helpers of the simulated board's USB side, shared by the kernel model in the preload
// library (usb.cpp) and the `boardsim` command's USB part (cli_usb.cpp). Header-only so that each
// binary gets its own copy.
#pragma once

#include <ctype.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "boardfiles/board_folder.h"
#include "boardsim.h"

namespace boardsim {

// The preload library wraps open, read, stat and friends; the model's own file work goes straight
// to the kernel so that it never meets the wrappers (or their locks).
// The model's files lie in the board folder: a link out of it, or a FIFO, is never opened.
inline int usb_raw_open(const std::string& path, int flags, mode_t mode = 0) {
    return boardfiles::open_in_folder(board_dir(), path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
}

inline bool usb_file_exists(const std::string& path) {
    return ::syscall(SYS_faccessat, AT_FDCWD, path.c_str(), F_OK) == 0;
}

// The whole content of a small state file without trailing line ends and blanks, or fallback when
// it cannot be read.
inline std::string usb_state_read(const std::string& path, const std::string& fallback) {
    int fd = usb_raw_open(path, O_RDONLY);
    if (fd < 0) return fallback;
    std::string text;
    char buf[256];
    long n;
    while ((n = ::syscall(SYS_read, fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    ::syscall(SYS_close, fd);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// Replaces a file's content in one step (write a sibling, then rename), so that a reader in
// another process sees the old or the new content, never a part.
inline bool usb_state_write(const std::string& path, const std::string& text) {
    std::string tmp = path + ".new." + std::to_string(::getpid());
    int fd = usb_raw_open(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::syscall(SYS_write, fd, text.data(), text.size()) == long(text.size());
    ok = ::syscall(SYS_close, fd) == 0 && ok;
    if (!ok || ::syscall(SYS_renameat, AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str()) != 0) {
        ::syscall(SYS_unlinkat, AT_FDCWD, tmp.c_str(), 0);
        return false;
    }
    return true;
}

// Decodes the C escapes \n \t \r \\ \" \0 and \xHH of a setting's value.
inline std::string usb_unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        char e = text[++i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '0': out += '\0'; break;
            case 'x': {
                int value = 0, digits = 0;
                while (digits < 2 && i + 1 < text.size() && isxdigit((unsigned char)text[i + 1])) {
                    char h = text[++i];
                    value = value * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                    digits++;
                }
                out += char(value);
                break;
            }
            default: out += e; break;
        }
    }
    return out;
}

}  // namespace boardsim
