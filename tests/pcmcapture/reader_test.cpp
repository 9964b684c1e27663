// The capture layer against a scripted device: the capture source is compiled for this test with
// its device, allocation and sleep calls renamed to the fake_* functions below.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bringup/qvaudio.h"
#include "capture.h"
#include "log_lines.h"

namespace {

const unsigned long kSize = kCmdOutSize;
const unsigned long kHwPos = kCmdOutHwPos;
const unsigned long kSetReadPos = kCmdOutSetReadPos;
const unsigned long kSetup = kCmdOutSetup;
const unsigned long kReadPos = kCmdOutReadPos;
const int kFd = 7;

// A driver ring whose positions the test sets. Bytes read are the ring offsets' low bytes, so a
// test can tell which ring bytes landed where.
struct FakeDevice {
    int32_t size = 65536;
    int32_t hw = 0;
    int32_t rd = 0;
    long hw_answer = -100;        // when not -100, the hardware query answers this
    long rd_answer = -100;        // same for the read-position query
    long read_answer = -100;      // when not -100, read returns this and stores nothing
    int32_t size_answer = -100;   // when not -100, the size command answers this
    int32_t hw_step = 0;          // the hardware moves on this far at every hardware query
    int open_failures = 0;        // opens that fail before one succeeds
    bool malloc_fails = false;
    bool stop_during_sleep = false;
    int sleeps = 0;
    std::vector<std::string> calls;
};

FakeDevice dev;

std::string call(const char* what, unsigned long a, long b) {
    char buf[64];
    snprintf(buf, sizeof buf, "%s %lx %ld", what, a, b);
    return buf;
}

std::string ioctl_call(unsigned long request, long arg) { return call("ioctl", request, arg); }

// Where the device first saw this call; the number of calls when it never did.
size_t when(const std::string& text) {
    return size_t(std::find(dev.calls.begin(), dev.calls.end(), text) - dev.calls.begin());
}

}  // namespace

extern "C" int fake_open(const char* path, int flags, ...) {
    dev.calls.push_back(std::string("open ") + path + " " + std::to_string(flags));
    if (dev.open_failures > 0) {
        --dev.open_failures;
        return -1;
    }
    return kFd;
}

extern "C" int fake_close(int fd) {
    dev.calls.push_back("close " + std::to_string(fd));
    return 0;
}

extern "C" int fake_ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    unsigned long arg = va_arg(ap, unsigned long);
    va_end(ap);
    if (fd != kFd) return -1;
    switch (request) {
        case kHwPos:
            dev.calls.push_back(call("ioctl", request, 0));
            dev.hw = (dev.hw + dev.hw_step) % dev.size;
            return dev.hw_answer != -100 ? int(dev.hw_answer) : dev.hw;
        case kReadPos:
            dev.calls.push_back(call("ioctl", request, 0));
            return dev.rd_answer != -100 ? int(dev.rd_answer) : dev.rd;
        case kSetReadPos:
            dev.calls.push_back(call("ioctl", request, long(int(arg))));
            dev.rd = int(arg);
            return 0;
        case kSize:
            dev.calls.push_back(call("ioctl", request, long(int(arg))));
            return dev.size_answer != -100 ? dev.size_answer : dev.size;
        case kSetup:
            dev.calls.push_back(call("ioctl", request, long(int(arg))));
            return 0;
    }
    return -1;
}

extern "C" ssize_t fake_read(int fd, void* buf, size_t count) {
    dev.calls.push_back(call("read", (unsigned long)fd, long(count)));
    if (dev.read_answer != -100) return dev.read_answer;
    uint8_t* out = static_cast<uint8_t*>(buf);
    for (size_t i = 0; i < count; ++i) {
        out[i] = uint8_t(dev.rd);
        dev.rd = (dev.rd + 1) % dev.size;
    }
    return ssize_t(count);
}

extern "C" void* fake_malloc(size_t size) { return dev.malloc_fails ? nullptr : malloc(size); }

extern "C" unsigned int fake_sleep(unsigned int) {
    ++dev.sleeps;
    if (dev.stop_during_sleep) stopRequest = 1;
    return 0;
}

namespace {

class Reader : public ::testing::Test {
protected:
    uint8_t buffer[kCaptureBytes];

    void SetUp() override {
        dev = FakeDevice();
        outFd = kFd;
        qvAudio_OutSize = dev.size;
        captureBuffer = buffer;
        halfMark = buffer + kHalfBytes;
        writePos = buffer;
        halfFlags = 0;
        readyData = nullptr;
        memset(buffer, 0xee, sizeof buffer);
    }

