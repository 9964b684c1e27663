// The capture layer of pcmcapture: the audio output device, the ring reader that moves the
// driver's new bytes into a double buffer, and the capture thread with its start and stop.
#pragma once

#include <pthread.h>
#include <stdint.h>

#include <atomic>

// Receives each block that has become full: its address (good for the call only) and length.
typedef int32_t (*AudioSink)(const uint8_t* data, uint32_t length);

// Lengths of the capture buffer and of each of its halves.
const int32_t kHalfBytes = 9600;
const int32_t kCaptureBytes = 19200;

// halfFlags bits.
const int32_t kFirstHalfFull = 1;
const int32_t kSecondHalfFull = 2;

// Device state.
extern int32_t outFd;
extern int32_t qvAudio_OutSize;

// Capture buffer and reader state; between start and stop only the capture thread touches them.
extern uint8_t* captureBuffer;
extern uint8_t* halfMark;
extern uint8_t* writePos;
extern int32_t halfFlags;
extern uint8_t* readyData;

extern pthread_t captureThreadHandle;
extern std::atomic<int32_t> stopRequest;

// Log lines: "<level>/qvAudio_Test: " and then the text. logLine ends the line itself; logFormat's
// format carries its own "\n".
void logLine(char level, const char* text);
void logFormat(char level, const char* format, ...) __attribute__((format(printf, 2, 3)));

int32_t qvAudio_OutInit();
int32_t qvAudio_OutHandle();

int32_t qvAudio_Start(AudioSink sink);
int32_t qvAudio_Stop();
