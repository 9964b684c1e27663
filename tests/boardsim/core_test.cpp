// The board core's small parsers and formatters.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "boardfiles/board_folder.h"
#include "boardsim.h"
#include "internal.h"
#include "record.h"
#include "usb_model.h"

namespace {

using boardsim::core::c_literal;
using boardsim::core::in_call_list;

TEST(CallList, NumbersListsAndRanges) {
    EXPECT_FALSE(in_call_list("", 1));
    EXPECT_TRUE(in_call_list("3", 3));
    EXPECT_FALSE(in_call_list("3", 4));
    EXPECT_TRUE(in_call_list("2, 5", 5));
    EXPECT_FALSE(in_call_list("2,5", 3));
    EXPECT_TRUE(in_call_list("4-6", 4));
    EXPECT_TRUE(in_call_list("4-6", 6));
    EXPECT_FALSE(in_call_list("4-6", 7));
    EXPECT_TRUE(in_call_list("7-", 7));
    EXPECT_TRUE(in_call_list("7-", 700000));
    EXPECT_FALSE(in_call_list("7-", 6));
    EXPECT_TRUE(in_call_list("1,10-12,20-", 11));
    // Malformed items match nothing rather than everything.
    EXPECT_FALSE(in_call_list("x,-,5x", 5));
}

TEST(CLiteral, EscapesWhatAStringLiteralNeeds) {
    EXPECT_EQ(c_literal("on", 2), "\"on\"");
    EXPECT_EQ(c_literal("1\n", 2), "\"1\\n\"");
    EXPECT_EQ(c_literal("a\"b\\c\t", 6), "\"a\\\"b\\\\c\\t\"");
    EXPECT_EQ(c_literal("\0\x01\xff", 3), "\"\\000\\001\\377\"");
    EXPECT_EQ(c_literal("", 0), "\"\"");
}

}  // namespace

namespace {

// Every byte survives a trip through a recorded setting: escaped by the recorder, read back by the
// USB model, and nothing in between that board.conf treats specially ('#', quotes, blanks).
TEST(RecordedText, EscapesEveryByteSoTheModelReadsItBack) {
    std::string all;
    for (int c = 0; c < 256; c++) all += char(c);
    for (const std::string& text : {all, std::string(" lead and trail "), std::string("GOTGCTL = 0x000c0000\n"),
                                    std::string("a#b\"c\\d")}) {
        std::string escaped = boardsim::conf_escape(text);
        EXPECT_EQ(std::string::npos, escaped.find('#'));
        EXPECT_EQ(std::string::npos, escaped.find('"'));
        for (char c : escaped) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << int(c);
        EXPECT_EQ(text, boardsim::usb_unescape(escaped));
    }
    EXPECT_EQ("GOTGCTL = 0x000c0000\\n", boardsim::conf_escape("GOTGCTL = 0x000c0000\n"));
}

TEST(RecordedText, MeasuredRatesSnapToNominalOnes) {
    EXPECT_EQ(192000, boardsim::snap_rate(191300));
    EXPECT_EQ(192000, boardsim::snap_rate(193900));
    EXPECT_EQ(768000, boardsim::snap_rate(770000));
    EXPECT_EQ(176400, boardsim::snap_rate(176000));
    EXPECT_EQ(16000, boardsim::snap_rate(16100));    // 8000 Hz, 2 bytes a frame
    EXPECT_EQ(2000000, boardsim::snap_rate(2000001));  // no nominal rate near: whole frames
    EXPECT_EQ(0, boardsim::snap_rate(1));
}

}  // namespace

namespace {

using bringup::SettingKind;

std::string source_file(const std::string& path) {
    std::ifstream in(std::string(BRINGUP_SOURCE_DIR) + "/" + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether a default as a page writes it is the table's: numbers by value (0x2EE00 is 192000).
bool same_default(const bringup::BoardSetting& row, const std::string& written) {
    if (row.kind != SettingKind::Number) return written == row.def;
    char* end = nullptr;
    return !written.empty() && strtoll(written.c_str(), &end, 0) == row.number && *end == '\0';
}

// The forms a page names a setting by: itself, and "usb.port<N>.role" for a port's own.
std::vector<std::string> doc_names(std::string name) {
    std::vector<std::string> names = {name};
    for (const char* port : {"port0", "port1"})
        if (name.find(port) != std::string::npos) names.push_back(name.replace(name.find(port), 5, "port<N>"));
    return names;
}

// The default a page gives in `text` between `open` and `close` ("` [192000]" in boardsim.md,
// "Default *192000*" in an entry of the man page), if it gives one.
bool default_after(const std::string& text, const std::string& open, const std::string& close, std::string* out) {
    size_t at = text.find(open);
    if (at == std::string::npos) return false;
    size_t end = text.find(close, at + open.size());
    *out = text.substr(at + open.size(), end - at - open.size());
    return true;
}

// The one table of settings is what the profile "default" sets, and what both boards' pages say.
TEST(Settings, TheTableIsTheDefaultProfileAndThePages) {
    boardfiles::Settings defaults;
    for (const boardsim::Profile* p : boardsim::core::profiles())
        if (std::string(p->name) == "default") boardfiles::parse_settings(p->settings, &defaults);
    for (const auto& [key, value] : defaults) {
        const bringup::BoardSetting* row = boardfiles::setting_row(key);
        ASSERT_NE(row, nullptr) << key;
        EXPECT_TRUE(same_default(*row, value)) << key << " = " << value << ", the table says " << row->def;
    }

    // boardsim.md: every setting in a settings table ("| `key` [default] | ..." or "| `key = V` | ...").
    std::vector<std::string> rows;
    std::istringstream page(source_file("docs/boardsim.md"));
    for (std::string line; std::getline(page, line);)
        if (line.rfind("| `", 0) == 0) rows.push_back(line.substr(0, line.find(" | ", 2)));
    // bringup_sim(4): every parameter named in a term of OPTIONS, its default in the entry.
    std::string man = source_file("docs/man/bringup_sim.4.scd");
    size_t options = man.find("# OPTIONS");
    ASSERT_NE(options, std::string::npos);
    man = man.substr(options, man.find("\n# ", options + 1) - options);

    for (const bringup::BoardSetting& row : bringup::kBoardSettings) {
        bool listed = false;
        for (const std::string& cell : rows)
            for (const std::string& name : doc_names(row.key)) {
                size_t at = cell.find("`" + name + "`");
                if (at == std::string::npos) at = cell.find("`" + name + " =");
                if (at == std::string::npos) continue;
                listed = true;
                std::string def;
                if (default_after(cell.substr(at), "` [", "]", &def)) {
                    EXPECT_TRUE(same_default(row, def)) << "boardsim.md: " << row.key << " [" << def << "]";
                }
            }
        EXPECT_TRUE(listed) << "boardsim.md has no row for " << row.key;

        size_t term = man.find("\n*" + std::string(row.param) + "*");
        if (term == std::string::npos) term = man.find(", *" + std::string(row.param) + "*");
        ASSERT_NE(term, std::string::npos) << "bringup_sim(4) has no entry for " << row.param;
        std::string entry = man.substr(term + 1, man.find("\n\n", term + 1) - term - 1), def;
        if (default_after(entry, "Default *", "*", &def)) {
            EXPECT_TRUE(same_default(row, def)) << "bringup_sim(4): " << row.param << " default " << def;
        }
    }
}

}  // namespace