    void TearDown() override {
        captureBuffer = nullptr;
        outFd = -1;
    }

    // One reader step with `fresh` new bytes in the ring after `rd`; returns the step's result.
    int32_t handle(int32_t rd, int32_t fresh) {
        dev.rd = rd;
        dev.hw = (rd + fresh) % dev.size;
        return qvAudio_OutHandle();
    }

    std::vector<std::string> reads() const {
        std::vector<std::string> r;
        for (const std::string& c : dev.calls)
            if (c.compare(0, 5, "read ") == 0) r.push_back(c);
        return r;
    }
};

TEST_F(Reader, InitFollowsTheHardwareAndRestartsTheBuffer) {
    dev.hw = 4242;
    writePos = buffer + 5000;
    halfFlags = 2;
    readyData = halfMark;
    EXPECT_EQ(qvAudio_OutInit(), 0);
    // The read position moves to where the hardware is, so that is asked first; nothing is read.
    const size_t set = when(ioctl_call(kSetReadPos, 4242));
    EXPECT_LT(set, dev.calls.size());
    EXPECT_LT(when(ioctl_call(kHwPos, 0)), set);
    EXPECT_TRUE(reads().empty());
    EXPECT_EQ(dev.rd, 4242);
    EXPECT_EQ(writePos, buffer);
    EXPECT_EQ(halfFlags, 2);  // left for the capture thread
    EXPECT_EQ(readyData, halfMark);
}

TEST_F(Reader, InitFailureSaysSoAndChangesNothing) {
    // -1, and positions outside the ring, which are no position at all.
    for (long answer : {-1L, 65536L, 70000L, -2L}) {
        dev = FakeDevice();
        dev.hw_answer = answer;
        writePos = buffer + 100;
        testing::internal::CaptureStdout();
        EXPECT_EQ(qvAudio_OutInit(), -1) << answer;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), loglines::line('I', pcmlog::kMsgInitError) + "\n");
        EXPECT_EQ(writePos, buffer + 100);
        EXPECT_EQ(dev.calls.size(), 1u) << "no read position set";
    }
}

TEST_F(Reader, NothingOrLessThanAWordToRead) {
    for (int32_t fresh : {0, 1, 2, 3}) {
        dev.calls.clear();
        EXPECT_EQ(handle(1000, fresh), 0);
        EXPECT_TRUE(reads().empty()) << fresh;
        EXPECT_EQ(writePos, buffer);
        EXPECT_EQ(readyData, nullptr);
    }
    // Both positions asked, in either order, and nothing else: the read position is left alone.
    std::vector<std::string> asked = dev.calls;
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{ioctl_call(kHwPos, 0), ioctl_call(kReadPos, 0)}));
}

TEST_F(Reader, ReadsWholeWordsOnly) {
    for (int32_t extra : {1, 2, 3}) {
        SetUp();
        EXPECT_EQ(handle(100, 400 + extra), 0);
        EXPECT_EQ(reads(), (std::vector<std::string>{"read 7 400"}));
        EXPECT_EQ(writePos, buffer + 400);
        EXPECT_EQ(dev.rd, 500);
    }
}

TEST_F(Reader, StopsAtTheEndOfTheDriversRing) {
    // Not a multiple of 4: the bytes up to the ring's end are taken as they are.
    dev.size = qvAudio_OutSize = 65534;
    EXPECT_EQ(handle(65000, 1000), 0);
    EXPECT_EQ(reads(), (std::vector<std::string>{"read 7 534"}));
    EXPECT_EQ(writePos, buffer + 534);
    EXPECT_EQ(buffer[0], uint8_t(65000));
    EXPECT_EQ(dev.rd, 0);
    // The part at the ring's start comes with the next call.
    dev.calls.clear();
    EXPECT_EQ(handle(0, 466), 0);
    EXPECT_EQ(reads(), (std::vector<std::string>{"read 7 464"}));
    EXPECT_EQ(writePos, buffer + 998);
}

