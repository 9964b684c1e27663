// The entry points of libboardsim.so: the public C library calls that programs make, wrapped so
// that "/sys/..." lands in the board folder and the emulated devices answer their nodes. With no
// board named (BOARDSIM_DIR unset) every call passes straight through.
//
// Every open of an emulated device gets a real descriptor (a memfd) so that close, dup and poll
// behave; a lock-free table maps descriptors to what stands behind them, safe for programs with
// several threads.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "boardsim.h"
#include "internal.h"
#include "bringup/trace_line.h"

using boardsim::Device;
namespace core = boardsim::core;

// The pre-2.33 stat entry points are still exported (and called by older binaries), but no longer
// declared.
extern "C" {
int __xstat(int ver, const char* path, struct stat* buf);
int __xstat64(int ver, const char* path, struct stat64* buf);
int __lxstat(int ver, const char* path, struct stat* buf);
int __lxstat64(int ver, const char* path, struct stat64* buf);
int __fxstatat(int ver, int dirfd, const char* path, struct stat* buf, int flags);
int __fxstatat64(int ver, int dirfd, const char* path, struct stat64* buf, int flags);
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int dirfd, const char* path, int flags);
int __openat64_2(int dirfd, const char* path, int flags);
}

namespace {

// What stands behind a descriptor or a buffered stream the library handed out: an emulated device,
// or a redirected sysfs file whose reads, writes and close are traced and whose written bytes go
// to the kernel model when it is closed.
struct Tracked {
    const Device* device;    // an emulated device, or null for a redirected sysfs file
    int fd;
    std::string sys_path;    // the path as the program named it
    std::string real_path;   // where it lives in the board folder
    bool writable;
    bool passthrough;        // the real device or attribute, only traced (no board in use)
    std::mutex written_mutex;
    std::string written;     // bytes written so far (sysfs files)

