// What becomes of the running children when we are interrupted or terminated.
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "bringupcheck/proc.h"

extern char** environ;

namespace {

// The process groups of the children that run now (a daemon, and a device attached meanwhile);
// 0 marks a free slot.
std::atomic<int> g_child_groups[4];

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
        if (int group = g_child_groups[i]; group > 0) kill(-pid_t(group), SIGTERM);
    for (int i = 0; i < 4; ++i)
        if (int group = g_child_groups[i]; group > 0) reap_within(pid_t(group));
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

}  // namespace

// Children may be started from several threads at once (the tests' runs).
int watch_group(pid_t pid) {
    for (int i = 0; i < 4; ++i) {
        int free_slot = 0;
        if (g_child_groups[i].compare_exchange_strong(free_slot, pid)) return i;
    }
    return -1;
}

void unwatch_group(int slot) {
    if (slot >= 0) g_child_groups[slot] = 0;
}

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