TEST_F(Reader, LargeRingsNeverAskForMoreThanTheRoomLeft) {
    // Rings above 2^30 bytes: the new bytes plus the ring size pass INT32_MAX.
    struct Case {
        int32_t size, rd, hw, start;
        const char* read;
        int32_t flags;
    } cases[] = {
        // Plenty of new data: the capture buffer's room, as with any large ring.
        {0x7fffffff, 0, 0x7ffff000, 0, "read 7 19200", kFirstHalfFull | kSecondHalfFull},
        {0x7ffffffc, 1000, 769000, 100, "read 7 19100", kFirstHalfFull | kSecondHalfFull},
        {0x40000001, 0x3fff0000, 0x40000000, 12000, "read 7 7200", kSecondHalfFull},
        // A little new data: exactly what arrived, in whole words.
        {0x7fffffff, 1000, 1403, 0, "read 7 400", 0},
        {0x7fffffff, 5, 9605, 0, "read 7 9600", kFirstHalfFull},
        // New data over the ring's end: up to that end only.
        {0x7ffffffc, 0x7ffffffc - 100, 50, 0, "read 7 100", 0},
        {0x7fffffff, 0x7fffffff - 7, 0x7fffff00, 0, "read 7 7", 0},
    };
    for (const Case& c : cases) {
        SetUp();
        dev.size = qvAudio_OutSize = c.size;
        dev.rd = c.rd;
        dev.hw = c.hw;
        writePos = buffer + c.start;
        EXPECT_EQ(qvAudio_OutHandle(), 0) << c.size << " " << c.rd << " " << c.hw;
        EXPECT_EQ(reads(), (std::vector<std::string>{c.read})) << c.size << " " << c.rd << " " << c.hw;
        EXPECT_EQ(halfFlags, c.flags) << c.read;
        EXPECT_EQ(buffer[c.start], uint8_t(c.rd)) << "the first byte read is the ring's at rd";
    }
}

TEST_F(Reader, EveryReadFitsTheRoomAndTheRingForAnySize) {
    // Sizes from tiny to the largest the size command can return, positions anywhere in the ring,
    // any fill of the capture buffer: each read asks for 1 to room bytes and stops at the ring's end.
    const int32_t sizes[] = {1, 2, 3, 4, 5, 7, 4099, 65536, 1000002, 0x3fffffff, 0x40000000,
                             0x40000001, 0x7ffff000, 0x7ffffffc, 0x7ffffffe, 0x7fffffff};
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return uint32_t((uint64_t(seed >> 1) * bound) >> 31);
    };
    for (int32_t size : sizes) {
        for (int i = 0; i < 400; ++i) {
            SetUp();
            dev.size = qvAudio_OutSize = size;
            // Half the positions near the ring's ends, where the arithmetic is tightest.
            auto position = [&]() -> int32_t {
                uint32_t near = next(64) % uint32_t(size);
                switch (next(4)) {
                    case 0: return int32_t(near);
                    case 1: return size - 1 - int32_t(near);
                    default: return int32_t(next(uint32_t(size)));
                }
            };
            dev.rd = position();
            dev.hw = position();
            int32_t start = int32_t(next(kCaptureBytes));
            writePos = buffer + start;
            int32_t room = kCaptureBytes - start;
            int32_t rd = dev.rd;
            ASSERT_EQ(qvAudio_OutHandle(), 0);
            for (const std::string& r : reads()) {
                long count = 0;
                ASSERT_EQ(sscanf(r.c_str(), "read 7 %ld", &count), 1) << r;
                ASSERT_GE(count, 1) << size << " rd " << dev.rd << " hw " << dev.hw;
                ASSERT_LE(count, room) << size;
                ASSERT_LE(count, long(size) - rd) << size;
            }
            ASSERT_LE(reads().size(), 1u);
            ASSERT_GE(writePos, buffer);
            ASSERT_LT(writePos, buffer + kCaptureBytes);
        }
    }
}

TEST_F(Reader, FirstHalfFillsUpInSteps) {
    EXPECT_EQ(handle(0, 4000), 0);
    EXPECT_EQ(halfFlags, 0);
    EXPECT_EQ(readyData, buffer);
    EXPECT_EQ(handle(4000, 4000), 0);
    EXPECT_EQ(halfFlags, 0);
    EXPECT_EQ(handle(8000, 1600), 0);
    EXPECT_EQ(halfFlags, kFirstHalfFull);
    EXPECT_EQ(readyData, buffer);
    EXPECT_EQ(writePos, halfMark);
    // Data lands in order, straight from the driver.
    for (int i = 0; i < kHalfBytes; ++i) ASSERT_EQ(buffer[i], uint8_t(i)) << i;
}

