#include "runprog.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "trace.h"

extern char** environ;

namespace testutil {

namespace {

double now_s() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::vector<std::string> merged_env(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const std::string& kv : extra) {
        std::string name = kv.substr(0, kv.find('='));
        bool replaced = false;
        for (std::string& have : env) {
            if (have.compare(0, name.size() + 1, name + "=") == 0) {
                have = kv;
                replaced = true;
            }
        }
        if (!replaced) env.push_back(kv);
    }
    return env;
}

std::vector<std::string> g_temp_dirs;
std::mutex g_temp_mutex;

void remove_temp_dirs() {
    if (std::getenv("KEEP_TEST_DIRS")) return;
    for (const std::string& d : g_temp_dirs) {
        std::string cmd = "rm -rf '" + d + "'";
        if (std::system(cmd.c_str()) != 0) {
            // best effort
        }
    }
}

#ifdef BRINGUP_EMULATED
// Under qemu-user a program's thread with a real-time policy at the top priority (pcmcapture's
// capture thread) can keep the emulator from making progress when its threads are spread over
// several CPUs; pinned to one CPU it runs. The program keeps asking for what it asks on the
// board: only the emulator is held to one CPU (the one this child is on).
void pin_to_one_cpu() {
    int cpu = sched_getcpu();
    if (cpu < 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}
#endif

}  // namespace

double time_scale() {
    const char* text = std::getenv("BRINGUP_TIME_SCALE");
    if (!text) return 1;
    char* end = nullptr;
    double scale = std::strtod(text, &end);
    return end != text && *end == '\0' && scale >= 1 && scale <= 100 ? scale : 1;
}

RunResult run(const RunOptions& options) {
    if (options.argv.empty()) throw std::runtime_error("run: empty argv");
    const double timeout_s = options.timeout_s * time_scale();
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC) || pipe2(in_pipe, O_CLOEXEC))
        throw std::runtime_error("run: pipe failed");

    std::vector<std::string> env = merged_env(options.env);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = options.argv;
    std::vector<char*> argvp;
    for (std::string& a : args) argvp.push_back(a.data());
    argvp.push_back(nullptr);

    double start = now_s();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("run: fork failed");
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        setpgid(0, 0);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
#ifdef BRINGUP_EMULATED
        pin_to_one_cpu();
#endif
        execve(argvp[0], argvp.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (!options.stdin_text.empty()) {
        ssize_t w = write(in_pipe[1], options.stdin_text.data(), options.stdin_text.size());
        (void)w;
    }
    close(in_pipe[1]);

    RunResult result;
    bool term_sent = false;
    int open_fds = 2;
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int status = 0;
    bool reaped = false;
    while (true) {
        double elapsed = now_s() - start;
        if (!term_sent && options.term_after_s >= 0 && elapsed >= options.term_after_s) {
            kill(pid, SIGTERM);
            term_sent = true;
        }
        if (!result.timed_out && elapsed >= timeout_s) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            result.timed_out = true;
        }
        if (open_fds == 0) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                reaped = true;
                break;
            }
            usleep(2000);
            continue;
        }
        int r = poll(fds, 2, 20);
        if (r < 0 && errno != EINTR) break;
        for (struct pollfd& p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            ssize_t n = read(p.fd, buf, sizeof buf);
            if (n > 0) {
                (p.fd == out_pipe[0] ? result.out : result.err).append(buf, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                close(p.fd);
                p.fd = -1;
                --open_fds;
            }
        }
    }
    if (!reaped) waitpid(pid, &status, 0);
    for (struct pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    result.seconds = now_s() - start;
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string stage_dir() { return BRINGUP_STAGE_DIR; }
std::string build_dir() { return BRINGUP_BUILD_DIR; }
std::string source_dir() { return BRINGUP_SOURCE_DIR; }
std::string stage_bin(const std::string& program) { return stage_dir() + "/bin/" + program; }

std::string make_temp_dir(const std::string& tag) {
    std::string base = build_dir() + "/testdirs";
    mkdir(base.c_str(), 0755);
    std::string templ = base + "/" + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed for " + templ);
    std::lock_guard<std::mutex> lock(g_temp_mutex);
    if (g_temp_dirs.empty()) std::atexit(remove_temp_dirs);
    g_temp_dirs.emplace_back(buf.data());
    return buf.data();
}

std::string request_text(unsigned long request) { return bringup::trace_request(request); }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

std::vector<TraceLine> read_trace(const std::string& board) {
    std::string path = board + "/trace.log";
    if (!file_exists(path)) return {};
    return judge::parse_trace(read_file(path)).records;
}

}  // namespace testutil
