// The `boardsim` command: makes board folders, runs programs on them, attaches and detaches USB
// devices and shows the trace.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <linux/magic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "boardfiles/board_folder.h"
#include "boardfiles/board_names.h"
#include "boardsim.h"
#include "bringup/otg.h"
#include "bringup/qvaudio.h"
#include "bringup/wifi_power.h"
#include "internal.h"
#include "record.h"

namespace {

const char kUsage[] =
    "usage: boardsim create <dir> [--profile NAME] [key=value ...]\n"
    "       boardsim run [--preload LIB] <dir> -- <program> [args ...]\n"
    "       boardsim run --trace-only [--trace FILE] [--preload LIB] -- <program> [args ...]\n"
    "       boardsim record <dir> [--from ROOT]\n"
    "       boardsim trace <dir>\n"
    "       boardsim attach <dir> <port>\n"
    "       boardsim detach <dir> <port>\n"
    "       boardsim profiles\n"
    "       boardsim protocol\n"
    "       boardsim supports <feature>\n"
    "       boardsim --version\n";
using boardfiles::kBoardEnv;
using boardfiles::kPreloadLibrary;
using boardfiles::kTraceEnv;
// What `supports` answers yes to: the programs that run boardsim ask before they rely on it.
const char* const kFeatures[] = {"trace-only", "preload"};
const char* const kDefaultTrace = boardfiles::kTraceFile;

int usage() {
    fputs(kUsage, stderr);
    return 2;
}

int error(const std::string& message) {
    fprintf(stderr, "boardsim: %s\n", message.c_str());
    return 1;
}

bool make_dir(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// Removes the plain files of a folder.
bool clear_dir(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (!d) return false;
    bool ok = true;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (unlink((path + "/" + name).c_str()) != 0) ok = false;
    }
    closedir(d);
    return ok;
}

std::string absolute(const std::string& path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf)) return buf;
    return path;
}

bool profile_known(const std::string& name) {
    for (const boardsim::Profile* p : boardsim::core::profiles())
        if (name == p->name) return true;
    return false;
}

std::string profile_text(const std::string& name) {
    std::string text;
    for (const boardsim::Profile* p : boardsim::core::profiles())
        if (name == p->name) text += p->settings;
    return text;
}

int make_board(std::string dir, const std::string& conf);

// Reads a subcommand's options (argv[0] is the subcommand): each long option's value into the
// matching slot, "--name VALUE" and "--name=VALUE" alike. `in_order` stops at the first word that
// is not an option (what follows "--" is another program's). Returns the index of the first word
// left, or -1 on an unknown option or a missing or empty value.
int read_options(int argc, char** argv, const struct option* options, std::string* values[], bool in_order) {
    optind = 0;  // getopt starts afresh
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, in_order ? "+" : "", options, nullptr)) != -1) {
        if (c < 0 || c >= 16 || !values[c]) return -1;
        if (optarg && !*optarg) return -1;  // an empty value names nothing (no library, profile or root)
        *values[c] = optarg ? optarg : "1";
    }
    return optind;
}

int create(int argc, char** argv) {
    std::string profile = "default";
    const struct option options[] = {{"profile", required_argument, nullptr, 0}, {nullptr, 0, nullptr, 0}};
    std::string* values[16] = {&profile};
    int first = read_options(argc, argv, options, values, false);
    if (first < 0 || first >= argc) return usage();
    std::string dir = argv[first];
    std::vector<std::string> overrides;
    for (int i = first + 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.find('=') == std::string::npos || a[0] == '=') return usage();
        overrides.push_back(a);
    }
    if (!profile_known(profile)) return error("no profile named " + profile);

    std::string conf = "# simulated board, profile " + profile + "\n" + profile_text("default");
    if (profile != "default") conf += "# profile " + profile + "\n" + profile_text(profile);
    if (!overrides.empty()) conf += "# given on the command line\n";
    for (const std::string& kv : overrides) {
        size_t eq = kv.find('=');
        conf += kv.substr(0, eq) + " = " + kv.substr(eq + 1) + "\n";
    }
    // A value the board cannot take is refused here, before a board is made with it.
    boardfiles::Settings settings;
    boardfiles::parse_settings(conf, &settings);
    for (const auto& kv : settings) {
        std::string why = boardfiles::setting_refused(kv.first, kv.second);
        if (!why.empty()) return error(why);
    }
    return make_board(dir, conf);
}

