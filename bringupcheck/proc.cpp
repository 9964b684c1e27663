// The runner: children started as posix_spawn starts them, and waited for through a pidfd, waking
// only for their end, their output and our deadlines.
#include "bringupcheck/proc.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bringupcheck/newfile.h"

extern char** environ;

namespace {

// Everything the child needs, made before it starts: until its exec it runs in our memory and
// makes system calls only.
struct Launch {
    std::vector<std::string> env, args;
    std::vector<char*> envp, argvp;
    int in = -1, out = -1, err = -1;   // its standard input, output and error
    int status = -1;                   // the pipe's end that gets errno when exec fails
    const char* cwd = nullptr;
    pid_t parent = 0;
    sigset_t mask;                     // our signal mask, which the program starts with
};

void close_fd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

[[noreturn]] void become_program(const Launch* l) {
    // Our handlers would run in our memory: a signal before the exec takes its default action.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction sa;
        if (sigaction(sig, nullptr, &sa) != 0 || sa.sa_handler == SIG_IGN || sa.sa_handler == SIG_DFL) continue;
        sa.sa_handler = SIG_DFL;
        sa.sa_flags = 0;
        sigaction(sig, &sa, nullptr);
    }
    // The child ends with us, however we end (even by SIGKILL): SIGTERM, the signal that stops
    // a daemon at the end of its run. If we ended before it was set, it ends at once.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != l->parent) _exit(127);
    setpgid(0, 0);
    // A stream whose file already has its number (ours was closed) only keeps it across the exec.
    const int fds[3] = {l->in, l->out, l->err};
    for (int i = 0; i < 3; ++i) fds[i] == i ? fcntl(i, F_SETFD, 0) : dup2(fds[i], i);
    int e = 0;
    if (l->cwd && chdir(l->cwd) != 0) e = errno;
    if (!e) {
        sigprocmask(SIG_SETMASK, &l->mask, nullptr);
        execve(l->argvp[0], l->argvp.data(), l->envp.data());
        e = errno;
    }
    ssize_t w = write(l->status, &e, sizeof e);
    (void)w;
    _exit(127);
}

// Started as posix_spawn starts a program (vfork: our memory is not copied and we go on once it
// has exec'd), which also lets it take the death signal that posix_spawn has no way to set. Every
// signal stays blocked until then, so that none is handled twice in one memory.
pid_t spawn(Launch* l) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &l->mask);
    pid_t pid = vfork();
    if (pid == 0) become_program(l);
    int saved = errno;
    if (pid > 0) setpgid(pid, pid);  // also here, where vfork is a fork (under ThreadSanitizer)
    pthread_sigmask(SIG_SETMASK, &l->mask, nullptr);
    errno = saved;
    return pid;
}

// Our end of a pipe whose other end is the child's `*theirs`; false when none could be made. Ours
// does not block: it is read whenever we wake, whether or not it has something.
bool pipe_from_child(int* ours, int* theirs) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    *ours = p[0];
    *theirs = p[1];
    return fcntl(p[0], F_SETFL, O_NONBLOCK) == 0;
}

bool open_files(const ChildPlan& plan, Launch* l, Child* c) {
    l->in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (plan.capture) return l->in >= 0 && pipe_from_child(&c->out, &l->out) && pipe_from_child(&c->err, &l->err);
    l->out = plan.out_path.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC) : create_afresh(plan.out_path.c_str());
    l->err = plan.err_path.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC) : create_afresh(plan.err_path.c_str());
    return l->in >= 0 && l->out >= 0 && l->err >= 0;
}

void forget(Child* c) {
    close_fd(&c->pidfd);
    close_fd(&c->out);
    close_fd(&c->err);
    unwatch_group(c->slot);
    c->slot = -1;
}

// Reads what the child wrote on one of the capture's pipes; closes it at its end.
void take_output(int* fd, std::string* text) {
    char buf[65536];
    ssize_t n = read(*fd, buf, sizeof buf);
    if (n > 0) text->append(buf, size_t(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN)) close_fd(fd);
}

// True once the child ended (reaped: its wait status in *status).
bool reaped(Child* c, int* status) {
    pid_t w = waitpid(c->pid, status, WNOHANG);
    return w == c->pid || (w < 0 && errno == ECHILD);
}

// Sleeps until the child may have ended, a capture's pipe has something, or `ms` passed (-1: no
// limit). Without a pidfd (an older kernel) the child is looked at every 20 ms.
void wait_event(const Child& c, bool ended, int ms) {
    struct pollfd fds[3];
    nfds_t n = 0;
    for (int fd : {ended ? -1 : c.pidfd, c.out, c.err})
        if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
    if (!ended && c.pidfd < 0 && (ms < 0 || ms > 20)) ms = 20;
    poll(fds, n, ms);
}

