// The board core's small parsers and formatters.
#include <gtest/gtest.h>

#include "internal.h"

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
