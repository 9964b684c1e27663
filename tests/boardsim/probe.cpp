// A program for the board tests to run on a simulated board: it makes the calls named on its command
// line, one after the other, and prints one line per call: "<call> <result> <errno> [<data>]".
//   fread PATH           fopen "r", whole content as a C literal
//   fwrite PATH TEXT     fopen "w", fputs, fclose
//   oread PATH           open O_RDONLY, read, close
//   owrite PATH TEXT     open O_WRONLY | O_TRUNC, write, close
//   access PATH          euidaccess(PATH, R_OK)
//   stat PATH            stat; data: "chr" for a character device, else "other"
//   dopen                open "/dev/qvaudio_out" O_RDWR (the device of the later calls)
//   size | hw | rd       the size, hardware position and read position commands
//   setrd N | setup N    set the read position, the set-up command
//   read N               read N bytes; data: the first 32-bit little-endian word in hex and
//                        "contig" when the bytes form one run of the counter stream, else "broken"
//   readhex N            read N bytes; data: the bytes in hexadecimal
//   dclose               close the device
//   sleep MS             sleep MS milliseconds
//   thread               pthread_create, result the error number
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bringup/qvaudio.h"

namespace {

int g_fd = -1;

void report(const char* call, long result, const std::string& data = "") {
    printf("%s %ld %d%s%s\n", call, result, result < 0 ? errno : 0, data.empty() ? "" : " ",
           data.c_str());
}

std::string literal(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}

uint8_t counter_byte(uint64_t offset) { return uint8_t(uint32_t(offset / 4) >> (8 * (offset % 4))); }

// "contig" when the bytes are one run of the counter stream (from whatever offset the first word
// names, allowing a start inside a word).
std::string counter_check(const uint8_t* p, size_t n) {
    if (n < 8) return "short";
    for (size_t k = 0; k < 4; ++k) {
        uint32_t w;
        memcpy(&w, p + k, 4);
        uint64_t start = uint64_t(w) * 4 - k;
        bool ok = true;
        for (size_t i = 0; i < n && ok; ++i) ok = p[i] == counter_byte(start + i);
        if (ok) return "contig";
    }
    return "broken";
}

void* idle(void*) { return nullptr; }

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    for (int i = 1; i < argc; ++i) {
        std::string c = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        errno = 0;
        if (c == "fread") {
            const char* path = next();
            FILE* f = fopen(path, "r");
            if (!f) {
                report("fread", -1);
                continue;
            }
            std::string text;
            char buf[256];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
            fclose(f);
            report("fread", long(text.size()), literal(text));
        } else if (c == "fwrite") {
            const char* path = next();
            const char* text = next();
            FILE* f = fopen(path, "w");
            if (!f) {
                report("fwrite", -1);
                continue;
            }
            fputs(text, f);
            report("fwrite", fclose(f));
        } else if (c == "oread") {
            int fd = open(next(), O_RDONLY);
            if (fd < 0) {
                report("oread", -1);
                continue;
            }
            char buf[256];
            ssize_t n = read(fd, buf, sizeof buf);
            close(fd);
            report("oread", long(n), literal(std::string(buf, n > 0 ? size_t(n) : 0)));
        } else if (c == "owrite") {
            int fd = open(next(), O_WRONLY | O_TRUNC);
            const char* text = next();
            if (fd < 0) {
                report("owrite", -1);
                continue;
            }
            ssize_t n = write(fd, text, strlen(text));
            close(fd);
            report("owrite", long(n));
        } else if (c == "access") {
            report("access", euidaccess(next(), R_OK));
        } else if (c == "stat") {
            struct stat st;
            int r = stat(next(), &st);
            report("stat", r, r == 0 ? (S_ISCHR(st.st_mode) ? "chr" : "other") : "");
        } else if (c == "dopen") {
            g_fd = open(QVAUDIO_NODE, O_RDWR);
            report("dopen", g_fd < 0 ? -1 : 0);
        } else if (c == "size") {
            report("size", ioctl(g_fd, kCmdOutSize, 0UL));
        } else if (c == "hw") {
            report("hw", ioctl(g_fd, kCmdOutHwPos));
        } else if (c == "rd") {
            report("rd", ioctl(g_fd, kCmdOutReadPos));
        } else if (c == "setrd") {
            report("setrd", ioctl(g_fd, kCmdOutSetReadPos, strtoul(next(), nullptr, 0)));
        } else if (c == "setup") {
            report("setup", ioctl(g_fd, kCmdOutSetup, strtoul(next(), nullptr, 0)));
        } else if (c == "readhex") {
            std::vector<uint8_t> buf(strtoul(next(), nullptr, 0));
            ssize_t n = read(g_fd, buf.data(), buf.size());
            std::string data;
            for (ssize_t k = 0; k < n; ++k) {
                char hex[4];
                snprintf(hex, sizeof hex, "%02x", buf[size_t(k)]);
                data += hex;
            }
            report("readhex", long(n), data);
        } else if (c == "read") {
            std::vector<uint8_t> buf(strtoul(next(), nullptr, 0) + 1);
            ssize_t n = read(g_fd, buf.data(), buf.size() - 1);
            std::string data;
            if (n >= 4) {
                uint32_t w;
                memcpy(&w, buf.data(), 4);
                char hex[16];
                snprintf(hex, sizeof hex, "%x", w);
                data = std::string(hex) + " " + counter_check(buf.data(), size_t(n));
            }
            report("read", long(n), data);
        } else if (c == "dclose") {
            report("dclose", close(g_fd));
            g_fd = -1;
        } else if (c == "sleep") {
            usleep(useconds_t(atoi(next())) * 1000);
        } else if (c == "thread") {
            pthread_t t;
            int r = pthread_create(&t, nullptr, idle, nullptr);
            if (r == 0) pthread_join(t, nullptr);
            printf("thread %d\n", r);
        } else {
            fprintf(stderr, "probe: unknown call %s\n", c.c_str());
            return 2;
        }
    }
    return 0;
}
