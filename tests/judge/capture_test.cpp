// The capture analysis against captures made here from the board's own stream function.
#include <stdio.h>

#include <gtest/gtest.h>

#include "bringup/audio_stream.h"
#include "judge/capture.h"

namespace {

using judge::CaptureOptions;
using judge::Content;
using judge::LogKind;

struct Made {
    std::string log, pcm;
};

// A capture as pcmcapture writes it: blocks cut from the stream at the given stream offsets.
Made make_capture(const bringup::AudioStream& s, const std::vector<std::pair<long long, uint32_t>>& blocks) {
    Made m;
    m.log = "I/qvAudio_Test: Audio capture start!\nI/qvAudio_Test: qvAudio_OutSize = 0x10000 !\n";
    for (auto& b : blocks) {
        char line[80];
        snprintf(line, sizeof line, "D/qvAudio_Test: write %x %x to file\n", 0x5a5a0000u, b.second);
        m.log += line;
        for (uint32_t i = 0; i < b.second; ++i) m.pcm += char(bringup::stream_byte(s, b.first + i));
    }
    m.log += "I/qvAudio_Test: Audio capture finish!\n";
    return m;
}

// Ten seconds of contiguous blocks (at the given rate), starting at stream offset `from`.
std::vector<std::pair<long long, uint32_t>> contiguous(long long from, long long rate) {
    std::vector<std::pair<long long, uint32_t>> b;
    for (long long at = from; at - from + 9600 <= rate * 10; at += 9600) b.push_back({at, 9600});
    return b;
}

CaptureOptions options(Content content, long long rate) {
    CaptureOptions o;
    o.content = content;
    o.rate = rate;
    return o;
}

TEST(CaptureLog, EveryFormReadBackExactly) {
    judge::CaptureLog log = judge::parse_capture_log(
        "I/qvAudio_Test: Audio capture start!\n"
        "E/qvAudio_Test: The device qvaudio_out cant't be opened!\n"
        "I/qvAudio_Test: qvAudio_OutSize = 0xffffffff !\n"
        "I/qvAudio_Test: qvAudio_OutInit Error!\n"
        "E/qvAudio_Test: qvAudio_out fail to read! Ret = -1, PosBytes = 400 \n"
        "E/qvAudio_Test: qvAudio_out fail to read! Ret = 12, left_size = 9600 \n"
        "E/qvAudio_Test: Fail to create thread!\n"
        "D/qvAudio_Test: write deadbeef 4b00 to file\n"
        "I/qvAudio_Test: Audio capture finish!");
    std::vector<LogKind> kinds;
    for (auto& l : log.lines) kinds.push_back(l.kind);
    EXPECT_EQ(kinds, (std::vector<LogKind>{LogKind::Start, LogKind::OpenFailed, LogKind::Size, LogKind::InitError,
                                           LogKind::ShortRead, LogKind::ShortReadToEnd, LogKind::ThreadFailed,
                                           LogKind::Write, LogKind::Finish}));
    EXPECT_EQ(log.ring_size, -1);
    EXPECT_EQ(log.lines[4].a, -1);
    EXPECT_EQ(log.lines[4].b, 400);
    EXPECT_EQ(log.block_lengths, std::vector<uint32_t>{19200});
}

TEST(CaptureLog, NearMissesAreNotPcmcapturesLines) {
    for (const char* line : {
             "E/qvAudio_Test: Audio capture start!",          // wrong level
             "I/qvAudio_Test: Audio capture start! ",         // trailing blank
             "I/qvAudio_Test:Audio capture start!",           // blank missing
             "I/qvAudio_test: Audio capture start!",          // tag spelled otherwise
             "D/qvAudio_Test: write 0x10 2580 to file",       // 0x before a number
             "D/qvAudio_Test: write 10 02580 to file",        // leading zero
             "D/qvAudio_Test: write 10 2580 to file ",
             "D/qvAudio_Test: write 10 2580  to file",
             "I/qvAudio_Test: qvAudio_OutSize = 0x10000!",    // blank before '!' missing
             "E/qvAudio_Test: qvAudio_out fail to read! Ret = -1, PosBytes = 400",  // blank before the end
             "I/qvAudio_Test: qvAudio_OutSize = 0x10000 !\r",
             ""}) {
        judge::CaptureLog log = judge::parse_capture_log(std::string(line) + "\n");
        ASSERT_EQ(log.lines.size(), 1u) << line;
        EXPECT_EQ(log.lines[0].kind, LogKind::Unknown) << line;
    }
}

TEST(Capture, CounterCaptureThatIsSoundHasNoProblems) {
    bringup::AudioStream s{192000, true, 440};
    auto blocks = contiguous(40000, s.rate);
    // Both block sizes, and a re-sync that jumps ahead.
    blocks[3].second = 19200;
    blocks.erase(blocks.begin() + 4);
    for (size_t i = 100; i < blocks.size(); ++i) blocks[i].first += 123456;
    Made m = make_capture(s, blocks);
    CaptureOptions o = options(Content::Counter, s.rate);
    o.resyncs = 2;
    judge::CaptureReport r = judge::analyse_capture(m.log, m.pcm, o);
    EXPECT_TRUE(r.ok()) << r.problems[0];
    EXPECT_TRUE(r.content_checked);
    EXPECT_EQ(r.intact, blocks.size());
    EXPECT_EQ(r.gaps, 1u);
    EXPECT_EQ(r.wholes, 1u);
    EXPECT_NEAR(r.audio_seconds, 10.0, 0.06);
    EXPECT_TRUE(r.silence.empty());

    // The same gap without a re-sync to explain it is data lost.
    o.resyncs = 1;
    r = judge::analyse_capture(m.log, m.pcm, o);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("without a re-sync"), std::string::npos);
}