// Milliseconds for poll, at most a day (a later deadline is looked at again then).
int ms_until(double t) { return t <= 0 ? 0 : t >= 86400 ? 86400000 : int(ceil(t * 1000)); }

}  // namespace

bool start_child(const ChildPlan& plan, Child* c, std::string* error) {
    *c = Child();
    if (plan.argv.empty()) {
        *error = "no program";
        return false;
    }
    Launch l;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        std::string name = kv.substr(0, kv.find('='));
        bool replaced = false;
        for (const std::string& add : plan.env) replaced = replaced || add.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced) l.env.push_back(kv);
    }
    for (const std::string& add : plan.env) l.env.push_back(add);
    for (std::string& e : l.env) l.envp.push_back(&e[0]);
    l.envp.push_back(nullptr);
    l.args = plan.argv;
    for (std::string& a : l.args) l.argvp.push_back(&a[0]);
    l.argvp.push_back(nullptr);
    l.cwd = plan.cwd.empty() ? nullptr : plan.cwd.c_str();
    l.parent = getpid();

    int status_pipe[2] = {-1, -1};
    bool opened = open_files(plan, &l, c);
    if (!opened) *error = std::string("cannot open the output files: ") + strerror(errno);
    // Closed by the exec (close-on-exec), or errno written into it when the exec fails.
    else if (pipe2(status_pipe, O_CLOEXEC) != 0) *error = std::string("pipe: ") + strerror(errno);
    pid_t pid = -1;
    if (opened && status_pipe[0] >= 0) {
        l.status = status_pipe[1];
        c->start = now_s();
        pid = spawn(&l);
        if (pid < 0) *error = std::string("fork: ") + strerror(errno);
    }
    for (int* fd : {&l.in, &l.out, &l.err, &status_pipe[1]}) close_fd(fd);
    if (pid < 0) {
        close_fd(&status_pipe[0]);
        forget(c);
        return false;
    }
    c->pid = pid;
    c->slot = watch_group(pid);
    int exec_errno = 0;
    ssize_t got;
    do got = read(status_pipe[0], &exec_errno, sizeof exec_errno);
    while (got < 0 && errno == EINTR);
    close_fd(&status_pipe[0]);
    if (got == ssize_t(sizeof exec_errno)) {
        waitpid(pid, nullptr, 0);
        forget(c);
        *error = "cannot run " + plan.argv[0] + ": " + strerror(exec_errno);
        return false;
    }
    // Through syscall: the C library's declaration of pidfd_open misses C linkage in C++.
    c->pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    return true;
}

bool await_child(Child* c, double timeout_s, int* status) {
    const double end = now_s() + timeout_s;
    while (!reaped(c, status)) {
        double left = end - now_s();
        if (timeout_s >= 0 && left <= 0) return false;
        wait_event(*c, false, timeout_s < 0 ? -1 : ms_until(left));
    }
    forget(c);
    return true;
}

ChildResult run_child(const ChildPlan& plan) {
    ChildResult r;
    Child c;
    r.started = start_child(plan, &c, &r.error);
    r.pid = c.pid > 0 ? c.pid : 0;
    if (!r.started) return r;
    int status = 0;
    bool ended = false;
    double next_tick = 0;
    // Woken by the child's end, its output, and the next of the stop, the limit and the tick.
    while (!ended || c.out >= 0 || c.err >= 0) {
        double t = now_s() - c.start;
        if (!ended && !r.stopped && plan.stop_after_s >= 0 && t >= plan.stop_after_s) {
            kill(c.pid, SIGTERM);
            r.stopped = true;
        }
        if (!r.killed && t >= plan.limit_s) {
            kill(-c.pid, SIGKILL);
            if (!ended) kill(c.pid, SIGKILL);
            r.killed = true;
        }
        if (!ended && plan.tick && t >= next_tick) {
            plan.tick(t);
            next_tick = t + 0.1;
        }
        double wake = r.killed ? -1 : plan.limit_s;
        if (!ended && !r.stopped && plan.stop_after_s >= 0 && (wake < 0 || plan.stop_after_s < wake)) wake = plan.stop_after_s;
        if (!ended && plan.tick && (wake < 0 || next_tick < wake)) wake = next_tick;
        wait_event(c, ended, wake < 0 ? -1 : ms_until(wake - (now_s() - c.start)));
        if (c.out >= 0) take_output(&c.out, &r.out);
        if (c.err >= 0) take_output(&c.err, &r.err);
        if (!ended) ended = reaped(&c, &status);
    }
    forget(&c);
    r.seconds = now_s() - c.start;
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
