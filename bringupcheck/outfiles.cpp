#include "bringupcheck/outfiles.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bringupcheck/newfile.h"

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

std::string dirname_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool read_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return true;
}

bool write_file(const std::string& path, const std::string& text) {
    // Written beside its place and renamed into it: a reader never sees half a file, and a link in
    // the way is replaced, never written through.
    std::string tmp = path + ".new";
    int fd = create_afresh(tmp.c_str());
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    int error = done == text.size() ? 0 : errno ? errno : EIO;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(tmp.c_str(), path.c_str()) != 0) error = errno;
    if (!error) return true;
    unlink(tmp.c_str());
    errno = error;
    return false;
}

bool make_dirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/') {
            std::string p = path.substr(0, i);
            if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    return true;
}

std::string unfit_folder(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return strerror(errno);
    if (S_ISLNK(st.st_mode)) return "it is a link";
    if (!S_ISDIR(st.st_mode)) return "it is not a folder";
    if (st.st_uid != geteuid()) return "it belongs to another user";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "other users can write to it";
    return "";
}

std::string make_folder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return strerror(errno);
    return unfit_folder(path);
}

long long file_size(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : 0;
}