TEST(Capture, ToneCaptureIsPlacedWithinItsPeriod) {
    for (double hz : {440.0, 440.5}) {  // a fractional tone repeats after a longer period
        SCOPED_TRACE(hz);
        bringup::AudioStream s{192000, false, hz};
        auto blocks = contiguous(4 * 1000003LL, s.rate);  // late in the stream, off the period's start
        blocks[50].first += 4 * 77;                       // a re-sync
        for (size_t i = 51; i < blocks.size(); ++i) blocks[i].first += 4 * 77;
        Made m = make_capture(s, blocks);
        CaptureOptions o = options(Content::Tone, s.rate);
        o.tone_hz = hz;
        judge::CaptureReport r = judge::analyse_capture(m.log, m.pcm, o);
        EXPECT_TRUE(r.ok()) << r.problems[0];
        EXPECT_EQ(r.intact, blocks.size());
        EXPECT_EQ(r.gaps, 1u);
        EXPECT_TRUE(r.silence.empty());
        EXPECT_TRUE(r.stuck.empty());
    }
}

TEST(Capture, DamageInsideABlockIsFound) {
    for (Content content : {Content::Counter, Content::Tone}) {
        bringup::AudioStream s{192000, content == Content::Counter, 440};
        Made m = make_capture(s, contiguous(0, s.rate));
        m.pcm[9600 * 7 + 4000] ^= 0x10;  // one corrupted byte
        // An overrun inside a block: the second half of block 9 comes from later in the stream.
        for (int i = 4800; i < 9600; ++i) m.pcm[9600 * 9 + i] = char(bringup::stream_byte(s, 9600 * 9 + i + 65536));
        judge::CaptureReport r = judge::analyse_capture(m.log, m.pcm, options(content, s.rate));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.intact, r.blocks.size() - 2);
        EXPECT_FALSE(r.blocks[7].intact);
        EXPECT_FALSE(r.blocks[9].intact);
        EXPECT_NE(r.problems.back().find("the first: block 7"), std::string::npos) << r.problems.back();
    }
}

