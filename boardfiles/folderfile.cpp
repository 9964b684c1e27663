// Reading a file inside a folder, bounded. See folderfile.h.
#include "boardfiles/folderfile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace {

int sys_close(int fd) { return (int)syscall(SYS_close, fd); }

// Where descriptor `fd` leads, as the kernel names it.
std::string fd_path(int fd) {
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    long n = syscall(SYS_readlinkat, AT_FDCWD, link, target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : "";
}

// A kernel before openat2, links refused: each part of the path opened in turn without following
// a link, ".." refused.
int open_without_links(int dirfd, const std::string& rel, int flags, mode_t mode) {
    int fd = (int)syscall(SYS_openat, dirfd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    for (size_t from = 0; fd >= 0;) {
        size_t slash = rel.find('/', from);
        bool last = slash == std::string::npos;
        std::string part = rel.substr(from, last ? std::string::npos : slash - from);
        int next = -1;
        if (part == "..") errno = EXDEV;
        else if (part.empty() && last) errno = ENOENT;
        else if (part.empty()) next = fd, fd = -1;
        else next = (int)syscall(SYS_openat, fd, part.c_str(),
                                 last ? flags | O_NOFOLLOW | O_CLOEXEC : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, mode);
        int err = errno;
        if (fd >= 0) sys_close(fd);
        errno = err;
        fd = next;
        if (last) break;
        from = slash + 1;
    }
    return fd;
}

}  // namespace

int open_beneath(const std::string& dir, const std::string& rel, int flags, mode_t mode, FolderLinks links) {
    if (dir.empty()) return (int)syscall(SYS_openat, AT_FDCWD, rel.c_str(), flags, mode);
    int dirfd = (int)syscall(SYS_openat, AT_FDCWD, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    if (dirfd < 0) return -1;
    struct open_how how;
    memset(&how, 0, sizeof how);
    how.flags = (unsigned long long)(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | (links == kNoLinks ? RESOLVE_NO_SYMLINKS : 0);
    int fd = (int)syscall(SYS_openat2, dirfd, rel.c_str(), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS && links == kNoLinks) {
        fd = open_without_links(dirfd, rel, flags, mode);
    } else if (fd < 0 && errno == ENOSYS) {
        // Open, then see where the descriptor leads.
        fd = (int)syscall(SYS_openat, dirfd, rel.c_str(), flags | O_CLOEXEC, mode);
        std::string root = fd_path(dirfd) + "/";
        if (fd >= 0 && fd_path(fd).compare(0, root.size(), root) != 0) {
            sys_close(fd);
            fd = -1;
            errno = EXDEV;
        }
    }
    int err = errno;
    sys_close(dirfd);
    errno = err;
    return fd;
}

bool read_bounded(int fd, size_t max, long long from, std::string* text, BoundedRead* r) {
    text->clear();
    *r = BoundedRead();
    struct stat st;
    r->regular = syscall(SYS_fstat, fd, &st) == 0 && S_ISREG(st.st_mode);
    if (r->regular) r->size = (long long)st.st_size;
    if (r->regular && from > 0 && syscall(SYS_lseek, fd, (long)from, SEEK_SET) < 0) r->error = errno;
    // One byte past the bound tells whether the file goes on.
    char buf[65536];
    long n = 0;
    while (r->regular && !r->error && text->size() <= max &&
           (n = syscall(SYS_read, fd, buf, std::min(sizeof buf, max + 1 - text->size()))) > 0)
        text->append(buf, size_t(n));
    if (n < 0) r->error = errno;
    sys_close(fd);
    if (text->size() > max) {
        r->cut = true;
        text->resize(max);
    }
    return r->regular && !r->error;
}

bool read_in_folder(const std::string& dir, const std::string& rel, size_t max, FolderLinks links, std::string* text,
                    BoundedRead* r) {
    text->clear();
    *r = BoundedRead();
    int fd = open_beneath(dir, rel, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0, links);
    if (fd < 0) {
        r->error = errno;
        return false;
    }
    return read_bounded(fd, max, 0, text, r);
}
