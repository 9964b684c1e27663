#include "bringupcheck/proc.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "bringupcheck/newfile.h"

extern char** environ;

namespace {

// The process groups of the children that run now (a daemon, and a device attached meanwhile);
// 0 marks a free slot.
volatile sig_atomic_t g_child_groups[4] = {0, 0, 0, 0};

// The commands that put the board back as it was, run on termination; g_restore_ready is 0 while
// they are being changed.
std::vector<std::vector<std::string>> g_restore;
std::vector<std::vector<char*>> g_restore_argv;
volatile sig_atomic_t g_restore_ready = 0;

// Waits up to about two seconds for `pid` to end; true when it did.
bool reap_within(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        pid_t w = waitpid(pid, nullptr, WNOHANG);
        if (w == pid || (w < 0 && errno != EINTR)) return true;
        struct timespec ts = {0, 10000000};
        nanosleep(&ts, nullptr);
    }
    return false;
}

// Only async-signal-safe calls: the stopped children are waited for (so that a daemon no longer
// acts on the board), then the restoring commands run, each waited for.
void on_termination(int sig) {
    int saved = errno;
    for (int i = 0; i < 4; ++i)
        if (g_child_groups[i] > 0) kill(-pid_t(g_child_groups[i]), SIGTERM);
    for (int i = 0; i < 4; ++i)
        if (g_child_groups[i] > 0) reap_within(pid_t(g_child_groups[i]));
    if (g_restore_ready)
        for (std::vector<char*>& argv : g_restore_argv) {
            pid_t pid = _Fork();
            if (pid == 0) {
                sigset_t none;
                sigemptyset(&none);
                sigprocmask(SIG_SETMASK, &none, nullptr);
                execve(argv[0], argv.data(), environ);
                _exit(127);
            }
            if (pid > 0) reap_within(pid);
        }
    errno = saved;
    signal(sig, SIG_DFL);
    raise(sig);
}

int watch_group(pid_t pid) {
    for (int i = 0; i < 4; ++i)
        if (g_child_groups[i] == 0) {
            g_child_groups[i] = pid;
            return i;
        }
    return -1;
}

void unwatch_group(int slot) {
    if (slot >= 0) g_child_groups[slot] = 0;
}

}  // namespace

void forward_termination() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_termination;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&sa.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

void restore_on_termination(const std::vector<std::vector<std::string>>& commands) {
    // The fences keep the handler from seeing the lists while they change.
    g_restore_ready = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_restore = commands;
    g_restore_argv.clear();
    for (std::vector<std::string>& c : g_restore) {
        std::vector<char*> argv;
        for (std::string& a : c) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        g_restore_argv.push_back(argv);
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_restore_ready = !g_restore_argv.empty();
}

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

ChildResult run_child(const ChildPlan& plan) {
    ChildResult r;
    if (plan.argv.empty()) {
        r.error = "no program";
        return r;
    }
    // Everything the child needs is made before the fork: it only calls async-signal-safe functions.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        std::string name = kv.substr(0, kv.find('='));
        bool replaced = false;
        for (const std::string& add : plan.env) replaced = replaced || add.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced) env.push_back(kv);
    }
    for (const std::string& add : plan.env) env.push_back(add);
    std::vector<char*> envp, argvp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> args = plan.argv;
    for (std::string& a : args) argvp.push_back(&a[0]);
    argvp.push_back(nullptr);

    int out = plan.out_path.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC) : create_afresh(plan.out_path.c_str());
    int err = plan.err_path.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC) : create_afresh(plan.err_path.c_str());
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || err < 0 || in < 0) {
        r.error = std::string("cannot open the output files: ") + strerror(errno);
        if (out >= 0) close(out);
        if (err >= 0) close(err);
        if (in >= 0) close(in);
        return r;
    }
    // A pipe that the child closes by exec (close-on-exec) or writes errno into when exec fails.
    int status_pipe[2];
    if (pipe2(status_pipe, O_CLOEXEC) != 0) {
        r.error = std::string("pipe: ") + strerror(errno);
        close(out);
        close(err);
        close(in);
        return r;
    }
    double start = now_s();
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // The child ends with us, however we end (even by SIGKILL): SIGTERM, the signal that stops
        // a daemon at the end of its run. If we ended before it was set, it ends at once.
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
        setpgid(0, 0);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        int e = 0;
        if (!plan.cwd.empty() && chdir(plan.cwd.c_str()) != 0) e = errno;
        if (!e) {
            execve(argvp[0], argvp.data(), envp.data());
            e = errno;
        }
        ssize_t w = write(status_pipe[1], &e, sizeof e);
        (void)w;
        _exit(127);
    }
    int slot = -1;
    if (pid > 0) {
        setpgid(pid, pid);  // also here, so that the group exists before we may signal it
        slot = watch_group(pid);
    }
    close(out);
    close(err);
    close(in);
    close(status_pipe[1]);
    if (pid < 0) {
        close(status_pipe[0]);
        r.error = std::string("fork: ") + strerror(errno);
        return r;
    }
    int exec_errno = 0;
    ssize_t got = read(status_pipe[0], &exec_errno, sizeof exec_errno);
    close(status_pipe[0]);
    r.pid = pid;
    int status = 0;
    if (got == ssize_t(sizeof exec_errno)) {
        waitpid(pid, &status, 0);
        unwatch_group(slot);
        r.error = "cannot run " + plan.argv[0] + ": " + strerror(exec_errno);
        return r;
    }
    r.started = true;
    double last_tick = -1;
    while (true) {
        pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        double t = now_s() - start;
        if (!r.stopped && plan.stop_after_s >= 0 && t >= plan.stop_after_s) {
            kill(pid, SIGTERM);
            r.stopped = true;
        }
        if (!r.killed && t >= plan.limit_s) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            r.killed = true;
        }
        if (plan.tick && t - last_tick >= 0.1) {
            last_tick = t;
            plan.tick(t);
        }
        usleep(20000);
    }
    unwatch_group(slot);
    r.seconds = now_s() - start;
    if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

std::string describe_end(const ChildResult& r, const ChildPlan& plan) {
    if (!r.started) return r.error;
    char buf[160];
    if (r.killed) snprintf(buf, sizeof buf, "killed at the time limit of %.0f s", plan.limit_s);
    else if (r.signal && r.stopped) snprintf(buf, sizeof buf, "ended by our SIGTERM after %.0f s", plan.stop_after_s);
    else if (r.signal) snprintf(buf, sizeof buf, "ended by signal %d (%s)", r.signal, strsignal(r.signal));
    else snprintf(buf, sizeof buf, "exit status %d", r.exit_code);
    return buf;
}
