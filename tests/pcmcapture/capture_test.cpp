// The installed pcmcapture on the simulated board: its lines, "output.pcm", the driver's trace and
// the integrity of what was captured. Each case is a ten-second run; runs of one test go side by side.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <future>
#include <string>
#include <vector>

#include "bringup/qvaudio.h"
#include "log_lines.h"
#include "runprog.h"

namespace {

const std::string kStart = loglines::line('I', pcmlog::kMsgStart);
const std::string kFinish = loglines::line('I', pcmlog::kMsgFinish);
const std::string kSize64k = loglines::line('I', pcmlog::kMsgSize, 0x10000u);
// Runs whose stream is checked use a ring of 4 MiB (22 s of audio at 192000 bytes/s): a capture
// thread held up for a while by a busy machine is then never lapped by the hardware.
const char kBigRing[] = "audio.ring=4194304";
const std::string kSizeBig = loglines::line('I', pcmlog::kMsgSize, 0x400000u);
const std::string kOpenFailed = loglines::line('E', pcmlog::kMsgOpenFailed);
const std::string kInitError = loglines::line('I', pcmlog::kMsgInitError);
const char kNode[] = QVAUDIO_NODE;
const std::string kShortReadToEndPattern = loglines::pattern('E', pcmlog::kMsgShortReadToEnd);
const std::string kWritePattern = loglines::pattern('D', pcmlog::kMsgWrite);
// The trace's detail of the hardware position query, and the start of the set-read-position one
// (its argument follows).
const std::string kHwPosQuery = testutil::request_text(kCmdOutHwPos);
const std::string kSetReadPos = testutil::request_text(kCmdOutSetReadPos) + " ";

using testutil::TraceLine;

struct Block {
    uint32_t address;
    uint32_t length;
};

struct Capture {
    testutil::RunResult run;
    std::string board;
    std::vector<std::string> lines;
    std::vector<Block> blocks;      // from the debug lines, in order
    std::vector<std::string> other; // lines that are not debug lines, in order
    std::string pcm;                // "output.pcm", or empty when it is not a file
    std::vector<TraceLine> trace;
};


// Makes a board with `settings`, runs the installed pcmcapture on it in a fresh folder and collects
// what it left. `prepare` may set up the run folder first.
Capture capture(const std::string& tag, const std::vector<std::string>& settings,
                void (*prepare)(const std::string& dir) = nullptr) {
    Capture c;
    std::string dir = testutil::make_temp_dir("pcmcapture-" + tag);
    c.board = dir + "/board";
    std::string cli = testutil::build_dir() + "/boardsim/boardsim";
    testutil::RunOptions make;
    make.argv = {cli, "create", c.board};
    make.argv.insert(make.argv.end(), settings.begin(), settings.end());
    testutil::RunResult made = testutil::run(make);
    EXPECT_EQ(made.exit_code, 0) << made.err;
    std::string work = dir + "/run";
    mkdir(work.c_str(), 0755);
    if (prepare) prepare(work);

    testutil::RunOptions o;
    o.argv = {cli, "run", c.board, "--", testutil::stage_bin("pcmcapture")};
    o.cwd = work;
    o.timeout_s = 90;
    c.run = testutil::run(o);
    c.lines = testutil::split_lines(c.run.out);
    for (const std::string& line : c.lines) {
        // (No std::regex here: runs are collected on several threads at once.)
        unsigned int address, length;
        int end = 0;
        if (sscanf(line.c_str(), kWritePattern.c_str(), &address, &length, &end) == 2 &&
            size_t(end) == line.size())
            c.blocks.push_back({address, length});
        else
            c.other.push_back(line);
    }
    struct stat st;
    if (stat((work + "/output.pcm").c_str(), &st) == 0 && S_ISREG(st.st_mode))
        c.pcm = testutil::read_file(work + "/output.pcm");
    c.trace = testutil::read_trace(c.board);
    return c;
}

uint8_t counter_byte(uint64_t offset) { return uint8_t(uint32_t(offset / 4) >> (8 * (offset % 4))); }

// The stream offset a run of counter bytes starts at, or -1 when the bytes are not one run.
int64_t stream_offset(const uint8_t* p, size_t n) {
    if (n < 8) return -1;
    for (size_t k = 0; k < 4; ++k) {
        uint32_t w;
        memcpy(&w, p + k, 4);
        int64_t start = int64_t(w) * 4 - int64_t(k);
        if (start < 0) continue;
        size_t i = 0;
        while (i < n && p[i] == counter_byte(uint64_t(start) + i)) ++i;
        if (i == n) return start;
    }
    return -1;
}

// Checks that every block of the file is an uncorrupted slice of the driver's counter stream and
// returns how many times one block does not continue where the one before ended.
int stream_gaps(const Capture& c) {
    size_t at = 0;
    int64_t expected = -1;
    int gaps = 0;
    for (size_t i = 0; i < c.blocks.size(); ++i) {
        const Block& b = c.blocks[i];
        if (at + b.length > c.pcm.size()) {
            ADD_FAILURE() << "block " << i << " runs past the end of output.pcm";
            return -1;
        }
        int64_t start = stream_offset(reinterpret_cast<const uint8_t*>(c.pcm.data()) + at, b.length);
        if (start < 0) {
            ADD_FAILURE() << "block " << i << " at file offset " << at << " is not a slice of the stream";
            return -1;
        }
        if (expected >= 0 && start != expected) ++gaps;
        expected = start + b.length;
        at += b.length;
    }
    EXPECT_EQ(at, c.pcm.size()) << "the file holds exactly the delivered blocks";
    return gaps;
}

int count_ops(const Capture& c, const std::string& op, const std::string& detail_prefix) {
    int n = 0;
    for (const TraceLine& t : c.trace)
        if (t.op == op && t.detail.compare(0, detail_prefix.size(), detail_prefix) == 0) ++n;
    return n;
}

int count_lines(const Capture& c, const std::string& text) {
    int n = 0;
    for (const std::string& l : c.lines) n += l == text;
    return n;
}

long long bytes_read(const Capture& c) {
    long long n = 0;
    for (const TraceLine& t : c.trace)
        if (t.op == "read" && t.path == kNode && t.result > 0) n += t.result;
    return n;
}

// Follows the capture buffer's fill through the trace (back to empty at each re-sync and whenever
// it is full) and checks that every read asks for 1 to the room left in it.
void expect_reads_fit_the_buffer(const Capture& c) {
    long long fill = 0;
    int reads = 0;
    for (const TraceLine& t : c.trace) {
        if (t.path != kNode) continue;
        if (t.op == "ioctl" && t.detail.compare(0, kSetReadPos.size(), kSetReadPos) == 0) fill = 0;
        if (t.op != "read") continue;
        long long count = atoll(t.detail.c_str());
        ++reads;
        ASSERT_GE(count, 1) << "read " << reads;
        ASSERT_LE(count, 19200 - fill) << "read " << reads << " with " << fill << " bytes in the buffer";
        if (t.result == count) fill = (fill + count) % 19200;
    }
    EXPECT_GT(reads, 0);
}

// The shortest time between two hardware position queries: two passes of the capture thread (a
// read step every second pass). A busy machine stretches passes, never shortens them, so over the
// hundreds of steps of a run the shortest gap shows the period the thread asks for.
double shortest_query_gap(const Capture& c) {
    double last = -1, shortest = 1e9;
    for (const TraceLine& t : c.trace)
        if (t.op == "ioctl" && t.detail == kHwPosQuery) {
            if (last >= 0) shortest = std::min(shortest, t.time - last);
            last = t.time;
        }
    return shortest;
}

// What every run has: exit status 0, the start line first and the finish line last.
void expect_frame(const Capture& c) {
    EXPECT_EQ(c.run.exit_code, 0);
    EXPECT_FALSE(c.run.timed_out);
    EXPECT_EQ(c.run.err, "");
    ASSERT_GE(c.lines.size(), 2u) << c.run.out;
    EXPECT_EQ(c.lines.front(), kStart);
    EXPECT_EQ(c.lines.back(), kFinish);
}

// Blocks come from the capture buffer in turn: a half at its start, then the half after it, and so
// on; a whole-buffer block (when a late read filled both halves) always starts at the buffer start.
void expect_halves_in_turn(const Capture& c) {
    uint32_t base = c.blocks.empty() ? 0 : c.blocks[0].address;
    uint32_t pos = 0;
    for (size_t i = 0; i < c.blocks.size(); ++i) {
        const Block& b = c.blocks[i];
        EXPECT_TRUE(b.length == 9600 || b.length == 19200) << i << ": " << b.length;
        EXPECT_EQ(b.address, base + pos) << i;
        if (b.length == 19200) {
            EXPECT_EQ(pos, 0u) << i;
        }
        pos = (pos + b.length) % 19200;
    }
}

void make_output_a_folder(const std::string& dir) { mkdir((dir + "/output.pcm").c_str(), 0755); }

TEST(Capture, NormalRuns) {
    auto plain = std::async(std::launch::async, [] {
        return capture("normal", {"audio.content=counter", kBigRing});
    });
    // A ring whose size is no multiple of 4 (and that the stream laps in 5 s): reads up to its end
    // come in odd lengths.
    auto odd = std::async(std::launch::async, [] {
        return capture("odd-ring", {"audio.content=counter", "audio.ring=1000002"});
    });
    auto unwritable = std::async(std::launch::async, [] {
        return capture("unwritable", {"audio.content=counter"}, make_output_a_folder);
    });

    Capture c = plain.get();
    expect_frame(c);
    EXPECT_EQ(c.other, (std::vector<std::string>{kStart, kSizeBig, kFinish}));
    EXPECT_GE(c.run.seconds, 9.9);
    EXPECT_LT(c.run.seconds, 30 * testutil::time_scale());
    // About 200 halves of 9600 bytes arrive in 10 s at 192000 bytes/s; allow a slow machine.
    EXPECT_GE(c.blocks.size(), 100u);
    EXPECT_LE(c.blocks.size(), 205u);
    EXPECT_EQ(c.pcm.size() % 9600, 0u);
    ASSERT_FALSE(c.blocks.empty());
    expect_halves_in_turn(c);
    EXPECT_EQ(stream_gaps(c), 0);
    expect_reads_fit_the_buffer(c);
    // The partly filled half at the stop is read but never delivered.
    long long undelivered = bytes_read(c) - (long long)c.pcm.size();
    EXPECT_GE(undelivered, 0);
    EXPECT_LT(undelivered, 9600);

    // The device conversation: open read-write, set-up with 1, size with 0, then the re-sync to
    // the hardware position, and reads; the device is closed about 10 s after it opened.
    ASSERT_GE(c.trace.size(), 6u);
    EXPECT_EQ(c.trace[0].op, "open");
    EXPECT_EQ(c.trace[0].detail, "0x2");
    EXPECT_EQ(c.trace[1].detail, testutil::request_text(kCmdOutSetup) + " 1");
    EXPECT_EQ(c.trace[2].detail, testutil::request_text(kCmdOutSize) + " 0");
    EXPECT_EQ(c.trace[3].detail, testutil::request_text(kCmdOutHwPos));
    EXPECT_EQ(c.trace[4].detail, testutil::request_text(kCmdOutSetReadPos) + " " + std::to_string(c.trace[3].result));
    EXPECT_EQ(c.trace.back().op, "close");
    EXPECT_GE(c.trace.back().time - c.trace[0].time, 9.9);
    EXPECT_EQ(count_ops(c, "ioctl", testutil::request_text(kCmdOutSetReadPos) + " "), 1) << "one re-sync";
    // A pass every 4 ms, a read every second pass: at most one position query per 8 ms.
    int queries = count_ops(c, "ioctl", testutil::request_text(kCmdOutHwPos));
    EXPECT_LE(queries, 10.2 / 0.008 + 5);
    EXPECT_GE(queries, 200);
    EXPECT_LT(shortest_query_gap(c), 0.012) << "a read step every 8 ms";

    Capture o = odd.get();
    expect_frame(o);
    EXPECT_EQ(o.other[1], loglines::line('I', pcmlog::kMsgSize, 0xf4242u));
    EXPECT_EQ(o.pcm.size() % 9600, 0u);
    EXPECT_GE(o.blocks.size(), 100u);
    EXPECT_EQ(stream_gaps(o), 0);
    int odd_reads = 0;
    for (const TraceLine& t : o.trace)
        if (t.op == "read" && t.result % 4 != 0) ++odd_reads;
    EXPECT_GT(odd_reads, 0) << "a read up to the ring's end of a length that is no multiple of 4";
    expect_reads_fit_the_buffer(o);

    Capture u = unwritable.get();
    expect_frame(u);
    EXPECT_EQ(u.lines, (std::vector<std::string>{kStart, kSize64k, kFinish}));
    EXPECT_GT(bytes_read(u), 9600 * 50) << "capture ran all the same";
}

TEST(Capture, StartFailures) {
    auto size_fail = std::async(std::launch::async, [] { return capture("size-fail", {"audio.fault.size=-1"}); });
    auto size_zero = std::async(std::launch::async, [] { return capture("size-zero", {"audio.fault.size=0"}); });
    auto no_thread = std::async(std::launch::async, [] {
        return capture("no-thread", {"fault.pthread_create=refuse"});
    });
    struct Case {
        Capture c;
        std::vector<std::string> lines;
    } cases[] = {
        {size_fail.get(), {kStart, loglines::line('I', pcmlog::kMsgSize, 0xffffffffu), kFinish}},
        {size_zero.get(), {kStart, loglines::line('I', pcmlog::kMsgSize, 0x0u), kFinish}},
        {no_thread.get(), {kStart, kSize64k, loglines::line('E', pcmlog::kMsgThreadFailed), kFinish}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.c.board);
        expect_frame(k.c);
        EXPECT_EQ(k.c.lines, k.lines);
        EXPECT_GE(k.c.run.seconds, 9.9) << "the program still waits its 10 s";
        EXPECT_EQ(k.c.pcm, "");
        // Open, set-up, size, and the device closed again; no reader ever ran.
        ASSERT_GE(k.c.trace.size(), 4u);
        EXPECT_EQ(k.c.trace[0].op, "open");
        EXPECT_EQ(k.c.trace[1].detail, testutil::request_text(kCmdOutSetup) + " 1");
        EXPECT_EQ(k.c.trace[2].detail, testutil::request_text(kCmdOutSize) + " 0");
        EXPECT_EQ(k.c.trace.back().op, "close");
        EXPECT_LT(k.c.trace.back().time - k.c.trace[0].time, 2.0) << "closed at once";
        EXPECT_EQ(count_ops(k.c, "ioctl", testutil::request_text(kCmdOutHwPos)), 0);
    }
    EXPECT_EQ(cases[2].c.trace[3].op, "fault");
    EXPECT_EQ(cases[2].c.trace[3].path, "pthread_create");
}

TEST(Capture, DeviceAppearsOnTheThirdOpen) {
    Capture c = capture("late-device", {"audio.content=counter", kBigRing, "audio.fault.absent_opens=2"});
    expect_frame(c);
    EXPECT_EQ(c.other, (std::vector<std::string>{kStart, kOpenFailed, kOpenFailed, kSizeBig, kFinish}));
    std::vector<double> opens;
    for (const TraceLine& t : c.trace)
        if (t.op == "open") opens.push_back(t.time);
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_GE(opens[1] - opens[0], 4.9);
    EXPECT_GE(opens[2] - opens[1], 4.9);
    EXPECT_LT(opens[2] - opens[0], 15.0);
    // The 10 s of capture count from the open that worked.
    EXPECT_GE(c.trace.back().time - opens[2], 9.9);
    EXPECT_GE(c.run.seconds, 19.8);
    EXPECT_GE(c.blocks.size(), 100u);
    EXPECT_EQ(stream_gaps(c), 0);
}

TEST(Capture, ReaderFailuresResynchronise) {
    // Call numbers: every read step queries the hardware position once, and after a failure the
    // next pass re-syncs, which queries it once more. So hardware query 20 fails in a read step
    // and query 21 in the re-sync that follows; the later faults each cost one re-sync.
    auto faults = std::async(std::launch::async, [] {
        return capture("reader-faults",
                       {"audio.content=counter", kBigRing, "audio.fault.hwpos_fail=20,21",
                        "audio.fault.read_error=60", "audio.fault.short_read=100",
                        "audio.fault.readpos_fail=140", "audio.fault.hwpos_range=180",
                        "audio.fault.readpos_range=220"});
    });
    // From query 50 on the hardware position never comes back: the thread stays in its re-sync.
    auto stuck = std::async(std::launch::async, [] {
        return capture("stuck", {"audio.content=counter", kBigRing, "audio.fault.hwpos_fail=50-"});
    });

    Capture c = faults.get();
    expect_frame(c);
    EXPECT_EQ(count_lines(c, kInitError), 1);
    std::vector<std::pair<long, long>> reads;
    for (const std::string& line : c.other) {
        int got, asked;
        int end = 0;
        for (const char* form : {pcmlog::kMsgShortRead, pcmlog::kMsgShortReadToEnd}) {
            if (sscanf(line.c_str(), loglines::pattern('E', form).c_str(), &got, &asked, &end) == 2 &&
                size_t(end) == line.size() && line.back() == ' ') {
                reads.emplace_back(got, asked);
                break;
            }
        }
    }
    ASSERT_EQ(reads.size(), 2u) << c.run.out;
    EXPECT_EQ(reads[0].first, -1);
    EXPECT_GT(reads[0].second, 0);
    EXPECT_EQ(reads[1].first, (reads[1].second / 2) & ~3L) << "the short read's count";
    // One re-sync at the start and one after each of the six failures.
    EXPECT_EQ(count_ops(c, "ioctl", testutil::request_text(kCmdOutSetReadPos) + " "), 7);
    EXPECT_EQ(c.pcm.size() % 9600, 0u);
    EXPECT_GE(c.blocks.size(), 50u);
    int gaps = stream_gaps(c);
    EXPECT_GE(gaps, 0);
    EXPECT_LE(gaps, 6) << "data is lost only at a re-sync";

    Capture s = stuck.get();
    expect_frame(s);
    EXPECT_LT(s.run.seconds, 30 * testutil::time_scale()) << "the stop ends a thread that keeps failing";
    EXPECT_GE(count_lines(s, kInitError), 100);
    EXPECT_EQ(s.pcm.size() % 9600, 0u);
    EXPECT_GE(stream_gaps(s), 0);
    EXPECT_EQ(s.trace.back().op, "close");
}

TEST(Capture, FastDriverFillsTheWholeBufferAtOnce) {
    // 2.5 MB/s: more than 19200 bytes arrive between two reads, so each read fills the whole
    // buffer from its start. The ring is large enough that the reader, falling behind, is never
    // lapped.
    Capture c = capture("fast", {"audio.content=counter", "audio.rate=2500000", "audio.ring=67108864"});
    expect_frame(c);
    EXPECT_EQ(c.other[1], loglines::line('I', pcmlog::kMsgSize, 0x4000000u));
    ASSERT_GE(c.blocks.size(), 50u);
    for (size_t i = 0; i < c.blocks.size(); ++i) {
        EXPECT_EQ(c.blocks[i].length, 19200u) << i;
        EXPECT_EQ(c.blocks[i].address, c.blocks[0].address) << i;
    }
    for (const std::string& line : c.lines)
        if (line.rfind("D/", 0) == 0) {
            EXPECT_EQ(line.substr(line.size() - 13), " 4b00 to file");
        }
    EXPECT_EQ(c.pcm.size() % 19200, 0u);
    EXPECT_EQ(stream_gaps(c), 0);
    EXPECT_EQ(count_ops(c, "fault", "overrun"), 0);
}

TEST(Capture, RingsAboveAGigabyte) {
    // Sizes near the largest positive 32-bit value, where new bytes plus the ring size pass it.
    // In the first two the size command says so of a 4 MiB ring that the stream never laps in
    // 10 s; the third is a real ring of that size.
    auto said_max = std::async(std::launch::async, [] {
        return capture("size-7fffffff", {"audio.content=counter", kBigRing, "audio.fault.size=0x7fffffff"});
    });
    auto said_word = std::async(std::launch::async, [] {
        return capture("size-7ffffffc", {"audio.content=counter", kBigRing, "audio.fault.size=0x7ffffffc"});
    });
    auto real = std::async(std::launch::async, [] {
        return capture("ring-7fffffff", {"audio.content=counter", "audio.ring=2147483647"});
    });
    // A 64 KiB ring, lapped every third of a second, whose size command says 0x7fffffff: the reads
    // that run to the ring's end come back short and each costs a re-sync, but nothing worse.
    auto lapped = std::async(std::launch::async, [] {
        return capture("size-lie", {"audio.content=counter", "audio.fault.size=0x7fffffff"});
    });
    struct Case {
        Capture c;
        std::string size_line;
    } cases[] = {
        {said_max.get(), loglines::line('I', pcmlog::kMsgSize, 0x7fffffffu)},
        {said_word.get(), loglines::line('I', pcmlog::kMsgSize, 0x7ffffffcu)},
        {real.get(), loglines::line('I', pcmlog::kMsgSize, 0x7fffffffu)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.c.board);
        expect_frame(k.c);
        EXPECT_EQ(k.c.other, (std::vector<std::string>{kStart, k.size_line, kFinish}));
        EXPECT_GE(k.c.blocks.size(), 100u);
        EXPECT_EQ(k.c.pcm.size() % 9600, 0u);
        expect_halves_in_turn(k.c);
        EXPECT_EQ(stream_gaps(k.c), 0);
        expect_reads_fit_the_buffer(k.c);
    }

    Capture l = lapped.get();
    expect_frame(l);
    EXPECT_EQ(l.other[1], loglines::line('I', pcmlog::kMsgSize, 0x7fffffffu));
    for (size_t i = 2; i + 1 < l.other.size(); ++i) {
        int got, asked;
        int end = 0;
        EXPECT_TRUE(sscanf(l.other[i].c_str(), kShortReadToEndPattern.c_str(), &got, &asked, &end) == 2 && size_t(end) == l.other[i].size() && got < asked)
            << l.other[i];
    }
    EXPECT_EQ(l.pcm.size() % 9600, 0u);
    EXPECT_GE(stream_gaps(l), 0);
    expect_reads_fit_the_buffer(l);
}

}  // namespace