TEST(Capture, BlocksMustMatchTheFileAndTheLog) {
    bringup::AudioStream s{192000, true, 440};
    Made m = make_capture(s, contiguous(0, s.rate));
    CaptureOptions o = options(Content::Counter, s.rate);
    // A debug line missing, a byte missing from the file, a length that pcmcapture never writes.
    std::string log = m.log;
    log.erase(log.find("D/"), log.find('\n', log.find("D/")) + 1 - log.find("D/"));
    EXPECT_FALSE(judge::analyse_capture(log, m.pcm, o).ok());
    EXPECT_FALSE(judge::analyse_capture(m.log, m.pcm.substr(1), o).ok());
    std::string odd = m.log;
    odd.replace(odd.find(" 2580 "), 6, " 2584 ");
    EXPECT_FALSE(judge::analyse_capture(odd, m.pcm + "abcd", o).ok());
    // Nothing captured at all.
    judge::CaptureReport empty = judge::analyse_capture(
        "I/qvAudio_Test: Audio capture start!\nI/qvAudio_Test: qvAudio_OutSize = 0xffffffff !\n"
        "I/qvAudio_Test: Audio capture finish!\n", "", o);
    EXPECT_FALSE(empty.ok());
    EXPECT_EQ(empty.problems.size(), 2u);  // the ring size, no audio
}

TEST(Capture, ShortCaptureAndStretchesOfSilenceOrStuckSamples) {
    bringup::AudioStream s{192000, false, 440};
    auto blocks = contiguous(0, s.rate);
    blocks.resize(blocks.size() / 2);  // five seconds
    Made m = make_capture(s, blocks);
    judge::CaptureReport r = judge::analyse_capture(m.log, m.pcm, options(Content::Unknown, s.rate));
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("5.00 s of audio in 10 s"), std::string::npos) << r.problems[0];

    Made full = make_capture(s, contiguous(0, s.rate));
    std::string pcm = full.pcm;
    for (size_t i = 96000; i < 96000 + 48000; ++i) pcm[i] = 0;                  // 0.25 s of silence
    for (size_t i = 400000; i < 400000 + 40000; ++i) pcm[i] = pcm[400000 + i % 4];  // stuck frame
    r = judge::analyse_capture(full.log, pcm, options(Content::Unknown, s.rate));
    ASSERT_EQ(r.silence.size(), 1u);
    EXPECT_EQ(r.silence[0].offset, 96000);
    EXPECT_GE(r.silence[0].bytes, 48000);
    ASSERT_EQ(r.stuck.size(), 1u);
    EXPECT_EQ(r.problems.size(), 1u);  // unknown content may be silent, but not stuck
    r = judge::analyse_capture(full.log, pcm, options(Content::Tone, s.rate));
    EXPECT_FALSE(r.ok());
}

TEST(Capture, LevelAndSpectrumOfTheTone) {
    bringup::AudioStream s{192000, false, 1000};
    Made m = make_capture(s, contiguous(0, s.rate));
    std::vector<double> level = judge::level_over_time(m.pcm, s.rate, 0.1);
    ASSERT_EQ(level.size(), 100u);
    // A sine of amplitude 12000: RMS 12000 / sqrt 2.
    EXPECT_NEAR(level[10], 20 * log10(12000 / sqrt(2.0) / 32768), 0.1);
    double bin = 0;
    std::vector<double> magnitudes = judge::spectrum(m.pcm, s.rate, 4096, &bin);
    ASSERT_EQ(magnitudes.size(), 2048u);
    size_t peak = size_t(std::max_element(magnitudes.begin(), magnitudes.end()) - magnitudes.begin());
    EXPECT_NEAR(double(peak) * bin, 1000.0, bin);
    EXPECT_NEAR(magnitudes[peak], 20 * log10(12000.0 / 32768), 1.5);
    EXPECT_TRUE(judge::spectrum(m.pcm.substr(0, 100), s.rate, 4096, &bin).empty());
}

}  // namespace