// Writes a board folder with the given board.conf: an empty trace, fresh state, and each module's
// part of sys/ and state/ made from the settings. Prints the folder's absolute path.
int make_board(std::string dir, const std::string& conf) {
    // The board's sys/ is written as the kernel would show it: never over the system's own (a
    // board folder of "/" on a real board would switch its hardware).
    struct statfs fs;
    const std::string sys = dir + "/" + boardfiles::kSysDir, state = dir + "/" + boardfiles::kStateDir;
    if (statfs(sys.c_str(), &fs) == 0 && fs.f_type == SYSFS_MAGIC)
        return error("refusing to make a board in " + dir + ": its sys/ is the system's sysfs");
    // A board made again over an earlier one starts from nothing: the earlier board's sys/ goes
    // (ports, attributes and files that the new settings leave out included). Only a folder that
    // holds a board.conf is taken for a board.
    if (access((dir + "/" + boardfiles::kSettingsFile).c_str(), F_OK) == 0 && !boardfiles::remove_tree(sys))
        return error("cannot clear " + sys + ": " + strerror(errno));
    if (!make_dir(sys) || !make_dir(state))
        return error("cannot make " + dir + ": " + strerror(errno));
    dir = absolute(dir);
    // The board in use from here on: the core learns its folder once, at its first file operation.
    setenv(kBoardEnv, dir.c_str(), 1);
    if (boardsim::board_dir() != dir)
        return error("cannot make a board in " + dir + ": this process already works on the board \"" +
                     boardsim::board_dir() + "\"");
    if (!boardsim::core::write_text(dir + "/" + boardfiles::kSettingsFile, conf) ||
        !boardsim::core::write_text(dir + "/" + boardfiles::kTraceFile, ""))
        return error("cannot write in " + dir + ": " + strerror(errno));
    // A board made again starts with fresh counters and driver state.
    if (!clear_dir(state)) return error("cannot clear " + state + ": " + strerror(errno));

    for (void (*build)() : boardsim::core::builders()) build();
    printf("%s\n", dir.c_str());
    return 0;
}

