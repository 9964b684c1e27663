// Shared pieces of the recording tests: traces as comparable texts and the boards recorded.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board_support.h"
#include "boardfiles/board_names.h"
#include "runprog.h"

namespace rectest {

using Texts = std::vector<std::string>;

// A trace as "op path detail result" lines; a successful open's descriptor number is left out.
inline Texts ops(const std::vector<testutil::TraceLine>& lines) {
    Texts out;
    for (const testutil::TraceLine& l : lines) {
        std::string result = l.op == "open" && l.result >= 0 ? "fd" : std::to_string(l.result);
        out.push_back(l.op + " " + l.path + " " + l.detail + " " + result);
    }
    return out;
}

// The settings a board.conf ends with for a key (its last line), or "" when it has none.
inline std::string conf_value(const std::string& board, const std::string& key) {
    std::string value;
    for (const std::string& line : testutil::split_lines(testutil::read_file(board + "/" + boardfiles::kSettingsFile)))
        if (line.rfind(key + " = ", 0) == 0) value = line.substr(key.size() + 3);
    return value;
}

// The two traces agree line for line over the shorter one (the runs may end a cycle apart), and
// that covers at least `min_lines` operations including some that write.
inline void expect_same_run(const Texts& tree, const Texts& recording, size_t min_lines) {
    size_t n = std::min(tree.size(), recording.size());
    ASSERT_GE(n, min_lines) << "tree " << tree.size() << " lines, recording " << recording.size();
    int writes = 0;
    for (size_t i = 0; i < n; i++) {
        ASSERT_EQ(tree[i], recording[i]) << "operation " << i;
        writes += tree[i].rfind("write ", 0) == 0;
    }
    EXPECT_GT(writes, 0);
}

struct Case {
    const char* name;
    Texts board;  // `boardsim create` arguments of the tree
    Texts argv;   // the daemon
};

inline const Case kCases[] = {
    {"idle_ports", {}, {"otgpower"}},
    {"device_on_port1", {"usb.port1.attached=1"}, {"otgpower"}},
    {"save_one_port", {"usb.ports=0"}, {"otgpowersave"}},
    {"iddq", {"--profile", "otg-iddq", "usb.ports=1"}, {"otgpoweriddq"}},
    {"phy_control_gadget", {"--profile", "otg-2.60a", "usb.port0.role=peripheral"}, {"otgpower", "A"}},
    // Texts the USB model does not print itself are kept as they were read.
    {"odd_texts",
     {"usb.port0.gotgctl=GOTGCTL = 0x000c0021\\n", "usb.port1.busconnected=Bus Connected = 0x01\\n",
      "usb.port1.missing=pullup"},
     {"otgpower"}},
    // A version file without a line end, with a '#' after the version.
    {"version_text", {"usb.version=\"2.94a\\x231\""}, {"otgpoweriddq", "B"}},
};

}  // namespace rectest