    Tracked(const Device* dev, int d, const char* sys, std::string real, bool w, bool pass = false)
        : device(dev), fd(d), sys_path(sys), real_path(std::move(real)), writable(w), passthrough(pass) {}
};

constexpr int kMaxFds = 1 << 16;
std::atomic<Tracked*> g_slots[kMaxFds];

#define REAL(name) \
    static auto real_##name = reinterpret_cast<decltype(&::name)>(dlsym(RTLD_NEXT, #name))

bool active() { return !boardsim::board_dir().empty(); }

// Trace-only mode (no board, a trace file named): calls on the real device nodes and on "/sys/"
// go to the real system unchanged and are traced as on a board.
bool recorded(const char* path) {
    return path && core::trace_only() && (core::under_sys(path) || core::device_node(path));
}

// Whether an operation on `path` that went to the system (after redirection) is traced.
bool traced(const char* path) { return (active() && core::is_sys_path(path)) || recorded(path); }

Tracked* slot_of(int fd) {
    if (fd < 0 || fd >= kMaxFds) return nullptr;
    return g_slots[fd].load(std::memory_order_acquire);
}

void set_slot(int fd, Tracked* slot) {
    if (fd < 0 || fd >= kMaxFds) {
        delete slot;
        return;
    }
    delete g_slots[fd].exchange(slot, std::memory_order_acq_rel);
}

Tracked* take_slot(int fd) {
    if (fd < 0 || fd >= kMaxFds) return nullptr;
    return g_slots[fd].exchange(nullptr, std::memory_order_acq_rel);
}

std::string hex(unsigned long v) {
    char buf[32];
    snprintf(buf, sizeof buf, "0x%lx", v);
    return buf;
}

bool reads_from(int flags) { return (flags & O_ACCMODE) != O_WRONLY; }
bool writes_to(int flags) { return (flags & O_ACCMODE) != O_RDONLY; }

int fail(int err) {
    errno = err;
    return -1;
}

void run_before_read(const char* sys_path, const std::string& real_path) {
    if (!active()) return;
    for (const boardsim::SysfsHook* h : core::sysfs_hooks())
        if (h->before_read) h->before_read(sys_path, real_path);
}

void run_after_write(const std::string& sys_path, const std::string& real_path,
                     const std::string& bytes) {
    if (!active()) return;
    for (const boardsim::SysfsHook* h : core::sysfs_hooks())
        if (h->after_write) h->after_write(sys_path, real_path, bytes);
}

// Reads from a redirected sysfs file, traced with the bytes read.
ssize_t tracked_read(Tracked* t, void* buf, size_t count) {
    ssize_t n = core::raw_read(t->fd, buf, count);
    int err = errno;
    boardsim::trace("read", t->sys_path.c_str(),
                    n > 0 ? core::c_literal(static_cast<char*>(buf), size_t(n)) : "\"\"", n);
    errno = err;
    return n;
}

// Writes to a redirected sysfs file, traced with the bytes offered; what was written is kept for
// the kernel model.
ssize_t tracked_write(Tracked* t, const void* buf, size_t count) {
    ssize_t n = core::raw_write(t->fd, buf, count);
    int err = errno;
    boardsim::trace("write", t->sys_path.c_str(), core::c_literal(static_cast<const char*>(buf), count), n);
    if (n > 0) {
        std::lock_guard<std::mutex> lock(t->written_mutex);
        t->written.append(static_cast<const char*>(buf), size_t(n));
    }
    errno = err;
    return n;
}

// Traces the close of what stood behind a descriptor or stream and hands a written sysfs file's
// bytes on.
void finish_tracked(Tracked* t, int result) {
    int err = errno;
    boardsim::trace("close", t->sys_path.c_str(), "", result);
    if (!t->device && t->writable && !t->written.empty())
        run_after_write(t->sys_path, t->real_path, t->written);
    delete t;
    errno = err;
}

int open_device(const Device* dev, const char* path, int flags) {
    std::string detail = hex((unsigned long)flags);
    if (dev->present && !dev->present()) {
        boardsim::trace("open", path, detail, -1);
        return fail(ENOENT);
    }
    int fd = (int)syscall(SYS_memfd_create, "boardsim-device",
                          (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0u);
    if (fd < 0) return -1;
    int r = dev->on_open ? dev->on_open(fd, flags) : 0;
    if (r < 0) {
        core::raw_close(fd);
        boardsim::trace("open", path, detail, -1);
        return fail(-r);
    }
    set_slot(fd, new Tracked(dev, fd, path, "", writes_to(flags)));
    boardsim::trace("open", path, detail, fd);
    return fd;
}

// Opens an emulated device or a redirected sysfs file; `handled` false means: not ours.
int open_board_path(int dirfd, const char* path, int flags, mode_t mode, bool* handled) {
    *handled = false;
    if (recorded(path)) {
        *handled = true;
        int fd = (int)syscall(SYS_openat, dirfd, path, flags, mode);
        int err = errno;
        boardsim::trace("open", path, hex((unsigned long)flags), fd);
        if (fd >= 0) set_slot(fd, new Tracked(core::device_node(path), fd, path, path, writes_to(flags), true));
        errno = err;
        return fd;
    }
    if (!active() || !path) return -1;
    if (const Device* dev = core::find_device(path)) {
        *handled = true;
        return open_device(dev, path, flags);
    }
    if (!core::is_sys_path(path)) return -1;
    *handled = true;
    std::string detail = hex((unsigned long)flags);
    if (core::denied(path)) {
        boardsim::trace("open", path, detail, -1);
        return fail(EACCES);
    }
    std::string real_path = boardsim::redirect(path);
    if (reads_from(flags)) run_before_read(path, real_path);
    // sysfs never creates a file: a missing attribute stays missing (ENOENT) even for O_CREAT.
    int fd = (int)syscall(SYS_openat, dirfd, real_path.c_str(), flags & ~O_CREAT, mode);
    int err = errno;
    boardsim::trace("open", path, detail, fd);
    if (fd >= 0) set_slot(fd, new Tracked(nullptr, fd, path, real_path, writes_to(flags)));
    errno = err;
    return fd;
}

mode_t mode_arg(int flags, va_list ap) {
    if (flags & (O_CREAT | O_TMPFILE)) return (mode_t)va_arg(ap, int);
    return 0;
}

// --- buffered streams over redirected sysfs files: every read, write and close is traced ---

ssize_t cookie_read(void* c, char* buf, size_t size) { return tracked_read(static_cast<Tracked*>(c), buf, size); }

ssize_t cookie_write(void* c, const char* buf, size_t size) {
    return tracked_write(static_cast<Tracked*>(c), buf, size);
}

int cookie_seek(void* c, off64_t* offset, int whence) {
    Tracked* t = static_cast<Tracked*>(c);
    off64_t r = (off64_t)syscall(SYS_lseek, t->fd, (long)*offset, whence);
    if (r < 0) return -1;
    *offset = r;
    return 0;
}

int cookie_close(void* c) {
    Tracked* t = static_cast<Tracked*>(c);
    int r = core::raw_close(t->fd);
    finish_tracked(t, r);
    return r;
}

int flags_of_mode(const char* mode) {
    int flags;
    switch (mode[0]) {
        case 'r': flags = O_RDONLY; break;
        case 'w': flags = O_WRONLY | O_CREAT | O_TRUNC; break;
        case 'a': flags = O_WRONLY | O_CREAT | O_APPEND; break;
        default: return -1;
    }
    for (const char* m = mode + 1; *m && *m != ','; ++m) {
        if (*m == '+') flags = (flags & ~O_ACCMODE) | O_RDWR;
        if (*m == 'e') flags |= O_CLOEXEC;
        if (*m == 'x') flags |= O_EXCL;
    }
    return flags;
}

FILE* fopen_board(const char* path, const char* mode, bool* handled) {
    *handled = false;
    if (!path || !mode) return nullptr;
    bool board = active() && core::is_sys_path(path);
    if (!board && !(recorded(path) && core::under_sys(path))) return nullptr;
    *handled = true;
    int flags = flags_of_mode(mode);
    if (flags < 0) {
        errno = EINVAL;
        return nullptr;
    }
    if (board && core::denied(path)) {
        boardsim::trace("open", path, mode, -1);
        errno = EACCES;
        return nullptr;
    }
    std::string real_path = board ? boardsim::redirect(path) : path;
    if (reads_from(flags)) run_before_read(path, real_path);
    // sysfs never creates a file: on the board, fopen "w" of a missing attribute fails with ENOENT.
    int fd = core::raw_open(real_path.c_str(), (board ? flags & ~O_CREAT : flags) | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        boardsim::trace("open", path, mode, -1);
        errno = err;
        return nullptr;
    }
    boardsim::trace("open", path, mode, fd);
    Tracked* t = new Tracked(nullptr, fd, path, real_path, writes_to(flags), !board);
    cookie_io_functions_t io = {cookie_read, cookie_write, cookie_seek, cookie_close};
    FILE* f = fopencookie(t, mode, io);
    if (!f) {
        core::raw_close(fd);
        delete t;
    }
    return f;
}

// --- access and stat ---

// 1: answered (result in *r), 0: pass the (possibly redirected) path on.
int access_board(const char* path, int mode, int* r, std::string* real_path) {
    if (!active() || !path) return 0;
    if (const Device* dev = core::find_device(path)) {
        *r = (!dev->present || dev->present()) ? 0 : fail(ENOENT);
        boardsim::trace("access", path, std::to_string(mode), *r);
        return 1;
    }
    if (!core::is_sys_path(path)) return 0;
    if (core::denied(path)) {
        *r = fail(EACCES);
        boardsim::trace("access", path, std::to_string(mode), *r);
        return 1;
    }
    *real_path = boardsim::redirect(path);
    return 0;
}

void trace_access(const char* path, int mode, int r) {
    if (traced(path)) {
        int err = errno;
        boardsim::trace("access", path, std::to_string(mode), r);
        errno = err;
    }
}

template <typename Stat>
int stat_device(const char* path, Stat* buf, bool* handled) {
    *handled = false;
    const Device* dev = active() ? core::find_device(path) : nullptr;
    if (!dev) return 0;
    *handled = true;
    if (dev->present && !dev->present()) {
        boardsim::trace("stat", path, "", -1);
        return fail(ENOENT);
    }
    memset(buf, 0, sizeof *buf);
    buf->st_mode = S_IFCHR | 0660;
    buf->st_nlink = 1;
    buf->st_rdev = makedev(10, 200);
    boardsim::trace("stat", path, "", 0);
    return 0;
}

const char* stat_path(const char* path, std::string* holder) {
    if (!active() || !core::is_sys_path(path)) return path;
    *holder = boardsim::redirect(path);
    return holder->c_str();
}

void trace_stat(const char* path, int r) {
    if (traced(path)) {
        int err = errno;
        boardsim::trace("stat", path, "", r);
        errno = err;
    }
}

void close_replaced(int fd) {
    Tracked* s = take_slot(fd);
    if (!s) return;
    int err = errno;
    if (s->device && !s->passthrough && s->device->on_close) s->device->on_close(fd);
    finish_tracked(s, 0);
    errno = err;
}

}  // namespace

extern "C" {

// --- open family ---

// The variadic entry points take the mode from their arguments when the flags ask for one; the
// fortified ones (__open_2, ...) have none.
#define OPEN_WRAPPER(name, params, dirfd_arg, call_args)                         \
    int name params {                                                            \
        va_list ap;                                                              \
        va_start(ap, flags);                                                     \
        mode_t mode = mode_arg(flags, ap);                                       \
        va_end(ap);                                                              \
        bool handled;                                                            \
        int fd = open_board_path(dirfd_arg, path, flags, mode, &handled);        \
        if (handled) return fd;                                                  \
        REAL(name);                                                              \
        return real_##name call_args;                                            \
    }

#define OPEN_CHECKED_WRAPPER(name, params, dirfd_arg, call_args)                 \
    int name params {                                                            \
        bool handled;                                                            \
        int fd = open_board_path(dirfd_arg, path, flags, 0, &handled);           \
        if (handled) return fd;                                                  \
        REAL(name);                                                              \
        return real_##name call_args;                                            \
    }

OPEN_WRAPPER(open, (const char* path, int flags, ...), AT_FDCWD, (path, flags, mode))
OPEN_WRAPPER(open64, (const char* path, int flags, ...), AT_FDCWD, (path, flags, mode))
OPEN_WRAPPER(openat, (int dirfd, const char* path, int flags, ...), dirfd, (dirfd, path, flags, mode))
OPEN_WRAPPER(openat64, (int dirfd, const char* path, int flags, ...), dirfd, (dirfd, path, flags, mode))
OPEN_CHECKED_WRAPPER(__open_2, (const char* path, int flags), AT_FDCWD, (path, flags))
OPEN_CHECKED_WRAPPER(__open64_2, (const char* path, int flags), AT_FDCWD, (path, flags))
OPEN_CHECKED_WRAPPER(__openat_2, (int dirfd, const char* path, int flags), dirfd, (dirfd, path, flags))
OPEN_CHECKED_WRAPPER(__openat64_2, (int dirfd, const char* path, int flags), dirfd, (dirfd, path, flags))

FILE* fopen(const char* path, const char* mode) {
    bool handled;
    FILE* f = fopen_board(path, mode, &handled);
    if (handled) return f;
    REAL(fopen);
    return real_fopen(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    bool handled;
    FILE* f = fopen_board(path, mode, &handled);
    if (handled) return f;
    REAL(fopen64);
    return real_fopen64(path, mode);
}

DIR* opendir(const char* path) {
    std::string holder;
    REAL(opendir);
    return real_opendir(stat_path(path, &holder));
}

// --- access family ---

#define ACCESS_WRAPPER(name, params, call_args)                                  \
    int name params {                                                            \
        int r;                                                                   \
        std::string real_path;                                                   \
        if (access_board(path, mode, &r, &real_path)) return r;                  \
        const char* orig = path;                                                 \
        if (!real_path.empty()) path = real_path.c_str();                        \
        REAL(name);                                                              \
        r = real_##name call_args;                                               \
        trace_access(orig, mode, r);                                             \
        return r;                                                                \
    }

ACCESS_WRAPPER(access, (const char* path, int mode), (path, mode))
ACCESS_WRAPPER(euidaccess, (const char* path, int mode), (path, mode))
ACCESS_WRAPPER(eaccess, (const char* path, int mode), (path, mode))
ACCESS_WRAPPER(faccessat, (int dirfd, const char* path, int mode, int flags), (dirfd, path, mode, flags))

// --- stat family ---

#define STAT_WRAPPER(name, stat_type, params, call_args)            \
    int name params {                                              \
        bool handled;                                              \
        int r = stat_device(path, buf, &handled);                  \
        if (handled) return r;                                     \
        std::string holder;                                        \
        const char* orig = path;                                   \
        path = stat_path(path, &holder);                           \
        REAL(name);                                                \
        r = real_##name call_args;                                 \
        trace_stat(orig, r);                                       \
        return r;                                                  \
    }

STAT_WRAPPER(stat, struct stat, (const char* path, struct stat* buf), (path, buf))
STAT_WRAPPER(stat64, struct stat64, (const char* path, struct stat64* buf), (path, buf))
STAT_WRAPPER(lstat, struct stat, (const char* path, struct stat* buf), (path, buf))
STAT_WRAPPER(lstat64, struct stat64, (const char* path, struct stat64* buf), (path, buf))
STAT_WRAPPER(fstatat, struct stat, (int dirfd, const char* path, struct stat* buf, int flags),
             (dirfd, path, buf, flags))
STAT_WRAPPER(fstatat64, struct stat64,
             (int dirfd, const char* path, struct stat64* buf, int flags),
             (dirfd, path, buf, flags))
STAT_WRAPPER(__xstat, struct stat, (int ver, const char* path, struct stat* buf), (ver, path, buf))
STAT_WRAPPER(__xstat64, struct stat64, (int ver, const char* path, struct stat64* buf),
             (ver, path, buf))
STAT_WRAPPER(__lxstat, struct stat, (int ver, const char* path, struct stat* buf), (ver, path, buf))
STAT_WRAPPER(__lxstat64, struct stat64, (int ver, const char* path, struct stat64* buf),
             (ver, path, buf))
STAT_WRAPPER(__fxstatat, struct stat,
             (int ver, int dirfd, const char* path, struct stat* buf, int flags),
             (ver, dirfd, path, buf, flags))
STAT_WRAPPER(__fxstatat64, struct stat64,
             (int ver, int dirfd, const char* path, struct stat64* buf, int flags),
             (ver, dirfd, path, buf, flags))

int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* buf) {
    std::string holder;
    const char* orig = path;
    if (path) path = stat_path(path, &holder);
    REAL(statx);
    int r = real_statx(dirfd, path, flags, mask, buf);
    if (orig) trace_stat(orig, r);
    return r;
}

// --- descriptor calls ---

ssize_t read(int fd, void* buf, size_t count) {
    Tracked* s = slot_of(fd);
    if (!s) {
        REAL(read);
        return real_read(fd, buf, count);
    }
    ssize_t n;
    if (s->device) {
        if (s->passthrough) {
            REAL(read);
            n = real_read(fd, buf, count);
        } else {
            n = s->device->on_read ? s->device->on_read(fd, buf, count) : fail(EINVAL);
        }
        int err = errno;
        boardsim::trace("read", s->sys_path.c_str(), std::to_string(count), n);
        errno = err;
        return n;
    }
    return tracked_read(s, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
    Tracked* s = slot_of(fd);
    if (!s || s->device) {
        REAL(write);
        return real_write(fd, buf, count);
    }
    return tracked_write(s, buf, count);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    unsigned long arg = va_arg(ap, unsigned long);
    va_end(ap);
    Tracked* s = slot_of(fd);
    if (!s || !s->device) {
        REAL(ioctl);
        return real_ioctl(fd, request, arg);
    }
    long r;
    if (s->passthrough) {
        REAL(ioctl);
        r = real_ioctl(fd, request, arg);
    } else {
        r = s->device->on_ioctl ? s->device->on_ioctl(fd, request, arg) : fail(ENOTTY);
    }
    int err = errno;
    std::string detail = bringup::trace_request(request);
    if (s->device->ioctl_has_arg && s->device->ioctl_has_arg(request))
        detail += " " + std::to_string((long)(int)arg);
    boardsim::trace("ioctl", s->sys_path.c_str(), detail, r);
    errno = err;
    return (int)r;
}

int close(int fd) {
    Tracked* s = take_slot(fd);
    REAL(close);
    if (!s) return real_close(fd);
    if (s->device && !s->passthrough && s->device->on_close) s->device->on_close(fd);
    int r = real_close(fd);
    finish_tracked(s, r);
    return r;
}

// dup2 and dup3 close the target descriptor first: what stood behind it is closed as by close.
int dup2(int oldfd, int newfd) {
    REAL(dup2);
    if (oldfd == newfd || !slot_of(newfd)) return real_dup2(oldfd, newfd);
    int r = real_dup2(oldfd, newfd);
    if (r >= 0) close_replaced(newfd);
    return r;
}

int dup3(int oldfd, int newfd, int flags) {
    REAL(dup3);
    if (oldfd == newfd || !slot_of(newfd)) return real_dup3(oldfd, newfd, flags);
    int r = real_dup3(oldfd, newfd, flags);
    if (r >= 0) close_replaced(newfd);
    return r;
}

// --- threads ---

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*),
                   void* arg) {
    if (active() && boardsim::setting("fault.pthread_create", "") == "refuse") {
        boardsim::trace("fault", "pthread_create", "refused", EAGAIN);
        return EAGAIN;
    }
    REAL(pthread_create);
    return real_pthread_create(thread, attr, routine, arg);
}

}  // extern "C"