// Runs argv[0..] with `lib` (by default libboardsim.so, found next to this command) added to
// LD_PRELOAD. The program takes this process's place: whoever started boardsim waits for it.
int exec_preloaded(char** argv, std::string lib) {
    if (lib.empty()) {
        char self[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return error(std::string("cannot find ") + kPreloadLibrary);
        self[n] = '\0';
        lib = self;
        lib = lib.substr(0, lib.rfind('/') + 1) + kPreloadLibrary;
    } else {
        lib = absolute(lib);
    }
    // Without the library the program would run on this machine's own devices and attributes, and
    // LD_PRELOAD splits its list at colons and blanks: refuse rather than run it unredirected.
    struct stat st;
    if (stat(lib.c_str(), &st) != 0 || access(lib.c_str(), R_OK) != 0)
        return error("cannot preload " + lib + ": " + strerror(errno));
    if (!S_ISREG(st.st_mode)) return error("cannot preload " + lib + ": not a file");
    if (lib.find_first_of(": \t\n") != std::string::npos)
        return error("cannot preload " + lib + ": LD_PRELOAD cannot name a path with a colon or a blank");
    // A preloaded sanitizer runtime must stay first.
    const char* old = getenv("LD_PRELOAD");
    std::string preload = old && *old ? std::string(old) + ":" + lib : lib;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    execvp(argv[0], argv);
    fprintf(stderr, "boardsim: cannot run %s: %s\n", argv[0], strerror(errno));
    return 127;
}

// On the real devices and attributes: nothing is redirected, every operation is traced to FILE
// (appended to; "trace.log" in the working directory by default).
int run_trace_only(int argc, char** argv, const std::string& file, const std::string& lib) {
    int i = 0;
    if (i + 1 >= argc || strcmp(argv[i], "--") != 0 || file.empty()) return usage();
    int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return error("cannot write " + file + ": " + strerror(errno));
    close(fd);
    unsetenv(kBoardEnv);
    setenv(kTraceEnv, absolute(file).c_str(), 1);
    return exec_preloaded(argv + i + 1, lib);
}

int run(int argc, char** argv) {
    std::string trace_only, file = kDefaultTrace, lib;
    const struct option options[] = {{"trace-only", no_argument, nullptr, 0},
                                     {"trace", required_argument, nullptr, 1},
                                     {"preload", required_argument, nullptr, 2},
                                     {nullptr, 0, nullptr, 0}};
    std::string* values[16] = {&trace_only, &file, &lib};
    int first = read_options(argc, argv, options, values, true);
    if (first < 0) return usage();
    // getopt takes the "--" that ends the options: give it back to the word checks below.
    if (strcmp(argv[first - 1], "--") == 0) --first;
    argc -= first;
    argv += first;
    if (!trace_only.empty()) return run_trace_only(argc, argv, file, lib);
    if (file != kDefaultTrace) return usage();
    if (argc < 3 || strcmp(argv[1], "--") != 0) return usage();
    std::string dir = absolute(argv[0]);
    struct stat st;
    if (stat((dir + "/" + boardfiles::kSettingsFile).c_str(), &st) != 0) return error("no board in " + dir);
    setenv(kBoardEnv, dir.c_str(), 1);
    unsetenv(kTraceEnv);
    return exec_preloaded(argv + 2, lib);
}

int record(int argc, char** argv) {
    std::string root;
    const struct option options[] = {{"from", required_argument, nullptr, 0}, {nullptr, 0, nullptr, 0}};
    std::string* values[16] = {&root};
    int first = read_options(argc, argv, options, values, false);
    if (first < 0 || argc - first != 1) return usage();
    argv += first;
    while (!root.empty() && root.back() == '/') root.pop_back();
    if (!root.empty()) {
        struct stat st;
        if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return error("no folder " + root);
    }
    time_t now = time(nullptr);
    char when[64];
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", gmtime(&now));
    std::string conf = "# recorded board: " + (root.empty() ? std::string("this system") : root) + ", " + when +
                       "\n# settings of the default profile, then what was found\n" + profile_text("default") +
                       "# recorded\n" + boardsim::record_settings(root);
    return make_board(argv[0], conf);
}

int show_trace(int argc, char** argv) {
    if (argc != 1) return usage();
    std::string text;
    if (!boardsim::core::read_text(std::string(argv[0]) + "/" + boardfiles::kTraceFile, &text))
        return error(std::string("no trace in ") + argv[0]);
    fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int attach(int argc, char** argv, bool attached) {
    if (argc != 2) return usage();
    char* end = nullptr;
    long port = strtol(argv[1], &end, 10);
    if (*end != '\0' || port < 0 || port > 9) return error(std::string("bad port ") + argv[1]);
    std::string path = std::string(argv[0]) + "/" + boardfiles::kStateDir + "/usb.port" + std::to_string(port) + ".attached";
    if (!boardsim::core::write_text(path, attached ? "1" : "0"))
        return error("cannot write " + path + ": " + strerror(errno));
    return 0;
}

int list_profiles() {
    std::vector<std::string> seen;
    for (const boardsim::Profile* p : boardsim::core::profiles()) {
        bool dup = false;
        for (const std::string& s : seen) dup = dup || s == p->name;
        if (!dup) {
            seen.push_back(p->name);
            printf("%s\n", p->name);
        }
    }
    return 0;
}

// The drivers' protocol facts as NAME='value' lines, for scripts (sh: eval) and benchmark helpers
// that must not write them again.
int print_protocol() {
    struct Fact {
        const char* name;
        std::string value;
    };
    auto hex = [](unsigned long v) {
        char text[32];
        snprintf(text, sizeof text, "0x%lx", v);
        return std::string(text);
    };
    const Fact facts[] = {
        {"QVAUDIO_NODE", QVAUDIO_NODE},
        {"QVAUDIO_CMD_OUT_SIZE", hex(kCmdOutSize)},
        {"QVAUDIO_CMD_OUT_HW_POS", hex(kCmdOutHwPos)},
        {"QVAUDIO_CMD_OUT_SET_READ_POS", hex(kCmdOutSetReadPos)},
        {"QVAUDIO_CMD_OUT_SETUP", hex(kCmdOutSetup)},
        {"QVAUDIO_CMD_OUT_READ_POS", hex(kCmdOutReadPos)},
        {"WIFI_POWER_NODE", WIFI_POWER_NODE},
        {"WIFI_POWER_UP", hex(WIFI_POWER_UP)},
        {"WIFI_POWER_DOWN", hex(WIFI_POWER_DOWN)},
        {"WIFI_POWER_UP_RETRY", hex(WIFI_POWER_UP_RETRY)},
        {"WIFI_POWER_DOWN_RETRY", hex(WIFI_POWER_DOWN_RETRY)},
        {"OTG_VERSION_PATH", OTG_VERSION_PATH},
        {"OTG_PORT_DIR_PREFIX", OTG_PORT_DIR_PREFIX},
        {"OTG_PORT_DIGIT_INDEX", std::to_string(OTG_PORT_DIGIT_INDEX)},
        {"OTG_ATTR_GOTGCTL", OTG_ATTR_GOTGCTL},
        {"OTG_ATTR_BUSCONNECTED", OTG_ATTR_BUSCONNECTED},
        {"OTG_ATTR_PULLUP", OTG_ATTR_PULLUP},
        {"OTG_ATTR_SLEEPM", OTG_ATTR_SLEEPM},
        {"OTG_ATTR_IDDQ", OTG_ATTR_IDDQ},
        {"OTG_ATTR_OTG_DISABLE", OTG_ATTR_OTG_DISABLE},
        {"OTG_PHY_CONTROL_DIR", OTG_PHY_CONTROL_DIR},
        {"OTG_MODULE_CLASS_DIR", OTG_MODULE_CLASS_DIR},
        {"OTG_MODULE_ATTR_ON", OTG_MODULE_ATTR_ON},
        {"OTG_MODULE_ATTR_OFF", OTG_MODULE_ATTR_OFF},
        {"OTG_PHY_POWERED", OTG_PHY_POWERED},
        {"OTG_PHY_UNPOWERED", OTG_PHY_UNPOWERED},
    };
    for (const Fact& f : facts) printf("%s='%s'\n", f.name, f.value.c_str());
    return 0;
}

// Exit status 0 when this boardsim has the feature, 1 when it has not.
int supports(int argc, char** argv) {
    if (argc != 1) return usage();
    for (const char* f : kFeatures)
        if (strcmp(argv[0], f) == 0) return 0;
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    if (cmd == "--version") {
        printf("boardsim %s\n", BRINGUP_VERSION);
        return 0;
    }
    if (cmd == "create") return create(argc - 1, argv + 1);
    if (cmd == "run") return run(argc - 1, argv + 1);
    if (cmd == "record") return record(argc - 1, argv + 1);
    if (cmd == "trace") return show_trace(argc - 2, argv + 2);
    if (cmd == "attach") return attach(argc - 2, argv + 2, true);
    if (cmd == "detach") return attach(argc - 2, argv + 2, false);
    if (cmd == "profiles") return list_profiles();
    if (cmd == "protocol") return print_protocol();
    if (cmd == "supports") return supports(argc - 2, argv + 2);
    return usage();
}
