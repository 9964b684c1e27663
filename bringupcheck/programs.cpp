// Finding the suite's programs, and the processes that run now.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "bringupcheck/proc.h"

double now_s() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

std::string self_dir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    std::string s = buf;
    return s.substr(0, s.rfind('/'));
}

static bool executable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::vector<long> processes_named(const std::string& name) {
    std::vector<long> pids;
    DIR* d = opendir("/proc");
    if (!d) return pids;
    while (struct dirent* e = readdir(d)) {
        char* end = nullptr;
        long pid = strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end) continue;
        char path[64], comm[64] = "";
        snprintf(path, sizeof path, "/proc/%ld/comm", pid);
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ssize_t n = read(fd, comm, sizeof comm - 1);
        close(fd);
        if (n <= 0) continue;
        comm[n] = '\0';
        if (comm[n - 1] == '\n') comm[n - 1] = '\0';
        if (name == comm) pids.push_back(pid);
    }
    closedir(d);
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos) return executable(name) ? name : "";
    std::string mine = self_dir() + "/" + name;
    if (executable(mine)) return mine;
    const char* path = getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= p.size()) {
        size_t colon = p.find(':', pos);
        std::string dir = p.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        if (!dir.empty() && executable(dir + "/" + name)) return dir + "/" + name;
        if (colon == std::string::npos) break;
        pos = colon + 1;
    }
    return "";
}