TEST_F(Reader, SecondHalfTakesOnlyItsRoom) {
    writePos = buffer + 15000;
    EXPECT_EQ(handle(30000, 6000), 0);
    EXPECT_EQ(reads(), (std::vector<std::string>{"read 7 4200"}));
    EXPECT_EQ(halfFlags, kSecondHalfFull);
    EXPECT_EQ(readyData, halfMark);
    EXPECT_EQ(writePos, buffer);
    EXPECT_EQ(dev.rd, 34200) << "the rest stays in the ring";

    // In the second half short of its end: no flag yet.
    SetUp();
    writePos = halfMark;
    EXPECT_EQ(handle(0, 100), 0);
    EXPECT_EQ(halfFlags, 0);
    EXPECT_EQ(readyData, halfMark);
    EXPECT_EQ(writePos, halfMark + 100);
}

TEST_F(Reader, FillingBothHalvesAtOnce) {
    // More than the room, from the first half: the whole rest of the buffer in one read.
    writePos = buffer + 100;
    EXPECT_EQ(handle(0, 30000), 0);
    EXPECT_EQ(reads(), (std::vector<std::string>{"read 7 19100"}));
    EXPECT_EQ(halfFlags, kFirstHalfFull | kSecondHalfFull);
    EXPECT_EQ(readyData, buffer);
    EXPECT_EQ(writePos, buffer);

    // Exactly the whole buffer from its start.
    SetUp();
    EXPECT_EQ(handle(0, kCaptureBytes), 0);
    EXPECT_EQ(halfFlags, kFirstHalfFull | kSecondHalfFull);
    EXPECT_EQ(readyData, buffer);
    EXPECT_EQ(writePos, buffer);
}

TEST_F(Reader, ExactlyFillingTheSecondHalf) {
    writePos = buffer + 12000;
    EXPECT_EQ(handle(0, 7200), 0);
    EXPECT_EQ(halfFlags, kSecondHalfFull);
    EXPECT_EQ(readyData, halfMark);
    EXPECT_EQ(writePos, buffer);
}

