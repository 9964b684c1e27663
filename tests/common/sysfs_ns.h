// Private mount namespaces with a tmpfs over "/sys", for running programs against a board tree
// that the kernel itself serves, with no path redirection.
#pragma once

#include <string>
#include <vector>

#include "runprog.h"

namespace sysns {

// Exit status that tells ctest a test program was skipped.
const int SKIP = 77;

// Registers a gtest environment that ends the test program with SKIP where such namespaces are
// refused (neither as root nor in an unprivileged user namespace). Call at static initialisation.
bool skip_where_refused();

// Runs a shell script in a new mount namespace: `sh -c script sh args...`. Scripts start with
// MOUNT_SYS, which mounts the tmpfs and refuses to go on unless "/sys" is that tmpfs.
testutil::RunResult run(const std::string& script, const std::vector<std::string>& args, double timeout_s);

extern const char MOUNT_SYS[];

}  // namespace sysns
