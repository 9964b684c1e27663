// The board core's small parsers and formatters.
#include <gtest/gtest.h>

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
