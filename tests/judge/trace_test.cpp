// Trace lines as the board writes them, read back.
#include <gtest/gtest.h>

#include "judge/capture.h"
#include "judge/trace.h"

namespace {

TEST(Trace, WrittenLinesReadBack) {
    std::string bytes("on\n\t\"\\\001\377", 8);
    std::string literal = bringup::trace_literal(bytes.data(), bytes.size());
    EXPECT_EQ(literal, "\"on\\n\\t\\\"\\\\\\001\\377\"");
    std::string text = bringup::format_trace_line(1700000000, 42, 77, "write", "/sys/devices/lm1/peri_sleepm",
                                                   literal, 8) +
                       bringup::format_trace_line(1700000001, 5, 78, "ioctl", "/dev/qvaudio_out",
                                                   "0x40044102 4096", -1);
    judge::Trace t = judge::parse_trace(text + "1700000002.000000\t79\tread\t/sys/x");  // last line unfinished
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.bad_lines, 0u);
    EXPECT_DOUBLE_EQ(t.records[0].time, 1700000000.000042);
    EXPECT_EQ(t.records[0].pid, 77);
    EXPECT_EQ(t.records[0].path, "/sys/devices/lm1/peri_sleepm");
    std::string back;
    ASSERT_TRUE(judge::record_bytes(t.records[0], &back));
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(t.records[1].result, -1);
    EXPECT_FALSE(judge::record_bytes(t.records[1], &back));
}

TEST(Trace, ResyncsAndOverrunsOfTheAudioDriver) {
    judge::Trace t = judge::parse_trace(
        "1.0\t1\tioctl\t/dev/qvaudio_out\t0x40044102 4096\t0\n"
        "1.0\t1\tioctl\t/dev/qvaudio_out\t0x40044101\t4096\n"
        "1.0\t1\tfault\t/dev/qvaudio_out\toverrun 70000\t0\n"
        "1.0\t1\tioctl\t/dev/qvaudio_out\t0x40044102 0\t0\n"
        "1.0\t1\tioctl\t/dev/wifi_power\t0x40044102\t0\n"
        "1.0\t1\tfault\tpthread_create\trefused\t11\n");
    EXPECT_EQ(judge::count_resyncs(t), 2);
    EXPECT_EQ(judge::count_overruns(t), 1);
}

TEST(Trace, MalformedLinesAreCountedNotTaken) {
    judge::Trace t = judge::parse_trace(
        "1.0\t1\tread\t/p\t\"x\"\t1\n"
        "1.0\t1\tpeek\t/p\t\"x\"\t1\n"       // unknown op
        "1.0\t1\tread\t/p\t\"x\"\n"          // a field missing
        "1.0\t1\tread\t/p\t\"x\"\t1\t2\n"    // a field too many
        "x\t1\tread\t/p\t\"x\"\t1\n"         // time not a number
        "1.0\t1\tread\t/p\t\"x\"\t1z\n"
        "\n");
    EXPECT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.bad_lines, 6u);
    for (const char* bad : {"x", "\"x", "\"\\q\"", "\"\\0\"", "\"\\9aa\"", "\"a\"b\"", "\"\\\""}) {
        std::string out;
        EXPECT_FALSE(bringup::trace_unliteral(bad, &out)) << bad;
    }
}

}  // namespace