TEST_F(Reader, FailedReadsSayWhatTheyGot) {
    struct Case {
        long answer;
        int32_t start;
        int32_t fresh;
        std::string line;
    } cases[] = {
        {-1, 0, 100, loglines::line('E', pcmlog::kMsgShortRead, -1, 100) + "\n"},
        {40, 0, 100, loglines::line('E', pcmlog::kMsgShortRead, 40, 100) + "\n"},
        {-1, 19000, 1000, loglines::line('E', pcmlog::kMsgShortReadToEnd, -1, 200) + "\n"},
        {8, 19000, 1000, loglines::line('E', pcmlog::kMsgShortReadToEnd, 8, 200) + "\n"},
    };
    for (const Case& c : cases) {
        SetUp();
        dev.read_answer = c.answer;
        writePos = buffer + c.start;
        testing::internal::CaptureStdout();
        EXPECT_EQ(handle(0, c.fresh), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(writePos, buffer + c.start);
        EXPECT_EQ(halfFlags, 0);
        EXPECT_EQ(readyData, nullptr);
    }
}

TEST_F(Reader, FailedOrImpossiblePositionsStopTheStepSilently) {
    struct Case {
        long hw;
        long rd;
    } cases[] = {{-1, -100}, {-100, -1}, {65536, -100}, {-100, 65536}, {-100, -2}, {-7, -100}};
    for (const Case& c : cases) {
        SetUp();
        dev.hw_answer = c.hw;
        dev.rd_answer = c.rd;
        writePos = buffer + 400;
        testing::internal::CaptureStdout();
        EXPECT_EQ(handle(1000, 500), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(reads().empty());
        EXPECT_EQ(writePos, buffer + 400);
    }
}

// Start and stop against the scripted device.
class Layer : public ::testing::Test {
protected:
    void SetUp() override {
        dev = FakeDevice();
        stopRequest = 0;
    }
    void TearDown() override { qvAudio_Stop(); }
};

std::vector<std::pair<const uint8_t*, uint32_t>> g_blocks;
std::vector<uint8_t> g_delivered;

int32_t collect(const uint8_t* data, uint32_t length) {
    g_blocks.emplace_back(data, length);
    g_delivered.insert(g_delivered.end(), data, data + length);
    return 1;
}

TEST_F(Layer, RunsTheCaptureThreadAndDeliversHalves) {
    g_blocks.clear();
    g_delivered.clear();
    dev.hw_step = 2400;
    testing::internal::CaptureStdout();
    ASSERT_EQ(qvAudio_Start(collect), 0);
    usleep(300000);
    EXPECT_EQ(qvAudio_Stop(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, loglines::line('I', pcmlog::kMsgSize, 0x10000u) + "\n");
    EXPECT_EQ(captureBuffer, nullptr);
    EXPECT_EQ(outFd, -1);
    // Opened read-write first, closed last; the output set up (argument 1) and its size asked
    // (argument 0) before any position is.
    ASSERT_GE(dev.calls.size(), 4u);
    EXPECT_EQ(dev.calls[0], std::string("open ") + QVAUDIO_NODE + " " + std::to_string(O_RDWR));
    const size_t first_position = when(ioctl_call(kHwPos, 0));
    EXPECT_LT(when(ioctl_call(kSetup, 1)), first_position);
    EXPECT_LT(when(ioctl_call(kSize, 0)), first_position);
    EXPECT_EQ(dev.calls.back(), "close 7");
    ASSERT_GE(g_blocks.size(), 2u);
    for (size_t i = 0; i < g_blocks.size(); ++i) {
        EXPECT_EQ(g_blocks[i].second, uint32_t(kHalfBytes));
        if (i) {
            EXPECT_NE(g_blocks[i].first, g_blocks[i - 1].first) << "halves alternate";
        }
    }
    // Delivered bytes continue the ring without a gap from the first re-sync on.
    for (size_t i = 1; i < g_delivered.size(); ++i)
        ASSERT_EQ(g_delivered[i], uint8_t(g_delivered[i - 1] + 1)) << i;
}

TEST_F(Layer, StopEndsAThreadThatKeepsFailingToSync) {
    dev.hw_answer = -1;
    testing::internal::CaptureStdout();
    ASSERT_EQ(qvAudio_Start(collect), 0);
    usleep(100000);
    EXPECT_EQ(qvAudio_Stop(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(loglines::line('I', pcmlog::kMsgInitError) + "\n"), std::string::npos);
    EXPECT_EQ(stopRequest.load(), 0) << "the thread took the request";
    EXPECT_EQ(dev.calls.back(), "close 7");
}

TEST_F(Layer, RefusedSizesCloseTheDevice) {
    struct Case {
        int32_t size;
        std::string line;
    } cases[] = {{-1, loglines::line('I', pcmlog::kMsgSize, 0xffffffffu) + "\n"},
                 {0, loglines::line('I', pcmlog::kMsgSize, 0x0u) + "\n"},
                 {-5, loglines::line('I', pcmlog::kMsgSize, 0xfffffffbu) + "\n"}};
    for (const Case& c : cases) {
        dev = FakeDevice();
        dev.size_answer = c.size;
        testing::internal::CaptureStdout();
        EXPECT_EQ(qvAudio_Start(collect), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(dev.calls.back(), "close 7");
        EXPECT_EQ(outFd, -1);
        EXPECT_EQ(captureBuffer, nullptr);
    }
}

TEST_F(Layer, NoBufferNoCapture) {
    dev.malloc_fails = true;
    testing::internal::CaptureStdout();
    EXPECT_EQ(qvAudio_Start(collect), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), loglines::line('I', pcmlog::kMsgSize, 0x10000u) + "\n");
    EXPECT_EQ(dev.calls.back(), "close 7");
    EXPECT_EQ(outFd, -1);
}

TEST_F(Layer, OpenRetriesUntilTheDeviceAppears) {
    dev.open_failures = 2;
    testing::internal::CaptureStdout();
    ASSERT_EQ(qvAudio_Start(collect), 0);
    qvAudio_Stop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              loglines::line('E', pcmlog::kMsgOpenFailed) + "\n" + loglines::line('E', pcmlog::kMsgOpenFailed) + "\n" +
                  loglines::line('I', pcmlog::kMsgSize, 0x10000u) + "\n");
    EXPECT_EQ(dev.sleeps, 2);
}

TEST_F(Layer, AStopRequestEndsTheOpenLoopAfterAWait) {
    dev.open_failures = 100;
    dev.stop_during_sleep = true;
    testing::internal::CaptureStdout();
    EXPECT_EQ(qvAudio_Start(collect), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              loglines::line('E', pcmlog::kMsgOpenFailed) + "\n");
    EXPECT_EQ(dev.sleeps, 1);
    EXPECT_EQ(stopRequest.load(), 0);
    EXPECT_EQ(outFd, -1);
}

}  // namespace
