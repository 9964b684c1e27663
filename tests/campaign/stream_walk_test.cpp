// The piecewise walk over captures of the counter stream: clean captures, re-syncs and overruns
// between and inside blocks, pieces cut short at an odd ring's end, and bytes from nowhere.
#include "stream_walk.h"

#include <gtest/gtest.h>

#include "bringup/audio_stream.h"

namespace {

std::string slice(long long start, size_t length) {
    bringup::AudioStream stream;
    stream.counter = true;
    std::string s;
    for (size_t i = 0; i < length; ++i) s += char(bringup::stream_byte(stream, start + (long long)i));
    return s;
}

const long long kRing = 65536;

TEST(StreamWalk, ContiguousBlocksHaveNoBreak) {
    EXPECT_EQ(0, campaign::stream_breaks(slice(0, 9600 * 3), {9600, 9600, 9600}, kRing));
    // Any phase: a capture may start at an offset that is not a multiple of 4.
    EXPECT_EQ(0, campaign::stream_breaks(slice(123457, 19200 + 9600), {19200, 9600}, kRing));
    EXPECT_EQ(0, campaign::stream_breaks("", {}, kRing));
}

TEST(StreamWalk, EachJumpIsOneBreak) {
    // Between blocks (a re-sync).
    EXPECT_EQ(1, campaign::stream_breaks(slice(0, 9600) + slice(50000, 9600), {9600, 9600}, kRing));
    // Inside a block (an overrun between two reads), twice.
    EXPECT_EQ(2, campaign::stream_breaks(slice(0, 4000) + slice(90001, 3000) + slice(200002, 2600), {9600}, kRing));
}

TEST(StreamWalk, ShortPiecesAtAnOddRingsEndCountAsTheirOwn) {
    // Two bytes that follow on, then a jump: one break.
    EXPECT_EQ(1, campaign::stream_breaks(slice(1000, 4098) + slice(7000, 5502), {9600}, kRing));
    // Three bytes from elsewhere between two pieces: the jump into them and out of them.
    EXPECT_EQ(2, campaign::stream_breaks(slice(0, 4000) + slice(777777, 3) + slice(4003, 5597), {9600}, kRing));
}

TEST(StreamWalk, TwoShortPiecesBetweenOverrunsOnAByteAlignedRing) {
    // A whole word, then the last three bytes of a later word, then a later run.
    EXPECT_EQ(3, campaign::stream_breaks(slice(0, 4000) + slice(8000, 4) + slice(12001, 3) + slice(20000, 5593), {9600}, kRing));
}

TEST(StreamWalk, ThePreviousLapRightAfterAPieceIsABreak) {
    // A read past the hardware position: 19 produced bytes, then what the ring held a lap before.
    EXPECT_EQ(2, campaign::stream_breaks(slice(1000, 5000) + slice(90000, 19) + slice(90019 - kRing, 4581), {9600}, kRing));
    // Too short a produced part to place: the previous lap still follows on from bytes not seen.
    EXPECT_EQ(2, campaign::stream_breaks(slice(1000, 5000) + slice(90000, 3) + slice(90003 - kRing, 4597), {9600}, kRing));
    // A step back further than a lap from what was seen is data twice.
    EXPECT_EQ(-1, campaign::stream_breaks(slice(1000, 5000) + slice(90000, 19) + slice(5000, 4581), {9600}, kRing));
}

TEST(StreamWalk, AShortPieceEndingABlockPlacesNothing) {
    // Four bytes at a block's end that happen to read as a word far ahead in the stream must not
    // make the next block look like a step back.
    std::string pcm = slice(0, 9596) + std::string("\x40\x00\x00\x90", 4) + slice(20000, 9600);
    EXPECT_EQ(2, campaign::stream_breaks(pcm, {9600, 9600}, kRing));
}

TEST(StreamWalk, DataFromBeforeIsNoSlice) {
    // A stretch from more than a lap back: the stream never goes back.
    EXPECT_EQ(-1, campaign::stream_breaks(slice(200000, 9600) + slice(100000, 9600), {9600, 9600}, kRing));
    // Within a lap it may be the ring's previous lap: a break, which only an overrun explains.
    EXPECT_EQ(1, campaign::stream_breaks(slice(1000, 9600) + slice(5000, 9600), {9600, 9600}, kRing));
}

TEST(StreamWalk, BytesFromNowhereAreNoSlice) {
    std::string pcm = slice(0, 9600);
    for (size_t i = 4000; i < 4100; ++i) pcm[i] = char(0xA5);
    EXPECT_EQ(-1, campaign::stream_breaks(pcm, {9600}, kRing));
    EXPECT_EQ(-1, campaign::stream_breaks(std::string(9600, '\0') + slice(0, 9600), {9600, 9600}, kRing));
}

TEST(StreamWalk, ALoneChangedByteIsABreakOnEachSide) {
    std::string pcm = slice(4, 9600);
    pcm[5000] ^= 0x40;
    // A changed byte breaks the run twice: that needs two explanations the trace will not give.
    EXPECT_GE(campaign::stream_breaks(pcm, {9600}, kRing), 2);
}

}  // namespace
