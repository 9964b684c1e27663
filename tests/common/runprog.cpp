#include "runprog.h"

#include <sched.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "boardfiles/board_folder.h"
#include "boardfiles/board_names.h"
#include "bringupcheck/proc.h"
#include "judge/trace.h"

namespace testutil {

namespace {

std::vector<std::string> g_temp_dirs;
std::mutex g_temp_mutex;

void remove_temp_dirs() {
    if (std::getenv("KEEP_TEST_DIRS")) return;
    for (const std::string& d : g_temp_dirs) boardfiles::remove_tree(d);
}

#ifdef BRINGUP_EMULATED
// Under qemu-user a program's thread with a real-time policy at the top priority (pcmcapture's
// capture thread) can keep the emulator from making progress when its threads are spread over
// several CPUs; pinned to one CPU it runs. The program keeps asking for what it asks on the
// board: only the emulator is held to one CPU (the one this thread is on, which the child
// inherits while the thread is held to it).
ChildResult run_on_one_cpu(const ChildPlan& plan) {
    cpu_set_t ours, one;
    int cpu = sched_getcpu();
    if (cpu < 0 || sched_getaffinity(0, sizeof ours, &ours) != 0) return run_child(plan);
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof one, &one);
    ChildResult r = run_child(plan);
    sched_setaffinity(0, sizeof ours, &ours);
    return r;
}
#else
ChildResult run_on_one_cpu(const ChildPlan& plan) { return run_child(plan); }
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
    ChildPlan plan;
    plan.argv = options.argv;
    plan.env = options.env;
    plan.cwd = options.cwd;
    plan.capture = true;
    plan.stop_after_s = options.term_after_s;
    plan.limit_s = options.timeout_s * time_scale();
    ChildResult r = run_on_one_cpu(plan);
    RunResult result;
    // A program that cannot be run ends as a shell reports it.
    if (!r.started) {
        result.exit_code = 127;
        result.err = r.error + "\n";
        return result;
    }
    result.exit_code = r.exit_code;
    result.signal = r.signal;
    result.timed_out = r.killed;
    result.out = r.out;
    result.err = r.err;
    result.seconds = r.seconds;
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
    std::string path = board + "/" + boardfiles::kTraceFile;
    if (!file_exists(path)) return {};
    return judge::parse_trace(read_file(path)).records;
}

}  // namespace testutil
