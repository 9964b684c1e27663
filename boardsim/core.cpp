// The board core: the board folder, its settings, the trace, event counters and the registries of
// emulated devices, sysfs hooks and builders, and the profiles. Linked into both libboardsim.so and the
// `boardsim` command; all file work here uses plain system calls so that it never re-enters the
// wrapped entry points of the preload library.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "boardfiles/board_folder.h"
#include "boardfiles/board_names.h"
#include "boardsim.h"
#include "bringup/trace_line.h"
#include "internal.h"

namespace boardsim {

namespace {

using boardfiles::kBoardEnv;
// Without a board: the file that receives the trace of a program run on the real devices.
using boardfiles::kTraceEnv;

// Registries: constant-initialised so that modules may register from their static initialisers
// in any order.
constexpr int kMaxEntries = 32;
const Device* g_devices[kMaxEntries];
std::atomic<int> g_device_count{0};
const SysfsHook* g_hooks[kMaxEntries];
std::atomic<int> g_hook_count{0};
void (*g_builders[kMaxEntries])();
std::atomic<int> g_builder_count{0};

std::once_flag g_settings_once;
// Never freed: wrapped calls may still arrive from atexit handlers after static destructors ran.
boardfiles::Settings* g_settings;

// A board.conf that is refused (a link out of the board, not a regular file, too long) leaves
// the board with its defaults, and the trace says why.
void load_settings() {
    g_settings = new boardfiles::Settings;
    if (board_dir().empty()) return;
    std::string problem;
    if (!boardfiles::read_settings(board_dir(), g_settings, &problem)) trace("fault", boardfiles::kSettingsFile, problem, 0);
}

template <typename T>
void add_entry(T* table, std::atomic<int>& count, T entry) {
    int i = count.load();
    if (i >= kMaxEntries) return;
    table[i] = entry;
    count.store(i + 1);
}

template <typename T>
std::vector<T> entries(T* table, const std::atomic<int>& count) {
    return std::vector<T>(table, table + count.load());
}

}  // namespace

const std::string& board_dir() {
    static const std::string* dir = [] {
        const char* env = getenv(kBoardEnv);
        std::string d = env ? env : "";
        if (!d.empty()) {
            char* abs = realpath(d.c_str(), nullptr);
            if (abs) {
                d = abs;
                free(abs);
            }
            while (d.size() > 1 && d.back() == '/') d.pop_back();
        }
        return new std::string(d);
    }();
    return *dir;
}

std::string setting(const std::string& key, const std::string& fallback) {
    std::call_once(g_settings_once, load_settings);
    return boardfiles::setting_text(*g_settings, key, fallback);
}

std::string setting(const std::string& key) { return setting(key, boardfiles::setting_default(key)); }

long long setting_number(const std::string& key) {
    std::call_once(g_settings_once, load_settings);
    return boardfiles::setting_number(*g_settings, key);
}

double setting_tone_hz() {
    std::call_once(g_settings_once, load_settings);
    return boardfiles::setting_tone_hz(*g_settings);
}

// The board's trace.log; without a board, the file named by BOARDSIM_TRACE; else empty.
const std::string& core::trace_file() {
    static const std::string* file = [] {
        if (!board_dir().empty()) return new std::string(board_dir() + "/" + boardfiles::kTraceFile);
        const char* env = getenv(kTraceEnv);
        return new std::string(env ? env : "");
    }();
    return *file;
}

void trace(const char* op, const char* path, const std::string& detail, long long result) {
    if (core::trace_file().empty()) return;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    std::string line = bringup::format_trace_line((long long)ts.tv_sec, ts.tv_nsec / 1000, (long)getpid(), op,
                                         path, detail, result);
    int saved = errno;
    // Appended to a regular file only: a trace.log that is a link, a FIFO or a device is left alone.
    int fd = core::open_regular(core::trace_file(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd >= 0) {
        ssize_t w = core::raw_write(fd, line.data(), line.size());
        (void)w;
        core::raw_close(fd);
    }
    errno = saved;
}

long long count_event(const std::string& name) {
    if (board_dir().empty()) return 1;
    int saved = errno;
    std::string path = board_dir() + "/" + boardfiles::kStateDir + "/count." + name;
    int fd = core::open_regular(path, O_RDWR | O_CREAT, 0644);
    long long n = 1;
    if (fd >= 0) {
        syscall(SYS_flock, fd, LOCK_EX);
        char buf[32] = {0};
        ssize_t r = core::raw_read(fd, buf, sizeof buf - 1);
        if (r > 0) n = atoll(buf) + 1;
        std::string text = std::to_string(n) + "\n";
        syscall(SYS_lseek, fd, 0L, SEEK_SET);
        syscall(SYS_ftruncate, fd, 0L);
        ssize_t w = core::raw_write(fd, text.data(), text.size());
        (void)w;
        core::raw_close(fd);  // releases the lock
    }
    errno = saved;
    return n;
}

std::string redirect(const char* path) {
    if (!path) return "";
    if (!core::is_sys_path(path)) return path;
    return board_dir() + path;
}

void register_device(const Device* device) { add_entry(g_devices, g_device_count, device); }
void register_sysfs_hook(const SysfsHook* hook) { add_entry(g_hooks, g_hook_count, hook); }
void register_builder(void (*build)()) { add_entry(g_builders, g_builder_count, build); }

namespace core {

int raw_open(const char* path, int flags, mode_t mode) {
    return (int)syscall(SYS_openat, AT_FDCWD, path, flags, mode);
}
ssize_t raw_read(int fd, void* buf, size_t count) { return syscall(SYS_read, fd, buf, count); }
ssize_t raw_write(int fd, const void* buf, size_t count) {
    return syscall(SYS_write, fd, buf, count);
}
int raw_close(int fd) { return (int)syscall(SYS_close, fd); }

int open_regular(const std::string& path, int flags, mode_t mode) {
    int fd = boardfiles::open_in_folder(board_dir(), path, flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat st;
    if (syscall(SYS_fstat, fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        raw_close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool read_text(const std::string& path, std::string* text) {
    int fd = open_regular(path, O_RDONLY);
    if (fd < 0) return false;
    text->clear();
    char buf[4096];
    ssize_t n;
    while ((n = raw_read(fd, buf, sizeof buf)) > 0) text->append(buf, size_t(n));
    raw_close(fd);
    return n == 0;
}

bool write_text(const std::string& path, const std::string& text) {
    int fd = open_regular(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    ssize_t n = raw_write(fd, text.data(), text.size());
    raw_close(fd);
    return n == ssize_t(text.size());
}

const Device* device_node(const char* path) {
    if (!path) return nullptr;
    int n = g_device_count.load();
    for (int i = 0; i < n; ++i)
        if (strcmp(g_devices[i]->path, path) == 0) return g_devices[i];
    return nullptr;
}

const Device* find_device(const char* path) { return board_dir().empty() ? nullptr : device_node(path); }

std::vector<const SysfsHook*> sysfs_hooks() { return entries(g_hooks, g_hook_count); }
namespace {
const Profile kProfiles[] = {BOARD_PROFILES(BOARD_PROFILE_ROW)};
}  // namespace

std::vector<const Profile*> profiles() {
    std::vector<const Profile*> out;
    for (const Profile& p : kProfiles) out.push_back(&p);
    return out;
}
std::vector<void (*)()> builders() { return entries(g_builders, g_builder_count); }

bool under_sys(const char* path) {
    return path && strncmp(path, "/sys", 4) == 0 && (path[4] == '/' || path[4] == '\0');
}

bool is_sys_path(const char* path) { return under_sys(path) && !board_dir().empty(); }

bool trace_only() { return board_dir().empty() && !trace_file().empty(); }

bool denied(const char* path) {
    if (!path) return false;
    std::string list = setting("fault.deny", "");
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        if (boardfiles::trim(list.substr(pos, comma - pos)) == path) return true;
        pos = comma + 1;
    }
    // A board folder from elsewhere may hold links out of itself: what they lead to is not the
    // board's, and is neither read nor written. Nor is a FIFO, a device or a socket, which no
    // sysfs holds and which could hold a program up.
    int saved = errno;
    int fd = boardfiles::open_in_folder(board_dir(), redirect(path), O_PATH);
    bool refused = fd < 0 && errno == EXDEV;
    struct stat st;
    if (fd >= 0 && syscall(SYS_fstat, fd, &st) == 0) refused = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
    if (fd >= 0) raw_close(fd);
    errno = saved;
    return refused;
}

std::string c_literal(const char* bytes, size_t count) { return bringup::trace_literal(bytes, count); }

bool in_call_list(const std::string& list, long long call) {
    size_t pos = 0;
    while (pos < list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        std::string item = boardfiles::trim(list.substr(pos, comma - pos));
        pos = comma + 1;
        if (item.empty()) continue;
        char* end = nullptr;
        long long first = strtoll(item.c_str(), &end, 10);
        if (end == item.c_str()) continue;
        if (*end == '\0') {
            if (call == first) return true;
        } else if (*end == '-') {
            const char* rest = end + 1;
            if (*rest == '\0') {
                if (call >= first) return true;
            } else {
                long long last = strtoll(rest, &end, 10);
                if (*end == '\0' && call >= first && call <= last) return true;
            }
        }
    }
    return false;
}

}  // namespace core
}  // namespace boardsim
