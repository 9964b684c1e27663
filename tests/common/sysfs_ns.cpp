#include "sysfs_ns.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace sysns {

const char MOUNT_SYS[] =
    "mount -t tmpfs -o mode=0755 boardsys /sys\n"
    // Never touch anything unless /sys is our tmpfs by now.
    "[ \"$(stat -f -c %T /sys)\" = tmpfs ] || exit 97\n";

namespace {

std::vector<std::string> g_unshare;  // the unshare command that works here

std::vector<std::string> unshare_command(bool user_ns) {
    std::vector<std::string> cmd = {"/usr/bin/unshare"};
    if (user_ns) cmd.push_back("--map-root-user");
    cmd.insert(cmd.end(), {"--mount", "--propagation", "private", "/bin/sh", "-c"});
    return cmd;
}

bool namespace_works(const std::vector<std::string>& cmd) {
    testutil::RunOptions o;
    o.argv = cmd;
    o.argv.push_back(std::string("set -e\n") + MOUNT_SYS);
    o.timeout_s = 30;
    return testutil::run(o).exit_code == 0;
}

class NamespaceEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        for (bool user_ns : {false, true}) {
            std::vector<std::string> cmd = unshare_command(user_ns);
            if (namespace_works(cmd)) {
                g_unshare = cmd;
                return;
            }
        }
        fprintf(stderr, "mount namespaces with a tmpfs over /sys are refused here: skipped\n");
        std::exit(SKIP);
    }
};

}  // namespace

bool skip_where_refused() {
    ::testing::AddGlobalTestEnvironment(new NamespaceEnvironment);
    return true;
}

testutil::RunResult run(const std::string& script, const std::vector<std::string>& args, double timeout_s) {
    testutil::RunOptions o;
    o.argv = g_unshare;
    o.argv.push_back(script);
    o.argv.push_back("sh");
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.timeout_s = timeout_s;
    return testutil::run(o);
}

}  // namespace sysns
