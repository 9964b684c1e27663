// The capture layer: device set-up, the ring reader, the capture thread, start and stop.
#include "capture.h"
#include "messages.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using pcmlog::kTag;
const char kDevicePath[] = "/dev/qvaudio_out";

// Requests of the audio output driver, _IOW('A', n, int).
const unsigned long kCmdOutSize = 0x40044100;
const unsigned long kCmdOutHwPos = 0x40044101;
const unsigned long kCmdOutSetReadPos = 0x40044102;
const unsigned long kCmdOutSetup = 0x40044107;
const unsigned long kCmdOutReadPos = 0x40044109;

const unsigned int kPassMicros = 4000;
const unsigned int kOpenRetrySeconds = 5;

using pcmlog::kMsgInitError;
using pcmlog::kMsgOpenFailed;
using pcmlog::kMsgShortRead;
using pcmlog::kMsgShortReadToEnd;
using pcmlog::kMsgSize;
using pcmlog::kMsgThreadFailed;

// Passes of the capture thread.
enum CaptureState { StateBegin = 0, StateInit = 1, StateCheck = 2, StateRead = 3 };

// Set by a successful start, cleared once the stop has joined the thread.
bool captureThreadJoinable = false;

void logPrefix(char level) {
    switch (level) {
        case 'E': printf("E/%s: ", kTag); break;
        case 'D': printf("D/%s: ", kTag); break;
        default: printf("I/%s: ", kTag); break;
    }
}

// A position query: the position, or -1 when the driver failed or answered a position outside
// its ring (which would make a read ask for a negative count or run past the capture buffer).
int32_t queryPosition(unsigned long request) {
    int32_t pos = ioctl(outFd, request);
    if (pos < 0 || pos >= qvAudio_OutSize) return -1;
    return pos;
}

// Takes a stop request if one is pending.
bool takeStopRequest() {
    int32_t expected = 1;
    return stopRequest.compare_exchange_strong(expected, 0);
}

void closeDevice() {
    if (outFd >= 0) close(outFd);
    outFd = -1;
}

void* captureThread(void* arg) {
    AudioSink sink = reinterpret_cast<AudioSink>(arg);
    CaptureState state = StateBegin;
    int32_t result = 0;
    for (;;) {
        if (takeStopRequest()) return nullptr;
        switch (state) {
            case StateBegin:
                state = StateInit;
                break;
            case StateInit:
                result = qvAudio_OutInit();
                state = result == 0 ? StateCheck : StateInit;
                break;
            case StateCheck:
                state = StateRead;
                break;
            case StateRead:
                result = qvAudio_OutHandle();
                state = result == 0 ? StateCheck : StateInit;
                if (halfFlags & (kFirstHalfFull | kSecondHalfFull)) {
                    bool whole = (halfFlags & kFirstHalfFull) && (halfFlags & kSecondHalfFull);
                    sink(readyData, uint32_t(whole ? kCaptureBytes : kHalfBytes));
                    halfFlags = 0;
                }
                break;
        }
        usleep(kPassMicros);
    }
}

}  // namespace

int32_t outFd = -1;
int32_t qvAudio_OutSize = -1;
uint8_t* captureBuffer = nullptr;
uint8_t* halfMark = nullptr;
uint8_t* writePos = nullptr;
int32_t halfFlags = 0;
uint8_t* readyData = nullptr;
pthread_t captureThreadHandle;
std::atomic<int32_t> stopRequest{0};

void logLine(char level, const char* text) {
    logPrefix(level);
    puts(text);
}

void logFormat(char level, const char* format, ...) {
    logPrefix(level);
    va_list ap;
    va_start(ap, format);
    vprintf(format, ap);
    va_end(ap);
}

int32_t qvAudio_OutInit() {
    int32_t hw = queryPosition(kCmdOutHwPos);
    if (hw == -1) {
        logLine('I', kMsgInitError);
        return -1;
    }
    // From here on the driver reads from where the hardware is: what the ring held is skipped.
    ioctl(outFd, kCmdOutSetReadPos, (unsigned long)hw);
    writePos = captureBuffer;
    return 0;
}

int32_t qvAudio_OutHandle() {
    int32_t room = kCaptureBytes - int32_t(writePos - captureBuffer);
    int32_t hw = queryPosition(kCmdOutHwPos);
    if (hw == -1) return -1;
    int32_t rd = queryPosition(kCmdOutReadPos);
    if (rd == -1) return -1;

    // Worked out in 64 bits: with a ring above 2^30 bytes, (hw - rd) + size can pass INT32_MAX.
    // The result lies in [0, size) and so fits back into 32 bits.
    int32_t avail = int32_t((int64_t(hw) - rd + qvAudio_OutSize) % qvAudio_OutSize);
    avail &= ~3;
    if (avail == 0) return 0;
    // New data that runs over the end of the driver's ring is taken up to that end only.
    int32_t want = hw > rd ? avail : qvAudio_OutSize - rd;

    if (room < want) {
        // The capture buffer ends first: fill it up, leave the rest in the ring.
        ssize_t got = read(outFd, writePos, size_t(room));
        if (got != room) {
            logFormat('E', kMsgShortReadToEnd, int(got), room);
            return -1;
        }
        if (writePos < halfMark) {
            halfFlags = kFirstHalfFull | kSecondHalfFull;
            readyData = captureBuffer;
        } else {
            halfFlags = kSecondHalfFull;
            readyData = halfMark;
        }
        writePos = captureBuffer;
        return 0;
    }

    ssize_t got = read(outFd, writePos, size_t(want));
    if (got != want) {
        logFormat('E', kMsgShortRead, int(got), want);
        return -1;
    }
    uint8_t* before = writePos;
    writePos += want;
    if (before < halfMark) {
        if (writePos >= halfMark) halfFlags = kFirstHalfFull;
        readyData = captureBuffer;
    } else {
        readyData = halfMark;
    }
    if (want == room) {
        writePos = captureBuffer;
        halfFlags |= kSecondHalfFull;
    }
    return 0;
}

int32_t qvAudio_Start(AudioSink sink) {
    outFd = -1;
    while (outFd < 0) {
        outFd = open(kDevicePath, O_RDWR);
        if (outFd >= 0) break;
        logLine('E', kMsgOpenFailed);
        sleep(kOpenRetrySeconds);
        if (takeStopRequest()) return -1;
    }

    ioctl(outFd, kCmdOutSetup, 1UL);
    qvAudio_OutSize = ioctl(outFd, kCmdOutSize, 0UL);
    logFormat('I', kMsgSize, (unsigned int)qvAudio_OutSize);
    // A ring of no bytes cannot be followed: refused like a failed size command.
    if (qvAudio_OutSize <= 0) {
        closeDevice();
        return -1;
    }

    captureBuffer = static_cast<uint8_t*>(malloc(kCaptureBytes));
    if (!captureBuffer) {
        closeDevice();
        return -1;
    }
    halfMark = captureBuffer + kHalfBytes;
    halfFlags = 0;
    readyData = nullptr;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setschedpolicy(&attr, SCHED_RR);
    struct sched_param param = {};
    param.sched_priority = sched_get_priority_max(SCHED_RR);
    pthread_attr_setschedparam(&attr, &param);

    stopRequest = 0;
    int created = pthread_create(&captureThreadHandle, &attr, captureThread,
                                 reinterpret_cast<void*>(sink));
    pthread_attr_destroy(&attr);
    if (created == 0) {
        captureThreadJoinable = true;
        return 0;
    }
    logLine('E', kMsgThreadFailed);
    free(captureBuffer);
    captureBuffer = nullptr;
    closeDevice();
    return -1;
}

int32_t qvAudio_Stop() {
    stopRequest = 1;
    if (captureThreadJoinable) {
        pthread_join(captureThreadHandle, nullptr);
        captureThreadJoinable = false;
    }
    free(captureBuffer);
    captureBuffer = nullptr;
    closeDevice();
    return 0;
}
